// The walk-through of `make run` under Xvfb: opens ctyset2.cpl in Wine's
// Control Panel host, follows the dialog's status line, takes the preselected
// country, chooses another one, presses OK, answers the information box and
// prints what happened, with the times of the steps. Pictures of the screen
// (24-bit BMP) go to the picture directory.
//
//   walkthrough.exe --sim-state DIR [--pictures DIR] [--choose NAME] [--applet PATH]
//                   [--poll MS] [--prompt-pause S]
//
// DIR are Linux paths; --sim-state is the simulator's state directory. The
// applet is the build tree's (CTYSET2_BUILD) unless --applet names another,
// such as "ctyset2.cpl" for the one installed in the system directory.
// --poll sets how often the status line is read (default 10 ms; the CPU bench
// reads it seldom so as not to load the dialog); --prompt-pause leaves the
// dialog alone at the country prompt for S seconds before choosing. Exit code
// 0 when the modem ends up on the chosen country, the success box was shown
// and the host has exited.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DialogControls.h"
#include "WineTest.h"
#include "wfload/CountryTables.h"
#include "wfload/win/ControlIds.h"

namespace {

using namespace winetest;

const char kPrompt[] = "Please select your country and press [OK]....";

struct TOptions {
  std::string simState;
  std::string pictures;
  std::string choose;
  std::string applet;
  DWORD pollMs = 10;
  DWORD promptPauseMs = 0;
};

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--sim-state") {
      o.simState = argv[i + 1];
    } else if (name == "--pictures") {
      o.pictures = argv[i + 1];
    } else if (name == "--choose") {
      o.choose = argv[i + 1];
    } else if (name == "--applet") {
      o.applet = argv[i + 1];
    } else if (name == "--poll") {
      o.pollMs = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
    } else if (name == "--prompt-pause") {
      o.promptPauseMs = static_cast<DWORD>(std::strtod(argv[i + 1], nullptr) * 1000);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !o.simState.empty();
}

// Seconds since the dialog showed.
class TClock {
 public:
  void Start() {
    zero_ = GetTickCount64();
    FILETIME now = {};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    unixZero_ = static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
  }
  double Seconds() const { return static_cast<double>(GetTickCount64() - zero_) / 1000.0; }
  // The zero as Unix time, to line the walk up with samples taken on Linux.
  double UnixZero() const { return unixZero_; }

 private:
  ULONGLONG zero_ = GetTickCount64();
  double unixZero_ = 0;
};

