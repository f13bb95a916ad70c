// What the simulated modem says: identification, probe reply, status listings
// and the table of country codes it accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modemsim {

struct Country {
  unsigned code = 0;  // 0..255
  std::string key;    // the text the status listing shows for this country
};

struct Profile {
  std::vector<std::string> ident;  // reply lines to ATI5
  std::string ath3;                // reply line to ATH3; empty: plain OK
  std::vector<std::string> avv5;   // AT&V5 listing; {KEY} and {CODE} are replaced
  std::vector<std::string> ati9;   // ATI9 listing; same placeholders
  std::vector<Country> countries;
  unsigned country = 0;  // current country code
  // Stored settings, in force at start and after ATZ: command echo (E1) and
  // verbose result codes (V1). ATE<n> and ATV<n> change them until then.
  bool echo = true;
  bool verbose = true;

  // The FAXLINK 336 family with the current country B5 (USA).
  static Profile Default();

  const Country* Find(unsigned code) const;
};

// 1 or 2 hexadecimal digits, either case.
std::optional<unsigned> ParseHexCode(std::string_view text);

// "B5", "04": upper case, always two digits.
std::string FormatHexCode(unsigned code);

// Applies the key=value lines of a profile file to `profile`. A list given in
// the text (ident, avv5, ati9, code) replaces the list in `profile` as a
// whole. Returns an error message naming the line, or an empty string.
std::string ApplyProfileText(std::string_view text, Profile& profile);

}  // namespace modemsim
