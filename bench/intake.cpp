// bench_intake: how fast the collector takes agent records, measured against rsyslog on the same
// workload, and what its connections and its discovery reply cost.
//
// Each case starts a fresh collector (KelvadonService -FOREGROUND in a temporary program folder
// made from this program's own folder) and a fresh rsyslogd (a plain-TCP input writing every line
// as received to one file, on loopback, with its own temporary configuration), sends the same
// records to both and waits until every record is in the output file. Both run at nice 19, as the
// collector puts itself at idle priority. The benchmark raises its RLIMIT_NOFILE to the hard
// limit; both targets inherit it.
//
// A client that opens connections faster than they are accepted can overflow a listener's queue:
// the kernel drops the SYN and the client waits for its retransmission (1 s, then 3 s...). The
// idle case therefore opens its connections paced, no more while four wait in the accept queue
// (read through netlink's socket diagnostics), so that both targets are measured alike; then it
// opens some back to back against the collector, whose queue is as long as the system allows
// (net.core.somaxconn), and counts the overflows.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// ---- settings ----

struct Options {
  long records = 100000;  // per throughput case
  int manyConnections = 50;
  int idleConnections = 1000;
  int datagrams = 1000;
  bool rsyslog = true;
  std::string binDir;             // where KelvadonService and the lib*.so files are
  std::vector<std::string> wrap;  // a command the collector runs under (a profiler)
  std::string cases = "c1,cn,idle,discovery,rules";
};

constexpr int kFtpPort = 9021;            // fixed port of the collector's FTP server
constexpr int kPendingAccepts = 4;        // connections allowed to wait for their accept
constexpr int kUnpacedConnections = 400;  // opened back to back: the listen queue takes them
constexpr char kRecordHeader[] =
    "Date\tOperation\tHostName\tComment\tIPAddress\tUserName\tDriveName\tDeviceName\tFileName";

// Targets still running, stopped and removed by Fail.
class Target;
std::vector<Target*>& LiveTargets() {
  static std::vector<Target*> live;
  return live;
}

[[noreturn]] void Fail(const std::string& what);

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int stepMs = 5) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- process and system figures ----

// A "Vm...:" figure of /proc/<pid>/status in KiB, or -1.
long StatusKb(pid_t pid, const char* key) {
  std::ifstream s("/proc/" + std::to_string(pid) + "/status");
  const size_t keyLen = std::strlen(key);
  for (std::string line; std::getline(s, line);)
    if (line.compare(0, keyLen, key) == 0) return std::stol(line.substr(keyLen));
  return -1;
}

// The CPU time (user and system) the process has used so far, in seconds; -1 when unknown.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');  // the command name may hold blanks
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields 3 to 13 come first; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 13 && fields >> field; ++i) {
  }
  if (!(fields >> utime >> stime)) return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Connections waiting in the accept queue of the TCP listener on port (any address), read through
// the socket diagnostics of netlink; -1 when there is no such listener.
int AcceptQueue(int port) {
  static const int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  ask.request.sdiag_family = AF_INET;
  ask.request.sdiag_protocol = IPPROTO_TCP;
  ask.request.idiag_states = 1u << 10;  // TCP_LISTEN
  if (send(nl, &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask))
    Fail("netlink socket diagnostics are not available");
  int queue = -1;
  alignas(nlmsghdr) char buf[16384];
  for (;;) {
    ssize_t n = recv(nl, buf, sizeof buf, 0);
    if (n <= 0) Fail("netlink socket diagnostics failed");
    for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, n); h = NLMSG_NEXT(h, n)) {
      if (h->nlmsg_type == NLMSG_DONE) return queue;
      if (h->nlmsg_type == NLMSG_ERROR) Fail("netlink socket diagnostics refused");
      auto* m = static_cast<inet_diag_msg*>(NLMSG_DATA(h));
      if (ntohs(m->id.idiag_sport) == port) queue = static_cast<int>(m->idiag_rqueue);
    }
  }
}

// The system's ceiling on listen queues (net.core.somaxconn), or -1.
long SomaxConn() {
  std::ifstream in("/proc/sys/net/core/somaxconn");
  long n = -1;
  in >> n;
  return n;
}

