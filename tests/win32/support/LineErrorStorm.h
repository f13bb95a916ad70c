// A storm of line errors for comm32::SetLineErrorSeam, as a device sending at
// another speed makes: kErrors framing errors (every other one with an
// overrun) spread evenly over kMs from the first one the port asks for.
#pragma once

#include <windows.h>

#include <atomic>

namespace winetest::storm {

inline constexpr int kErrors = 10000;
inline constexpr ULONGLONG kMs = 1000;
inline std::atomic<int> gLeft{0};
inline std::atomic<ULONGLONG> gStart{0}, gEnd{0};

// Starts a storm: the next kErrors calls of Next give errors.
inline void Arm() {
  gStart = 0;
  gEnd = 0;
  gLeft = kErrors;
}

// The seam: the line error that occurs now, 0 once the storm is over.
inline DWORD Next() {
  const int left = gLeft.load();
  if (left <= 0) return 0;
  ULONGLONG start = gStart.load();
  if (start == 0) gStart = start = GetTickCount64();
  const int sent = kErrors - left;
  while (static_cast<ULONGLONG>(sent) * kMs > (GetTickCount64() - start) * kErrors) Sleep(1);
  if (--gLeft == 0) gEnd = GetTickCount64();
  return (left % 2) ? CE_FRAME : (CE_FRAME | CE_OVERRUN);
}

}  // namespace winetest::storm
