// The collector's listeners when descriptors run out and when agents log on in bursts: a paused
// listener costs no processor time and is reported once; every connection is served once
// descriptors are free; every record of an accepted connection is stored; a burst of connections
// is taken whole.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/collector/program_folder.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::ConnectTcp;
using testsupport::SendAll;
using testsupport::WaitFor;

constexpr char kRecordPause[] =
    "NetSocketSessionAvailable System Error ESocketException : Too many open files (#10024 in "
    "Accept)";
constexpr char kFtpPause[] =
    "KelvadonFtpAcceptPaused System Error ESocketException : Too many open files (#10024 in "
    "Accept)";
constexpr int kFtpPort = ProgramFolder::kFtpPort;

// Processor time (user and system) the process has used, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The listen-queue overflows the system has counted (TcpExt ListenOverflows).
long ListenOverflows() {
  std::ifstream in("/proc/net/netstat");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "ListenOverflows") return std::stol(value);
  }
  return -1;
}

// The first line the peer sends (without its line end), or "" when none comes within timeoutMs.
std::string FirstLine(int fd, int timeoutMs = testsupport::kWaitLimitMs) {
  std::string got;
  while (got.find("\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return "";
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return "";
    got.append(buf, static_cast<size_t>(n));
  }
  return got.substr(0, got.find("\r\n"));
}

std::string Record(const std::string& agent, const std::string& what) {
  return "2026/12/10 08:30:00\tInsert\t" + agent + "\t\t127.0.0.1\tuser\tE:\tUSB DISK\t" + what;
}

class CollectorListeners : public ::testing::Test {
 protected:
  void TearDown() override {
    if (folder.Pid() > 0) {
      EXPECT_EQ(waitpid(folder.Pid(), nullptr, WNOHANG), 0) << "crashed";
    }
    folder.Stop();
  }

  size_t CountErrors(const std::string& text) const {
    size_t n = 0;
    for (const auto& e : folder.Errors())
      n += e == text;
    return n;
  }
  // Processor time of the collector over ms milliseconds of waiting, in seconds.
  double CpuOver(int ms) {
    const double before = CpuSeconds(folder.Pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return CpuSeconds(folder.Pid()) - before;
  }

  ProgramFolder folder;
};

// Agents that connect one after the other, each sending a first record at once and holding its
// connection; Finish sends each one's second record and closes.
class HoldingAgents {
 public:
  HoldingAgents(int port, int count, const std::string& prefix) {
    for (int a = 0; a < count; ++a) {
      const std::string name = prefix + std::to_string(a);
      const int fd = ConnectTcp(port);
      if (fd < 0 || !SendAll(fd, Record(name, "first") + "\r\n")) failed = true;
      fds_.push_back(fd);
      expected.push_back(Record(name, "first"));
      expected.push_back(Record(name, "second"));
    }
  }
  ~HoldingAgents() { Finish(); }
  void Finish() {
    for (size_t a = 0; a < fds_.size(); ++a) {
      if (fds_[a] < 0) continue;
      if (!SendAll(fds_[a], expected[2 * a + 1] + "\r\n")) failed = true;
      close(fds_[a]);
      fds_[a] = -1;
    }
  }

  std::vector<std::string> expected;
  bool failed = false;

 private:
  std::vector<int> fds_;
};

struct LimitCase {
  int limit;   // the collector's descriptor limit (soft and hard)
  int agents;  // connections that queue up against it
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.limit << " descriptors, " << c.agents << " agents";
}

class CollectorDescriptorLimit : public CollectorListeners,
                                 public ::testing::WithParamInterface<LimitCase> {};

// More agents than the collector has descriptors for: it takes what it can, stops asking (no
// spinning, one error event), stores every record of the connections it took, and takes the
// others once those end.
TEST_P(CollectorDescriptorLimit, MoreAgentsThanDescriptorsWaitAndEveryRecordIsStored) {
  const LimitCase c = GetParam();
  folder.SetDescriptorLimit(c.limit);
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  HoldingAgents agents(folder.Port(), c.agents, "PC-");
  ASSERT_FALSE(agents.failed);
  ASSERT_TRUE(WaitFor([&] { return CountErrors(kRecordPause) == 1; }))
      << testing::PrintToString(folder.Errors());
  // The connections taken so far have their first records stored, each once.
  std::vector<std::string> held;
  WaitFor([&] {
    const auto now = folder.Records();
    const bool settled = !now.empty() && now == held;
    held = now;
    return settled;
  });
  ASSERT_FALSE(held.empty());
  ASSERT_LT(held.size(), static_cast<size_t>(c.agents));
  for (const auto& [line, n] : Counted(held))
    EXPECT_EQ(n, 1) << line;

  EXPECT_LT(CpuOver(3000), 0.15) << "the paused collector spins";
  EXPECT_EQ(folder.Errors(), std::vector<std::string>{kRecordPause});

  agents.Finish();
  const auto lines = folder.WaitForRecords(agents.expected.size());
  EXPECT_EQ(Counted(lines), Counted(agents.expected));
}

INSTANTIATE_TEST_SUITE_P(Collector, CollectorDescriptorLimit,
                         ::testing::Values(LimitCase{20, 40}, LimitCase{64, 200},
                                           LimitCase{256, 400}));

// The limit lowered on the running collector (as prlimit --pid does): its gate keeps to the
// limit as it is now, so the connections it takes leave the day files and the event file their
// descriptors, the others wait in the queue (one error event tells of the pause), and every
// record is stored. The agents hold their connections after a first record, then send the rest.
TEST_F(CollectorListeners, ALimitLoweredWhileRunningLosesNoRecord) {
  constexpr int kAgents = 200, kRecords = 5;
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  const rlimit low{64, 64};
  ASSERT_EQ(prlimit(folder.Pid(), RLIMIT_NOFILE, &low, nullptr), 0);
  std::vector<int> fds;
  std::vector<std::string> expected;
  auto record = [](int a, int n) {
    return Record("PC-" + std::to_string(a), "record " + std::to_string(n));
  };
  for (int a = 0; a < kAgents; ++a) {
    fds.push_back(ConnectTcp(folder.Port()));
    ASSERT_GE(fds.back(), 0) << a;
    ASSERT_TRUE(SendAll(fds[a], record(a, 0) + "\r\n")) << a;
  }
  ASSERT_TRUE(WaitFor([&] { return CountErrors(kRecordPause) == 1; }))
      << testing::PrintToString(folder.Errors());
  for (int a = 0; a < kAgents; ++a) {
    std::string rest;
    for (int n = 0; n < kRecords; ++n) {
      expected.push_back(record(a, n));
      if (n > 0) rest += expected.back() + "\r\n";
    }
    ASSERT_TRUE(SendAll(fds[a], rest)) << a;
    close(fds[a]);
  }
  const auto lines = folder.WaitForRecords(expected.size());
  EXPECT_EQ(Counted(lines), Counted(expected));
  EXPECT_EQ(folder.Errors(), std::vector<std::string>{kRecordPause});
}

// The FTP server shares the budget: while agents' record connections hold it, FTP clients wait
// in the queue (one error event, no spinning); once the agents are gone each FTP client gets its
// banner, or "421" beyond the session ceiling.
TEST_F(CollectorListeners, FtpClientsWaitWhileRecordConnectionsHoldTheDescriptors) {
  folder.SetDescriptorLimit(64);
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  HoldingAgents agents(folder.Port(), 60, "PC-");
  ASSERT_TRUE(WaitFor([&] { return CountErrors(kRecordPause) == 1; }));

  std::vector<int> ftp;
  for (int i = 0; i < 200; ++i) {
    ftp.push_back(ConnectTcp(kFtpPort));
    ASSERT_GE(ftp.back(), 0);
  }
  ASSERT_TRUE(WaitFor([&] { return CountErrors(kFtpPause) == 1; }))
      << testing::PrintToString(folder.Errors());
  EXPECT_LT(CpuOver(3000), 0.15) << "the paused collector spins";
  EXPECT_EQ(CountErrors(kFtpPause), 1u);

  agents.Finish();
  int welcomed = 0, refused = 0;
  for (int fd : ftp) {
    const std::string line = FirstLine(fd);
    welcomed += line == "220 KelvadonManager FTP Server ready.";
    refused += line == "421 Too many users connected.";
  }
  EXPECT_EQ(welcomed + refused, 200);
  EXPECT_GT(welcomed, 0);
  for (int fd : ftp)
    close(fd);
  const auto lines = folder.WaitForRecords(agents.expected.size());
  EXPECT_EQ(Counted(lines), Counted(agents.expected));
}

// Connections opened back to back, as fast as the client can, to the record port and to the FTP
// port: the listen queue takes them all (no overflow, so no connect waits for a SYN
// retransmission) and every one is served.
TEST_F(CollectorListeners, BackToBackConnectsAreAllTakenWithoutOverflow) {
  constexpr int kCount = 400;
  folder.SetDescriptorLimit(4096);
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  const long overflowsBefore = ListenOverflows();
  std::vector<int> records, ftp;
  for (int i = 0; i < kCount; ++i)
    records.push_back(ConnectTcp(folder.Port()));
  for (int i = 0; i < kCount; ++i)
    ftp.push_back(ConnectTcp(kFtpPort));
  std::vector<std::string> expected;
  for (int i = 0; i < kCount; ++i) {
    ASSERT_GE(records[i], 0);
    expected.push_back(Record("PC-" + std::to_string(i), "back to back"));
    ASSERT_TRUE(SendAll(records[i], expected.back() + "\r\n"));
  }
  for (int fd : ftp)
    EXPECT_EQ(FirstLine(fd), "220 KelvadonManager FTP Server ready.");
  const auto lines = folder.WaitForRecords(expected.size());
  EXPECT_EQ(Counted(lines), Counted(expected));
  if (testsupport::InOwnNetworkNamespace())
    EXPECT_EQ(ListenOverflows(), overflowsBefore);
  else
    std::fprintf(stderr, "listen-queue overflows not checked: not in a network namespace\n");
  for (int fd : records)
    close(fd);
  for (int fd : ftp)
    close(fd);
  EXPECT_TRUE(folder.Errors().empty()) << testing::PrintToString(folder.Errors());
}

// A logon burst: thousands of agents, each from its own address, connect, send one record and
// close at once. Every record is stored once: none is lost to a full queue.
TEST_F(CollectorListeners, ALogonBurstLosesNoRecord) {
  constexpr int kAgents = 3000, kThreads = 30;
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  std::vector<std::string> expected;
  for (int a = 0; a < kAgents; ++a)
    expected.push_back(Record("PC-" + std::to_string(a), "logon"));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int a = t; a < kAgents; a += kThreads) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F010000u | static_cast<uint32_t>((a / 250) << 8) |
                                     static_cast<uint32_t>(a % 250 + 1));  // 127.1.x.y
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(folder.Port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
            !SendAll(fd, expected[a] + "\r\n"))
          ++failures;
        close(fd);
      }
    });
  for (auto& t : threads)
    t.join();
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(failures, 0);
  if (took > std::chrono::seconds(2))
    std::fprintf(stderr, "the burst took %.1f s\n", std::chrono::duration<double>(took).count());
  const auto lines = folder.WaitForRecords(expected.size());
  EXPECT_EQ(Counted(lines), Counted(expected));
  EXPECT_TRUE(folder.Errors().empty()) << testing::PrintToString(folder.Errors());
}

}  // namespace
}  // namespace collectortest
