// The group box's scene (globe and satellite drawn off-screen) against the
// way the window drew the orbit before: the globe and the satellite as
// picture controls of their own in the group box, the satellite round by its
// window region, Windows (Wine) putting them together. At 96 dpi the two must
// agree pixel for pixel over the whole group box, the satellite at the places
// of a few angles of its orbit and parked.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "wfload/win/DialogImages.h"

namespace {

// Design places (96 dpi) inside the group box.
constexpr int kBoxWidth = 369;
constexpr int kBoxHeight = 257;
constexpr RECT kGlobe = {32, 86, 32 + 137, 86 + 121};
constexpr int kSatellite = 33;

// The group box as the window erases it.
LRESULT CALLBACK ErasedLikeTheDialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, "old"));
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
  }
  return CallWindowProcA(old, hwnd, msg, wParam, lParam);
}

// Pixels of a DC's rectangle, 32 bits each.
std::vector<DWORD> Pixels(HDC source, int left, int top, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(source);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const DWORD*>(bits);
  std::vector<DWORD> pixels(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(dib);
  for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

class OrbitSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpi_ != 96) GTEST_SKIP() << "the display is not at 96 dpi";
    face_ = GetSysColor(COLOR_BTNFACE);
    globe_ = DrawGlobeBitmap(kGlobe.right - kGlobe.left, kGlobe.bottom - kGlobe.top, face_);
    satellite_ = DrawSatelliteBitmap(kSatellite, kSatellite, face_);
    // No clipping of children by the top window: its DC reads what they drew.
    top_ = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0,
                           kBoxWidth + 20, kBoxHeight + 20, nullptr, nullptr, nullptr, nullptr);
    box_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_GROUPBOX | WS_CLIPCHILDREN,
                           10, 10, kBoxWidth, kBoxHeight, top_, nullptr, nullptr, nullptr);
    SetPropA(box_, "old",
             reinterpret_cast<HANDLE>(SetWindowLongPtrA(
                 box_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ErasedLikeTheDialog))));
    // The two pictures as the window made them: beneath every other control,
    // the satellite above the globe and round.
    globeControl_ = Picture(kGlobe.left, kGlobe.top, globe_);
    satelliteControl_ = Picture(8, 80, satellite_);
    SetWindowRgn(satelliteControl_, CreateEllipticRgn(0, 0, kSatellite + 1, kSatellite + 1), FALSE);
    SetWindowPos(satelliteControl_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(globeControl_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  void TearDown() override {
    if (top_) DestroyWindow(top_);
    if (globe_) DeleteObject(globe_);
    if (satellite_) DeleteObject(satellite_);
  }

  HWND Picture(int left, int top, HBITMAP bitmap) {
    HWND hwnd =
        CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP, left,
                        top, 0, 0, box_, nullptr, nullptr, nullptr);
    SendMessageA(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    return hwnd;
  }

  // The group box's pixels with the satellite control at (left, top).
  std::vector<DWORD> AsTheControlsDrewIt(int left, int top) {
    SetWindowPos(satelliteControl_, nullptr, left, top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(top_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC dc = GetDC(top_);
    std::vector<DWORD> pixels = Pixels(dc, 10, 10, kBoxWidth, kBoxHeight);
    ReleaseDC(top_, dc);
    return pixels;
  }

  int dpi_ = 96;
  COLORREF face_ = 0;
  HBITMAP globe_ = nullptr;
  HBITMAP satellite_ = nullptr;
  HWND top_ = nullptr;
  HWND box_ = nullptr;
  HWND globeControl_ = nullptr;
  HWND satelliteControl_ = nullptr;
};

TEST_F(OrbitSceneTest, DrawsTheOrbitAsThePictureControlsDid) {
  // 0, 30 (the start), 90, 180, 225 and 270 degrees, and parked.
  const POINT places[] = {{0, 126}, {9, 91}, {70, 56}, {140, 126}, {119, 175}, {70, 196}, {8, 80}};
  TOrbitScene scene;
  ASSERT_TRUE(scene.Build(box_, face_, globe_, kGlobe, satellite_, {8, 80}));
  for (const POINT& at : places) {
    SCOPED_TRACE(testing::Message() << "satellite at " << at.x << "," << at.y);
    const RECT before = scene.SatellitePlace();
    const RECT changed = scene.MoveSatellite(at);
    if (before.left != at.x || before.top != at.y) {
      // What changed is the old and the new place.
      RECT both;
      const RECT now = {at.x, at.y, at.x + kSatellite, at.y + kSatellite};
      UnionRect(&both, &before, &now);
      EXPECT_TRUE(EqualRect(&both, &changed));
    }
    const TMemoryBitmap memory(kBoxWidth, kBoxHeight);
    ASSERT_TRUE(memory);
    scene.Paint(memory.dc(), {0, 0, kBoxWidth, kBoxHeight});
    const std::vector<DWORD> drawn = Pixels(memory.dc(), 0, 0, kBoxWidth, kBoxHeight);

    const std::vector<DWORD> wanted = AsTheControlsDrewIt(at.x, at.y);
    size_t differ = 0;
    size_t first = 0;
    for (size_t i = 0; i < drawn.size(); ++i) {
      if (drawn[i] != wanted[i] && differ++ == 0) first = i;
    }
    EXPECT_EQ(0u, differ) << "first at " << first % kBoxWidth << "," << first / kBoxWidth << ": "
                          << std::hex << drawn[first] << " instead of " << wanted[first];
  }
}

}  // namespace
