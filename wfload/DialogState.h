// Unit-level state of the regional settings dialog. It lives from loading to
// unloading of the library: a second opening of the dialog starts from what
// the first left in the variables that FormCreate does not set.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "wfload/CountryTables.h"

// Steps of the detection ladder, one a tick of Timer3. What each sends and
// arms is the ladder table in Detection.cpp.
enum class TLadderStep : std::int32_t { Reset, Identification, Probe, Status, AlternativeStatus };

struct TDialogState {
  static constexpr size_t kReplyBufSize = 7000;
  static constexpr size_t kTextSize = 80;  // WaitText, CurCommand
  // Every writer of a text buffer copies at most this many characters.
  static constexpr size_t kMaxCopy = 80;

  // Text blocks, zero-terminated; zero-filled by FormCreate.
  char ReplyBuf[kReplyBufSize] = {};  // last reply line taken from the transcript
  char WaitText[kTextSize] = {};      // text awaited in the incoming bytes
  char CurCommand[kTextSize] = {};    // command line being sent

  std::int32_t MatchPos = 0;    // leading characters of WaitText matched
  std::int32_t RxCount = 0;     // received-byte stamp, 0 .. 399
  std::uint16_t LastMatch = 0;  // RxCount at the last byte that matched or broke a match
  bool LineStart = true;        // the next byte begins a line (first byte, or after CR or LF)
  bool WaitMatched = false;     // WaitText matched in full, as a whole line
  bool LadderBusy = false;      // the detection ladder is running

  std::int32_t CurPort = 0;    // port being probed: 0 before, 1 .. 256, past the last when over
  std::int32_t StartPort = 0;  // value of the COM= word
  std::int32_t DebugMode = 0;  // 1 with the DEBUG word
  bool PortOpened = false;     // some port has been opened since loading
  bool ModemKnown = false;     // family identified on the port last evaluated
  TLadderStep LadderStep = TLadderStep::Reset;
  std::int32_t UseAti9 = 0;  // read the country from ATI9 instead of AT&V5

  std::uint8_t ScriptSel = 0;  // 0: ListBox1, 1: ListBox2
  std::int32_t ScriptLine = 0;
  bool ScriptMore = false;
  bool ScriptAbort = false;  // stays false: a failed step ends the run in Timer2C at once

  std::int32_t DpiShift = 0;  // animation offset for large display fonts
  std::int32_t DlgWidth = 0;  // client size the dialog keeps
  std::int32_t DlgHeight = 0;
  double AnimAngle = 0.0;  // degrees

  // The country table read from the INI file, and the country command.
  TCountryTables Tables;
};

// The one dialog state of the process.
TDialogState& DialogState();

// Puts the state back as it is right after loading (tests).
void ResetDialogState();

// Copies at most maxChars characters of src into dst, always leaving a
// terminating zero inside dst; src ends at its size or at a zero byte.
template <size_t N>
void CopyText(char (&dst)[N], std::string_view src, size_t maxChars = TDialogState::kMaxCopy) {
  static_assert(N > 0, "empty buffer");
  size_t limit = std::min({maxChars, N - 1, src.size()});
  size_t n = 0;
  while (n < limit && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
}

// The same from a zero-terminated text, read no further than needed.
template <size_t N>
void CopyText(char (&dst)[N], const char* src, size_t maxChars = TDialogState::kMaxCopy) {
  size_t length = 0;
  while (length < maxChars && length < N - 1 && src[length] != '\0') ++length;
  CopyText(dst, std::string_view(src, length), maxChars);
}

template <size_t N>
bool StartsWith(const char (&text)[N], const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}
