// TEMPORARY stand-in for the country tables until they land; removed then.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string CountryIniPath(const std::string& systemDir) {
  return systemDir + "\\Ctyset2.ini";
}

class TCountryTables {
 public:
  static constexpr int kSlots = 101;
  std::array<std::string, kSlots> CtyNames;
  std::array<std::string, kSlots> CtyKeys;
  std::array<std::uint16_t, kSlots> CtyCodes{};
  int CtyCount = 0;
  std::string CountryCmd;

  bool Change_LFile(const std::string& ident, const std::string& iniPath,
                    std::vector<std::string>& workingList) {
    if (ident.empty()) return false;
    std::ifstream f(iniPath, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string text = ss.str(), line;
    CtyCount = 0;
    bool selected = false;
    std::istringstream in(text);
    while (std::getline(in, line, '\r')) {
      if (!line.empty() && line[0] == '\n') line.erase(0, 1);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        if (selected) break;
        std::string name = line.substr(1, line.find(']') - 1);
        selected = !name.empty() && ident.find(name) != std::string::npos;
        continue;
      }
      if (!selected) continue;
      size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0 || CtyCount >= kSlots) continue;
      CtyKeys[CtyCount] = line.substr(0, colon);
      size_t p = line.find_first_not_of(" \t", colon + 1);
      if (line.compare(p, 2, "0x") == 0) p += 2;
      CtyCodes[CtyCount] = static_cast<std::uint16_t>(std::stoi(line.substr(p, 2), nullptr, 16));
      p = line.find_first_not_of(" \t", p + 2);
      CtyNames[CtyCount] = line.substr(p, line.find_first_of(";\t\n", p) - p);
      ++CtyCount;
    }
    workingList.assign(CtyNames.begin(), CtyNames.begin() + CtyCount);
    return selected;
  }

  int ChangeDisplay(std::string& status, const std::vector<std::string>& comboItems) const {
    for (auto& c : status) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (int i = 0; i < CtyCount && i < static_cast<int>(comboItems.size()); ++i) {
      std::string key = CtyKeys[i];
      for (auto& c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      if (status.find(key) == std::string::npos) continue;
      for (size_t j = 0; j < comboItems.size(); ++j)
        if (comboItems[j] == CtyNames[i]) return static_cast<int>(j);
      return -1;
    }
    return -1;
  }

  bool CheckCountry(const std::string& comboText, int comboItemCount) {
    for (int i = 0; i < CtyCount && i < comboItemCount; ++i) {
      if (CtyNames[i] != comboText) continue;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%X", CtyCodes[i]);
      CountryCmd = std::string("AT%T19,0,") + buf;
      return true;
    }
    CountryCmd.clear();
    return false;
  }

  static const std::vector<std::string>& BuiltInList(unsigned selector) {
    static const std::vector<std::string> ldem = {"Canada", "Hong Kong", "India", "Korea",
                                                  "Malaysia", "USA", "Singapore"};
    static const std::vector<std::string> none;
    return selector == 4 ? ldem : none;
  }
  static const char* BuiltInListName(unsigned selector) { return selector == 4 ? "LDEMList" : ""; }
};
