#include "console/controls/delimtable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/password.h"
#include "rtl/cp932.h"
#include "rtl/files.h"
#include "tests/console/controls/records_fixture.h"
#include "tests/support/files.h"

namespace {

using Records = std::vector<std::vector<std::string>>;

std::vector<std::string> Fields(const TDelimTable& t) {
  std::vector<std::string> names;
  for (int i = 0; i < t.FieldNames().Count(); ++i)
    names.push_back(t.FieldNames()[i]);
  return names;
}

// Every record, walked as a reader walks the table.
Records Walk(TDelimTable& t) {
  Records records;
  for (bool more = t.First(); more; more = t.Next()) {
    records.emplace_back();
    for (const std::string& name : Fields(t))
      records.back().push_back(t.GetFieldValue(name));
  }
  EXPECT_TRUE(t.Eof());
  return records;
}

// A table loaded from a file holding content.
class Table : public ::testing::Test {
 protected:
  void Load(const std::string& content, const std::string& name = "t.csv") {
    ASSERT_TRUE(table.LoadFromFile(dir.Write(name, content)));
  }
  void UseRecordFileSettings() {
    table.Separator = "\t";
    table.QuoteChar = "";
  }

  testsupport::TempDir dir{"delimtable"};
  TDelimTable table;
};

TEST_F(Table, FixtureLoadsEveryRecordWithItsValues) {
  UseRecordFileSettings();
  ASSERT_TRUE(table.LoadFromFile(controlstest::FixturePath()));
  EXPECT_EQ(table.Name, "records");
  EXPECT_EQ(Fields(table),
            (std::vector<std::string>{"Date", "Operation", "HostName", "Comment", "IPAddress",
                                      "UserName", "DriveName", "DeviceName", "FileName"}));
  // Loading leaves the last record current.
  EXPECT_EQ(table.RecNo(), table.RecordCount() - 1);

  const auto& lines = controlstest::FixtureLines();
  Records expected;
  for (const std::string& line : lines)
    expected.push_back(controlstest::FixtureValues(line));
  const Records records = Walk(table);
  ASSERT_EQ(records.size(), lines.size());  // no extra empty record after the last CR LF
  EXPECT_EQ(records, expected);

  using S = controlstest::FixtureSpecials;
  EXPECT_NE(records[S::kQuote][3].find('"'), std::string::npos);
  EXPECT_NE(records[S::kSemicolon][8].find(';'), std::string::npos);
  EXPECT_EQ(records[S::kInnerCR][3], rtl::Utf8ToCp932("1行目\r2行目"));
  EXPECT_EQ(records[S::kFewer][7], "");
  EXPECT_EQ(records[S::kMore][8], controlstest::FixtureValues(lines[S::kMore])[8]);
  EXPECT_EQ(records[S::kEmptyHost][2], "");
  EXPECT_EQ(records[S::kEmptyHost][3], controlstest::FixtureValues(lines[S::kEmptyHost])[3]);
}

TEST_F(Table, FieldNamesMatchInAnyLetterCase) {
  UseRecordFileSettings();
  ASSERT_TRUE(table.LoadFromFile(controlstest::FixturePath()));
  ASSERT_TRUE(table.First());
  const std::string date = controlstest::FixtureValues(controlstest::FixtureLines()[0])[0];
  for (const char* name : {"Date", "DATE", "date", "dAtE"})
    EXPECT_EQ(table.GetFieldValue(name), date) << name;
  EXPECT_EQ(table.GetFieldValue("Dates"), "");

  // Double-byte names whose trail bytes are "A" and "a" are two fields: trail bytes never fold.
  const std::string a = rtl::Utf8ToCp932("ア"), di = rtl::Utf8ToCp932("ヂ");
  Load(a + "\t" + di + "\r\n1\t2\r\n");
  EXPECT_EQ(Fields(table), (std::vector<std::string>{a, di}));
  EXPECT_EQ(table.GetFieldValue(di), "2");
}

TEST_F(Table, FixtureWithoutItsLastLineBreakGivesTheSameRecords) {
  UseRecordFileSettings();
  std::string content = testsupport::ReadFile(controlstest::FixturePath());
  ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
  ASSERT_TRUE(table.LoadFromFile(controlstest::FixturePath()));
  const Records whole = Walk(table);
  content.resize(content.size() - 2);
  Load(content, "cut.log");
  EXPECT_EQ(Walk(table), whole);
}

TEST_F(Table, FixtureIsWhatTheDayFileWriterWrites) {
  testsupport::TempDir programDir("fixture");
  ASSERT_TRUE(rtl::ForceDirectories(programDir.File("RecvData")));
  const std::string written = controlstest::WriteFixture(programDir.path() + "/");
  EXPECT_EQ(testsupport::ReadFile(written), testsupport::ReadFile(controlstest::FixturePath()))
      << "data/records.log is stale: rebuild it with make_records_fixture";
}

TEST_F(Table, DefaultSettingsFollowTheQuoteRules) {
  struct Case {
    const char* what;
    std::string content;
    std::vector<std::string> fields;
    Records records;
    std::string separator = ";";
  } cases[] = {
      {"quoted separator and doubled quotes",
       "a;b\r\n\"x;y\";\"say \"\"hi\"\"\"\r\n",
       {"a", "b"},
       {{"x;y", "say \"hi\""}}},
      {"quoted line breaks", "a;b\r\n\"l1\r\nl2\rl3\";z\r\n", {"a", "b"}, {{"l1\r\nl2\rl3", "z"}}},
      {"two separators in a row", "a;b;c\r\n1;;3\r\n", {"a", "b", "c"}, {{"1", "", "3"}}},
      {"fewer values", "a;b;c\r\n1\r\n", {"a", "b", "c"}, {{"1", "", ""}}},
      {"more values", "a;b\r\n1;2;3;4\r\n", {"a", "b"}, {{"1", "2"}}},
      {"CR alone ends lines; no break at the end",
       "a;b\r1;2\r3;4",
       {"a", "b"},
       {{"1", "2"}, {"3", "4"}}},
      {"an empty line is an empty record", "a\r\n1\r\n\r\n2\r\n", {"a"}, {{"1"}, {""}, {"2"}}},
      {"closing quote as the last byte", "a\r\n\"x\"", {"a"}, {{"x"}}},
      {"text after a closing quote", "a\r\n\"x\"y;z\r\n", {"a"}, {{"xy"}}},
      {"missing closing quote", "a\r\n\"x;y\r\n", {"a"}, {{"x;y\r\n"}}},
      {"header only", "a;b\r\n", {"a", "b"}, {}},
      {"empty middle name", "a;;c\r\n1;2;3\r\n", {"a", "c"}, {{"1", "2"}}},
      {"repeated name in another case", "a;A;b\r\n1;2;3\r\n", {"a", "b"}, {{"1", "2"}}},
      {"LF alone ends no line", "a;b\n1;2\n", {"a", "b1", "2"}, {}},
      {"empty file", "", {}, {}},
      {"longer separator never matches", "a;b\r\n1;2\r\n", {"a;b"}, {{"1;2"}}, ";;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDelimTable t;
    t.Separator = c.separator;
    ASSERT_TRUE(t.LoadFromFile(dir.Write("case.csv", c.content)));
    EXPECT_EQ(Fields(t), c.fields);
    EXPECT_EQ(Walk(t), c.records);
  }
}

TEST_F(Table, RecordFilesEndLinesOnlyAtCRLF) {
  struct Case {
    const char* what;
    bool recordSettings;
    std::string content;
    Records records;
  } cases[] = {
      {"inner CR stays in its value",
       true,
       "a\tb\r\nx\ry\tz\r\nu\tv\r\n",
       {{"x\ry", "z"}, {"u", "v"}}},
      {"CR as the file's last byte ends the line", true, "a\tb\r\nx\ty\r", {{"x", "y"}}},
      {"a double quote is text", true, "a\tb\r\n\"x\tsay \"hi\"\r\n", {{"\"x", "say \"hi\""}}},
      {"other settings end lines at any CR", false, "a;b\r\nx\ry;z\r\n", {{"x", ""}, {"y", "z"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDelimTable t;
    if (c.recordSettings) {
      t.Separator = "\t";
      t.QuoteChar = "";
    }
    ASSERT_TRUE(t.LoadFromFile(dir.Write("case.log", c.content)));
    EXPECT_EQ(Walk(t), c.records);
  }
}

// Quote pairs, CR LF and separators split across the 1000-byte chunks are read as when whole.
TEST_F(Table, ChunkBoundariesChangeNothing) {
  const std::string header = "a;b\r\n";
  for (size_t pad = TDelimTable::kReadChunk - 12; pad <= TDelimTable::kReadChunk + 4; ++pad) {
    const std::string x(pad - header.size(), 'x');
    Load(header + "\"" + x + "\"\"y\";z\r\n1;2\r\n");
    EXPECT_EQ(Walk(table), (Records{{x + "\"y", "z"}, {"1", "2"}})) << pad;
  }
}

TEST_F(Table, CursorMovesAndReportsItsEnds) {
  EXPECT_TRUE(table.Bof());
  EXPECT_TRUE(table.Eof());
  EXPECT_FALSE(table.First());
  EXPECT_FALSE(table.Next());
  EXPECT_TRUE(table.Bof() && table.Eof());

  Load("n\r\n1\r\n2\r\n3\r\n");
  EXPECT_EQ(table.GetFieldValue("n"), "3");  // left on the last record
  EXPECT_TRUE(table.First());
  EXPECT_FALSE(table.Bof() || table.Eof());
  EXPECT_TRUE(table.Next());
  EXPECT_TRUE(table.Next());
  EXPECT_FALSE(table.Next());
  EXPECT_FALSE(table.Bof());
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.GetFieldValue("n"), "3");  // still current
  EXPECT_EQ(table.GetRecord(1)->Strings(0), "2");
  EXPECT_EQ(table.GetRecord(3), nullptr);
  EXPECT_EQ(table.GetRecord(-1), nullptr);

  table.Clear();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(Fields(table), std::vector<std::string>{"n"});
  EXPECT_EQ(table.GetFieldValue("n"), "");
  table.Reset();
  EXPECT_TRUE(Fields(table).empty());
}

TEST_F(Table, HeaderOnlyFileHasNoRecord) {
  Load("a;b\r\n");
  EXPECT_FALSE(table.First());
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(table.IsEmpty());
}

TEST_F(Table, FailedOpenLeavesTheTableAsItWas) {
  Load("a\r\n1\r\n", "first.csv");
  const std::string missing = dir.File("missing.csv");
  const std::string folder = dir.File("folder.csv");
  ASSERT_TRUE(rtl::ForceDirectories(folder));
  for (const std::string& path : {missing, folder}) {
    EXPECT_FALSE(table.LoadFromFile(path)) << path;
    EXPECT_EQ(table.Name, "first");
    EXPECT_EQ(table.GetFieldValue("a"), "1");
  }
}

TEST_F(Table, NameIsTheFileNameWithoutItsExtension) {
  struct Case {
    const char* file;
    const char* name;
  } cases[] = {{"20261210.log", "20261210"}, {"x.tar.gz", "x.tar"}, {"noext", ""}};
  for (const Case& c : cases) {
    Load("a\r\n", c.file);
    EXPECT_EQ(table.Name, c.name) << c.file;
  }
}

TEST_F(Table, FieldsAndValuesKeepTheirPlaces) {
  Load("a;b\r\n1;2\r\n");
  EXPECT_FALSE(table.AddField(" \t"));
  EXPECT_FALSE(table.AddField("B"));
  EXPECT_TRUE(table.AddField("c"));
  EXPECT_EQ(table.FieldTypes().Count(), 3);
  EXPECT_EQ(table.GetRecord(0)->Count(), 3);
  EXPECT_EQ(table.GetFieldValue("c"), "");

  EXPECT_TRUE(table.SetFieldValue(3, "z"));
  EXPECT_EQ(table.GetFieldValue("C"), "z");
  EXPECT_FALSE(table.SetFieldValue(0, "x"));
  EXPECT_FALSE(table.SetFieldValue(4, "x"));
  table.Append();
  EXPECT_EQ(table.RecNo(), 1);
  EXPECT_EQ(table.GetFieldValue("a"), "");
  table.Clear();
  EXPECT_FALSE(table.SetFieldValue(1, "x"));  // no current record
}

TEST_F(Table, TheLastLineSetsTheFirstFieldsType) {
  Load("n;s\r\n\"1\";x\r\n2;y\r\n");
  EXPECT_EQ(table.FieldTypes()[0], TDelimTable::kTypeFloat);
  EXPECT_EQ(table.FieldTypes()[1], TDelimTable::kTypeString);
  Load("n;s\r\n2;y\r\n\"1\";x\r\n");
  EXPECT_EQ(table.FieldTypes()[0], TDelimTable::kTypeString);
}

TEST_F(Table, DecipherReadsStoredSettings) {
  const std::string secret = rtl::Utf8ToCp932("パスワード;1");
  const std::string stored = EncryptSetting(secret, kSettingPassphrase);
  ASSERT_FALSE(stored.empty());
  table.Decipher = true;
  Load("p;q\r\n" + stored + ";abc\r\n");
  EXPECT_EQ(table.GetFieldValue("p"), secret);
  EXPECT_EQ(table.GetFieldValue("q"), "");  // not stored text: empty
}

}  // namespace
