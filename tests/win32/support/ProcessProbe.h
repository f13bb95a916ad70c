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

}  // namespace winetest