// TcpExt ListenOverflows of /proc/net/netstat: SYNs and handshakes dropped because an accept
// queue was full (all listeners of the network namespace).
long ListenOverflows() {
  std::ifstream s("/proc/net/netstat");
  std::string names, values;
  while (std::getline(s, names) && std::getline(s, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    for (std::string name, value; n >> name && v >> value;)
      if (name == "ListenOverflows") return std::stol(value);
  }
  return -1;
}

void RaiseFileLimit() {
  rlimit r{};
  getrlimit(RLIMIT_NOFILE, &r);
  r.rlim_cur = r.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &r) != 0) Fail("cannot raise RLIMIT_NOFILE");
}

// ---- sockets ----

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int ConnectTcp(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A port free for TCP and UDP on every address right now.
int FreePort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(t, reinterpret_cast<sockaddr*>(&a), &len);
    int u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool udpFree = bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(u);
    close(t);
    if (udpFree && a.sin_port != 0) return ntohs(a.sin_port);
  }
  Fail("no free port");
}

bool TcpPortFree(int port) {
  int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(t, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(t);
  return ok;
}

// ---- workload ----

// Realistic agent records of about 150 bytes: nine tab-separated fields, every fourth one with
// Shift-JIS (CP932) text in its comment, user and file name. Each carries its number in the file
// name, so every record is distinct.
std::vector<std::string> MakeRecords(long count) {
  static const char* const kOperations[] = {"Insert", "Remove", "Copy", "Write"};
  static const char* const kJapanese[] = {
      "\x89\x63\x8b\xc6\x95\x94",                          // 営業部
      "\x8c\x6f\x97\x9d\x89\xdb\x82\xcc\x8e\x91\x97\xbf",  // 経理課の資料
      "\x90\xdd\x8c\x76\x90\x7d\x96\xca",                  // 設計図面
      "\x83\x5c\x83\x74\x83\x67\x95\x5c\x8e\xa6",          // ソフト表示 (trail bytes 0x5C)
      "\x94\x84\x8f\xe3\x95\xf1\x8d\x90\x8f\x91",          // 売上報告書
  };
  static const char kUserJa[] = "\x8e\x52\x93\x63\x91\xbe\x98\x59";  // 山田太郎
  std::vector<std::string> records;
  records.reserve(static_cast<size_t>(count));
  char buf[512];
  for (long i = 0; i < count; ++i) {
    const int host = static_cast<int>(i % 173);
    const bool ja = i % 4 == 0;
    const char* jp = kJapanese[i % 5];
    std::snprintf(buf, sizeof buf,
                  "2026/12/10 %02ld:%02ld:%02ld\t%s\tPC-%03d\t%s\t10.1.%d.%d\t%s%03d\tE:\t"
                  "USB DISK 2.0 SanBridge Cruzer\tE:\\%s\\%s-%08ld.xlsx",
                  (i / 3600) % 24, (i / 60) % 60, i % 60, kOperations[i % 4], host,
                  ja ? jp : "quarterly figures", host / 8, host, ja ? kUserJa : "user", host % 50,
                  ja ? jp : "Documents\\Reports", ja ? kJapanese[(i + 2) % 5] : "report", i);
    records.emplace_back(buf);
  }
  return records;
}

// ---- targets ----

// A program that takes records over TCP on loopback and writes them to files.
class Target {
 public:
  Target() { LiveTargets().push_back(this); }
  virtual ~Target() { std::erase(LiveTargets(), this); }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  virtual const char* Name() const = 0;
  // Starts the program and waits until it takes connections.
  virtual void Start() = 0;
  // Stops it and waits for it to end.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 15000, 20)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  pid_t Pid() const { return pid_; }
  int Port() const { return port_; }
  const std::string& Dir() const { return dir_; }
  // Record lines written so far (read incrementally; cheap to call often).
  virtual long Lines() = 0;
  // Every record line written, without its CR LF.
  virtual std::vector<std::string> Records() = 0;

 protected:
  // Runs argv in dir at nice 19, stdout and stderr to dir/output.log.
  void Spawn(const std::string& dir, const std::vector<std::string>& argv) {
    pid_ = fork();
    if (pid_ < 0) Fail("fork failed");
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      int fd = open((dir + "output.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      setpriority(PRIO_PROCESS, 0, 19);
      std::vector<char*> args;
      for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }

  void WaitAccepting(const std::string& dir) {
    if (!WaitFor(
            [&] {
              int fd = ConnectTcp(port_);
              if (fd < 0) return false;
              close(fd);
              return true;
            },
            10000, 20))
      Fail(std::string(Name()) + " did not start; see " + dir + "output.log");
  }

  // Counts LF bytes appended to path since the last call.
  struct Tail {
    std::string path;
    off_t offset = 0;
    long lines = 0;
    long Update() {
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return lines;
      char buf[1 << 16];
      for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, offset);
        if (n <= 0) break;
        offset += n;
        lines += std::count(buf, buf + n, '\n');
      }
      close(fd);
      return lines;
    }
  };

  static std::vector<std::string> SplitLines(const std::string& text, size_t from) {
    std::vector<std::string> lines;
    while (from < text.size()) {
      size_t end = text.find("\r\n", from);
      if (end == std::string::npos) {
        lines.push_back("<unterminated>" + text.substr(from));
        break;
      }
      lines.push_back(text.substr(from, end - from));
      from = end + 2;
    }
    return lines;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;  // the target's temporary folder, with a trailing "/"
};

void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_intake: %s\n", what.c_str());
  // Kept for a look at what went wrong; the programs are stopped.
  for (Target* t : LiveTargets()) {
    std::error_code ec;
    if (t->Pid() <= 0) {  // not running: nothing to look at
      fs::remove_all(t->Dir(), ec);
      continue;
    }
    t->Stop();
    std::fprintf(stderr, "bench_intake: %s's folder %s is left for inspection\n", t->Name(),
                 t->Dir().c_str());
  }
  std::exit(1);
}

// Mail settings with five alert rules that no record of the workload fires (each has a term the
// records hold and one they never do), so every record is checked against all five. The server
// is never reached.
constexpr char kNeverFiringRules[] =
    "[MailEnv]\r\nSmtpServer=127.0.0.1\r\nSmtpPort=1\r\nFromMail=bench@kelvadon.test\r\n"
    "ToMail=admin@kelvadon.test\r\n"
    "[Mail]\r\nWord1=Copy,never-1\r\nWord2=USB DISK never-2\r\nWord3=PC-001,,x\r\n"
    "Word4=\"report never-4\"\r\nWord5=xlsx,Insert,never-5\r\nBody=%Word%\t%SearchLine%\r\n";

// The collector in a temporary program folder (with the rules above when rules is set).
class Collector : public Target {
 public:
  Collector(const std::string& binDir, const std::vector<std::string>& wrap, bool rules = false)
      : wrap_(wrap) {
    char pattern[] = "/tmp/kwbench-collector-XXXXXX";
    if (!mkdtemp(pattern)) Fail("mkdtemp failed");
    dir_ = std::string(pattern) + "/";
    fs::copy_file(binDir + "KelvadonService", dir_ + "KelvadonService");
    for (const auto& e : fs::directory_iterator(binDir)) {
      const std::string name = e.path().filename();
      if (name.starts_with("lib") && name.ends_with(".so")) fs::copy_file(e.path(), dir_ + name);
    }
    fs::create_directory(dir_ + "RecvData");
    fs::create_directory(dir_ + "Log");
    port_ = FreePort();
    std::ofstream(dir_ + "KelvadonMan.ini", std::ios::binary)
        << "[KelvadonManager]\r\nPort=" << port_ << "\r\n"
        << (rules ? kNeverFiringRules : "");
  }
  ~Collector() override {
    Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const char* Name() const override { return "collector"; }

  void Start() override {
    // The collector's tests take the port now and then: wait for it a while.
    if (!TcpPortFree(kFtpPort)) {
      std::fprintf(stderr, "bench_intake: waiting for port 9021 (the collector's FTP port)\n");
      if (!WaitFor([] { return TcpPortFree(kFtpPort); }, 120000, 100))
        Fail(
            "port 9021 (the collector's FTP port) stays in use: are the collector's tests "
            "running?");
    }
    std::vector<std::string> argv = wrap_;
    argv.push_back(dir_ + "KelvadonService");
    argv.push_back("-FOREGROUND");
    Spawn(dir_, argv);
    WaitAccepting(dir_);
    // Running once "Service Started" is written.
    if (!WaitFor([&] { return Events().find("Service Started") != std::string::npos; }, 10000))
      Fail("the collector did not report its start; see " + dir_ + "output.log");
  }

  long Lines() override {
    // One day file normally; a run across midnight makes two, each with its header line.
    long lines = 0, files = 0;
    for (const auto& e : fs::directory_iterator(dir_ + "RecvData")) {
      auto& tail = tails_[e.path().string()];
      tail.path = e.path().string();
      lines += tail.Update();
      ++files;
    }
    return lines - files;
  }

  std::vector<std::string> Records() override {
    std::vector<std::string> all;
    const std::string header = std::string(kRecordHeader) + "\r\n";
    for (const auto& e : fs::directory_iterator(dir_ + "RecvData")) {
      const std::string text = ReadFile(e.path());
      if (text.compare(0, header.size(), header) != 0) {
        all.push_back("<no header>");
        continue;
      }
      for (auto& l : SplitLines(text, header.size()))
        all.push_back(std::move(l));
    }
    return all;
  }

  // The event files' text (an error event during a run means a record was lost).
  std::string Events() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(dir_ + "Log"))
      all += ReadFile(e.path());
    return all;
  }

 private:
  const std::vector<std::string> wrap_;
  std::map<std::string, Tail> tails_;
};

