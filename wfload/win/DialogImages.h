// The dialog's two pictures, drawn in code at any size: a globe as the
// backdrop and a small satellite that orbits it while the dialog is busy.
#pragma once

#include <windows.h>

// Both are device-dependent bitmaps of width x height pixels on `background`
// (the caller owns them). The satellite is round: clip it with
// CreateEllipticRgn(0, 0, width + 1, height + 1) to show it transparent.
HBITMAP DrawGlobeBitmap(int width, int height, COLORREF background);
HBITMAP DrawSatelliteBitmap(int width, int height, COLORREF background);

// The group box's client area as the user sees it behind its other controls:
// the box's own painting with the globe and the round satellite over it, kept
// off-screen. A move of the satellite changes only the copy and reports the
// part to put on screen (old and new place); a repaint copies from it.
class TOrbitScene {
 public:
  TOrbitScene() = default;
  ~TOrbitScene() { Clear(); }
  TOrbitScene(const TOrbitScene&) = delete;
  TOrbitScene& operator=(const TOrbitScene&) = delete;

  // Draws `frame`'s client area (WM_PRINTCLIENT over `background`), the globe
  // at globePlace and the satellite with its top left at satelliteAt (round
  // as DrawSatelliteBitmap says). The scene keeps copies of the pictures.
  // False when GDI refuses.
  bool Build(HWND frame, COLORREF background, HBITMAP globe, const RECT& globePlace,
             HBITMAP satellite, POINT satelliteAt);
  bool Built() const { return scene_ != nullptr; }
  void Clear();

  // Puts the satellite's top left at `at`; returns the part of the client
  // area whose pixels changed, empty when it did not move.
  RECT MoveSatellite(POINT at);
  const RECT& SatellitePlace() const { return satellitePlace_; }

  // Copies `area` (client coordinates) of the scene to dc.
  void Paint(HDC dc, const RECT& area) const;

 private:
  void DrawSatellite();

  // Memory DCs with their bitmaps: the box with the globe, the same with the
  // satellite, the satellite alone.
  HDC backdrop_ = nullptr;
  HDC scene_ = nullptr;
  HDC satellite_ = nullptr;
  HBITMAP backdropBitmap_ = nullptr;
  HBITMAP sceneBitmap_ = nullptr;
  HBITMAP satelliteBitmap_ = nullptr;
  HGDIOBJ oldBackdrop_ = nullptr;
  HGDIOBJ oldScene_ = nullptr;
  HGDIOBJ oldSatellite_ = nullptr;
  RECT satellitePlace_ = {};
};
