// What the dialog logic needs from the platform. The Win32 window implements
// it for real; the unit tests implement it on a virtual clock.
#pragma once

#include <string>
#include <vector>

#include "wfload/CountryTables.h"

class TTimer;

enum class TMsgKind { Error, Information };

enum class TRegRead {
  Ok,       // value read as text
  NoKey,    // key could not be opened
  NoValue,  // key opened, value absent
  NotText   // value present but not a string
};

class IFormHost {
 public:
  virtual ~IFormHost() = default;

  // Start (or restart) the count of an enabled timer: it fires every
  // Interval() ms until disarmed.
  virtual void ArmTimer(TTimer& timer) = 0;
  virtual void DisarmTimer(TTimer& timer) = 0;

  // Blocks the user-interface thread (the pauses between command characters).
  virtual void Sleep(unsigned ms) = 0;

  // Modal standard message box: caption "Error" (stop icon) or "Information",
  // one OK button. Controls are brought up to date before it shows.
  virtual void ShowMessage(const std::string& text, TMsgKind kind) = 0;

  // Ask the modal run to end once the current handler returns.
  virtual void Close() = 0;
  virtual void Repaint() = 0;

  // Opens the ComboBox1 drop-down list.
  virtual void ShowDropDown() = 0;

  // Read-only registry read under HKEY_LOCAL_MACHINE.
  virtual TRegRead ReadRegistryString(const std::string& key, const std::string& name,
                                      std::string& value) = 0;

  // Words of the host process's command line after the program's own name,
  // split by the platform's rule.
  virtual std::vector<std::string> CommandLineWords() = 0;

  virtual std::string SystemDirectory() = 0;

  // Numbers of the serial ports this system lists (COMn as n, 1 .. 256), in
  // any order. The scan walks those above COM8 once COM1 .. COM8 are done.
  virtual std::vector<int> SerialPorts() { return {}; }

  // The INI file of the country tables: Ctyset2.ini in the system directory
  // unless a host names another.
  virtual std::string CountryIniFile() { return CountryIniPath(SystemDirectory()); }

  // Window geometry in screen pixels, for keeping the dialog's size and place.
  virtual void GetScreenSize(int& width, int& height) = 0;
  virtual void GetWindowPos(int& left, int& top) = 0;
  virtual void MoveWindowTo(int left, int top) = 0;
  virtual void SetClientSize(int width, int height) = 0;

  // Design pixels (96 dpi) to the display's pixels, as the window scales its
  // controls.
  virtual int ScaleToDisplay(int designPixels) { return designPixels; }
};