// rsyslogd with a plain-TCP input on loopback whose every line goes, as received, to one file.
class Rsyslog : public Target {
 public:
  Rsyslog() {
    char pattern[] = "/tmp/kwbench-rsyslog-XXXXXX";
    if (!mkdtemp(pattern)) Fail("mkdtemp failed");
    dir_ = std::string(pattern) + "/";
    fs::create_directory(dir_ + "work");
    port_ = FreePort();
    tail_.path = dir_ + "records.log";
    // Octet-counted framing off: a record begins with a digit, which would read as a frame length.
    // Control characters (TAB, CR) are kept, so each line is written exactly as it came.
    std::ofstream(dir_ + "rsyslog.conf")
        << "global(workDirectory=\"" << dir_ << "work\"\n"
        << "       parser.escapeControlCharactersOnReceive=\"off\" maxMessageSize=\"64k\")\n"
        << "module(load=\"imtcp\" maxSessions=\"4000\")\n"
        << "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")\n"
        << "ruleset(name=\"records\") {\n"
        << "  action(type=\"omfile\" file=\"" << tail_.path << "\" template=\"raw\")\n"
        << "}\n"
        << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << port_ << "\"\n"
        << "      ruleset=\"records\" supportOctetCountedFraming=\"off\")\n";
  }
  ~Rsyslog() override {
    Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const char* Name() const override { return "rsyslog"; }

  static std::string Program() {
    for (const char* p : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd"})
      if (access(p, X_OK) == 0) return p;
    return "";
  }

  void Start() override {
    Spawn(dir_, {Program(), "-n", "-f", dir_ + "rsyslog.conf", "-i", dir_ + "rsyslogd.pid"});
    WaitAccepting(dir_);
  }

  long Lines() override { return tail_.Update(); }

  std::vector<std::string> Records() override { return SplitLines(ReadFile(tail_.path), 0); }

 private:
  Tail tail_;
};

// ---- measurements ----

// Opens count connections to the target and waits until it has accepted them all. Paced: while
// kPendingAccepts connections wait in the accept queue, no more are opened. Returns the
// descriptors and the time it took.
std::vector<int> OpenConnections(Target& t, int count, bool paced, double* seconds) {
  std::vector<int> fds;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (paced) {
      const auto giveUp = Clock::now() + std::chrono::seconds(5);
      while (AcceptQueue(t.Port()) >= kPendingAccepts && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    int fd = ConnectTcp(t.Port());
    if (fd < 0) Fail(std::string("cannot connect to ") + t.Name());
    fds.push_back(fd);
  }
  if (!WaitFor([&] { return AcceptQueue(t.Port()) == 0; }, 30000, 1))
    Fail(std::string(t.Name()) + " did not accept every connection");
  if (seconds) *seconds = Seconds(Clock::now() - start);
  return fds;
}

struct Throughput {
  double recordsPerSecond = 0;
  long peakKb = 0;
  double cpuSeconds = 0;  // the target's CPU time over its whole run (start included)
};

// Every record exactly once, whole, on its own line.
void Verify(Target& t, const std::vector<std::string>& records) {
  std::unordered_map<std::string, int> seen;
  seen.reserve(records.size());
  for (const auto& r : records)
    seen.emplace(r, 0);
  long strange = 0;
  for (const auto& line : t.Records()) {
    auto it = seen.find(line);
    if (it == seen.end())
      ++strange;
    else
      ++it->second;
  }
  long missing = 0, doubled = 0;
  for (const auto& [r, n] : seen) {
    if (n == 0) ++missing;
    if (n > 1) ++doubled;
  }
  if (strange || missing || doubled)
    Fail(std::string(t.Name()) + ": " + std::to_string(missing) + " records missing, " +
         std::to_string(doubled) + " doubled, " + std::to_string(strange) + " unknown lines");
}

Throughput RunThroughput(Target& t, const std::vector<std::string>& records, int connections) {
  t.Start();
  std::vector<int> fds = OpenConnections(t, connections, true, nullptr);
  // Connection c sends records c, c + C, c + 2C..., all in one buffer.
  std::vector<std::string> payload(static_cast<size_t>(connections));
  for (size_t i = 0; i < records.size(); ++i) {
    auto& p = payload[i % static_cast<size_t>(connections)];
    p += records[i];
    p += "\r\n";
  }
  std::latch go(1);
  std::atomic<bool> sendFailed{false};
  std::vector<std::thread> senders;
  for (int c = 0; c < connections; ++c)
    senders.emplace_back([&, c] {
      go.wait();
      if (!SendAll(fds[c], payload[c].data(), payload[c].size())) sendFailed = true;
    });
  const long expected = static_cast<long>(records.size());
  const auto start = Clock::now();
  go.count_down();
  const int timeoutMs = 60000 + static_cast<int>(expected / 100);
  const bool done = WaitFor([&] { return t.Lines() >= expected; }, timeoutMs, 2);
  const auto elapsed = Clock::now() - start;
  for (auto& s : senders)
    s.join();
  if (sendFailed) Fail(std::string("sending to ") + t.Name() + " failed");
  if (!done)
    Fail(std::string(t.Name()) + " wrote " + std::to_string(t.Lines()) + " of " +
         std::to_string(expected) + " records");
  Throughput r;
  r.recordsPerSecond = static_cast<double>(expected) / Seconds(elapsed);
  r.peakKb = StatusKb(t.Pid(), "VmHWM:");
  r.cpuSeconds = CpuSeconds(t.Pid());
  for (int fd : fds)
    close(fd);
  Verify(t, records);
  t.Stop();
  return r;
}

struct Idle {
  long baseKb = 0;  // resident after start
  long withKb = 0;  // resident with the idle connections open
  long peakKb = 0;
  double openSeconds = 0;
  long overflows = 0;  // listen-queue overflows while opening
};

Idle RunIdle(Target& t, int count, bool paced) {
  t.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Idle r;
  r.baseKb = StatusKb(t.Pid(), "VmRSS:");
  const long overflowsBefore = ListenOverflows();
  std::vector<int> fds = OpenConnections(t, count, paced, &r.openSeconds);
  r.overflows = ListenOverflows() - overflowsBefore;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  r.withKb = StatusKb(t.Pid(), "VmRSS:");
  r.peakKb = StatusKb(t.Pid(), "VmHWM:");
  for (int fd : fds)
    close(fd);
  t.Stop();
  return r;
}

struct Discovery {
  double medianUs = 0, p99Us = 0;
  int lost = 0;
};

Discovery RunDiscovery(Target& t, int count) {
  t.Start();
  static const char kQuestion[] = "Are You Kelvadon Manager?";
  static const char kAnswer[] = "Yes I am Kelvadon Manager.";
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to = Loopback(t.Port());
  std::vector<double> us;
  Discovery r;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    sendto(fd, kQuestion, sizeof kQuestion - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    char buf[64];
    ssize_t n = -1;
    if (poll(&p, 1, 1000) == 1) n = recv(fd, buf, sizeof buf, 0);
    if (n != static_cast<ssize_t>(sizeof kAnswer - 1) || std::memcmp(buf, kAnswer, n) != 0) {
      ++r.lost;
      continue;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  close(fd);
  t.Stop();
  if (us.empty()) return r;
  std::sort(us.begin(), us.end());
  r.medianUs = us[us.size() / 2];
  r.p99Us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return r;
}

// ---- output ----

// The most the collector's one rule allows: every record opened, appended (one write of the line
// and its CR LF) and closed, from memory, on one thread, at nice 19 as the collector runs, into a
// path of the same shape as the collector's day file (a temporary folder in /tmp, "RecvData/",
// the day's name). Records per second.
double PerRecordLimit(const std::vector<std::string>& records) {
  char pattern[] = "/tmp/kwbench-limit-XXXXXX";
  if (!mkdtemp(pattern)) Fail("mkdtemp failed");
  const std::string folder = std::string(pattern) + "/RecvData/";
  fs::create_directory(folder);
  char day[16];
  const time_t now = time(nullptr);
  tm local{};
  strftime(day, sizeof day, "%Y%m%d.log", localtime_r(&now, &local));
  const std::string file = folder + day;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) Fail("pipe failed");
  const pid_t child = fork();
  if (child < 0) Fail("fork failed");
  if (child == 0) {
    setpriority(PRIO_PROCESS, 0, 19);
    std::string line;
    const auto start = Clock::now();
    for (const auto& r : records) {
      line.assign(r).append("\r\n");
      const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        _exit(1);
      close(fd);
    }
    const double seconds = Seconds(Clock::now() - start);
    _exit(write(pipeFds[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
  }
  close(pipeFds[1]);
  double seconds = 0;
  const bool got = read(pipeFds[0], &seconds, sizeof seconds) == sizeof seconds;
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::error_code ec;
  fs::remove_all(pattern, ec);
  if (!got || status != 0) Fail("the per-record loop could not write " + file);
  return static_cast<double>(records.size()) / seconds;
}

std::string Rate(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.0f", v);
  return b;
}

std::string Mib(long kb) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f MiB", static_cast<double>(kb) / 1024.0);
  return b;
}

std::string Ratio(double a, double b) {
  if (b <= 0) return "-";
  char s[32];
  std::snprintf(s, sizeof s, "%.2f", a / b);
  return s;
}

void Row(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
         const std::string& e, const std::string& f) {
  std::printf("%-22s %14s %14s %10s %16s %16s\n", a.c_str(), b.c_str(), c.c_str(), d.c_str(),
              e.c_str(), f.c_str());
}

std::string ThisFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) Fail("cannot read /proc/self/exe");
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

void Usage() {
  std::fprintf(stderr,
               "usage: bench_intake [--records N] [--connections C] [--idle N] [--datagrams N]\n"
               "                    [--cases c1,cn,idle,discovery,rules] [--no-rsyslog]\n"
               "                    [--wrap \"COMMAND ARGS\"] [--bin DIR]\n");
  std::exit(2);
}

std::vector<std::string> Words(const std::string& text, char separator) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; std::getline(in, w, separator);)
    if (!w.empty()) words.push_back(w);
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.binDir = ThisFolder();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (a == "--records")
      o.records = std::stol(next());
    else if (a == "--connections")
      o.manyConnections = std::stoi(next());
    else if (a == "--idle")
      o.idleConnections = std::stoi(next());
    else if (a == "--datagrams")
      o.datagrams = std::stoi(next());
    else if (a == "--cases")
      o.cases = next();
    else if (a == "--no-rsyslog")
      o.rsyslog = false;
    else if (a == "--wrap")
      o.wrap = Words(next(), ' ');
    else if (a == "--bin")
      o.binDir = next() + "/";
    else
      Usage();
  }
  if (o.records < 1 || o.manyConnections < 1 || o.idleConnections < 1 || o.datagrams < 1) Usage();
  auto wanted = [&](const char* name) {
    for (const auto& c : Words(o.cases, ','))
      if (c == name) return true;
    return false;
  };
  if (access((o.binDir + "KelvadonService").c_str(), X_OK) != 0)
    Fail("no KelvadonService in " + o.binDir + " (build it, or give --bin)");
  if (o.rsyslog && Rsyslog::Program().empty())
    Fail("rsyslogd is not installed (scripts/setup installs it; or give --no-rsyslog)");
  signal(SIGPIPE, SIG_IGN);
  RaiseFileLimit();

  const auto records = MakeRecords(o.records);
  size_t bytes = 0;
  for (const auto& r : records)
    bytes += r.size() + 2;
  std::printf(
      "bench_intake: %ld records per case, %.0f bytes per line on average, "
      "every 4th with Shift-JIS text\n\n",
      o.records, static_cast<double>(bytes) / static_cast<double>(records.size()));

  std::vector<std::pair<int, double>> rates;  // connections, collector's records/s
  Row("case", "collector", "rsyslog", "ratio", "collector peak", "rsyslog peak");
  Row("", "records/s", "records/s", "col/rsys", "RSS", "RSS");
  for (int connections : {1, o.manyConnections}) {
    if (!wanted(connections == 1 ? "c1" : "cn")) continue;
    Throughput c, r;
    {
      Collector t(o.binDir, o.wrap);
      c = RunThroughput(t, records, connections);
    }
    if (o.rsyslog) {
      Rsyslog t;
      r = RunThroughput(t, records, connections);
    }
    Row("C=" + std::to_string(connections), Rate(c.recordsPerSecond),
        o.rsyslog ? Rate(r.recordsPerSecond) : "-", Ratio(c.recordsPerSecond, r.recordsPerSecond),
        Mib(c.peakKb), o.rsyslog ? Mib(r.peakKb) : "-");
    rates.emplace_back(connections, c.recordsPerSecond);
  }
  if (!rates.empty()) {
    const double limit = PerRecordLimit(records);
    std::printf(
        "per-record limit (open, append, close of each line from memory): %s records/s; "
        "the collector at",
        Rate(limit).c_str());
    const char* separator = " ";
    for (const auto& [connections, rate] : rates) {
      std::printf("%s%s of it with C=%d", separator, Ratio(rate, limit).c_str(), connections);
      separator = ", ";
    }
    std::printf("\n");
  }

  Idle ci, ri, cu;
  const int unpaced = std::min(o.idleConnections, kUnpacedConnections);
  if (wanted("idle")) {
    {
      Collector t(o.binDir, o.wrap);
      ci = RunIdle(t, o.idleConnections, true);
    }
    if (o.rsyslog) {
      Rsyslog t;
      ri = RunIdle(t, o.idleConnections, true);
    }
    auto perConnection = [&](const Idle& i) {
      char b[64];
      std::snprintf(b, sizeof b, "+%.1f KiB/conn",
                    static_cast<double>(i.withKb - i.baseKb) / o.idleConnections);
      return std::string(b);
    };
    Row(std::to_string(o.idleConnections) + " idle conns", perConnection(ci),
        o.rsyslog ? perConnection(ri) : "-",
        Ratio(static_cast<double>(ci.withKb - ci.baseKb),
              static_cast<double>(ri.withKb - ri.baseKb)),
        Mib(ci.peakKb), o.rsyslog ? Mib(ri.peakKb) : "-");
    // Connections opened back to back.
    Collector t(o.binDir, o.wrap);
    cu = RunIdle(t, unpaced, false);
  }

  if (wanted("rules")) {
    // Both on one connection, each with a fresh collector: without rules, then with five.
    Throughput plain, ruled;
    {
      Collector t(o.binDir, o.wrap);
      plain = RunThroughput(t, records, 1);
    }
    {
      Collector t(o.binDir, o.wrap, true);
      ruled = RunThroughput(t, records, 1);
      if (t.Events().find("System Error") != std::string::npos)
        Fail("the collector wrote an error event with five rules; see its Log folder");
    }
    // The CPU time per record does not move with the machine's other load as the rate does.
    const double n = static_cast<double>(records.size());
    std::printf(
        "\nC=1 with five alert rules that never fire: %s records/s, without rules %s records/s "
        "(ratio %s); CPU per record %.1f us with the rules, %.1f us without (ratio %s)\n",
        Rate(ruled.recordsPerSecond).c_str(), Rate(plain.recordsPerSecond).c_str(),
        Ratio(ruled.recordsPerSecond, plain.recordsPerSecond).c_str(), ruled.cpuSeconds / n * 1e6,
        plain.cpuSeconds / n * 1e6, Ratio(plain.cpuSeconds, ruled.cpuSeconds).c_str());
  }

  Discovery d;
  if (wanted("discovery")) {
    Collector t(o.binDir, o.wrap);
    d = RunDiscovery(t, o.datagrams);
    std::printf(
        "\ndiscovery round trip (%d datagrams): median %.0f us, 99th percentile %.0f us, "
        "%d unanswered\n",
        o.datagrams, d.medianUs, d.p99Us, d.lost);
  }
  if (wanted("idle"))
    std::printf(
        "opening connections to the collector (listen queue %ld): %d paced in %.2f s "
        "with %ld listen-queue overflows; %d back to back in %.2f s with %ld overflows "
        "(each costs a 1 s SYN retransmission)\n",
        SomaxConn(), o.idleConnections, ci.openSeconds, ci.overflows, unpaced, cu.openSeconds,
        cu.overflows);
  if (wanted("c1") || wanted("cn"))
    std::printf("every record of every case was found exactly once, whole, on its own line\n");
  return 0;
}
