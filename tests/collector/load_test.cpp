// The collector under load, against bad agents and with its record folder failing: every record
// that reaches it is written exactly once, whole, on its own line; nothing it does for one agent
// stops it serving the others; a record it cannot write becomes an error event, and it takes
// records again once it can.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <latch>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/collector/program_folder.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::ConnectTcp;
using testsupport::SendAll;
using testsupport::WaitFor;

namespace fs = std::filesystem;

// Shift-JIS text as agents send it: "ソフト表示" (both "ソ" and "表" end in the byte 0x5C) and
// "営業部".
const std::string kSoftware = "\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6";
const std::string kSales = "\x89\x63\x8B\xC6\x95\x94";

// A realistic record of agent a, number n: nine tab-separated fields, about 150 bytes.
std::string AgentRecord(const std::string& agent, int n) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "2026/12/10 10:%02d:%02d\t%s\tPC-%s\t%s\t10.0.0.%d\tuser\tE:\tUSB DISK 2.0\t"
                "E:\\%s\\%s-%05d.xlsx",
                n / 60 % 60, n % 60, n % 3 ? "Insert" : "Copy", agent.c_str(),
                n % 2 ? kSoftware.c_str() : "figures", n % 250, kSales.c_str(), agent.c_str(), n);
  return buf;
}

// Field i (from 0) of a tab-separated record.
std::string Field(const std::string& record, int i) {
  std::istringstream in(record);
  std::string f;
  for (int k = 0; k <= i; ++k)
    std::getline(in, f, '\t');
  return f;
}

// Sends bytes in pieces of changing sizes, so lines cross segment and read boundaries.
bool SendInPieces(int fd, const std::string& bytes) {
  static const size_t kSizes[] = {1, 7, 150, 333, 1024, 4096, 2};
  size_t off = 0;
  for (int k = 0; off < bytes.size(); ++k) {
    const size_t n = std::min(kSizes[k % 7], bytes.size() - off);
    if (!SendAll(fd, bytes.substr(off, n))) return false;
    off += n;
  }
  return true;
}

// One line of /proc/net/tcp.
struct TcpEntry {
  int localPort, remotePort;
  unsigned state;  // 0x0A: listening
  long rxQueue;    // bytes received and not yet read
};

std::vector<TcpEntry> TcpEntries() {
  std::vector<TcpEntry> entries;
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    unsigned local, localPort, remote, remotePort, state;
    unsigned long txQueue, rxQueue;
    if (std::sscanf(line.c_str(), " %*d: %8X:%4X %8X:%4X %2X %8lX:%8lX", &local, &localPort,
                    &remote, &remotePort, &state, &txQueue, &rxQueue) == 7)
      entries.push_back({static_cast<int>(localPort), static_cast<int>(remotePort), state,
                         static_cast<long>(rxQueue)});
  }
  return entries;
}

// Bytes of the connection from 127.0.0.1:clientPort to the collector's port that the collector
// has not read yet; -1 when the connection is not listed.
long UnreadBytes(int serverPort, int clientPort) {
  for (const TcpEntry& e : TcpEntries())
    if (e.localPort == serverPort && e.remotePort == clientPort) return e.rxQueue;
  return -1;
}

// The collector's agent connections that it has not closed yet: once there is none, it has read
// and stored everything the agents sent.
int OpenAgentConnections(int serverPort) {
  int n = 0;
  for (const TcpEntry& e : TcpEntries())
    n += e.localPort == serverPort && e.state != 0x0A;
  return n;
}

int LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Agents that keep their connections open across a bad agent's act: each sends the first half of
// its records, and the second half once Resume is called.
class GoodAgents {
 public:
  GoodAgents(int port, int agents, int records) : halfSent_(agents) {
    std::shared_future<void> resume = resume_.get_future().share();
    for (int a = 0; a < agents; ++a) {
      const std::string name = "good" + std::to_string(a);
      std::string first, second;
      for (int n = 0; n < records; ++n) {
        const std::string r = AgentRecord(name, n);
        expected_.push_back(r);
        (n < records / 2 ? first : second) += r + "\r\n";
      }
      threads_.emplace_back([this, port, first, second, resume] {
        int fd = ConnectTcp(port);
        bool ok = fd >= 0 && SendInPieces(fd, first);
        halfSent_.count_down();
        resume.wait();
        ok = ok && SendInPieces(fd, second);
        if (!ok) failed_ = true;
        if (fd >= 0) close(fd);
      });
    }
    halfSent_.wait();
  }
  ~GoodAgents() { Finish(); }

