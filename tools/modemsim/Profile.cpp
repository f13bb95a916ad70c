#include "Profile.h"

#include <cstdio>

namespace modemsim {

namespace {

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r\n";
  const auto first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

Profile Profile::Default() {
  Profile p;
  p.ident = {"FAXLINK 336 V.34 Data/Fax Modem Rev 2.07"};
  p.ath3 = "FW 2.07 1998-03-12";
  // The country line comes first: it is the line read back after the echo.
  p.avv5 = {"Country: {KEY}",          "Country code...: {CODE}", "Line type......: V.34",
            "Speaker........: Medium", "Auto answer....: Off",    "Flow control...: RTS/CTS"};
  p.ati9 = {"Country: {KEY}", "Region code....: {CODE}", "Blacklisting...: Off"};
  p.countries = {
      {0xB5, "USA"},         {0x04, "GERMANY"},   {0x00, "JAPAN"},       {0x09, "AUSTRALIA"},
      {0xB4, "UK"},          {0x3D, "FRANCE"},    {0x59, "ITALY"},       {0xA0, "SPAIN"},
      {0xA5, "SWEDEN"},      {0x82, "NORWAY"},    {0x3C, "FINLAND"},     {0x31, "DENMARK"},
      {0x7B, "NETHERLANDS"}, {0x0F, "BELGIUM"},   {0xA6, "SWITZERLAND"}, {0x0A, "AUSTRIA"},
      {0x20, "CANADA"},      {0x26, "CHINA"},     {0x50, "HONGKONG"},    {0x61, "KOREA"},
      {0x6C, "MALAYSIA"},    {0x9C, "SINGAPORE"}, {0xFE, "TAIWAN"},      {0x7E, "NEWZEALAND"}};
  p.country = 0xB5;
  return p;
}

const Country* Profile::Find(unsigned code) const {
  for (const auto& c : countries)
    if (c.code == code) return &c;
  return nullptr;
}

std::optional<unsigned> ParseHexCode(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(d);
  }
  return value;
}

std::string FormatHexCode(unsigned code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", code & 0xFFu);
  return buf;
}

std::string ApplyProfileText(std::string_view text, Profile& profile) {
  bool seen_ident = false, seen_avv5 = false, seen_ati9 = false, seen_code = false;
  auto replace_list = [](bool& seen, std::vector<std::string>& list, std::string_view value) {
    if (!seen) list.clear();
    seen = true;
    list.emplace_back(value);
  };
  std::optional<unsigned> country;
  int number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    const std::string where = "line " + std::to_string(number) + ": ";
    if (eq == std::string_view::npos) return where + "expected name=value";
    const std::string_view name = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (name == "ident") {
      replace_list(seen_ident, profile.ident, value);
    } else if (name == "ath3") {
      profile.ath3 = std::string(value);
    } else if (name == "avv5") {
      replace_list(seen_avv5, profile.avv5, value);
    } else if (name == "ati9") {
      replace_list(seen_ati9, profile.ati9, value);
    } else if (name == "country") {
      country = ParseHexCode(value);
      if (!country) return where + "country needs 1 or 2 hex digits";
    } else if (name == "echo" || name == "codes") {
      const bool on = name == "echo" ? value == "on" : value == "verbose";
      const bool off = name == "echo" ? value == "off" : value == "numeric";
      if (!on && !off)
        return where + (name == "echo" ? "echo is on or off" : "codes is verbose or numeric");
      (name == "echo" ? profile.echo : profile.verbose) = on;
    } else if (name == "code") {
      const auto blank = value.find_first_of(" \t");
      const auto code = ParseHexCode(value.substr(0, blank));
      const std::string_view key =
          blank == std::string_view::npos ? std::string_view{} : Trim(value.substr(blank));
      if (!code || key.empty()) return where + "expected code=<hex> <key>";
      if (!seen_code) profile.countries.clear();
      seen_code = true;
      profile.countries.push_back({*code, std::string(key)});
    } else {
      return where + "unknown name '" + std::string(name) + "'";
    }
  }
  if (country) {
    profile.country = *country;
  } else if (seen_code && !profile.Find(profile.country)) {
    profile.country = profile.countries.front().code;
  }
  return {};
}

}  // namespace modemsim
