// Worker threads: the standard library's threads, mutexes and condition
// variables serve both platforms (the MinGW toolchain is the posix one);
// this header only adds what they do not say.
#pragma once

#include <cstdint>

// Processors the program may use; at least 1.
uint32_t PlatformProcessorCount();
