#include "comm32/win/DeviceOpen.h"

#include <atomic>
#include <memory>

namespace comm32 {

namespace {

// One open, shared by the caller and the thread; whichever lets go last
// frees it. Each side swaps its own mark into `state` exactly once, so the
// one that comes second knows what the other did: the caller takes a handle
// that was delivered in time, the thread closes one that came too late.
struct TOpenRequest {
  enum : int { kPending, kDelivered, kAbandoned };
  TOpenRequest() : done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TOpenRequest() {
    if (done != nullptr) CloseHandle(done);
  }
  TOpenRequest(const TOpenRequest&) = delete;
  TOpenRequest& operator=(const TOpenRequest&) = delete;
  HANDLE done;  // set once CreateFileA has returned
  std::string name;
  DWORD delayMs = 0;
  HMODULE module = nullptr;
  std::atomic<int> state{kPending};
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
};

HMODULE OpenOnThisThread(void* param) {
  std::shared_ptr<TOpenRequest> request;
  {
    auto* passed = static_cast<std::shared_ptr<TOpenRequest>*>(param);
    request = std::move(*passed);
    delete passed;
  }
  if (request->delayMs != 0) Sleep(request->delayMs);
  request->file = CreateFileA(request->name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  request->error = GetLastError();
  if (request->state.exchange(TOpenRequest::kDelivered) == TOpenRequest::kAbandoned &&
      request->file != INVALID_HANDLE_VALUE) {
    CloseHandle(request->file);
  }
  SetEvent(request->done);
  return request->module;
}

// The thread holds a reference to this module and gives it back as it ends
// (FreeLibraryAndExitThread), so its code stays mapped however long the open
// takes, even if the applet is closed and unloaded meanwhile.
DWORD WINAPI OpenThreadProc(void* param) { FreeLibraryAndExitThread(OpenOnThisThread(param), 0); }

}  // namespace

TDeviceOpen OpenDeviceWithin(const std::string& name, DWORD limitMs, DWORD delayMs,
                             bool refuseThread) {
  TDeviceOpen out;
  auto request = std::make_shared<TOpenRequest>();
  if (request->done == nullptr) {
    out.result = TDeviceOpen::TResult::NoThread;
    out.error = GetLastError();
    return out;
  }
  request->name = name;
  request->delayMs = delayMs;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&OpenThreadProc), &request->module)) {
    out.result = TDeviceOpen::TResult::NoThread;
    out.error = GetLastError();
    return out;
  }
  auto* passed = new std::shared_ptr<TOpenRequest>(request);
  HANDLE thread = nullptr;
  if (refuseThread) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    thread = CreateThread(nullptr, 0, &OpenThreadProc, passed, 0, nullptr);
  }
  if (thread == nullptr) {
    out.result = TDeviceOpen::TResult::NoThread;
    out.error = GetLastError();
    delete passed;
    FreeLibrary(request->module);
    return out;
  }
  CloseHandle(thread);
  WaitForSingleObject(request->done, limitMs);
  if (request->state.exchange(TOpenRequest::kAbandoned) != TOpenRequest::kDelivered) {
    out.result = TDeviceOpen::TResult::TimedOut;
  } else if (request->file == INVALID_HANDLE_VALUE) {
    out.error = request->error;
  } else {
    out.result = TDeviceOpen::TResult::Opened;
    out.file = request->file;
  }
  return out;
}

}  // namespace comm32