// Writes the screen's pixels inside `r` as a 24-bit BMP file.
bool SavePicture(RECT r, const std::string& windowsPath) {
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;  // bottom-up, as BMP files store rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
  const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != h) return false;

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(windowsPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

RECT WindowPlace(HWND hwnd) {
  RECT r = {};
  GetWindowRect(hwnd, &r);
  return r;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Hex2(int code) {
  if (code < 0) return "unknown";
  char text[8];
  std::snprintf(text, sizeof text, "%02X", code);
  return text;
}

class TWalk {
 public:
  explicit TWalk(const TOptions& o) : o_(o) {}

  // Prints as it goes; false when anything did not happen as it should.
  bool Run() {
    const std::string command = ControlPanelCommand(o_.applet.empty() ? AppletPath() : o_.applet);
    Process host(command);
    if (!host.Started()) return Fail("cannot start " + command);
    const ULONGLONG started = GetTickCount64();
    HWND dialog = nullptr;
    Eventually(
        [&] {
          dialog = FindWindowA(kSettingsWindowClass, nullptr);
          return dialog != nullptr && IsWindowVisible(dialog);
        },
        30000);
    if (dialog == nullptr || !IsWindowVisible(dialog))
      return Fail("the dialog did not show within 30 s");
    clock_.Start();
    std::printf("walk-through: %s\n", command.c_str());
    std::printf("  dialog shown %.2f s after the host started; times below from then\n",
                static_cast<double>(GetTickCount64() - started) / 1000.0);
    std::printf("  clock zero at Unix time %.3f\n", clock_.UnixZero());

    if (!Detect(dialog) || !Switch(dialog)) return false;
    if (!host.WaitExit(15000)) return Fail("the host did not exit within 15 s of the box");
    if (!mismatch_.empty()) return Fail(mismatch_);
    std::printf("result:  OK, country %s -> %s as chosen; dialog closed, host exited (%lu)\n",
                Hex2(simBefore_).c_str(), Hex2(SimCountry()).c_str(),
                static_cast<unsigned long>(host.ExitCode()));
    return true;
  }

 private:
  // Follows the status line until the country prompt; reads what the dialog
  // found and what the simulator holds.
  bool Detect(HWND dialog) {
    HWND status = Item(dialog, kIdPanel14);
    bool pictured = false;
    HWND box = nullptr;
    const bool prompted = Eventually(
        [&] {
          Status(status);
          if (!pictured && clock_.Seconds() >= 2.0) {
            Picture(WindowPlace(dialog), "1-detecting", 0);
            pictured = true;
          }
          box = WaitForMessageBox(dialog, 0);
          return box != nullptr || last_ == kPrompt;
        },
        60000, o_.pollMs);
    if (box != nullptr) return Boxed(dialog, box, "detection ended with a message box");
    if (!prompted) return Fail("no country prompt within 60 s; status " + Quoted(last_));
    Picture(WindowPlace(dialog), "2-prompt");

    const std::string ident = WindowText(Item(dialog, kIdPanel7));
    HWND combo = Item(dialog, kIdComboBox1);
    preselected_ = WindowText(combo);
    items_ = ComboItems(combo);
    tables_.LoadFromText(ident, IniText());
    simBefore_ = SimCountry();
    commandsBefore_ = SimCommands().size();

    std::printf("port:    %s\n", WindowText(Item(dialog, kIdComPort)).c_str());
    std::printf(
        "family:  ident %s -> INI section %s, %zu countries in the list\n", Quoted(ident).c_str(),
        tables_.Family.empty() ? "(none)" : ("[" + tables_.Family + "]").c_str(), items_.size());
    const int code = CodeOf(preselected_);
    std::printf("before:  dialog preselects %s (%s); simulator state %s%s\n",
                Quoted(preselected_).c_str(), Hex2(code).c_str(), Hex2(simBefore_).c_str(),
                code == simBefore_ ? "" : "  <- differ");
    if (code != simBefore_) mismatch_ = "the preselected country is not the modem's";
    return true;
  }

  // Chooses another country, presses OK and answers the box.
  bool Switch(HWND dialog) {
    if (o_.promptPauseMs > 0) Sleep(o_.promptPauseMs);
    std::string chosen = o_.choose;
    for (const std::string& item : items_) {
      if (chosen.empty() && item != preselected_) chosen = item;
    }
    HWND combo = Item(dialog, kIdComboBox1);
    if (chosen.empty() || !Choose(combo, chosen)) return Fail("cannot choose " + Quoted(chosen));
    const int code = CodeOf(chosen);
    Click(Item(dialog, kIdUPGRADE));
    const double pressed = clock_.Seconds();
    std::printf("chosen:  %s (%s); OK pressed at %.2f s\n", Quoted(chosen).c_str(),
                Hex2(code).c_str(), pressed);

    HWND status = Item(dialog, kIdPanel14);
    HWND box = nullptr;
    Eventually(
        [&] {
          Status(status);
          box = WaitForMessageBox(dialog, 0);
          return box != nullptr;
        },
        40000, o_.pollMs);
    if (box == nullptr) return Fail("no message box within 40 s of OK");
    const double shown = clock_.Seconds();
    Status(status);
    const std::string caption = MessageBoxCaption(box);
    std::printf("%7.2f s  %s box %s, %.2f s after OK\n", shown, caption.c_str(),
                Quoted(MessageBoxText(box)).c_str(), shown - pressed);
    PictureWithBox(dialog, box);

    const std::vector<std::string> commands = SimCommands();
    std::string heard;
    for (std::size_t i = commandsBefore_; i < commands.size(); ++i)
      heard += (heard.empty() ? "" : ", ") + commands[i];
    const int after = SimCountry();
    std::printf("modem:   heard %s after OK\n", heard.empty() ? "nothing" : heard.c_str());
    std::printf("after:   dialog reads back %s; simulator state %s\n",
                Quoted(WindowText(Item(dialog, kIdPanel8))).c_str(), Hex2(after).c_str());
    PressOk(box);
    if (!Eventually([&] { return !IsWindow(dialog); }, 10000))
      return Fail("the dialog stayed open after the box");
    if (caption != "Information") return Fail("the switch ended with an error box");
    if (after != code) return Fail("the simulator holds " + Hex2(after) + ", not " + Hex2(code));
    return true;
  }

  // Records a change of the status line. The text is asked of the window
  // manager (the wineserver under Wine), not of the dialog, which a poll so
  // would disturb.
  void Status(HWND status) {
    wchar_t text[256] = {};
    const int length = InternalGetWindowText(status, text, 256);
    const std::string now(text, text + std::max(length, 0));
    if (now == last_) return;
    last_ = now;
    std::printf("%7.2f s  status %s\n", clock_.Seconds(), Quoted(now).c_str());
  }

  bool Boxed(HWND dialog, HWND box, const std::string& what) {
    std::printf("%7.2f s  %s box %s\n", clock_.Seconds(), MessageBoxCaption(box).c_str(),
                Quoted(MessageBoxText(box)).c_str());
    PictureWithBox(dialog, box);
    PressOk(box);
    return Fail(what);
  }

  bool Fail(const std::string& why) {
    std::printf("result:  FAILED, %s\n", why.c_str());
    return false;
  }

  void PictureWithBox(HWND dialog, HWND box) {
    RECT both = WindowPlace(dialog);
    const RECT boxPlace = WindowPlace(box);
    UnionRect(&both, &both, &boxPlace);
    Picture(both, "3-box");
  }

  // A picture of the screen inside r, once the windows have had settleMs to
  // repaint.
  void Picture(RECT r, const std::string& name, DWORD settleMs = 500) {
    if (o_.pictures.empty()) return;
    Sleep(settleMs);
    const std::string path = o_.pictures + "/" + name + ".bmp";
    if (!SavePicture(r, ToWindowsPath(path)))
      std::printf("          (no picture %s)\n", path.c_str());
  }

  int CodeOf(const std::string& name) const {
    for (int i = 0; i < tables_.CtyCount; ++i) {
      if (tables_.CtyNames[i] == name) return tables_.CtyCodes[i];
    }
    return -1;
  }

  static std::string IniText() {
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof dir);
    std::ifstream in(CountryIniPath(dir), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  int SimCountry() const { return SimCountryCode(o_.simState); }
  std::vector<std::string> SimCommands() const { return winetest::SimCommands(o_.simState); }

  const TOptions& o_;
  TClock clock_;
  std::string last_;
  std::string preselected_;
  std::vector<std::string> items_;
  TCountryTables tables_;
  int simBefore_ = -1;
  std::string mismatch_;  // what went wrong without ending the walk
  std::size_t commandsBefore_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: walkthrough.exe --sim-state DIR [--pictures DIR] [--choose NAME] "
                 "[--applet PATH] [--poll MS] [--prompt-pause S]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  return TWalk(options).Run() ? 0 : 1;
}
