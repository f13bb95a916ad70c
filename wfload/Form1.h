// The regional settings dialog: its controls (as models), its handlers and
// the steps of detection, the command scripts and the country switch. The
// dialog state itself is unit-level (see DialogState.h): it outlives the form.
#pragma once

#include <cstdint>
#include <string>

#include "comm32/CommPort.h"
#include "wfload/Controls.h"
#include "wfload/FormHost.h"

class TForm1 {
 public:
  // Creating the form runs FormCreate; the host then attaches the timers.
  TForm1(IFormHost& host, TCommPort& comm);
  ~TForm1();  // runs FormDestroy
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Window, designed at 96 dpi.
  static constexpr const char* kCaption = "Modem Regional Settings 2.3";
  static constexpr int kDesignWidth = 379;
  static constexpr int kDesignHeight = 287;

  // Controls under their design names. Children of Firmware are relative
  // to it.
  TControl Firmware;
  TControl ICtype;
  TComboBox ComboBox1;
  TControl Image1;
  TControl Image2;
  TControl UPGRADE;
  TControl Cancel;
  TControl Panel1;
  TControl Panel14;
  TControl Panel7;
  TControl Panel8;
  TControl Label1;
  TComboBox ComPort;
  TControl Memo1;  // the transcript's control; its text is the transcript
  TListBox ListBox1;
  TListBox ListBox2;
  TListBox ResponseList;
  TListBox IDlistBox;  // the hidden list box named IDlist
  TListBox INTList, DEMlist, LINTList, LDEMList, INT2List, DEM2List, PCI2List, AllList;
  TListBox* IDlist = nullptr;  // the current country list

  TTimer Timer1;
  TTimer Timer2;
  TTimer Timer3;
  TTimer Timer4;

  // Handlers the window routes to.
  void FormResize();
  void CancelClick();
  void UPGRADEClick();
  void Memo1KeyPress(char& Key);
  void ComboBox1KeyPress(char& Key);
  void Comm1ReceiveData(const void* Buffer, std::uint16_t BufferLength);

  TCommPort& Comm1;

 private:
  IFormHost& host_;
};
