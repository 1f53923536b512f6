#include "collector/dayfiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "rtl/exception.h"
#include "rtl/files.h"
#include "tests/support/files.h"

namespace collector {
namespace {

class DayFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rtl::ForceDirectories(dir + "RecvData"));
    ASSERT_TRUE(rtl::ForceDirectories(dir + "Log"));
  }
  std::string Read(const std::string& rel) { return testsupport::ReadFile(dir + rel); }
  testsupport::TempDir tmp{"dayfiles"};
  std::string dir = tmp.path() + "/";
  const rtl::TDateTime when = rtl::EncodeDate(2026, 12, 9) + rtl::EncodeTime(8, 30, 0, 0);
};

TEST_F(DayFilesTest, RecordFileGetsItsHeaderOnce) {
  AppendRecordLine(dir, "a\tb", when);
  AppendRecordLine(dir, "", when);
  AppendRecordLine(dir, "c", when + 1);  // the next day: a file of its own
  EXPECT_EQ(Read("RecvData/20261209.log"), std::string(kRecordHeader) + "\r\na\tb\r\n\r\n");
  EXPECT_EQ(Read("RecvData/20261210.log"), std::string(kRecordHeader) + "\r\nc\r\n");
  EXPECT_EQ(std::string(kRecordHeader).size(), 80u);
}

TEST_F(DayFilesTest, AnExistingEmptyRecordFileGetsNoHeader) {
  std::ofstream(dir + "RecvData/20261209.log").close();
  AppendRecordLine(dir, "x", when);
  EXPECT_EQ(Read("RecvData/20261209.log"), "x\r\n");
}

TEST_F(DayFilesTest, EventEntryBytes) {
  AppendEventEntry(dir, kCodeInfo, "Service Started", when);
  AppendEventEntry(dir, kCodeError, "line1\r\nline2", when);
  // "システムインフォメーション" and "システムエラーが発生しました。" in CP932.
  const std::string info =
      "\x83\x56\x83\x58\x83\x65\x83\x80\x83\x43\x83\x93\x83\x74\x83\x48\x83\x81\x81\x5B\x83\x56"
      "\x83\x87\x83\x93";
  const std::string error =
      "\x83\x56\x83\x58\x83\x65\x83\x80\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5"
      "\x82\xDC\x82\xB5\x82\xBD\x81\x42";
  EXPECT_EQ(Read("Log/20261209.log"),
            "2026/12/09 08:30:00 " + info + "\r\nService Started\r\n\r\n\r\n" +
                "2026/12/09 08:30:00 " + error + "\r\nline1\r\nline2\r\n\r\n\r\n");
}

TEST_F(DayFilesTest, OtherCodesOnlyCreateTheEventFile) {
  AppendEventEntry(dir, 7, "ignored", when);
  EXPECT_TRUE(rtl::FileExists(dir + "Log/20261209.log"));
  EXPECT_EQ(Read("Log/20261209.log"), "");
}

TEST_F(DayFilesTest, MissingFolderIsAnInOutError) {
  std::system(("rm -rf " + dir + "RecvData").c_str());
  try {
    AppendRecordLine(dir, "x", when);
    ADD_FAILURE();
  } catch (const rtl::EInOutError& e) {
    EXPECT_STREQ(e.ClassName(), "EInOutError");
    EXPECT_EQ(e.Message, "Path not found");
  }
}

}  // namespace
}  // namespace collector
