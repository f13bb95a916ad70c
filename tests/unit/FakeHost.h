// IFormHost on a virtual clock: timers fire in virtual time, Sleep moves the
// clock on, message boxes are recorded (and answered at once).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "VirtualClock.h"
#include "wfload/Controls.h"
#include "wfload/FormHost.h"

class FakeHost : public IFormHost {
 public:
  struct Message {
    std::string text;
    TMsgKind kind;
    VirtualClock::Ms at;
  };

  explicit FakeHost(VirtualClock& clock) : clock_(clock) {}

  // Configuration.
  std::vector<std::string> words;
  TRegRead registryResult = TRegRead::Ok;
  std::string registryValue = "96";
  std::string systemDirectory = "C:\\WINDOWS\\SYSTEM32";
  std::vector<int> serialPorts;  // what SerialPorts lists
  int screenWidth = 1024, screenHeight = 768;
  int windowLeft = 100, windowTop = 100;
  // Called while a message box is up (the box is dismissed when it returns).
  std::function<void(const Message&)> onMessage;

  // What happened.
  std::vector<Message> messages;
  bool closed = false;
  int repaints = 0;
  int dropDowns = 0;
  int clientWidth = 0, clientHeight = 0;
  std::string registryKey, registryName;

  void ArmTimer(TTimer& timer) override {
    armed_.insert(&timer);
    clock_.Arm(&timer, timer.Interval(), [&timer] { timer.Fire(); });
  }
  void DisarmTimer(TTimer& timer) override {
    armed_.erase(&timer);
    clock_.Disarm(&timer);
  }
  // The window's timers go with the window: call before destroying a form.
  void DestroyTimers() {
    for (TTimer* timer : armed_) clock_.Disarm(timer);
    armed_.clear();
  }
  bool Armed(const TTimer& timer) const { return clock_.Armed(&timer); }
  void Sleep(unsigned ms) override { clock_.Advance(ms); }
  void ShowMessage(const std::string& text, TMsgKind kind) override {
    messages.push_back({text, kind, clock_.Now()});
    if (onMessage) onMessage(messages.back());
  }
  void Close() override { closed = true; }
  void Repaint() override { ++repaints; }
  void ShowDropDown() override { ++dropDowns; }
  TRegRead ReadRegistryString(const std::string& key, const std::string& name,
                              std::string& value) override {
    registryKey = key;
    registryName = name;
    if (registryResult == TRegRead::Ok) value = registryValue;
    return registryResult;
  }
  std::vector<std::string> CommandLineWords() override { return words; }
  std::string SystemDirectory() override { return systemDirectory; }
  std::vector<int> SerialPorts() override { return serialPorts; }
  void GetScreenSize(int& width, int& height) override {
    width = screenWidth;
    height = screenHeight;
  }
  void GetWindowPos(int& left, int& top) override {
    left = windowLeft;
    top = windowTop;
  }
  void MoveWindowTo(int left, int top) override {
    windowLeft = left;
    windowTop = top;
  }
  void SetClientSize(int width, int height) override {
    clientWidth = width;
    clientHeight = height;
  }

  // Runs the message loop until `until` or until the dialog closes.
  void RunUntil(VirtualClock::Ms until) {
    clock_.RunUntil(until, [this] { return closed; });
  }
  void RunFor(VirtualClock::Ms ms) { RunUntil(clock_.Now() + ms); }

 private:
  VirtualClock& clock_;
  std::set<TTimer*> armed_;
};
