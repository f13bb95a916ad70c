// Counts of the process's own resources, for leak checks under Wine (which
// does not implement GetProcessHandleCount).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace winetest {

// Threads of this process.
std::size_t ThreadCount();

// The value of the highest of 1000 fresh handles: handles are given out from
// the lowest free slot, so it grows with every handle leaked below it.
std::uintptr_t HandleWatermark();

// Blocks in use on the process heap (where LocalAlloc takes its blocks) whose
// size is at least `size` and below `size` + 64: with an unusual size, the
// blocks of one kind of allocation.
std::size_t LiveHeapBlocks(std::size_t size);

}  // namespace winetest
