// Small named blocks of shared memory (created or opened by name).
#pragma once

#include <cstddef>

#include "platform/types.h"

struct SharedBlock;

// Creates the named block of `size` bytes, zero-filled, or opens it when it
// exists already (*existed tells which). *view is the read/write mapping.
// Fails with kErrNoMemory when the block cannot be created or mapped.
ResultCode SharedBlockOpen(const wchar_t* name, size_t size, SharedBlock** block, void** view,
                           bool* existed);

// Unmaps the block; the process that created it also removes the name.
void SharedBlockClose(SharedBlock* block);

// Removes the name of a block this process created, without freeing memory;
// safe to call from a signal handler.
void SharedBlockUnlinkForExit(const SharedBlock* block);
