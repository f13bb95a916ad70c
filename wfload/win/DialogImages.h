// The dialog's two pictures, drawn in code at any size: a globe as the
// backdrop and a small satellite that orbits it while the dialog is busy.
#pragma once

#include <windows.h>

// Both are device-dependent bitmaps of width x height pixels on `background`
// (the caller owns them). The satellite is round: clip it with
// CreateEllipticRgn(0, 0, width + 1, height + 1) to show it transparent.
HBITMAP DrawGlobeBitmap(int width, int height, COLORREF background);
HBITMAP DrawSatelliteBitmap(int width, int height, COLORREF background);
