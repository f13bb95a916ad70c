#include "cli/ConsoleHost.h"

#include <chrono>
#include <exception>
#include <thread>

TConsoleHost::~TConsoleHost() { Detach(); }

void TConsoleHost::Attach(TForm1& form) {
  form_ = &form;
  // Received data is an event like any other.
  TReceiveDataEvent handler = form.Comm1.OnReceiveData();
  form.Comm1.SetOnReceiveData([this, handler](const void* buffer, std::uint16_t length) {
    receivedBytes_ += length;
    if (handler) Dispatch([&] { handler(buffer, length); });
  });
  // So is the end of an opening that took its time.
  if (TOpenDoneEvent openDone = form.Comm1.OnOpenDone()) {
    form.Comm1.SetOnOpenDone([this, openDone](bool opened, const std::string& error) {
      Dispatch([&] { openDone(opened, error); });
    });
  }
  form.AttachTimers();
  ReportStatus();
}

void TConsoleHost::Detach() {
  if (form_) form_->DetachTimers();
  form_ = nullptr;
}

void TConsoleHost::Dispatch(const std::function<void()>& handler) {
  if (!form_ || !handlerError_.empty()) return;
  try {
    handler();
  } catch (const std::exception& e) {
    handlerError_ = e.what();
  } catch (...) {
    handlerError_ = "Unknown error";
  }
  ReportStatus();
}

void TConsoleHost::RunUntil(const std::function<bool()>& done) {
  const bool finished =
      loop_.RunUntil([&] { return closeRequested_ || !handlerError_.empty() || (done && done()); });
  interrupted_ = !finished;
}

void TConsoleHost::ReportStatus() {
  if (!form_ || form_->Panel14.Caption == status_) return;
  status_ = form_->Panel14.Caption;
  if (OnStatus) OnStatus(*form_, status_);
}

void TConsoleHost::ArmTimer(TTimer& timer) {
  loop_.Arm(&timer, timer.Interval(), [this, &timer] { Dispatch([&timer] { timer.Fire(); }); });
}

void TConsoleHost::DisarmTimer(TTimer& timer) { loop_.Disarm(&timer); }

void TConsoleHost::Sleep(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TConsoleHost::ShowMessage(const std::string& text, TMsgKind kind) {
  ReportStatus();  // the controls are brought up to date before a box shows
  messages_.push_back({text, kind});
  if (OnMessage && form_) OnMessage(*form_, messages_.back());
}

std::string TConsoleHost::SystemDirectory() {
  const size_t slash = iniFile_.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : iniFile_.substr(0, slash);
}
