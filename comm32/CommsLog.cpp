#include "comm32/CommsLog.h"

#include <cstring>

namespace comm32 {

TCommsLog::~TCommsLog() {
  if (FFile != nullptr) std::fclose(FFile);
}

void TCommsLog::SetName(const std::string& name) {
  std::lock_guard<std::mutex> lock(FMutex);
  FName = name;
}

std::string TCommsLog::Name() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FName;
}

void TCommsLog::Open(const std::string& fileName) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FFile != nullptr) {
    std::fclose(FFile);
    FFile = nullptr;
  }
  FFile = std::fopen(fileName.c_str(), "wb");
  if (FFile == nullptr) throw EInOutError("I/O error: cannot create " + fileName);
}

void TCommsLog::Close() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FFile == nullptr) throw EInOutError("I/O error: comms log file not open");
  const int rc = std::fclose(FFile);
  FFile = nullptr;
  if (rc != 0) throw EInOutError("I/O error: cannot close comms log file");
}

bool TCommsLog::IsOpen() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FFile != nullptr;
}

void TCommsLog::WriteLine(const char* text, bool raiseOnFailure) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (FName.empty()) return;
  bool written = false;
  if (FFile != nullptr) {
    const std::size_t len = text != nullptr ? std::strlen(text) : 0;
    written = std::fwrite(text, 1, len, FFile) == len && std::fwrite("\r\n", 1, 2, FFile) == 2 &&
              std::fflush(FFile) == 0;
  }
  lock.unlock();
  if (!written && raiseOnFailure) throw EInOutError("I/O error: comms log file not open");
}

TCommsLog& CommsLog() {
  static TCommsLog log;
  return log;
}

std::string LastErrorLine(const char* prefix, const char* systemText) {
  std::string line = prefix != nullptr ? prefix : "";
  if (systemText == nullptr) return line + "Out of memory";
  line += "GetLastError returned: \"";
  line += systemText;
  line += '"';
  return line;
}

std::string FormatMessageFallback(std::uint32_t code, std::uint32_t secondError) {
  return "FormatMessage failed on error " + std::to_string(code) +
         " for the following reason: " + std::to_string(secondError);
}

}  // namespace comm32
