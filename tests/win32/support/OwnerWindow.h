// Fixture of the tests that open the settings dialog from a window of their
// own, as a Control Panel host does: a top-level window of the test's main
// thread owns the dialog and is disabled while it shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "DialogDriver.h"

namespace dialogtest {

class OwnerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the dialog of `applet` from the owner window (TApplet::Open).
  LONG Open(TApplet& applet, const std::function<void(HWND dialog)>& script) {
    return applet.Open(owner_, script);
  }

  // A window like owner_, for openings outside a test (DestroyWindow it).
  static HWND NewOwner();

  HWND owner_ = nullptr;
};

// The same with the library loaded for the whole test.
class LoadedAppletTest : public OwnerWindowTest {
 protected:
  void SetUp() override;

  LONG Open(const std::function<void(HWND dialog)>& script) {
    return OwnerWindowTest::Open(applet_, script);
  }

  TApplet applet_;
};

}  // namespace dialogtest
