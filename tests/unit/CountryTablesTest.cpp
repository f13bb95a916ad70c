#include "wfload/CountryTables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>

namespace {

std::string Crlf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

const char kIdent[] = "FAXLINK 336 V.34 Data/Fax Modem Rev 2.07";

struct TLoaded {
  TCountryTables tables;
  bool selected = false;
};

TLoaded Load(const std::string& text, const std::string& ident = kIdent) {
  TLoaded loaded;
  loaded.selected = loaded.tables.LoadFromText(ident, text);
  return loaded;
}

// A file in the test's temporary directory, removed at the end of the test.
class TTempFile {
 public:
  explicit TTempFile(const std::string& contents)
      : path_(testing::TempDir() + "ctyset2_tables_" +
              testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini") {
    std::ofstream(path_, std::ios::binary) << contents;
  }
  ~TTempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(CountryIni, FirstMatchingSectionWinsAndTheNextHeaderEndsIt) {
  auto l = Load(Crlf({"[OTHER]", "X: 01 Other", "[FAXLINK]", "A: 02 First", "[FAXLINK 336]",
                      "B: 03 Second", "[NOTHING]", "C: 04 Third"}));
  EXPECT_TRUE(l.selected);
  EXPECT_EQ(l.tables.Family, "FAXLINK");
  ASSERT_EQ(l.tables.CtyCount, 1);
  EXPECT_EQ(l.tables.CtyNames[0], "First");
  // A matching section with no entries still ends at the next header.
  l = Load(Crlf({"[FAXLINK]", "[FAXLINK 336]", "B: 03 Second"}));
  EXPECT_TRUE(l.selected);
  EXPECT_EQ(l.tables.CtyCount, 0);
  // A reading that selects nothing forgets the family of the one before.
  EXPECT_FALSE(l.tables.LoadFromText("ACME", Crlf({"[FAXLINK]", "A: 02 First"})));
  EXPECT_EQ(l.tables.Family, "");
}

// What the command-line program lists: every family, and one by its exact
// name even where an earlier name occurs in it.
TEST(CountryIni, FamiliesByName) {
  const std::string text = Crlf({"; [COMMENT]", "[FAXLINK]", "A: 02 First", "[FAXLINK 336]",
                                 "B: 03 Second", "[]", "[V.3", "["});
  EXPECT_EQ(FamilyNames(text), (std::vector<std::string>{"FAXLINK", "FAXLINK 336", "]", "V.3"}));
  TCountryTables t;
  ASSERT_TRUE(t.LoadFamily("FAXLINK 336", text));
  EXPECT_EQ(t.Family, "FAXLINK 336");
  EXPECT_EQ(t.Names(), std::vector<std::string>{"Second"});
  EXPECT_FALSE(t.LoadFamily("faxlink", text));
  EXPECT_FALSE(t.LoadFamily("", text));
  EXPECT_EQ(FamilyNames("[FAXLINK]\nA: 02 First\n").size(), 1u);  // LF ends no line
}

TEST(CountryIni, SectionNamesMatchCaseSensitivelyAndNeverWhenEmpty) {
  EXPECT_FALSE(Load(Crlf({"[faxlink]", "A: 01 a"})).selected);
  auto l = Load(Crlf({"[", "A: 01 a"}));
  EXPECT_FALSE(l.selected);
  EXPECT_EQ(l.tables.CtyCount, 0);
  // Only the first section in the file whose name occurs is used, even a
  // later, longer match is not read.
  EXPECT_TRUE(Load(Crlf({"[V.34]", "A: 01 a"})).selected);
}

TEST(CountryIni, CommentLinesAreSkippedInsideASection) {
  auto l = Load(Crlf({"; header comment", "[FAXLINK 336]", "; between header and entries",
                      "A: 01 One", ";[OTHER] is no header", "B: 02 Two"}));
  ASSERT_EQ(l.tables.CtyCount, 2);
  EXPECT_EQ(l.tables.CtyNames[1], "Two");
}

TEST(CountryIni, HeaderWithoutClosingBracketNamesNineCharacters) {
  // "FAXLINK 3" occurs in the identification; "FAXLINK 3X" does not.
  auto l = Load(Crlf({"[FAXLINK 3X no bracket", "A: 01 One"}));
  EXPECT_TRUE(l.selected);
  EXPECT_EQ(l.tables.Family, "FAXLINK 3");
  EXPECT_EQ(l.tables.CtyCount, 1);
  // "FAXLINK X" does not, though "FAXLINK " does.
  EXPECT_FALSE(Load(Crlf({"[FAXLINK X no bracket", "A: 01 One"})).selected);
  // "]" right after "[" is not a terminator: the name is "]FAXLINK ".
  EXPECT_TRUE(Load(Crlf({"[]FAXLINK X"}), "]FAXLINK 336").selected);
  EXPECT_FALSE(Load(Crlf({"[]FAXLINK X"})).selected);
  // A shorter header takes what there is.
  EXPECT_TRUE(Load(Crlf({"[V.3"}), "V.34").selected);
}

TEST(CountryIni, EntryFieldsKeepBlanksAndDropComments) {
  auto l = Load(Crlf({"[FAXLINK 336]", "AB : 0x2A Two Words ; comment", "CD:\t \t0X0f\tName\tx",
                      "EF:2b Name;", "GH: c3  inner  blanks  "}));
  ASSERT_EQ(l.tables.CtyCount, 4);
  EXPECT_EQ(l.tables.CtyKeys[0], "AB ");
  EXPECT_EQ(l.tables.CtyCodes[0], 42);
  EXPECT_EQ(l.tables.CtyNames[0], "Two Words ");
  EXPECT_EQ(l.tables.CtyKeys[1], "CD");
  EXPECT_EQ(l.tables.CtyCodes[1], 15);
  EXPECT_EQ(l.tables.CtyNames[1], "Name");
  EXPECT_EQ(l.tables.CtyCodes[2], 43);  // no "0x": the two characters after the blanks
  EXPECT_EQ(l.tables.CtyNames[2], "Name");
  EXPECT_EQ(l.tables.CtyNames[3], "inner  blanks  ");
  EXPECT_EQ(l.tables.CtyCodes[3], 0xC3);
}

TEST(CountryIni, LineEnds) {
  // A line ends at CR; one LF after it is skipped; a lone LF stays in the line.
  auto l = Load("[FAXLINK 336]\rA: 01 One\r\n\nB: 02 Two\r\n");
  ASSERT_EQ(l.tables.CtyCount, 2);
  EXPECT_EQ(l.tables.CtyNames[0], "One");
  EXPECT_EQ(l.tables.CtyKeys[1], "\nB");
  // LF-only file: one single line up to the first CR, whose header selects
  // the section; the entries are part of that line and not found.
  l = Load("[FAXLINK 336]\nA: 01 One\nB: 02 Two\n");
  EXPECT_TRUE(l.selected);
  EXPECT_EQ(l.tables.CtyCount, 0);
  l = Load("[FAXLINK 336]\nA: 01 One\r\nB: 02 Two\n");
  ASSERT_EQ(l.tables.CtyCount, 1);
  EXPECT_EQ(l.tables.CtyNames[0], "Two");  // the LF ends the name
  // 0x1A ends the file; a last line without CR is read.
  l = Load(
      "[FAXLINK 336]\r\nA: 01 One\r\n\x1a"
      "B: 02 Two\r\n");
  EXPECT_EQ(l.tables.CtyCount, 1);
  l = Load("[FAXLINK 336]\r\nA: 01 One");
  ASSERT_EQ(l.tables.CtyCount, 1);
  EXPECT_EQ(l.tables.CtyNames[0], "One");
}

TEST(CountryIni, EntriesWithoutUsableKeyOrCodeAreSkipped) {
  auto l = Load(
      Crlf({"[FAXLINK 336]", ":01 no key", "no colon 01", "A:", "B: 0x", "C: 0xB", "D: B",
            "E: G5 not hex", "F: 5G not hex", "G: 0x 12 blank after prefix", "   ", "H: 07 Kept"}));
  ASSERT_EQ(l.tables.CtyCount, 1);
  EXPECT_EQ(l.tables.CtyKeys[0], "H");
  EXPECT_EQ(l.tables.CtyCodes[0], 7);
}

TEST(CountryIni, EmptySectionSelectsTheFamilyWithNoCountries) {
  TTempFile file(Crlf({"[FAXLINK 336]", "[OTHER]", "A: 01 a"}));
  TCountryTables t;
  std::vector<std::string> working = {"stale"};
  EXPECT_TRUE(t.Change_LFile(kIdent, file.Path(), working));
  EXPECT_TRUE(working.empty());
}

TEST(CountryIni, ChangeLFileFillsTheWorkingListInFileOrder) {
  TTempFile file(Crlf({"[FAXLINK 336]", "B: 02 Zeta", "A: 01 Alpha"}));
  TCountryTables t;
  std::vector<std::string> working;
  EXPECT_TRUE(t.Change_LFile(kIdent, file.Path(), working));
  EXPECT_EQ(working, (std::vector<std::string>{"Zeta", "Alpha"}));
  // No section in the identification: table and list emptied.
  EXPECT_FALSE(t.Change_LFile("SOMETHING ELSE", file.Path(), working));
  EXPECT_EQ(t.CtyCount, 0);
  EXPECT_TRUE(working.empty());
  // An empty identification changes nothing.
  EXPECT_TRUE(t.Change_LFile(kIdent, file.Path(), working));
  EXPECT_FALSE(t.Change_LFile("", file.Path(), working));
  EXPECT_EQ(t.CtyCount, 2);
  EXPECT_EQ(working.size(), 2u);
}

TEST(CountryIni, MissingFileGivesNoCountries) {
  TCountryTables t;
  t.LoadFromText(kIdent, Crlf({"[FAXLINK 336]", "A: 01 a"}));
  std::vector<std::string> working = {"x"};
  EXPECT_FALSE(t.Change_LFile(kIdent, testing::TempDir() + "no/such/Ctyset2.ini", working));
  EXPECT_EQ(t.CtyCount, 0);
  EXPECT_TRUE(working.empty());
  EXPECT_FALSE(t.Change_LFile(kIdent, testing::TempDir(), working));  // a directory
}

// Malformed files: never a crash, always the documented result.
struct TMalformed {
  const char* what;
  std::string text;
  bool selected;
  int count;
  std::string firstName;
};

std::string ManyEntries(int n) {
  std::string text = "[FAXLINK 336]\r\n";
  for (int i = 0; i < n; ++i)
    text += "K" + std::to_string(i) + ": 01 N" + std::to_string(i) + "\r\n";
  return text;
}

TEST(CountryIni, MalformedFiles) {
  const std::string longName(10000, 'N');
  const std::vector<TMalformed> cases = {
      {"long entry line is cut at 179", Crlf({"[FAXLINK 336]", "K: 01 " + longName}), true, 1,
       std::string(173, 'N')},
      {"':' beyond 179 is not seen", Crlf({"[FAXLINK 336]", std::string(200, 'K') + ": 01 N"}),
       true, 0, ""},
      {"cut tail does not start a line",
       Crlf({"[FAXLINK 336]", std::string(179, ';') + "\nK: 01 N"}), true, 0, ""},
      {"long header", Crlf({"[" + std::string(5000, 'F') + "]", "K: 01 N"}), false, 0, ""},
      {"500 entries keep the first 101", ManyEntries(500), true, 101, "N0"},
      {"one-digit code at line end", Crlf({"[FAXLINK 336]", "K: 0xB"}), true, 0, ""},
      {"name with no terminator", "[FAXLINK 336]\r\nK: 01 Tail name", true, 1, "Tail name"},
      {"NUL cuts the line", std::string("[FAXLINK 336]\r\nK: 01 Ab\0cd\r\n", 26), true, 1, "Ab"},
      {"empty file", "", false, 0, ""},
      {"only CRs and LFs", "\r\n\r\r\n\n\n\r", false, 0, ""},
      {"EOF mark first", "\x1a[FAXLINK 336]\r\nK: 01 N\r\n", false, 0, ""},
      {"empty name", Crlf({"[FAXLINK 336]", "K: 01 ;comment"}), true, 1, ""},
      {"code and no name", Crlf({"[FAXLINK 336]", "K: 01", "L:\t0x02"}), true, 2, ""},
  };
  for (const TMalformed& c : cases) {
    SCOPED_TRACE(c.what);
    auto l = Load(c.text);
    EXPECT_EQ(l.selected, c.selected);
    ASSERT_EQ(l.tables.CtyCount, c.count);
    if (c.count > 0) {
      EXPECT_EQ(l.tables.CtyNames[0], c.firstName);
    }
  }
  auto many = Load(ManyEntries(500));
  EXPECT_EQ(many.tables.CtyNames[100], "N100");
}

TEST(CountryTables, ChangeDisplaySelectsTheReportedCountry) {
  auto l = Load(Crlf({"[FAXLINK 336]", "Usa: B5 North America (USA)", "GERMANY: 04 Germany",
                      "UK: B4 United Kingdom"}));
  std::vector<std::string> combo = {"Germany", "North America (USA)", "United Kingdom"};
  std::string status = "Country: germany";
  EXPECT_EQ(l.tables.ChangeDisplay(status, combo), 0);
  EXPECT_EQ(status, "COUNTRY: GERMANY");  // left in upper case
  status = "current country usa, uk";     // first key in file order wins
  EXPECT_EQ(l.tables.ChangeDisplay(status, combo), 1);
  status = "Country: France";
  EXPECT_EQ(l.tables.ChangeDisplay(status, combo), -1);  // "UnKnow"
  // Only entries within the combo box's count are looked at.
  status = "UK";
  EXPECT_EQ(l.tables.ChangeDisplay(status, {"United Kingdom", "Germany"}), -1);
  // Key found but its name is not an item: nothing to select.
  status = "GERMANY";
  EXPECT_EQ(l.tables.ChangeDisplay(status, {"A", "B", "C"}), -1);
  // With an empty combo box nothing is compared and the text is untouched.
  status = "uk";
  EXPECT_EQ(l.tables.ChangeDisplay(status, {}), -1);
  EXPECT_EQ(status, "uk");
}

TEST(CountryTables, ChangeDisplayComparesTheFirst80CharactersOfAKey) {
  std::string key(90, 'K');
  auto l = Load(Crlf({"[FAXLINK 336]", key + ": 01 Long"}));
  std::string status = std::string(80, 'k') + "x";
  EXPECT_EQ(l.tables.ChangeDisplay(status, {"Long"}), 0);
}

TEST(CountryTables, CountryCommand) {
  EXPECT_EQ(CountryCommand(0), "AT%T19,0,0");
  EXPECT_EQ(CountryCommand(9), "AT%T19,0,9");
  EXPECT_EQ(CountryCommand(181), "AT%T19,0,B5");
  EXPECT_EQ(CountryCommand(0x1000), "AT%T19,0,1000");
}

TEST(CountryTables, CheckCountryMatchesTheComboTextExactly) {
  auto l = Load(Crlf({"[FAXLINK 336]", "JAPAN: 00 Japan", "USA: B5 North America (USA)"}));
  TCountryTables& t = l.tables;
  EXPECT_TRUE(t.CheckCountry("Japan", 2));
  EXPECT_EQ(t.CountryCmd, "AT%T19,0,0");
  EXPECT_TRUE(t.CheckCountry("North America (USA)", 2));
  EXPECT_EQ(t.CountryCmd, "AT%T19,0,B5");
  EXPECT_FALSE(t.CheckCountry("japan", 2));
  EXPECT_EQ(t.CountryCmd, "");
  EXPECT_FALSE(t.CheckCountry("UnKnow", 2));
  EXPECT_FALSE(t.CheckCountry("", 0));
  EXPECT_EQ(t.CountryCmd, "");
}

TEST(CountryTables, CheckCountryNeverUsesSlotsOfAnEarlierReading) {
  TCountryTables t;
  t.LoadFromText(kIdent, ManyEntries(5));
  t.LoadFromText(kIdent, ManyEntries(2));
  EXPECT_EQ(t.CtyNames[3], "N3");  // stale slot left in place
  EXPECT_FALSE(t.CheckCountry("N3", 5));
  EXPECT_FALSE(t.CheckCountry("N1", 1));  // beyond the combo box's count
  EXPECT_TRUE(t.CheckCountry("N1", 2));
  EXPECT_TRUE(t.CheckCountry("N1", 500));  // combo count past the table
}

TEST(CountryTables, HexAndCharHelpers) {
  std::string text = "b5";
  EXPECT_EQ(StrHexToInt(text), 181);
  EXPECT_EQ(text, "B5");
  text = "fFfF";
  EXPECT_EQ(StrHexToInt(text), 65535);
  for (std::string bad : {"", "12345", "G", "1 "}) EXPECT_EQ(StrHexToInt(bad), -1) << bad;
  EXPECT_EQ(HexToInt('9'), 9);
  EXPECT_EQ(HexToInt('F'), 15);
  EXPECT_EQ(HexToInt('f'), -1);
  EXPECT_EQ(FindChar("", ':'), -1);
  EXPECT_EQ(FindChar("ab", ':'), -1);
  EXPECT_EQ(FindChar("a:b:", ':'), 1);
  EXPECT_EQ(CountryIniPath("C:\\WINDOWS\\system32"), "C:\\WINDOWS\\system32\\Ctyset2.ini");
  std::string longDir(1000, 'd');
  EXPECT_EQ(CountryIniPath(longDir).size(), 1012u);
}

TEST(CountryTables, BuiltInLists) {
  const std::vector<size_t> sizes = {21, 8, 19, 22, 7, 33, 19, 11};
  for (unsigned s = 0; s < sizes.size(); ++s)
    EXPECT_EQ(TCountryTables::BuiltInList(s).size(), sizes[s])
        << TCountryTables::BuiltInListName(s);
  const auto& intList = TCountryTables::BuiltInList(0);
  const auto& lint = TCountryTables::BuiltInList(3);
  EXPECT_TRUE(std::equal(intList.begin(), intList.end(), lint.begin()));
  EXPECT_EQ(lint.back(), "Japan");
  EXPECT_EQ(TCountryTables::BuiltInList(4).back(), "Singapore,Middle East,Rumania,Hungary,Russia");
  EXPECT_EQ(TCountryTables::BuiltInList(5)[16], "Repulic of China(PRC)");
  EXPECT_EQ(TCountryTables::BuiltInList(5).back(), "Europe for TBR-21");
  EXPECT_EQ(TCountryTables::BuiltInList(6)[3], "Denmark");
  EXPECT_EQ(TCountryTables::BuiltInList(7)[8], "Czech Republic,Slovak Republic");
  EXPECT_EQ(TCountryTables::BuiltInList(7).back(), "Taiwan");
  EXPECT_TRUE(TCountryTables::BuiltInList(8).empty());
  EXPECT_STREQ(TCountryTables::BuiltInListName(1), "DEMlist");
  EXPECT_STREQ(TCountryTables::BuiltInListName(8), "");
}

// The INI file that ships with the applet.
class ShippedIni : public testing::Test {
 protected:
  void SetUp() override {
    std::ifstream file(CTYSET2_SOURCE_DIR "/data/Ctyset2.ini", std::ios::binary);
    ASSERT_TRUE(file);
    text_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::string text_;
};

TEST_F(ShippedIni, EveryFamilyHasTenOrMoreDistinctCountries) {
  size_t lf = 0;
  while ((lf = text_.find('\n', lf + 1)) != std::string::npos) ASSERT_EQ(text_[lf - 1], '\r');
  std::vector<std::string> families;
  for (size_t at = 0; (at = text_.find("\r\n[", at)) != std::string::npos; at += 3)
    families.push_back(text_.substr(at + 3, text_.find(']', at) - at - 3));
  ASSERT_GE(families.size(), 3u);
  for (const std::string& family : families) {
    SCOPED_TRACE(family);
    TCountryTables t;
    ASSERT_TRUE(t.LoadFromText("Modem " + family + " Rev 1", text_));
    EXPECT_GE(t.CtyCount, 10);
    auto names = t.Names();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    // Every country's own status text selects it.
    for (int i = 0; i < t.CtyCount; ++i) {
      std::string status = t.CtyKeys[i];
      EXPECT_EQ(t.ChangeDisplay(status, names), i) << t.CtyKeys[i];
    }
  }
}

TEST_F(ShippedIni, FaxlinkTableAgreesWithTheModem) {
  const std::map<std::string, int> expected = {
      {"USA", 0xB5},         {"GERMANY", 0x04},   {"JAPAN", 0x00},       {"AUSTRALIA", 0x09},
      {"UK", 0xB4},          {"FRANCE", 0x3D},    {"ITALY", 0x59},       {"SPAIN", 0xA0},
      {"SWEDEN", 0xA5},      {"NORWAY", 0x82},    {"FINLAND", 0x3C},     {"DENMARK", 0x31},
      {"NETHERLANDS", 0x7B}, {"BELGIUM", 0x0F},   {"SWITZERLAND", 0xA6}, {"AUSTRIA", 0x0A},
      {"CANADA", 0x20},      {"CHINA", 0x26},     {"HONGKONG", 0x50},    {"KOREA", 0x61},
      {"MALAYSIA", 0x6C},    {"SINGAPORE", 0x9C}, {"TAIWAN", 0xFE},      {"NEWZEALAND", 0x7E}};
  TCountryTables t;
  ASSERT_TRUE(t.LoadFromText(kIdent, text_));
  std::map<std::string, int> actual;
  for (int i = 0; i < t.CtyCount; ++i) actual[t.CtyKeys[i]] = t.CtyCodes[i];
  EXPECT_EQ(actual, expected);
  // The modem's status line names each country unambiguously.
  for (int i = 0; i < t.CtyCount; ++i) {
    std::string status = "Country: " + t.CtyKeys[i];
    EXPECT_EQ(t.ChangeDisplay(status, t.Names()), i) << status;
  }
  EXPECT_TRUE(t.CheckCountry("North America (USA)", t.CtyCount));
  EXPECT_EQ(t.CountryCmd, "AT%T19,0,B5");
  EXPECT_TRUE(t.CheckCountry("Japan", t.CtyCount));
  EXPECT_EQ(t.CountryCmd, "AT%T19,0,0");
}

TEST_F(ShippedIni, KnownCountriesCarryTheirT35CodesInEveryFamily) {
  const std::map<std::string, int> t35 = {{"North America (USA)", 0xB5},
                                          {"Germany", 0x04},
                                          {"Japan", 0x00},
                                          {"Australia", 0x09},
                                          {"United Kingdom (U.K.)", 0xB4}};
  for (const char* ident : {kIdent, "QUILLNET 56K V.90", "TERNWAVE PC Card 33.6"}) {
    SCOPED_TRACE(ident);
    TCountryTables t;
    ASSERT_TRUE(t.LoadFromText(ident, text_));
    for (int i = 0; i < t.CtyCount; ++i) {
      auto known = t35.find(t.CtyNames[i]);
      if (known != t35.end()) {
        EXPECT_EQ(t.CtyCodes[i], known->second) << t.CtyNames[i];
      }
    }
  }
}

}  // namespace
