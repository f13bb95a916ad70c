// The dialog's two pictures, drawn in code at any size: a globe as the
// backdrop and a small satellite that orbits it while the dialog is busy.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

// Both are device-dependent bitmaps of width x height pixels on `background`
// (the caller owns them). The satellite is round: clip it with
// CreateEllipticRgn(0, 0, width + 1, height + 1) to show it transparent.
HBITMAP DrawGlobeBitmap(int width, int height, COLORREF background);
HBITMAP DrawSatelliteBitmap(int width, int height, COLORREF background);

struct TGdiDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using TGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, TGdiDeleter>;

// A memory DC compatible with the screen, drawing into a bitmap of its own
// of width x height pixels; empty until made, or when GDI refuses.
class TMemoryBitmap {
 public:
  TMemoryBitmap() = default;
  TMemoryBitmap(int width, int height) { Create(width, height); }
  ~TMemoryBitmap() { Reset(); }
  TMemoryBitmap(const TMemoryBitmap&) = delete;
  TMemoryBitmap& operator=(const TMemoryBitmap&) = delete;

  explicit operator bool() const { return dc_ && bitmap_; }
  HDC dc() const { return dc_; }
  // Makes a new one in place of this one's DC and bitmap; false when GDI
  // refuses (then it is empty).
  bool Create(int width, int height);
  // Hands the bitmap to the caller, no longer selected.
  HBITMAP Release();
  void Reset();

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// The group box's client area as the user sees it behind its other controls:
// the box's own painting with the globe and the round satellite over it, kept
// off-screen. A move of the satellite changes only the copy and reports the
// part to put on screen (old and new place); a repaint copies from it.
class TOrbitScene {
 public:
  TOrbitScene() = default;
  TOrbitScene(const TOrbitScene&) = delete;
  TOrbitScene& operator=(const TOrbitScene&) = delete;

  // Draws `frame`'s client area (WM_PRINTCLIENT over `background`), the globe
  // at globePlace and the satellite with its top left at satelliteAt (round
  // as DrawSatelliteBitmap says). The scene keeps copies of the pictures.
  // False when GDI refuses.
  bool Build(HWND frame, COLORREF background, HBITMAP globe, const RECT& globePlace,
             HBITMAP satellite, POINT satelliteAt);
  bool Built() const { return static_cast<bool>(scene_); }
  void Clear();

  // Puts the satellite's top left at `at`; returns the part of the client
  // area whose pixels changed, empty when it did not move.
  RECT MoveSatellite(POINT at);
  const RECT& SatellitePlace() const { return satellitePlace_; }

  // Copies `area` (client coordinates) of the scene to dc.
  void Paint(HDC dc, const RECT& area) const;

 private:
  void DrawSatellite();

  // The box with the globe, the same with the satellite, the satellite alone.
  TMemoryBitmap backdrop_;
  TMemoryBitmap scene_;
  TMemoryBitmap satellite_;
  // The satellite's round outline at the top left, made once for every step.
  TGdiObject round_;
  RECT satellitePlace_ = {};
};
