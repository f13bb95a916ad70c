#include "comm32/win/DeviceOpen.h"

#include <atomic>

namespace comm32 {

// One open, shared by the caller and the thread; whichever lets go last
// frees it. Each side swaps its own mark into `state` exactly once, so the
// one that comes second knows what the other did: the caller takes a handle
// that was delivered in time, the thread closes one that came too late.
struct TOpenRequest {
  enum : int { kPending, kDelivered, kAbandoned };
  TOpenRequest()
      : done(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        abandoned(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TOpenRequest() {
    if (done != nullptr) CloseHandle(done);
    if (abandoned != nullptr) CloseHandle(abandoned);
    if (thread != nullptr) CloseHandle(thread);
  }
  TOpenRequest(const TOpenRequest&) = delete;
  TOpenRequest& operator=(const TOpenRequest&) = delete;
  HANDLE done;       // set once CreateFileA has returned
  HANDLE abandoned;  // set when the caller gives up
  HANDLE thread = nullptr;
  std::string name;
  TOpenSeams seams;
  HWND window = nullptr;
  UINT message = 0;
  WPARAM tag = 0;
  HMODULE module = nullptr;
  std::atomic<int> state{kPending};
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
};

namespace {

HMODULE OpenOnThisThread(void* param) {
  std::shared_ptr<TOpenRequest> request;
  {
    auto* passed = static_cast<std::shared_ptr<TOpenRequest>*>(param);
    request = std::move(*passed);
    delete passed;
  }
  const TOpenSeams& seams = request->seams;
  if (seams.delayMs != 0 &&
      WaitForSingleObject(request->abandoned, seams.delayMs) == WAIT_OBJECT_0) {
    request->error = ERROR_OPERATION_ABORTED;
  } else if (seams.failWith != 0) {
    request->error = seams.failWith;
  } else {
    request->file =
        CreateFileA(request->name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    request->error = GetLastError();
  }
  if (request->state.exchange(TOpenRequest::kDelivered) == TOpenRequest::kAbandoned) {
    if (request->file != INVALID_HANDLE_VALUE) CloseHandle(request->file);
  } else if (request->window != nullptr) {
    PostMessageA(request->window, request->message, request->tag, 0);
  }
  SetEvent(request->done);
  return request->module;
}

// The thread holds a reference to this module and gives it back as it ends
// (FreeLibraryAndExitThread), so its code stays mapped however long the open
// takes, even if the applet is closed and unloaded meanwhile.
DWORD WINAPI OpenThreadProc(void* param) { FreeLibraryAndExitThread(OpenOnThisThread(param), 0); }

}  // namespace

TPendingOpen::TPendingOpen(const std::string& name, HWND window, UINT message, WPARAM tag,
                           const TOpenSeams& seams) {
  early_.result = TDeviceOpen::TResult::NoThread;
  auto request = std::make_shared<TOpenRequest>();
  if (request->done == nullptr || request->abandoned == nullptr) {
    early_.error = GetLastError();
    return;
  }
  request->name = name;
  request->seams = seams;
  request->window = window;
  request->message = message;
  request->tag = tag;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&OpenThreadProc), &request->module)) {
    early_.error = GetLastError();
    return;
  }
  auto* passed = new std::shared_ptr<TOpenRequest>(request);
  HANDLE thread = nullptr;
  if (seams.refuseThread) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    // Suspended, so that its handle is in the request before it can end.
    thread = CreateThread(nullptr, 0, &OpenThreadProc, passed, CREATE_SUSPENDED, nullptr);
  }
  if (thread == nullptr) {
    early_.error = GetLastError();
    delete passed;
    FreeLibrary(request->module);
    return;
  }
  request->thread = thread;
  ResumeThread(thread);
  request_ = std::move(request);
}

TPendingOpen::~TPendingOpen() {
  if (taken_) return;
  const TDeviceOpen outcome = Take();
  if (outcome.result == TDeviceOpen::TResult::Opened) CloseHandle(outcome.file);
}

void TPendingOpen::Wait(DWORD ms) const {
  if (request_) WaitForSingleObject(request_->done, ms);
}

TDeviceOpen TPendingOpen::Take() {
  taken_ = true;
  if (!request_) return early_;
  TDeviceOpen out;
  if (request_->state.exchange(TOpenRequest::kAbandoned) != TOpenRequest::kDelivered) {
    out.result = TDeviceOpen::TResult::TimedOut;
    SetEvent(request_->abandoned);
    CancelSynchronousIo(request_->thread);
  } else if (request_->file == INVALID_HANDLE_VALUE) {
    out.error = request_->error;
  } else {
    out.result = TDeviceOpen::TResult::Opened;
    out.file = request_->file;
  }
  request_.reset();
  return out;
}

TDeviceOpen OpenDeviceWithin(const std::string& name, DWORD limitMs, const TOpenSeams& seams) {
  TPendingOpen open(name, nullptr, 0, 0, seams);
  open.Wait(limitMs);
  return open.Take();
}

}  // namespace comm32
