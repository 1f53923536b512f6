#include "tests/console/controls/records_fixture.h"

#include "collector/dayfiles.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"

namespace controlstest {

namespace {

constexpr int kRecords = 300;
constexpr int kFields = 9;

std::string TwoDigits(int n) {
  return std::string(1, static_cast<char>('0' + n / 10)) + static_cast<char>('0' + n % 10);
}

// One record in UTF-8; converted to CP932 as a whole.
std::vector<std::string> MakeValues(int i) {
  static const char* const kHosts[] = {"PC-SALES01", "PC-DEV02", "ソフト開発-03", "PC-ACCT04",
                                       "GW-05"};
  static const char* const kUsers[] = {"tanaka", "suzuki", "佐藤", "yamada", "ito"};
  struct Operation {
    const char* name;
    const char* comment;
    bool file;
  };
  static const Operation kOperations[] = {
      {"Logon", "ログオンしました", false},
      {"Logoff", "ログオフしました", false},
      {"FileCopy", "ファイルをコピーしました", true},
      {"FileDelete", "ファイルを削除しました", true},
      {"Print", "印刷しました", true},
      {"USBConnect", "USBメモリを接続しました", false},
  };
  const int host = i % 5;
  const Operation& op = kOperations[(i * 3 + i / 5) % 6];
  const int seconds = 8 * 3600 + i * 97;
  const std::string date = "2026/12/10 " + TwoDigits(seconds / 3600) + ":" +
                           TwoDigits(seconds / 60 % 60) + ":" + TwoDigits(seconds % 60);
  const bool usb = std::string(op.name) == "USBConnect";
  std::string file;
  if (op.file) {
    file = std::string("C:\\Users\\") + kUsers[host] + "\\Documents\\" +
           (i % 2 ? "報告書" : "表計算") + std::to_string(i) + ".xlsx";
  }
  return {date,
          op.name,
          kHosts[host],
          op.comment,
          "192.168.10." + std::to_string(11 + host),
          kUsers[host],
          usb ? "E:" : "C:",
          usb ? "USB" : "HDD",
          file};
}

std::string Join(const std::vector<std::string>& values) {
  std::string line;
  for (size_t k = 0; k < values.size(); ++k)
    line += (k ? "\t" : "") + values[k];
  return line;
}

std::vector<std::string> MakeLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < kRecords; ++i) {
    std::vector<std::string> v = MakeValues(i);
    switch (i) {
      case FixtureSpecials::kQuote:
        v[3] = "見積 \"至急\" を送付しました";
        break;
      case FixtureSpecials::kSemicolon:
        v[8] = "C:\\共有\\a;b.txt";
        break;
      case FixtureSpecials::kFewer:
        v.resize(7);
        break;
      case FixtureSpecials::kMore:
        v.push_back("extra1");
        v.push_back("extra2");
        break;
      case FixtureSpecials::kEmptyHost:
        v[2] = "";
        break;
      case FixtureSpecials::kInnerCR:
        v[3] = "1行目\r2行目";
        break;
    }
    lines.push_back(rtl::Utf8ToCp932(Join(v)));
  }
  return lines;
}

}  // namespace

std::string FixturePath() {
  return std::string(CONTROLS_TEST_DIR) + "/data/records.log";
}

const std::vector<std::string>& FixtureLines() {
  static const std::vector<std::string> lines = MakeLines();
  return lines;
}

std::vector<std::string> FixtureValues(const std::string& line) {
  std::vector<std::string> values(1);
  for (char c : line) {
    if (c == '\t')
      values.emplace_back();
    else
      values.back() += c;
  }
  values.resize(kFields);
  return values;
}

std::string WriteFixture(const std::string& programDir) {
  const rtl::TDateTime day = rtl::EncodeDate(2026, 12, 10);
  for (const std::string& line : FixtureLines())
    collector::AppendRecordLine(programDir, line, day);
  return programDir + collector::kRecordFolder + collector::DayFileName(day);
}

}  // namespace controlstest
