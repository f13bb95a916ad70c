// Country tables: the INI file that names the modem families and their
// countries, the table loaded from one of its sections, the built-in country
// lists and the country command. Portable: no <windows.h>.
//
// TForm1 keeps one TCountryTables in the dialog state and wires the lists
// into its controls; this unit touches no control itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Index of the first `c` in `text`, or -1 when text is empty or lacks it.
int FindChar(std::string_view text, char c);

// 0..9 for '0'..'9', 10..15 for 'A'..'F' (upper case only); -1 otherwise.
int HexToInt(char c);

// Converts `text` to upper case in place and returns its value, first digit
// most significant. -1 unless text holds 1 to 4 hexadecimal digits.
int StrHexToInt(std::string& text);

// "<systemDir>\Ctyset2.ini".
std::string CountryIniPath(const std::string& systemDir);

// Reads the whole file at `path` into `text`; false when it cannot be
// opened (text empty) or read to its end (text holds what was read).
bool ReadIniFile(const std::string& path, std::string& text);

// Names of the file's sections (the modem families), in file order.
std::vector<std::string> FamilyNames(std::string_view iniText);

// "AT%T19,0," followed by `code` in upper-case hexadecimal without leading
// zeros ("AT%T19,0,0", "AT%T19,0,B5").
std::string CountryCommand(std::uint16_t code);

class TCountryTables {
 public:
  static constexpr int kSlots = 101;              // entries a table can hold
  static constexpr std::size_t kLineMax = 179;    // characters kept of an INI line
  static constexpr std::size_t kKeyCompare = 80;  // characters of a key compared
  // Selectors of the built-in country lists (TForm1::ChangeTo, BuiltInList).
  enum TListSelector : unsigned {
    kINTList,
    kDEMlist,
    kPCI2List,
    kLINTList,
    kLDEMList,
    kAllList,
    kINT2List,
    kDEM2List
  };
  static constexpr unsigned kBuiltInLists = kDEM2List + 1;

  // Slot n holds entry n of the last reading; slots at and above CtyCount
  // keep what an earlier reading left in them.
  std::array<std::string, kSlots> CtyNames;
  std::array<std::string, kSlots> CtyKeys;
  std::array<std::uint16_t, kSlots> CtyCodes{};
  int CtyCount = 0;

  // Name of the section the last reading selected (the modem family); empty
  // when none was.
  std::string Family;

  // The country command built by the last CheckCountry; empty when it found
  // no entry.
  std::string CountryCmd;

  // Reads the INI file at `iniPath` into the table. Returns true when a
  // section whose name occurs in `ident` was found. Unless `ident` is empty
  // (then nothing changes, workingList included), `workingList` is replaced
  // by the table's names in file order: the caller gives them to IDlist and
  // the (sorted) ComboBox1. A missing or unreadable file reads as empty.
  bool Change_LFile(const std::string& ident, const std::string& iniPath,
                    std::vector<std::string>& workingList);

  // Change_LFile on the file's contents; the table only (no working list).
  // Does not check `ident` for emptiness.
  bool LoadFromText(const std::string& ident, std::string_view iniText);

  // Loads the section named exactly `family`; false when there is none.
  bool LoadFamily(const std::string& family, std::string_view iniText);

  // The first CtyCount names, in file order.
  std::vector<std::string> Names() const;

  // The modem's current country. `status` (the status reply) is converted to
  // upper case in place when `comboItems` is not empty. Returns the index in
  // `comboItems` of the name of the first entry whose key occurs in `status`
  // (case-insensitively), or -1: the caller then shows "UnKnow". Only entries
  // of the loaded table that are also within the combo box's count are
  // looked at.
  int ChangeDisplay(std::string& status, const std::vector<std::string>& comboItems) const;

  // Builds CountryCmd for the entry whose name equals `comboText` exactly,
  // looking at the first `comboItemCount` entries of the loaded table. When
  // none matches, CountryCmd is emptied and the result is false: there is no
  // country command to send. The caller copies CountryCmd into CurCommand.
  bool CheckCountry(const std::string& comboText, int comboItemCount);

  // Items of the built-in list `selector` (TListSelector); an empty list for
  // any other selector, which leaves IDlist as it is.
  static const std::vector<std::string>& BuiltInList(unsigned selector);
  // Design name of list `selector` ("INTList" ...), or "" for any other.
  static const char* BuiltInListName(unsigned selector);

 private:
  // Loads the first section whose name `selects` accepts.
  template <class Select>
  bool Load(std::string_view iniText, Select selects);
};
