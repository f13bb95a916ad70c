#include "comm32/win/TestSeams.h"

#include <atomic>

namespace comm32 {

namespace {

std::atomic<TPortEventWaits> gPortEventWaits{TPortEventWaits::Auto};
std::atomic<TAbortSeam> gAbortSeam{nullptr};
std::atomic<TThreadEndSeam> gThreadEndSeam{nullptr};
std::atomic<TLineErrorSeam> gLineErrorSeam{nullptr};
std::atomic<TPostSeam> gPostSeam{nullptr};

}  // namespace

void SetPortEventWaits(TPortEventWaits waits) { gPortEventWaits.store(waits); }
void SetAbortSeam(TAbortSeam seam) { gAbortSeam.store(seam); }
void SetThreadEndSeam(TThreadEndSeam seam) { gThreadEndSeam.store(seam); }
void SetLineErrorSeam(TLineErrorSeam seam) { gLineErrorSeam.store(seam); }
void SetPostSeam(TPostSeam seam) { gPostSeam.store(seam); }

TPortEventWaits PortEventWaits() { return gPortEventWaits.load(); }

bool AbortedBySeam(TPortOperation operation) {
  const TAbortSeam seam = gAbortSeam.load();
  if (seam == nullptr || !seam(operation)) return false;
  SetLastError(ERROR_OPERATION_ABORTED);
  return true;
}

DWORD InjectedLineErrors() {
  const TLineErrorSeam seam = gLineErrorSeam.load();
  return seam != nullptr ? seam() : 0;
}

bool PostRefusedBySeam() {
  const TPostSeam seam = gPostSeam.load();
  return seam != nullptr && seam();
}

void RunThreadEndSeam(const TCommThread& thread) {
  if (const TThreadEndSeam seam = gThreadEndSeam.load()) seam(thread);
}

}  // namespace comm32
