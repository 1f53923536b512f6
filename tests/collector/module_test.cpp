// The collector module in this process: its day-file writer with an injected clock.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "collector/dayfiles.h"
#include "collector/kelvadon.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "tests/collector/program_folder.h"
#include "tests/support/files.h"

namespace collectortest {
namespace {

using testsupport::ReadFile;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir + "RecvData");
    std::filesystem::create_directory(dir + "Log");
    module = std::make_unique<TKelvadonManager>(nullptr);
    module->Engine->ProgramDir = dir;
  }
  void TearDown() override {
    module.reset();
    rtl::SetWallClock(nullptr);
  }
  // Local time as the clock's epoch microseconds.
  static int64_t At(int y, int mo, int d, int h, int mi, int s, int ms) {
    return rtl::EpochOfLocal(rtl::TSystemTime{y, mo, d, h, mi, s, ms, 0});
  }

  testsupport::TempDir tmp{"kwmodule"};
  std::string dir = tmp.path() + "/";
  std::unique_ptr<TKelvadonManager> module;
};

TEST_F(ModuleTest, RecordsGoToTheFileOfTheDayTheyArrive) {
  int64_t now = At(2026, 12, 9, 23, 59, 59, 900);
  rtl::SetWallClock([&] { return now; });
  module->EventWrite(collector::kCodeRecord, "before midnight");
  now = At(2026, 12, 10, 0, 0, 0, 100);
  module->EventWrite(collector::kCodeRecord, "after midnight");
  EXPECT_EQ(RecordLines(ReadFile(dir + "RecvData/20261209.log")),
            std::vector<std::string>{"before midnight"});
  EXPECT_EQ(RecordLines(ReadFile(dir + "RecvData/20261210.log")),
            std::vector<std::string>{"after midnight"});
}

TEST_F(ModuleTest, AFailedWriteBecomesOneErrorEvent) {
  rtl::SetWallClock([] { return At(2026, 12, 9, 12, 0, 0, 0); });
  std::filesystem::remove_all(dir + "RecvData");
  module->EventWrite(collector::kCodeRecord, "lost");
  auto entries = EventEntries(ReadFile(dir + "Log/20261209.log"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, "EventWrite System Error EInOutError : Path not found");

  // With the event folder gone too, the failure of the error event is dropped: no recursion.
  std::filesystem::remove_all(dir + "Log");
  module->EventWrite(collector::kCodeRecord, "lost too");
  module->EventWrite(collector::kCodeInfo, "no place for this");
  EXPECT_FALSE(rtl::DirectoryExists(dir + "Log"));
}

}  // namespace
}  // namespace collectortest
