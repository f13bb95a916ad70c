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

// GDI and USER objects of this process. Windows counts them
// (GetGuiResources); Wine answers 0, and there the slot of the highest of 1000
// fresh objects stands in: a freed slot is given out again before a new one,
// so it grows with every object kept alive (USER slots are shared by the
// processes of the prefix). Either way a leak of n objects adds n.
struct TGuiObjects {
  long gdi = 0;
  long user = 0;
};
TGuiObjects GuiObjects();

// Blocks in use on the process heap (where LocalAlloc takes its blocks) whose
// size is at least `size` and below `size` + 64: with an unusual size, the
// blocks of one kind of allocation.
std::size_t LiveHeapBlocks(std::size_t size);

}  // namespace winetest
