// The AT command interpreter of the simulated modem: turns received bytes into
// command lines and each command line into the bytes the modem sends back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Profile.h"

namespace modemsim {

struct Behaviour {
  bool echo = true;         // false: never echoes, whatever the settings
  bool silent = false;      // no echo, no reply
  bool all_error = false;   // every AT command answers ERROR
  bool error_avv5 = false;  // AT&V5 answers ERROR
  bool error_ati9 = false;  // ATI9 answers ERROR
  // Result code of a valid AT%T19; the country changes only with OK.
  std::string country_reply = "OK";
  bool keep_country = false;    // AT%T19 answers OK but the country stays
  bool nul_bytes = false;       // a zero byte at the start of every reply line
  bool unterminated = false;    // the final result code lacks its CR LF
  std::size_t flood_bytes = 0;  // garbage sent after the reply of command flood_after
  unsigned flood_after = 1;
  unsigned garbage_every = 0;  // a garbage burst after every n-th reply
  std::size_t garbage_bytes = 16;
  unsigned hangup_after = 0;  // hang up once the n-th command is answered
};

// One command line and what the modem does about it.
struct Exchange {
  std::string command;  // the line as received, without its CR
  std::string echo;     // sent as soon as the line is complete
  std::string reply;    // sent after the reply delay
  std::string extra;    // garbage sent right after the reply
  bool country_changed = false;
  bool hang_up = false;  // the line drops once this exchange has been sent
};

class Modem {
 public:
  Modem(Profile profile, Behaviour behaviour);

  // Consumes received bytes; returns one exchange per completed command line.
  std::vector<Exchange> Receive(std::string_view bytes);

  unsigned country() const { return profile_.country; }
  unsigned commands() const { return commands_; }

 private:
  Exchange Complete(const std::string& line);
  std::string Answer(const std::string& line, bool& country_changed);
  std::string Listing(const std::vector<std::string>& lines) const;
  std::string Lines(const std::vector<std::string>& lines) const;
  std::string Result(std::string_view code) const;
  // ATE<n> and ATV<n>, one or more ("E1V1"); false for any other body.
  bool Configure(std::string_view body);

  static constexpr std::size_t kMaxLine = 256;

  Profile profile_;
  Behaviour behaviour_;
  bool echo_ = true;  // the settings in force
  bool verbose_ = true;
  std::string line_;
  bool overflow_ = false;
  unsigned commands_ = 0;
  unsigned garbage_seed_ = 1;
};

// Deterministic line noise of exactly `size` bytes: digits and punctuation,
// never a letter, so it can not be mistaken for a result code or an echo.
// With `line_breaks`, every 80th byte pair is CR LF.
std::string Garbage(std::size_t size, unsigned& seed, bool line_breaks);

}  // namespace modemsim
