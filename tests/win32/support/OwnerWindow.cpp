#include "OwnerWindow.h"

namespace dialogtest {

HWND OwnerWindowTest::NewOwner() {
  return CreateWindowA("STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                       nullptr, nullptr);
}

void OwnerWindowTest::SetUp() {
  owner_ = NewOwner();
  ASSERT_NE(nullptr, owner_);
}

void OwnerWindowTest::TearDown() {
  if (owner_ != nullptr) DestroyWindow(owner_);
}

void LoadedAppletTest::SetUp() {
  ASSERT_TRUE(applet_.Loaded()) << AppletPath();
  OwnerWindowTest::SetUp();
}

}  // namespace dialogtest
