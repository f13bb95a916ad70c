// CPlApplet contract and resources of ctyset2.cpl, loaded into this process.
#include <windows.h>
#include <cpl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "WineTest.h"

namespace {

const LANGID kTaiwan = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
const char kCaption[] = "Modem Regional Settings 2.3";

// The applet loaded from a given path; unloaded at scope end.
class Applet {
 public:
  explicit Applet(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
    if (module_ != nullptr)
      proc_ = reinterpret_cast<APPLET_PROC>(
          reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
  }
  ~Applet() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Applet(const Applet&) = delete;
  Applet& operator=(const Applet&) = delete;

  bool Loaded() const { return module_ != nullptr && proc_ != nullptr; }
  HMODULE Module() const { return module_; }
  LONG Call(UINT msg, LPARAM p1 = 0, LPARAM p2 = 0, HWND host = nullptr) const {
    return proc_(host, msg, p1, p2);
  }

 private:
  HMODULE module_;
  APPLET_PROC proc_ = nullptr;
};

class CplAppletTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(applet_.Loaded()) << winetest::AppletPath(); }
  Applet applet_{winetest::AppletPath()};
};

TEST_F(CplAppletTest, AnnouncesOneApplet) {
  EXPECT_EQ(1, applet_.Call(CPL_INIT));
  EXPECT_EQ(1, applet_.Call(CPL_GETCOUNT));
}

TEST_F(CplAppletTest, InquireFillsTheRecord) {
  CPLINFO info;
  std::memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(0, applet_.Call(CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)));
  EXPECT_EQ(101, info.idIcon);
  EXPECT_EQ(3, info.idName);
  EXPECT_EQ(2, info.idInfo);
  EXPECT_EQ(0, info.lData);
  // A host passing no record gets the same answer and no crash.
  EXPECT_EQ(0, applet_.Call(CPL_INQUIRE, 0, 0));
}

TEST_F(CplAppletTest, OtherMessagesAnswerOneAndTouchNothing) {
  NEWCPLINFOA newInfo;
  std::memset(&newInfo, 0x5A, sizeof newInfo);
  NEWCPLINFOA untouched = newInfo;
  EXPECT_EQ(1, applet_.Call(CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&newInfo)));
  EXPECT_EQ(0, std::memcmp(&newInfo, &untouched, sizeof newInfo));
  EXPECT_EQ(1, applet_.Call(CPL_SELECT, 0, reinterpret_cast<LPARAM>(&newInfo)));
  EXPECT_EQ(0, std::memcmp(&newInfo, &untouched, sizeof newInfo));
  EXPECT_EQ(1, applet_.Call(CPL_STOP));
  EXPECT_EQ(1, applet_.Call(CPL_EXIT));
  EXPECT_EQ(1, applet_.Call(0x4321));
}

// Hosts that open an applet by name send these first; 0 means "not started
// here", so the host goes on to send CPL_DBLCLK.
TEST_F(CplAppletTest, StartWithParametersLeavesOpeningToTheHost) {
  char paramsA[] = "COM=2";
  wchar_t paramsW[] = L"COM=2";
  EXPECT_EQ(0, applet_.Call(CPL_STARTWPARMSA, 0, reinterpret_cast<LPARAM>(paramsA)));
  EXPECT_EQ(0, applet_.Call(CPL_STARTWPARMSW, 0, reinterpret_cast<LPARAM>(paramsW)));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, kCaption));
}

std::string LoadString1028(HMODULE module, UINT id) {
  char buf[256] = {};
  LoadStringA(module, id, buf, sizeof buf);
  return buf;
}

