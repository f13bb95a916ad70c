// The port contract against the unit tests' fake port.
#include "PortContract.h"

#include <memory>
#include <vector>

#include "FakePort.h"

namespace {

class FakeRig {
 public:
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
  bool Await(const std::function<bool()>& done) {
    clock_.RunFor(2000);
    return done();
  }
  // The fake receives an answer as it is written; it hands it out later.
  bool AwaitUndelivered() const { return port_.AnswersInFlight(); }

 private:
  VirtualClock clock_;
  FakePort port_{clock_};
  std::vector<std::unique_ptr<FakeModem>> modems_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PortContract, FakeRig);
