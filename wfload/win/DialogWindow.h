// The settings dialog as a real window: standard Win32 controls at the
// designed places (scaled to the display), kept in step with the control
// models of TForm1. Every event (timer, button, received data, key, size)
// goes to its handler through Dispatch, which feeds user input to the models
// first, reports an escaping error in the standard error box, and copies the
// changed models into the controls afterwards.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comm32/CommPort.h"
#include "wfload/Form1.h"
#include "wfload/FormHost.h"
#include "wfload/win/DialogImages.h"

class TDialogWindow final : public IFormHost {
 public:
  // startWords: command-line words the host passed apart from its command
  // line (CPL_STARTWPARMS).
  TDialogWindow(HINSTANCE module, std::unique_ptr<TCommPort> comm,
                std::vector<std::string> startWords = {});
  ~TDialogWindow() override;
  TDialogWindow(const TDialogWindow&) = delete;
  TDialogWindow& operator=(const TDialogWindow&) = delete;

  // Creates the window and the form, runs the dialog modally (the owner is
  // disabled meanwhile) and takes both down again.
  void RunModal(HWND owner);

  // IFormHost
  void ArmTimer(TTimer& timer) override;
  void DisarmTimer(TTimer& timer) override;
  void Sleep(unsigned ms) override;
  void ShowMessage(const std::string& text, TMsgKind kind) override;
  void Close() override;
  void Repaint() override;
  void ShowDropDown() override;
  TRegRead ReadRegistryString(const std::string& key, const std::string& name,
                              std::string& value) override;
  std::vector<std::string> CommandLineWords() override;
  std::string SystemDirectory() override;
  std::vector<int> SerialPorts() override;
  void GetScreenSize(int& width, int& height) override;
  void GetWindowPos(int& left, int& top) override;
  void MoveWindowTo(int left, int top) override;
  void SetClientSize(int width, int height) override;
  int ScaleToDisplay(int designPixels) override { return Scale(designPixels); }

 private:
  enum class TKind { GroupBox, Label, ComboBox, Picture, Button, Panel, Memo, ListBox };
  // Frame: the group box, a container that draws the pictures (scene_).
  enum class TSubclass { Frame, Container, ComboKeys, MemoKeys };

  // One real control and what was last copied into it.
  struct TView {
    TControl* model = nullptr;
    TStringList* items = nullptr;  // combo and list boxes
    TKind kind = TKind::Label;
    HWND hwnd = nullptr;
    bool fillsParent = false;  // Panel14 fills Panel1
    bool fresh = true;         // nothing copied yet
    std::string caption;       // window text last set or taken
    bool visible = false;
    bool enabled = true;
    RECT place = {};
    std::vector<std::string> itemCache;
    std::string selectedCache;
  };

  struct TIconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
  };
  using TIcon = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleSubclassed(HWND hwnd, TSubclass kind, WNDPROC old, UINT msg, WPARAM wParam,
                           LPARAM lParam);
  void HandleCommand(int id, int code, HWND control);

  bool CreateFrame(HWND owner);
  void ModalLoop();
  void CreateControls();
  void CreateWindowChildren();
  HWND Add(TControl& model, TKind kind, HWND parent, int id, const char* className, DWORD style,
           DWORD exStyle = 0);
  void Subclass(HWND hwnd, TSubclass kind);
  HWND Control(const TControl& model) const;
  const TView* View(const TControl& model) const;
  TView* View(const TControl& model) {
    return const_cast<TView*>(std::as_const(*this).View(model));
  }
  void MakePictures();
  void BuildScene();
  // Puts the satellite at `place` in the scene and on the screen.
  void MoveSatellite(const RECT& place);
  void CenterOnScreen();

  // Runs one handler of the form as an event of the window; then mirrors
  // the models, or only `changes` when that is all the handler can change.
  template <class F>
  void Dispatch(F&& handler, const TControl* changes = nullptr);
  void ReportError(const char* text);

  void MirrorAll();
  void Mirror(TView& view);
  void MirrorItems(TView& view);
  RECT PlaceOf(const TView& view) const;
  // Whether the control is moved to its model's new place now.
  bool Follows(const TView& view);
  void TakeComboSelection();
  void TakeComboText();
  void TakeMemoText();

  int Scale(int designPixels) const { return MulDiv(designPixels, dpi_, 96); }

  HINSTANCE module_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  bool closeRequested_ = false;
  bool mirroring_ = false;
  bool resizing_ = false;
  HWND lastFocus_ = nullptr;
  TGdiObject font_;
  TGdiObject globe_;
  TGdiObject satellite_;
  TOrbitScene scene_;
  // Image2's control moves every kFollowSteps orbit steps (about 1 s).
  static constexpr unsigned kFollowSteps = 64;
  unsigned orbitSteps_ = 0;
  std::vector<TView> views_;
  std::vector<TTimer*> timers_;  // timer id = index + 1
  // The port outlives the form, which holds a reference to it.
  std::unique_ptr<TCommPort> comm_;
  std::vector<std::string> startWords_;
  std::unique_ptr<TForm1> form_;
};
