// Control identifiers of the settings window, one per design name. The Win32
// tests find the controls by these. The names: docs/GLOSSARY.md.
#pragma once

enum TControlId : int {
  kIdCancel = 2,  // IDCANCEL: Esc and the close box press Cancel too
  kIdFirmware = 100,
  kIdICtype,
  kIdComboBox1,
  kIdImage1,
  kIdImage2,
  kIdUPGRADE,
  kIdPanel1,
  kIdPanel14,
  kIdPanel7,
  kIdPanel8,
  kIdLabel1,
  kIdComPort,
  kIdMemo1,
  kIdListBox1,
  kIdListBox2,
  kIdResponseList,
  kIdIDlist,
  kIdINTList,
  kIdDEMlist,
  kIdLINTList,
  kIdLDEMList,
  kIdINT2List,
  kIdDEM2List,
  kIdPCI2List,
  kIdAllList
};

// Class name and caption of the window.
inline constexpr char kSettingsWindowClass[] = "Modem Regional Settings 2.3";
