// The port contract against TComm32 and modemsim.
#include "PortContract.h"

#include <memory>
#include <vector>

#include "WineTest.h"
#include "comm32/win/Comm32.h"
#include "comm32/win/CommThread.h"

namespace {

class Comm32Rig {
 public:
  Comm32Rig() { comm_.SetBaudRate(tbr115200); }
  ~Comm32Rig() { comm_.ClosePort(); }
  TCommPort& Port() { return comm_; }
  void Attach(int com) { modems_.push_back(std::make_unique<winetest::SimModem>(com)); }
  void Refuse(TPortWorker which) {
    TComm32::TTestSeams seams;
    seams.refusedThread = which == TPortWorker::Read    ? TComm32::TWorker::Read
                          : which == TPortWorker::Write ? TComm32::TWorker::Write
                                                        : TComm32::TWorker::None;
    comm_.SetTestSeams(seams);
  }
  bool IsOpen() const { return comm_.IsOpen(); }
  bool Await(const std::function<bool()>& done) { return winetest::WaitUntil(done, 60000); }
  // Waits without handling messages until a block is queued to the window.
  bool AwaitUndelivered() {
    const ULONGLONG end = GetTickCount64() + 60000;
    MSG msg;
    while (!PeekMessageA(&msg, comm_.WindowHandle(), WM_COMMDATA, WM_COMMDATA, PM_NOREMOVE)) {
      if (GetTickCount64() > end) return false;
      Sleep(20);
    }
    return true;
  }

 private:
  std::vector<std::unique_ptr<winetest::SimModem>> modems_;
  TComm32 comm_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Comm32, PortContract, Comm32Rig);
