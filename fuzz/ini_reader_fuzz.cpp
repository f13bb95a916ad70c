// libFuzzer target for the country INI reader. Input: one byte n, then n
// bytes of identification text (n taken modulo 64), then the file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wfload/CountryTables.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t identLength = std::min<std::size_t>(data[0] % 64, size - 1);
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::string ident(bytes, identLength);
  std::string_view ini(bytes + identLength, size - 1 - identLength);

  TCountryTables tables;
  tables.LoadFromText(ident, ini);
  Check(tables.CtyCount >= 0 && tables.CtyCount <= TCountryTables::kSlots);
  for (int i = 0; i < tables.CtyCount; ++i) {
    const std::string& key = tables.CtyKeys[i];
    const std::string& name = tables.CtyNames[i];
    Check(!key.empty() && key.find(':') == std::string::npos);
    Check(key.size() + name.size() < TCountryTables::kLineMax);
    Check(name.find_first_of(std::string(";\t\n\r\0\x1a", 6)) == std::string::npos);
    Check(tables.CtyCodes[i] <= 0xFF);
  }

  std::vector<std::string> names = tables.Names();
  std::string status(ident);
  int shown = tables.ChangeDisplay(status, names);
  Check(shown >= -1 && shown < static_cast<int>(names.size()));
  for (const std::string& name : names) {
    Check(tables.CheckCountry(name, tables.CtyCount));
    Check(tables.CountryCmd.rfind("AT%T19,0,", 0) == 0 && tables.CountryCmd.size() <= 11);
  }
  // No table name holds a ";".
  Check(!tables.CheckCountry("UnKnow;", static_cast<int>(size)) && tables.CountryCmd.empty());
  return 0;
}
