// IFormHost for a console program: the form's timers run on the event loop in
// real time, message boxes are handed to the program (they answer at once),
// the status line goes to a listener, and there is no window to paint.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/EventLoop.h"
#include "wfload/Form1.h"
#include "wfload/FormHost.h"

class TConsoleHost final : public IFormHost {
 public:
  struct TMessage {
    std::string text;
    TMsgKind kind;
  };

  TConsoleHost(TEventLoop& loop, std::string iniFile, std::vector<std::string> words)
      : loop_(loop), iniFile_(std::move(iniFile)), words_(std::move(words)) {}
  ~TConsoleHost() override;

  // Takes the form's events: its timers and the port's received data. Call
  // once, right after creating the form.
  void Attach(TForm1& form);
  // Takes the form's timers off the loop; the form is about to go.
  void Detach();

  // Runs a handler of the form as an event: an error it raises is reported
  // and ends the run; a changed status line is passed on.
  void Dispatch(const std::function<void()>& handler);

  // Runs the loop until the form asks to close, `done` holds, an error
  // escapes a handler or an interrupt arrives.
  void RunUntil(const std::function<bool()>& done);

  bool Interrupted() const { return interrupted_; }
  // Text of an error raised by a handler; empty when none was.
  const std::string& HandlerError() const { return handlerError_; }
  const std::vector<TMessage>& Messages() const { return messages_; }
  // Bytes the port has delivered to the form.
  unsigned long ReceivedBytes() const { return receivedBytes_; }

  // Listeners: each new text of the status line Panel14, each message box,
  // with the form that shows it.
  std::function<void(const TForm1&, const std::string&)> OnStatus;
  std::function<void(const TForm1&, const TMessage&)> OnMessage;

  // IFormHost
  void ArmTimer(TTimer& timer) override;
  void DisarmTimer(TTimer& timer) override;
  void Sleep(unsigned ms) override;
  void ShowMessage(const std::string& text, TMsgKind kind) override;
  void Close() override { closeRequested_ = true; }
  void Repaint() override { ReportStatus(); }
  void ShowDropDown() override {}
  TRegRead ReadRegistryString(const std::string&, const std::string&, std::string&) override {
    return TRegRead::NoKey;  // no display to place an animation on
  }
  std::vector<std::string> CommandLineWords() override { return words_; }
  std::string SystemDirectory() override;
  std::string CountryIniFile() override { return iniFile_; }
  std::vector<int> SerialPorts() override { return serialPorts; }
  // The ports SerialPorts lists.
  std::vector<int> serialPorts;
  void GetScreenSize(int& width, int& height) override { width = height = 0; }
  void GetWindowPos(int& left, int& top) override { left = top = 0; }
  void MoveWindowTo(int, int) override {}
  void SetClientSize(int, int) override {}

 private:
  void ReportStatus();

  TEventLoop& loop_;
  std::string iniFile_;
  std::vector<std::string> words_;
  TForm1* form_ = nullptr;
  std::string status_;
  bool closeRequested_ = false;
  bool interrupted_ = false;
  std::string handlerError_;
  std::vector<TMessage> messages_;
  unsigned long receivedBytes_ = 0;
};
