#include "wfload/CountryTables.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr char kEndOfFile = '\x1a';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void ToUpper(std::string& text) {
  std::transform(text.begin(), text.end(), text.begin(), UpperAscii);
}

std::size_t SkipBlanks(std::string_view line, std::size_t at) {
  while (at < line.size() && IsBlank(line[at])) ++at;
  return at;
}

// Name of a section header line (first character '['): the text up to the
// first ']', or the first 9 characters when there is no ']' or it comes
// first.
std::string_view SectionName(std::string_view line) {
  std::string_view rest = line.substr(1);
  std::size_t close = rest.find(']');
  if (close == std::string_view::npos || close == 0) return rest.substr(0, 9);
  return rest.substr(0, close);
}

// Splits text into INI lines: a line ends at CR and one LF right after the CR
// belongs to the line end; a lone LF stays in the line. 0x1A ends the text.
// A line is cut at its first NUL and at kLineMax characters.
class TLineReader {
 public:
  explicit TLineReader(std::string_view text) : text_(text.substr(0, text.find(kEndOfFile))) {}

  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t cr = std::min(text_.find('\r', pos_), text_.size());
    line = text_.substr(pos_, cr - pos_);
    pos_ = cr + 1;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    line = line.substr(0, std::min(line.find('\0'), TCountryTables::kLineMax));
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct TEntry {
  std::string_view key;
  std::string_view name;
  std::uint16_t code = 0;
};

// "key: [0x]HH name[;comment]". False for a line without a key before its
// first ':' or without two hexadecimal digits for the code.
bool ParseEntry(std::string_view line, TEntry& entry) {
  int colon = FindChar(line, ':');
  if (colon < 1) return false;
  std::size_t at = SkipBlanks(line, static_cast<std::size_t>(colon) + 1);
  if (at + 1 < line.size() && line[at] == '0' && (line[at + 1] == 'x' || line[at + 1] == 'X'))
    at += 2;
  if (at + 2 > line.size() || !IsHexDigit(line[at]) || !IsHexDigit(line[at + 1])) return false;
  std::string digits(line.substr(at, 2));
  entry.code = static_cast<std::uint16_t>(StrHexToInt(digits));
  entry.key = line.substr(0, static_cast<std::size_t>(colon));
  std::string_view name = line.substr(SkipBlanks(line, at + 2));
  entry.name = name.substr(0, name.find_first_of(";\t\n"));
  return true;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> Without(std::vector<std::string> list,
                                 const std::vector<std::string>& drop) {
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const std::string& item) {
                              return std::find(drop.begin(), drop.end(), item) != drop.end();
                            }),
             list.end());
  return list;
}

const std::vector<std::string>& IntList() {
  static const std::vector<std::string> items = {
      "Australia",     "Austria", "Belgium",    "Czech Republic,Slovak Republic",
      "Denmark",       "Finland", "France",     "Germany",
      "Ireland",       "Italy",   "Luxembourg", "Netherlands",
      "New Zealand",   "Norway",  "Poland",     "Portugal",
      "South Africa",  "Spain",   "Sweden",     "Switzerland",
      "United Kingdom"};
  return items;
}

const std::vector<std::string>& DemList() {
  static const std::vector<std::string> items = {"Canada",
                                                 "Hong Kong",
                                                 "India",
                                                 "Korea",
                                                 "Malaysia",
                                                 "USA,Other countries in America,Egypt,Yugoslavia",
                                                 "Singapore,Middle East,Rumania,Hungary,Russia",
                                                 "Japan"};
  return items;
}

const std::vector<std::vector<std::string>>& BuiltInLists() {
  static const std::vector<std::vector<std::string>> lists = {
      IntList(),
      DemList(),
      {"Netherlands", "United Kingdom (U.K.)", "Denmark", "Sweden", "Norway", "Finland",
       "Switzerland", "Ireland", "Luxembourg", "Iceland", "France", "Belgium", "Spain", "Portugal",
       "Italy", "Austria", "Germany", "Greece", "North America (USA)"},
      Concat(IntList(), {"Japan"}),
      Without(DemList(), {"Japan"}),
      {"Australia",
       "Belgium",
       "Denmark",
       "Finland",
       "France",
       "Germany",
       "Netherlands",
       "Italy",
       "NewZealand",
       "Norway",
       "Spain",
       "Sweden",
       "Switzerland",
       "United Kingdom (U.K.)",
       "Austria",
       "Japan",
       "Repulic of China(PRC)",
       "Korea",
       "Malaysia",
       "Singapore",
       "Taiwan",
       "Thailand",
       "Indonesia",
       "Portugal",
       "North America (USA)",
       "Ireland",
       "Hong Kong",
       "Canada",
       "South Africa",
       "Poland",
       "Czechoslovkia",
       "Luxembourg",
       "Europe for TBR-21"},
      Without(IntList(), {"Czech Republic,Slovak Republic", "Poland"}),
      Concat(DemList(), {"Czech Republic,Slovak Republic", "Poland", "Taiwan"}),
  };
  return lists;
}

}  // namespace

