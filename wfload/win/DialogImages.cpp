#include "wfload/win/DialogImages.h"

#include <utility>

namespace {

// A memory DC drawing into a new bitmap in a design coordinate system of
// designWidth x designHeight, stretched to the bitmap's pixel size.
class TCanvas {
 public:
  TCanvas(int width, int height, int designWidth, int designHeight, COLORREF background)
      : memory_(width, height) {
    RECT all = {0, 0, width, height};
    TGdiObject brush(CreateSolidBrush(background));
    FillRect(dc(), &all, static_cast<HBRUSH>(brush.get()));
    SetMapMode(dc(), MM_ANISOTROPIC);
    SetWindowExtEx(dc(), designWidth, designHeight, nullptr);
    SetViewportExtEx(dc(), width, height, nullptr);
  }

  void Ellipse(int left, int top, int right, int bottom, COLORREF fill, COLORREF line, int width) {
    TGdiObject brush(CreateSolidBrush(fill));
    TGdiObject pen(CreatePen(PS_SOLID, width, line));
    DrawEllipse(left, top, right, bottom, brush.get(), pen.get());
  }

  void Outline(int left, int top, int right, int bottom, COLORREF line) {
    TGdiObject pen(CreatePen(PS_SOLID, 1, line));
    DrawEllipse(left, top, right, bottom, GetStockObject(NULL_BRUSH), pen.get());
  }

  void Line(int x1, int y1, int x2, int y2, COLORREF line) {
    TGdiObject pen(CreatePen(PS_SOLID, 1, line));
    HGDIOBJ oldPen = SelectObject(dc(), pen.get());
    MoveToEx(dc(), x1, y1, nullptr);
    LineTo(dc(), x2, y2);
    SelectObject(dc(), oldPen);
  }

  HBITMAP Release() { return memory_.Release(); }

 private:
  // Draws with brush and pen selected, then puts the DC's own back.
  void DrawEllipse(int left, int top, int right, int bottom, HGDIOBJ brush, HGDIOBJ pen) {
    HGDIOBJ oldBrush = SelectObject(dc(), brush);
    HGDIOBJ oldPen = SelectObject(dc(), pen);
    ::Ellipse(dc(), left, top, right, bottom);
    SelectObject(dc(), oldPen);
    SelectObject(dc(), oldBrush);
  }

  HDC dc() const { return memory_.dc(); }

  TMemoryBitmap memory_;
};

}  // namespace

bool TMemoryBitmap::Create(int width, int height) {
  Reset();
  HDC screen = GetDC(nullptr);
  dc_ = CreateCompatibleDC(screen);
  bitmap_ = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  if (!dc_ || !bitmap_) {
    Reset();
    return false;
  }
  old_ = SelectObject(dc_, bitmap_);
  return true;
}

HBITMAP TMemoryBitmap::Release() {
  if (dc_ && old_) SelectObject(dc_, old_);
  old_ = nullptr;
  return std::exchange(bitmap_, nullptr);
}

void TMemoryBitmap::Reset() {
  if (HBITMAP bitmap = Release()) DeleteObject(bitmap);
  if (dc_) DeleteDC(std::exchange(dc_, nullptr));
}

HBITMAP DrawGlobeBitmap(int width, int height, COLORREF background) {
  // Designed at 137 x 121: a globe of radius 56 with its grid, on a shadow.
  TCanvas c(width, height, 137, 121, background);
  const COLORREF sea = RGB(96, 160, 224);
  const COLORREF grid = RGB(0, 48, 128);
  c.Ellipse(24, 108, 114, 120, RGB(160, 160, 160), RGB(160, 160, 160), 1);
  c.Ellipse(12, 1, 125, 114, sea, grid, 2);
  // Meridians: ellipses narrowing toward the middle one.
  for (int half : {42, 28, 14}) c.Outline(68 - half, 1, 69 + half, 114, grid);
  c.Line(68, 2, 68, 113, grid);
  // Parallels.
  for (int y : {22, 40, 57, 74, 92}) {
    const int dy = y - 57;
    int dx = 0;
    while ((dx + 1) * (dx + 1) + dy * dy <= 56 * 56) ++dx;
    c.Line(68 - dx, y, 69 + dx, y, grid);
  }
  // Two land masses.
  c.Ellipse(36, 24, 62, 52, RGB(64, 160, 64), RGB(32, 112, 32), 1);
  c.Ellipse(74, 58, 102, 94, RGB(64, 160, 64), RGB(32, 112, 32), 1);
  return c.Release();
}

