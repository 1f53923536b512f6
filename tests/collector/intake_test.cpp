// The collector program end to end: discovery, record intake, its events.
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/collector/program_folder.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::AskUdp;
using testsupport::ConnectTcp;
using testsupport::ReadUntilClose;
using testsupport::SendAll;
using testsupport::WaitFor;

class CollectorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log"); }
  void TearDown() override { folder.Stop(); }

  // Sends each connection's bytes on its own connection, closes them, and waits until the record
  // file holds `expected` lines.
  std::vector<std::string> Deliver(const std::vector<std::string>& connections, size_t expected) {
    for (const auto& bytes : connections) {
      int fd = ConnectTcp(folder.Port());
      EXPECT_GE(fd, 0);
      EXPECT_TRUE(SendAll(fd, bytes));
      shutdown(fd, SHUT_WR);
      // The collector answers nothing: the first thing back is its close (waited for, so that
      // the next connection's records come after these).
      EXPECT_EQ(ReadUntilClose(fd, testsupport::kWaitLimitMs), "");
      close(fd);
    }
    std::vector<std::string> lines;
    WaitFor([&] {
      lines = RecordLines(folder.Read(ProgramFolder::TodayRecords()));
      return lines.size() >= expected;
    });
    return lines;
  }

  ProgramFolder folder;
};

TEST_F(CollectorTest, DiscoveryAnswersOnlyTheExactQuestion) {
  const std::string question = "Are You Kelvadon Manager?";
  struct {
    std::string datagram;
    bool answered;
  } rows[] = {
      {question, true},
      {question + std::string("\0trailing", 9), true},  // compared up to a NUL
      {question + "\r\n", false},
      {question + "\n", false},
      {"are you kelvadon manager?", false},
      {question + "x", false},
      {"Are You Kelvadon Manager", false},
      {"", false},
  };
  for (const auto& r : rows) {
    auto replies = AskUdp(folder.Port(), r.datagram, r.answered ? testsupport::kWaitLimitMs : 300);
    if (!r.answered) {
      EXPECT_TRUE(replies.empty()) << r.datagram;
      continue;
    }
    ASSERT_EQ(replies.size(), 1u) << r.datagram;
    EXPECT_EQ(replies[0].bytes, "Yes I am Kelvadon Manager.");
    EXPECT_EQ(replies[0].bytes.size(), 26u);
    EXPECT_EQ(replies[0].fromPort, folder.Port());
  }
}

TEST_F(CollectorTest, RecordLinesAreStoredAsReceived) {
  const std::string big(5000, 'R');
  auto lines = Deliver(
      {
          "2026/12/10 10:00:00\tInsert\tPC01\t\t10.0.0.1\tuser\tE:\tUSB\tf.txt\r\n",
          "two\r\nrecords\r\n",
          "in\rner\nlf\r\n",               // lone CR and LF inside stay
          "ends\r\r\n\r\n",                // CR and LF at the end go (two lines: "ends" and "")
          "\r\n",                          // an empty record is still written
          "nul\0cut\r\n",                  // a NUL ends the record
          big + "\r\n",                    // one long record is one line
          "no line end at close",          // the last bytes are a record when the agent closes
          "\x83\x5C\x93\xFA\x96\x7B\r\n",  // Shift-JIS bytes as they are
      },
      11);
  std::vector<std::string> expected = {
      "2026/12/10 10:00:00\tInsert\tPC01\t\t10.0.0.1\tuser\tE:\tUSB\tf.txt",
      "two",
      "records",
      "in\rner\nlf",
      "ends",
      "",
      "",
      "nul",
      big,
      "no line end at close",
      "\x83\x5C\x93\xFA\x96\x7B",
  };
  EXPECT_EQ(lines, expected);
}