  // Lets the agents send their second halves and waits until they have sent them and closed.
  void Finish() {
    if (threads_.empty()) return;
    resume_.set_value();
    for (auto& t : threads_)
      t.join();
    threads_.clear();
  }
  bool Failed() const { return failed_; }
  const std::vector<std::string>& Expected() const { return expected_; }

 private:
  std::latch halfSent_;
  std::promise<void> resume_;
  std::vector<std::thread> threads_;
  std::vector<std::string> expected_;
  std::atomic<bool> failed_{false};
};

class CollectorLoad : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log"); }

  void TearDown() override {
    // No crash: the collector is still running, and stops cleanly.
    if (folder.Pid() > 0) {
      EXPECT_EQ(waitpid(folder.Pid(), nullptr, WNOHANG), 0);
    }
    const int status = folder.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n"
                                                               << folder.Read("stderr.log");
  }

  ProgramFolder folder;
};

TEST_F(CollectorLoad, TwentyAgentsAtOnceEveryRecordExactlyOnceWholeAndInOrder) {
  constexpr int kAgents = 20, kRecords = 500;
  std::vector<std::string> payload(kAgents);
  std::vector<std::string> expected;
  for (int a = 0; a < kAgents; ++a)
    for (int n = 0; n < kRecords; ++n) {
      expected.push_back(AgentRecord("a" + std::to_string(a), n));
      payload[a] += expected.back() + "\r\n";
    }
  // Every connection is open before any record goes, so all twenty send at once.
  std::vector<int> fds;
  for (int a = 0; a < kAgents; ++a) {
    fds.push_back(ConnectTcp(folder.Port()));
    ASSERT_GE(fds.back(), 0);
  }
  std::latch go(1);
  std::vector<std::thread> agents;
  std::atomic<int> failures{0};
  for (int a = 0; a < kAgents; ++a)
    agents.emplace_back([&, a] {
      go.wait();
      if (!SendInPieces(fds[a], payload[a])) ++failures;
      close(fds[a]);
    });
  go.count_down();
  for (auto& t : agents)
    t.join();
  ASSERT_EQ(failures, 0);

  const auto lines = folder.WaitForRecords(expected.size(), 60000);
  ASSERT_EQ(lines.size(), expected.size());
  EXPECT_EQ(Counted(lines), Counted(expected));
  // Each agent's records keep the order they were sent in.
  std::map<std::string, int> next;
  for (const auto& l : lines) {
    const std::string agent = Field(l, 2).substr(3);  // "PC-" agent
    EXPECT_EQ(l, AgentRecord(agent, next[agent]++)) << "out of order for " << agent;
  }
  EXPECT_TRUE(folder.Errors().empty());
}

// A bad agent acts while good agents are half-way through their records.
struct BadAgent {
  const char* name;
  // Runs the agent against the collector's port.
  std::function<void(int port)> act;
  // The records its act leaves in the record file, in order.
  std::vector<std::string> records;
  // Error events its act causes.
  std::vector<std::string> errors;
};

void PrintTo(const BadAgent& b, std::ostream* os) {
  *os << b.name;
}

// Sends bytes and waits until the collector has read every one of them from its socket.
void SendAndWaitRead(int fd, int port, const std::string& bytes) {
  ASSERT_TRUE(SendAll(fd, bytes));
  ASSERT_TRUE(WaitFor([&] { return UnreadBytes(port, LocalPort(fd)) == 0; }));
}

const std::string kLeak = "LEAK-PAST-NUL";