HBITMAP DrawSatelliteBitmap(int width, int height, COLORREF background) {
  // Designed at 33 x 33: a lit sphere, brightest toward the top left.
  TCanvas c(width, height, 33, 33, background);
  c.Ellipse(0, 0, 33, 33, RGB(176, 64, 0), RGB(128, 32, 0), 1);
  c.Ellipse(3, 3, 28, 28, RGB(224, 112, 16), RGB(224, 112, 16), 1);
  c.Ellipse(6, 6, 22, 22, RGB(248, 160, 48), RGB(248, 160, 48), 1);
  c.Ellipse(9, 8, 16, 15, RGB(255, 232, 160), RGB(255, 232, 160), 1);
  return c.Release();
}

bool TOrbitScene::Build(HWND frame, COLORREF background, HBITMAP globe, const RECT& globePlace,
                        HBITMAP satellite, POINT satelliteAt) {
  Clear();
  RECT client = {};
  GetClientRect(frame, &client);
  BITMAP satelliteInfo = {};
  if (client.right <= 0 || client.bottom <= 0 || !globe ||
      !GetObjectA(satellite, sizeof satelliteInfo, &satelliteInfo))
    return false;
  const int w = satelliteInfo.bmWidth;
  const int h = satelliteInfo.bmHeight;
  // The same round region the picture had as a window of its own.
  round_.reset(CreateEllipticRgn(0, 0, w + 1, h + 1));
  if (!backdrop_.Create(client.right, client.bottom) ||
      !scene_.Create(client.right, client.bottom) || !satellite_.Create(w, h) || !round_) {
    Clear();
    return false;
  }

  TGdiObject brush(CreateSolidBrush(background));
  FillRect(backdrop_.dc(), &client, static_cast<HBRUSH>(brush.get()));
  SendMessageA(frame, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(backdrop_.dc()), PRF_CLIENT);
  // The pictures are copied: a bitmap can be selected into one DC only, and
  // the controls that hold them may want to draw them.
  HDC picture = CreateCompatibleDC(backdrop_.dc());
  HGDIOBJ old = SelectObject(picture, globe);
  BitBlt(backdrop_.dc(), globePlace.left, globePlace.top, globePlace.right - globePlace.left,
         globePlace.bottom - globePlace.top, picture, 0, 0, SRCCOPY);
  SelectObject(picture, satellite);
  BitBlt(satellite_.dc(), 0, 0, w, h, picture, 0, 0, SRCCOPY);
  SelectObject(picture, old);
  DeleteDC(picture);

  BitBlt(scene_.dc(), 0, 0, client.right, client.bottom, backdrop_.dc(), 0, 0, SRCCOPY);
  satellitePlace_ = {satelliteAt.x, satelliteAt.y, satelliteAt.x + w, satelliteAt.y + h};
  DrawSatellite();
  return true;
}

void TOrbitScene::Clear() {
  satellite_.Reset();
  scene_.Reset();
  backdrop_.Reset();
  round_.reset();
}

void TOrbitScene::DrawSatellite() {
  const RECT& r = satellitePlace_;
  SelectClipRgn(scene_.dc(), static_cast<HRGN>(round_.get()));
  OffsetClipRgn(scene_.dc(), r.left, r.top);
  BitBlt(scene_.dc(), r.left, r.top, r.right - r.left, r.bottom - r.top, satellite_.dc(), 0, 0,
         SRCCOPY);
  SelectClipRgn(scene_.dc(), nullptr);
}

RECT TOrbitScene::MoveSatellite(POINT at) {
  RECT changed = {};
  if (!Built() || (at.x == satellitePlace_.left && at.y == satellitePlace_.top)) return changed;
  const RECT old = satellitePlace_;
  BitBlt(scene_.dc(), old.left, old.top, old.right - old.left, old.bottom - old.top, backdrop_.dc(),
         old.left, old.top, SRCCOPY);
  OffsetRect(&satellitePlace_, at.x - old.left, at.y - old.top);
  DrawSatellite();
  UnionRect(&changed, &old, &satellitePlace_);
  return changed;
}

void TOrbitScene::Paint(HDC dc, const RECT& area) const {
  if (!Built()) return;
  BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, scene_.dc(),
         area.left, area.top, SRCCOPY);
}