int FindChar(std::string_view text, char c) {
  std::size_t at = text.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int HexToInt(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int StrHexToInt(std::string& text) {
  ToUpper(text);
  if (text.empty() || text.size() > 4) return -1;
  int value = 0;
  for (char c : text) {
    int digit = HexToInt(c);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

std::string CountryIniPath(const std::string& systemDir) { return systemDir + "\\Ctyset2.ini"; }

bool ReadIniFile(const std::string& path, std::string& text) {
  text.clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, got);
  return !std::ferror(file.get());
}

std::vector<std::string> FamilyNames(std::string_view iniText) {
  std::vector<std::string> names;
  TLineReader reader(iniText);
  std::string_view line;
  while (reader.Next(line)) {
    if (line.empty() || line[0] != '[') continue;
    std::string_view name = SectionName(line);
    if (!name.empty()) names.emplace_back(name);
  }
  return names;
}

std::string CountryCommand(std::uint16_t code) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  do {
    hex.insert(hex.begin(), kDigits[code % 16]);
    code = static_cast<std::uint16_t>(code / 16);
  } while (code != 0);
  return "AT%T19,0," + hex;
}

bool TCountryTables::Change_LFile(const std::string& ident, const std::string& iniPath,
                                  std::vector<std::string>& workingList) {
  if (ident.empty()) return false;
  std::string text;
  ReadIniFile(iniPath, text);  // what could be read of it counts
  bool selected = LoadFromText(ident, text);
  workingList = Names();
  return selected;
}

bool TCountryTables::LoadFromText(const std::string& ident, std::string_view iniText) {
  return Load(iniText, [&ident](std::string_view name) {
    return !name.empty() && ident.find(name) != std::string::npos;
  });
}

bool TCountryTables::LoadFamily(const std::string& family, std::string_view iniText) {
  return Load(iniText,
              [&family](std::string_view name) { return !name.empty() && name == family; });
}

template <class Select>
bool TCountryTables::Load(std::string_view iniText, Select selects) {
  CtyCount = 0;
  Family.clear();
  bool selected = false;
  TLineReader reader(iniText);
  std::string_view line;
  while (reader.Next(line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (selected) break;
      std::string_view name = SectionName(line);
      selected = selects(name);
      if (selected) Family = std::string(name);
      continue;
    }
    TEntry entry;
    if (!selected || CtyCount >= kSlots || !ParseEntry(line, entry)) continue;
    CtyKeys[CtyCount] = std::string(entry.key);
    CtyCodes[CtyCount] = entry.code;
    CtyNames[CtyCount] = std::string(entry.name);
    ++CtyCount;
  }
  return selected;
}

std::vector<std::string> TCountryTables::Names() const {
  return std::vector<std::string>(CtyNames.begin(), CtyNames.begin() + CtyCount);
}

int TCountryTables::ChangeDisplay(std::string& status,
                                  const std::vector<std::string>& comboItems) const {
  if (comboItems.empty()) return -1;
  ToUpper(status);
  int count = std::min(static_cast<int>(comboItems.size()), CtyCount);
  for (int i = 0; i < count; ++i) {
    std::string key = CtyKeys[i].substr(0, kKeyCompare);
    ToUpper(key);
    if (key.empty() || status.find(key) == std::string::npos) continue;
    auto item = std::find(comboItems.begin(), comboItems.end(), CtyNames[i]);
    return item == comboItems.end() ? -1 : static_cast<int>(item - comboItems.begin());
  }
  return -1;
}

bool TCountryTables::CheckCountry(const std::string& comboText, int comboItemCount) {
  int count = std::min(comboItemCount, CtyCount);
  for (int i = 0; i < count; ++i) {
    if (CtyNames[i] == comboText) {
      CountryCmd = CountryCommand(CtyCodes[i]);
      return true;
    }
  }
  CountryCmd.clear();
  return false;
}

const std::vector<std::string>& TCountryTables::BuiltInList(unsigned selector) {
  static const std::vector<std::string> none;
  return selector < kBuiltInLists ? BuiltInLists()[selector] : none;
}

const char* TCountryTables::BuiltInListName(unsigned selector) {
  static const char* const kNames[kBuiltInLists] = {"INTList",  "DEMlist", "PCI2List", "LINTList",
                                                    "LDEMList", "AllList", "INT2List", "DEM2List"};
  return selector < kBuiltInLists ? kNames[selector] : "";
}