TEST_F(CplAppletTest, StringsInChineseTaiwan) {
  const HMODULE m = applet_.Module();
  EXPECT_EQ("Modem Regional Settings", LoadString1028(m, 1));
  EXPECT_EQ("Modem Regional Settings Descript", LoadString1028(m, 2));
  EXPECT_EQ("Tarn Regional Settings", LoadString1028(m, 3));
  EXPECT_EQ("Brio Modem Regional Settings", LoadString1028(m, 4));
  EXPECT_EQ("Modem Regional Settings", LoadString1028(m, 5));
  EXPECT_EQ("Halcyon Regional Settings", LoadString1028(m, 6));
  // Strings 1..15 share block 1; it exists in 1028 and not in English.
  EXPECT_NE(nullptr, FindResourceExA(m, RT_STRING, MAKEINTRESOURCEA(1), kTaiwan));
  EXPECT_EQ(nullptr, FindResourceExA(m, RT_STRING, MAKEINTRESOURCEA(1),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
struct GroupIconDir {
  WORD reserved, type, count;
  GroupIconEntry entries[1];
};
#pragma pack(pop)

TEST_F(CplAppletTest, IconIsOne32x32ImageWith16Colours) {
  const HMODULE m = applet_.Module();
  HRSRC res = FindResourceExA(m, RT_GROUP_ICON, MAKEINTRESOURCEA(101), kTaiwan);
  ASSERT_NE(nullptr, res);
  const auto* dir = static_cast<const GroupIconDir*>(LockResource(LoadResource(m, res)));
  ASSERT_NE(nullptr, dir);
  ASSERT_EQ(1, dir->count);
  EXPECT_EQ(32, dir->entries[0].width);
  EXPECT_EQ(32, dir->entries[0].height);
  EXPECT_EQ(16, dir->entries[0].colorCount);
  EXPECT_EQ(4, dir->entries[0].bitCount);
  HICON icon = static_cast<HICON>(LoadImageA(m, MAKEINTRESOURCEA(101), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(nullptr, icon);
  DestroyIcon(icon);
}

TEST_F(CplAppletTest, VersionResourceSaysTwoPointThree) {
  HRSRC res = FindResourceA(applet_.Module(), MAKEINTRESOURCEA(1), RT_VERSION);
  ASSERT_NE(nullptr, res);
  const auto* block = static_cast<const BYTE*>(LockResource(LoadResource(applet_.Module(), res)));
  ASSERT_NE(nullptr, block);
  // VS_VERSIONINFO: header (6 bytes), L"VS_VERSION_INFO\0" (32 bytes), padding to 4.
  const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(block + 40);
  ASSERT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
  EXPECT_EQ(MAKELONG(3, 2), fixed->dwFileVersionMS);
}

// Closes the dialog with its Cancel button once it shows; reports whether the
// owner was disabled meanwhile.
void CancelWhenShown(HWND owner, bool* sawDialog, bool* ownerDisabled) {
  HWND dialog = winetest::WaitForWindow(kCaption, GetCurrentProcessId(), 60000);
  *sawDialog = dialog != nullptr;
  if (dialog == nullptr) return;
  *ownerDisabled = !IsWindowEnabled(owner);
  HWND cancel = winetest::FindChild(dialog, "Button", "Cancel");
  if (cancel != nullptr) {
    PostMessageA(cancel, BM_CLICK, 0, 0);
  } else {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  }
}

// Each double-click runs one modal dialog; a second opening in the same
// loading works the same way.
TEST_F(CplAppletTest, DoubleClickRunsTheDialogModally) {
  HWND owner = CreateWindowA("STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                             nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, owner);
  ASSERT_EQ(1, applet_.Call(CPL_INIT, 0, 0, owner));
  for (int opening = 0; opening < 2; ++opening) {
    bool sawDialog = false, ownerDisabled = false;
    std::thread closer(CancelWhenShown, owner, &sawDialog, &ownerDisabled);
    EXPECT_EQ(1, applet_.Call(CPL_DBLCLK, 0, 0, owner));
    closer.join();
    EXPECT_TRUE(sawDialog) << "opening " << opening;
    EXPECT_TRUE(ownerDisabled) << "opening " << opening;
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, kCaption));
  }
  DestroyWindow(owner);
}

// Under any other file name the applet declines CPL_INIT.
TEST(CplAppletRenamed, InitAnswersZero) {
  ASSERT_EQ(nullptr, GetModuleHandleA("ctyset2.cpl"));
  char temp[MAX_PATH] = {};
  ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
  for (const char* name : {"ctyset3.cpl", "my-ctyset2.cpl", "ctyset2.dll"}) {
    const std::string copy = std::string(temp) + std::to_string(GetCurrentProcessId()) + "-" + name;
    ASSERT_TRUE(CopyFileA(winetest::AppletPath().c_str(), copy.c_str(), FALSE)) << copy;
    {
      Applet applet(copy);
      ASSERT_TRUE(applet.Loaded()) << copy;
      EXPECT_EQ(0, applet.Call(CPL_INIT)) << name;
    }
    DeleteFileA(copy.c_str());
  }
}

}  // namespace
