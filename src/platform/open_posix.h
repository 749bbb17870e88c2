// Opening a path without ever waiting on a FIFO, a socket or a device: the
// open does not block, and only the kinds of file a caller asks for are kept.
#pragma once

#include <sys/types.h>

constexpr unsigned kOpenRegular = 1;      // regular files (always allowed)
constexpr unsigned kOpenDevices = 2;      // character devices (/dev/null, a terminal)
constexpr unsigned kOpenDirectories = 4;  // directories (to sync them)

// open(2) of path with flags | O_NONBLOCK | O_CLOEXEC; the descriptor is put
// back into blocking mode. A file of another kind than `kinds` allows is
// closed at once: -1 with errno ENXIO. Other failures: -1 with open's errno.
int OpenNoWait(const char* path, int flags, mode_t mode = 0, unsigned kinds = kOpenRegular);