const BadAgent kBadAgents[] = {
    {"DisconnectsMidLine",
     [](int port) {
       int fd = ConnectTcp(port);
       SendAndWaitRead(fd, port, "bad\twhole\r\nbad\tcut off by the close");
       close(fd);
     },
     {"bad\twhole", "bad\tcut off by the close"},
     {}},
    {"ResetsMidLine",
     [](int port) {
       int fd = ConnectTcp(port);
       SendAndWaitRead(fd, port, "bad\twhole\r\nbad\tcut off by the reset");
       linger reset{1, 0};
       setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
       close(fd);
     },
     {"bad\twhole", "bad\tcut off by the reset"},
     {}},
    {"SendsA70000ByteLine",
     [](int port) {
       int fd = ConnectTcp(port);
       const std::string over = "bad\t" + std::string(70000 - 4, 'x');
       SendInPieces(fd, "bad\tbefore\r\n" + over + "\r\nbad\tafter\r\n");
       close(fd);
     },
     {"bad\tbefore", "bad\tafter"},
     {"ClientDataAvailable System Error ESocketException : line over 65536 bytes dropped"}},
    {"SendsBinaryBytesAndNuls",
     [](int port) {
       int fd = ConnectTcp(port);
       std::string bytes;
       bytes += std::string("bin\x01\x02\x1B\x7F\x80\xFE\xFF\t", 11) + '\0' + kLeak + "\r\n";
       bytes += '\0' + kLeak + "\r\n";
       bytes += std::string("\x83", 1) + '\0' + kLeak + '\0' + "\r\n";  // a lead byte, then NUL
       bytes += "bin\tafter\r\n";
       SendInPieces(fd, bytes);
       close(fd);
     },
     {std::string("bin\x01\x02\x1B\x7F\x80\xFE\xFF\t", 11), "", "\x83", "bin\tafter"},
     {}},
};

class BadAgents : public CollectorLoad, public ::testing::WithParamInterface<BadAgent> {};

TEST_P(BadAgents, OthersGoOnBeingServed) {
  const BadAgent& bad = GetParam();
  GoodAgents good(folder.Port(), 5, 200);
  bad.act(folder.Port());
  good.Finish();
  ASSERT_FALSE(good.Failed());

  std::vector<std::string> expected = good.Expected();
  expected.insert(expected.end(), bad.records.begin(), bad.records.end());
  folder.WaitForRecords(expected.size());
  // Every agent has closed; once the collector has closed its side of each, a wrong extra line
  // would be in the file.
  EXPECT_TRUE(WaitFor([&] { return OpenAgentConnections(folder.Port()) == 0; }));
  EXPECT_EQ(Counted(folder.Records()), Counted(expected));
  // The bad agent's own records, in order.
  const auto badOnes = Counted(bad.records);
  std::vector<std::string> own;
  for (const auto& l : folder.Records())
    if (badOnes.count(l)) own.push_back(l);
  EXPECT_EQ(own, bad.records);
  EXPECT_EQ(folder.Read(ProgramFolder::TodayRecords()).find(kLeak), std::string::npos);
  EXPECT_EQ(folder.Errors(), bad.errors);
}

INSTANTIATE_TEST_SUITE_P(Collector, BadAgents, ::testing::ValuesIn(kBadAgents),
                         [](const auto& info) { return std::string(info.param.name); });

// Sends records over one connection; returns their texts.
std::vector<std::string> SendRecords(int fd, const std::string& prefix, int count, size_t width) {
  std::vector<std::string> sent;
  std::string bytes;
  for (int n = 0; n < count; ++n) {
    std::string r = prefix + std::to_string(n) + "\t";
    r.resize(width, 'r');
    sent.push_back(r);
    bytes += r + "\r\n";
  }
  EXPECT_TRUE(SendAll(fd, bytes));
  return sent;
}

TEST_F(CollectorLoad, RecordFolderRemovedWhileRunning) {
  int fd = ConnectTcp(folder.Port());
  ASSERT_GE(fd, 0);
  SendRecords(fd, "before", 10, 100);
  ASSERT_EQ(folder.WaitForRecords(10).size(), 10u);

  fs::remove_all(folder.Dir() + "RecvData");
  SendRecords(fd, "lost", 5, 100);
  // Each record it cannot write is one error event.
  const std::string error = "EventWrite System Error EInOutError : Path not found";
  ASSERT_TRUE(WaitFor([&] { return folder.Errors().size() >= 5; })) << folder.Errors().size();
  EXPECT_EQ(folder.Errors(), std::vector<std::string>(5, error));

  // Back: a new day file with its header, and the records sent from then on.
  fs::create_directory(folder.Dir() + "RecvData");
  auto after = SendRecords(fd, "after", 10, 100);
  EXPECT_EQ(folder.WaitForRecords(10), after);
  close(fd);
  EXPECT_EQ(folder.Errors().size(), 5u);
}

