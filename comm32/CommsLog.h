// The comms log: one plain-text file shared by every component in the
// process, written one whole line at a time from any thread. Portable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

namespace comm32 {

// The text-file layer's input/output error.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(const std::string& message) : std::runtime_error(message) {}
};

class TCommsLog {
 public:
  TCommsLog() = default;
  TCommsLog(const TCommsLog&) = delete;
  TCommsLog& operator=(const TCommsLog&) = delete;
  ~TCommsLog();

  // The log name decides whether lines are written at all.
  void SetName(const std::string& name);
  std::string Name() const;

  // Creates (or empties) the file; a file still open from before is closed
  // first. Throws EInOutError when the file cannot be created.
  void Open(const std::string& fileName);
  // Throws EInOutError when no file is open or closing fails.
  void Close();
  bool IsOpen() const;

  // Writes Text and CR LF when the log name is set. A line that cannot be
  // written raises EInOutError when raiseOnFailure is set and is dropped
  // otherwise.
  void WriteLine(const char* text, bool raiseOnFailure);

 private:
  mutable std::mutex FMutex;
  std::string FName;
  std::FILE* FFile = nullptr;
};

// The process-wide log.
TCommsLog& CommsLog();

// The line LogLastError writes: Prefix, then the system's text in quotes, or
// "Out of memory" when there is no text.
std::string LastErrorLine(const char* prefix, const char* systemText);

// The text FormatLastError returns when the system has none for Code.
std::string FormatMessageFallback(std::uint32_t code, std::uint32_t secondError);

}  // namespace comm32
