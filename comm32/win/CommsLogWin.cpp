#include "comm32/win/CommsLogWin.h"

#include <cstring>
#include <string>

#include "comm32/CommsLog.h"

namespace {

// One TLS slot that says "this is a worker thread".
class TWorkerMark {
 public:
  TWorkerMark() : FIndex(TlsAlloc()) {}
  ~TWorkerMark() {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsFree(FIndex);
  }
  void Set() {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsSetValue(FIndex, reinterpret_cast<void*>(1));
  }
  bool IsSet() const { return FIndex != TLS_OUT_OF_INDEXES && TlsGetValue(FIndex) != nullptr; }

 private:
  DWORD FIndex;
};

TWorkerMark& WorkerMark() {
  static TWorkerMark mark;
  return mark;
}

}  // namespace

char* FormatLastError(DWORD Code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                 nullptr, Code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                 reinterpret_cast<LPSTR>(&text), 1, nullptr);
  if (n != 0 && text != nullptr) return text;
  const DWORD second = GetLastError();
  constexpr SIZE_T kSize = 4096;
  char* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, kSize));
  if (block == nullptr) {
    OutputDebugStringA("Out of memory trying to FormatLastError");
    return nullptr;
  }
  const std::string fallback = comm32::FormatMessageFallback(Code, second);
  std::memcpy(block, fallback.c_str(), fallback.size() < kSize ? fallback.size() : kSize - 1);
  return block;
}

void WriteCommsLog(const char* Text) { comm32::CommsLog().WriteLine(Text, !WorkerMark().IsSet()); }

void LogLastError(DWORD Code, const char* Prefix) {
  if (comm32::CommsLog().Name().empty()) return;
  char* message = FormatLastError(Code);
  const std::string line = comm32::LastErrorLine(Prefix, message);
  if (message != nullptr) LocalFree(message);
  WriteCommsLog(line.c_str());
}

void MarkCommsLogWorkerThread() { WorkerMark().Set(); }