// The day files are shared with a console of the program folder's group: made with umask 002
// (group-writable) and, in a setgid folder, of the folder's group.
TEST_F(CollectorTest, DayFilesAreWritableByTheFoldersGroup) {
  const std::string records = folder.Dir() + "RecvData";
  const group* kelvadon = getgrnam("kelvadon");
  const bool regrouped = kelvadon && chown(records.c_str(), -1, kelvadon->gr_gid) == 0;
  ASSERT_EQ(chmod(records.c_str(), 02775), 0);
  EXPECT_EQ(Deliver({"shared\r\n"}, 1), std::vector<std::string>{"shared"});
  struct stat st {};
  ASSERT_EQ(stat((folder.Dir() + ProgramFolder::TodayRecords()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  if (regrouped) {
    EXPECT_EQ(st.st_gid, kelvadon->gr_gid);
  }
  ASSERT_EQ(stat((folder.Dir() + ProgramFolder::TodayEvents()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
}

TEST_F(CollectorTest, AnOverLongLineIsDroppedWholeWithOneErrorEvent) {
  // 70000 bytes, sent in pieces, then a good record behind it on the same connection.
  int fd = ConnectTcp(folder.Port());
  ASSERT_GE(fd, 0);
  std::string over(70000, 'x');
  for (size_t i = 0; i < over.size(); i += 7000)
    ASSERT_TRUE(SendAll(fd, over.substr(i, 7000)));
  ASSERT_TRUE(SendAll(fd, "\r\nafter\r\n"));
  close(fd);
  std::vector<std::string> lines;
  ASSERT_TRUE(WaitFor([&] {
    lines = RecordLines(folder.Read(ProgramFolder::TodayRecords()));
    return !lines.empty();
  }));
  EXPECT_EQ(lines, std::vector<std::string>{"after"});
  int errors = 0;
  for (const auto& e : EventEntries(folder.Read(ProgramFolder::TodayEvents())))
    if (e.text.find("65536") != std::string::npos) ++errors;
  EXPECT_EQ(errors, 1);
}

TEST_F(CollectorTest, SeveralAgentsAtOnceLoseNothing) {
  constexpr int kAgents = 8, kRecords = 200;
  std::vector<std::thread> agents;
  for (int a = 0; a < kAgents; ++a) {
    agents.emplace_back([&, a] {
      int fd = ConnectTcp(folder.Port());
      for (int r = 0; r < kRecords; ++r) {
        // Records in pieces of varying size, so lines cross segment boundaries.
        std::string rec = "agent" + std::to_string(a) + "\trecord" + std::to_string(r) + "\t" +
                          std::string(static_cast<size_t>(r % 97), 'p') + "\r\n";
        for (size_t i = 0; i < rec.size(); i += 13)
          SendAll(fd, rec.substr(i, 13));
      }
      close(fd);
    });
  }
  for (auto& t : agents)
    t.join();
  std::vector<std::string> lines;
  ASSERT_TRUE(WaitFor([&] {
    lines = RecordLines(folder.Read(ProgramFolder::TodayRecords()));
    return lines.size() >= kAgents * kRecords;
  })) << lines.size();
  std::map<std::string, int> seen;
  for (const auto& l : lines)
    ++seen[l];
  for (int a = 0; a < kAgents; ++a)
    for (int r = 0; r < kRecords; ++r) {
      std::string rec = "agent" + std::to_string(a) + "\trecord" + std::to_string(r) + "\t" +
                        std::string(static_cast<size_t>(r % 97), 'p');
      EXPECT_EQ(seen[rec], 1) << rec;
    }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kAgents * kRecords));
}

TEST_F(CollectorTest, ManyConnectionsLeaveNoSocketOrMemoryBehind) {
  auto countFds = [&] {
    int n = 0;
    for ([[maybe_unused]] auto& e :
         std::filesystem::directory_iterator("/proc/" + std::to_string(folder.Pid()) + "/fd"))
      ++n;
    return n;
  };
  auto rssKb = [&] {
    std::ifstream s("/proc/" + std::to_string(folder.Pid()) + "/status");
    for (std::string line; std::getline(s, line);)
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0L;
  };
  auto cycle = [&](int count) {
    for (int i = 0; i < count; ++i) {
      int fd = ConnectTcp(folder.Port());
      ASSERT_GE(fd, 0);
      SendAll(fd, "c\r\n");
      // Wait for the collector's close, so that connections come one after the other.
      shutdown(fd, SHUT_WR);
      ReadUntilClose(fd, testsupport::kWaitLimitMs);
      close(fd);
    }
  };
  cycle(100);  // warm up allocators
  ASSERT_TRUE(WaitFor(
      [&] { return RecordLines(folder.Read(ProgramFolder::TodayRecords())).size() == 100; }));
  const int fdsBefore = countFds();
  [[maybe_unused]] const long rssBefore = rssKb();
  cycle(1000);
  ASSERT_TRUE(WaitFor(
      [&] { return RecordLines(folder.Read(ProgramFolder::TodayRecords())).size() == 1100; },
      120000));
  EXPECT_TRUE(WaitFor([&] { return countFds() <= fdsBefore; })) << countFds() << " > " << fdsBefore;
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer keeps freed memory in quarantine, so RSS says nothing here; its leak
  // check at the collector's exit does (a leak makes the exit code non-zero).
  const int status = folder.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n"
                                                             << folder.Read("stderr.log");
#else
  EXPECT_LT(rssKb() - rssBefore, 4096) << "RSS grew by " << rssKb() - rssBefore << " kB";
#endif
}

TEST_F(CollectorTest, ServiceStartedEntryBytes) {
  const std::string log = folder.Read(ProgramFolder::TodayEvents());
  // "yyyy/mm/dd hh:mm:ss", a blank, "システムインフォメーション" in CP932, CR LF, the text, then
  // two empty lines.
  const std::string heading =
      "\x83\x56\x83\x58\x83\x65\x83\x80\x83\x43\x83\x93\x83\x74\x83\x48\x83\x81\x81\x5B\x83\x56"
      "\x83\x87\x83\x93";
  ASSERT_EQ(log.size(), 19 + 1 + heading.size() + 2 + 15 + 6) << log;
  EXPECT_TRUE(std::regex_match(log.substr(0, 19), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)")));
  EXPECT_EQ(log.substr(19), " " + heading + "\r\nService Started\r\n\r\n\r\n");
}

}  // namespace
}  // namespace collectortest