// The record folder full, by a file-size limit on the collector or by a small file system
// mounted on it; "room" lifts the limit or grows the file system.
struct Filler {
  const char* name;
  // Makes RecvData/ of the running collector hold at most kCapacity bytes; false when this
  // machine cannot (the test is skipped).
  std::function<bool(const ProgramFolder&)> fill;
  std::function<void(const ProgramFolder&)> makeRoom;
  std::function<void(const ProgramFolder&)> cleanUp;
  bool exactCapacity;  // whether every byte up to the capacity can be used
};

void PrintTo(const Filler& f, std::ostream* os) {
  *os << f.name;
}

constexpr long kCapacity = 16384;

const Filler kFillers[] = {
    {"FileSizeLimit",
     [](const ProgramFolder& f) {
       // The collector was started with SIGXFSZ ignored: the write fails with EFBIG instead.
       rlimit limit{static_cast<rlim_t>(kCapacity), RLIM_INFINITY};
       return prlimit(f.Pid(), RLIMIT_FSIZE, &limit, nullptr) == 0;
     },
     [](const ProgramFolder& f) {
       rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
       prlimit(f.Pid(), RLIMIT_FSIZE, &limit, nullptr);
     },
     [](const ProgramFolder&) {}, true},
    {"SmallFileSystem",
     [](const ProgramFolder& f) {
       return mount("tmpfs", (f.Dir() + "RecvData").c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=16k,mode=0755") == 0;
     },
     [](const ProgramFolder& f) {
       mount(nullptr, (f.Dir() + "RecvData").c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV,
             "size=1m,mode=0755");
     },
     [](const ProgramFolder& f) { umount2((f.Dir() + "RecvData").c_str(), MNT_DETACH); }, false},
};

class DiskFull : public CollectorLoad, public ::testing::WithParamInterface<Filler> {
 protected:
  void SetUp() override {
    // An ignored signal stays ignored across exec: the collector inherits it.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    CollectorLoad::SetUp();
    sigaction(SIGXFSZ, &old, nullptr);
  }
  void TearDown() override {
    CollectorLoad::TearDown();
    GetParam().cleanUp(folder);
  }
};

TEST_P(DiskFull, ErrorEventsNoHalfLineAndIntakeResumes) {
  const Filler& filler = GetParam();
  if (!filler.fill(folder)) GTEST_SKIP() << filler.name << " is not possible here";
  constexpr size_t kWidth = 100;  // every line kWidth + 2 bytes: once one does not fit, none does
  int fd = ConnectTcp(folder.Port());
  ASSERT_GE(fd, 0);
  const auto sent = SendRecords(fd, "full", 200, kWidth);
  // Every record is either written or one error event.
  std::vector<std::string> lines;
  ASSERT_TRUE(WaitFor([&] {
    lines = folder.Records();
    return lines.size() + folder.Errors().size() >= sent.size();
  })) << lines.size()
      << " + " << folder.Errors().size();
  ASSERT_GT(lines.size(), 0u);
  ASSERT_LT(lines.size(), sent.size());
  // The records that fitted, whole, in the order sent; none after the first that did not.
  EXPECT_EQ(lines, std::vector<std::string>(sent.begin(), sent.begin() + lines.size()));
  const std::string file = folder.Read(ProgramFolder::TodayRecords());
  EXPECT_EQ(file.size(), 82 + lines.size() * (kWidth + 2)) << "a half line was left";
  if (filler.exactCapacity) {
    EXPECT_LE(static_cast<long>(file.size()), kCapacity);
    EXPECT_GT(static_cast<long>(file.size() + kWidth + 2), kCapacity);
  }
  EXPECT_EQ(folder.Errors(),
            std::vector<std::string>(sent.size() - lines.size(),
                                     "EventWrite System Error EInOutError : Disk full"));

  filler.makeRoom(folder);
  const auto more = SendRecords(fd, "room", 20, kWidth);
  close(fd);
  std::vector<std::string> expected = lines;
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(folder.WaitForRecords(expected.size()), expected);
  EXPECT_EQ(folder.Errors().size(), sent.size() - lines.size());
}

INSTANTIATE_TEST_SUITE_P(Collector, DiskFull, ::testing::ValuesIn(kFillers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace collectortest
