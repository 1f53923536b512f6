// The collector run in the foreground, as an administrator tries it: a start that fails (a port
// taken, or a port setting no agent can reach) says on the terminal which port could not be
// opened and why, and ends with a non-zero status; every event the collector writes reaches the
// terminal too, in the terminal's character set, and one the event file cannot take is there
// once more on a line of its own.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/collector/program_folder.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

// A TCP listener on 0.0.0.0:port that holds the port for the test; -1 when it cannot.
int HoldPort(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 5) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct TakenPort {
  const char* name;
  bool recordPort;  // else the FTP port
};

void PrintTo(const TakenPort& t, std::ostream* os) {
  *os << t.name;
}

class CollectorTakenPort : public ::testing::TestWithParam<TakenPort> {
 protected:
  ProgramFolder folder;
};

// The collector never reports itself running without its ports: it writes why in its event file,
// says on the terminal which port and why, reports STOPPED and ends with status 1.
TEST_P(CollectorTakenPort, TheStartFailsAndSaysWhichPortAndWhy) {
  const bool record = GetParam().recordPort;
  const int port = record ? folder.Port() : ProgramFolder::kFtpPort;
  const int holder = HoldPort(port);
  ASSERT_GE(holder, 0);
  ASSERT_TRUE(folder.Launch({"LC_ALL=C"}));
  const int status = folder.WaitExit(30000);  // a bound, not a speed: builds may be loaded
  close(holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

  const std::string terminal = folder.Read("stderr.log");
  const std::string named = "KelvadonManager: cannot start: TCP port " + std::to_string(port) +
                            (record ? " (records)" : " (FTP)") +
                            " cannot be opened: Address already in use (#10048 in Bind)\n";
  EXPECT_NE(terminal.find(named), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("STOPPED"), std::string::npos) << terminal;
  EXPECT_EQ(terminal.find("RUNNING"), std::string::npos) << terminal;

  // The events keep their own texts, and each is on the terminal as well.
  std::vector<std::string> expected;
  if (record)
    expected = {
        "ServiceCreate System Error ESocketException : Address already in use (#10048 in "
        "Bind)",
        "ServiceStart System Error ESocketException : NetSocket is not listening on port " +
            std::to_string(port)};
  else
    expected = {
        "ServiceStart System Error ESocketException : Address already in use (#10048 in "
        "Bind)"};
  EXPECT_EQ(folder.Errors(), expected);
  for (const auto& text : expected)
    EXPECT_NE(terminal.find("システムエラーが発生しました。\n  " + text + "\n"), std::string::npos)
        << terminal;
}

INSTANTIATE_TEST_SUITE_P(Collector, CollectorTakenPort,
                         ::testing::Values(TakenPort{"RecordPort", true},
                                           TakenPort{"FtpPort", false}));

struct BadPort {
  const char* name;
  const char* setting;  // the value of Port
  const char* reason;   // why the record port cannot be opened
};

void PrintTo(const BadPort& b, std::ostream* os) {
  *os << b.name;
}

class CollectorBadPort : public ::testing::TestWithParam<BadPort> {};

// A port setting no agent can reach ends the start with status 1 and says why: 0 would have the
// system pick any free port, and is refused as a port that does not exist is.
TEST_P(CollectorBadPort, TheStartFailsAndNamesTheSetting) {
  const BadPort& bad = GetParam();
  ProgramFolder folder;
  std::ofstream(folder.Dir() + "KelvadonMan.ini", std::ios::binary)
      << "[KelvadonManager]\r\nPort=" << bad.setting << "\r\n";
  ASSERT_TRUE(folder.Launch({"LC_ALL=C"}));
  const int status = folder.WaitExit(30000);  // a bound, not a speed: builds may be loaded
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::string terminal = folder.Read("stderr.log");
  EXPECT_NE(terminal.find(std::string("KelvadonManager: cannot start: TCP port ") + bad.setting +
                          " (records) cannot be opened: " + bad.reason + "\n"),
            std::string::npos)
      << terminal;
  EXPECT_EQ(terminal.find("RUNNING"), std::string::npos) << terminal;
}

INSTANTIATE_TEST_SUITE_P(
    Collector, CollectorBadPort,
    ::testing::Values(
        BadPort{"Zero", "0", "Invalid Port: the setting Port of [KelvadonManager] is 0"},
        BadPort{"Zeros", "000", "Invalid Port: the setting Port of [KelvadonManager] is 0"},
        BadPort{"AboveTheLast", "70000", "Listen: Winsock Resolve Port: Invalid Port."},
        BadPort{"NoNumber", "abc",
                "Listen: Winsock Resolve Port: Cannot convert port 'abc' - No Data (#11004)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A FIFO at both of today's day files: the record that cannot be written is an error event that
// the event file cannot take either, so it is on the terminal on a line of its own; the collector
// goes on serving and ends on SIGTERM.
TEST(CollectorForeground, AnEventTheEventFileCannotTakeIsOnTheTerminal) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.Start({"LC_ALL=C"})) << folder.Read("stderr.log");
  for (const std::string& file : {ProgramFolder::TodayRecords(), ProgramFolder::TodayEvents()}) {
    std::filesystem::remove(folder.Dir() + file);
    ASSERT_EQ(mkfifo((folder.Dir() + file).c_str(), 0660), 0) << file;
  }
  const int fd = testsupport::ConnectTcp(folder.Port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testsupport::SendAll(fd, "lost\r\n"));
  close(fd);
  const std::string line =
      " not in the event file: EventWrite System Error EInOutError : I/O error 22\n";
  ASSERT_TRUE(testsupport::WaitFor([&] {
    return folder.Read("stderr.log").find(line) != std::string::npos;
  })) << folder.Read("stderr.log");
  const std::string terminal = folder.Read("stderr.log");
  // "KelvadonManager: yyyy/mm/dd hh:mm:ss" before it.
  const size_t at = terminal.find(line);
  const size_t start = terminal.rfind('\n', at) + 1;
  EXPECT_EQ(terminal.compare(start, 17, "KelvadonManager: "), 0) << terminal.substr(start, 40);
  EXPECT_EQ(at - start, 17 + 19) << terminal.substr(start, 80);
  EXPECT_EQ(
      testsupport::AskUdp(folder.Port(), "Are You Kelvadon Manager?", testsupport::kWaitLimitMs)
          .size(),
      1u);

  kill(folder.Pid(), SIGTERM);
  const int status = folder.WaitExit(30000);  // a bound, not a speed
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A running collector's events reach the terminal with their heading and time, in UTF-8 under the
// C locale; the event file keeps its Shift-JIS.
TEST(CollectorForeground, EventsReachTheTerminalInItsCharacterSet) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.Start({"LC_ALL=C"})) << folder.Read("stderr.log");
  const int fd = testsupport::ConnectTcp(folder.Port());
  ASSERT_GE(fd, 0);
  // A record over the line limit is dropped with an error event.
  ASSERT_TRUE(testsupport::SendAll(fd, std::string(70000, 'x') + "\r\nafter\r\n"));
  close(fd);
  ASSERT_EQ(folder.WaitForRecords(1), std::vector<std::string>{"after"});
  const std::string dropped =
      "ClientDataAvailable System Error ESocketException : line over 65536 bytes dropped";
  ASSERT_TRUE(testsupport::WaitFor([&] { return folder.Errors().size() == 1; }));

  const std::string terminal = folder.Read("stderr.log");
  for (const auto& [heading, text] :
       {std::pair<std::string, std::string>{"システムインフォメーション", "Service Started"},
        {"システムエラーが発生しました。", dropped}}) {
    const size_t at = terminal.find(" " + heading + "\n  " + text + "\n");
    ASSERT_NE(at, std::string::npos) << terminal;
    // "KelvadonManager: yyyy/mm/dd hh:mm:ss" before the heading.
    const size_t line = terminal.rfind('\n', at) + 1;
    EXPECT_EQ(terminal.compare(line, 17, "KelvadonManager: "), 0) << terminal.substr(line, 40);
    EXPECT_EQ(at - line, 17 + 19) << terminal.substr(line, 40);
  }
  const std::string file = folder.Read(ProgramFolder::TodayEvents());
  EXPECT_NE(file.find("\x83\x56\x83\x58\x83\x65\x83\x80"), std::string::npos);  // "システム"
  EXPECT_EQ(file.find("システム"), std::string::npos);
  folder.Stop();
}

}  // namespace
}  // namespace collectortest
