// The port contract against the unit tests' fake port.
#include "PortContract.h"

#include <memory>
#include <vector>

#include "FakePort.h"

namespace {

class FakeRig {
 public:
  FakeRig() {
    port_.SetOnReceiveData([this](const void* buffer, std::uint16_t length) {
      received_.append(static_cast<const char*>(buffer), length);
    });
  }
  TCommPort& Port() { return port_; }
  void Attach(int com) {
    modems_.push_back(std::make_unique<FakeModem>());
    port_.Attach(com, *modems_.back());
  }
  void Refuse(TPortWorker which) {
    port_.failing.clear();
    if (which == TPortWorker::None) return;
    for (int com = 1; com <= 8; ++com) {
      port_.failing[com] =
          which == TPortWorker::Read ? FakePort::Worker::Read : FakePort::Worker::Write;
    }
  }
  bool IsOpen() const { return port_.IsOpen(); }
  bool Answered(const std::string& command) {
    received_.clear();
    const std::string line = command + "\r";
    if (!port_.WritePort(line.data(), static_cast<std::uint16_t>(line.size()))) return false;
    clock_.RunFor(2000);
    return received_.find("\r\nOK\r\n") != std::string::npos;
  }

 private:
  VirtualClock clock_;
  FakePort port_{clock_};
  std::vector<std::unique_ptr<FakeModem>> modems_;
  std::string received_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PortContract, FakeRig);
