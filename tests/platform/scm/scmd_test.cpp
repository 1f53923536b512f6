// scmd as a process, spoken to over its socket in the raw protocol: the service table, its
// persistence, the database lock, access by caller, and starts that never reach a dispatcher.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/scm/access.h"
#include "platform/scm/client.h"
#include "platform/scm/output.h"
#include "platform/scm/protocol.h"
#include "tests/support/netns.h"
#include "tests/support/scmd.h"

namespace scm {
namespace {

// A raw client: one connection, one request at a time.
class RawClient {
 public:
  explicit RawClient(const std::string& dir) {
    uint32_t err;
    c_ = Connection::Open(dir, &err);
    if (!c_) throw std::runtime_error("cannot connect: " + std::to_string(err));
  }

  // Sends a request and returns the reply's error; `rest` reads what follows it.
  uint32_t Call(const Writer& w, std::string* rest = nullptr) {
    std::string reply;
    if (!c_->Call(w.Payload(), reply)) return 0xDEAD;
    Reader r(reply);
    uint32_t err = 0xBAD;
    r.U32(err);
    if (rest) *rest = reply.substr(4);
    return err;
  }

  // Calls that answer with a handle: {error, handle}.
  std::pair<uint32_t, uint32_t> WithHandle(const Writer& w) {
    std::string rest;
    uint32_t err = Call(w, &rest), h = 0;
    if (!err) Reader(rest).U32(h);
    return {err, h};
  }

  std::pair<uint32_t, uint32_t> OpenManager(uint32_t access) {
    return WithHandle(Request(Op::kOpenManager).U32(access));
  }
  std::pair<uint32_t, uint32_t> OpenService(uint32_t manager, const std::string& name,
                                            uint32_t access) {
    return WithHandle(Request(Op::kOpenService).U32(manager).Str(name).U32(access));
  }
  std::pair<uint32_t, uint32_t> Create(uint32_t manager, const ServiceConfig& c,
                                       const std::string& password = "") {
    return WithHandle(
        Request(Op::kCreateService).U32(manager).U32(kServiceAllAccess).Config(c).Str(password));
  }
  uint32_t Start(uint32_t service) {
    return Call(Request(Op::kStartService).U32(service).Strs({}));
  }
  ServiceStatus Status(uint32_t service) {
    std::string rest;
    ServiceStatus s;
    if (Call(Request(Op::kQueryStatus).U32(service), &rest) == 0) Reader(rest).Status(s);
    return s;
  }
  Connection& connection() { return *c_; }

 private:
  std::unique_ptr<Connection> c_;
};

ServiceConfig Config(const std::string& name, const std::string& path) {
  ServiceConfig c;
  c.name = name;
  c.binaryPathName = path;
  return c;
}

// The start time-out of these tests' scmd: the sleeper below waits for it, and a program that
// ends at once must end well within it on a loaded machine.
constexpr char kStartTimeoutSeconds[] = "10";

class ScmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scmd_ = std::make_unique<testsupport::Scmd>(
        SCMD_PATH, dir_.path(),
        std::vector<std::pair<std::string, std::string>>{{kEnvStartTimeout, kStartTimeoutSeconds}});
    ASSERT_TRUE(scmd_->Start()) << scmd_->Log();
  }
  void TearDown() override {
    scmd_->Stop();
    if (HasFailure()) std::cerr << scmd_->Log();
  }

  testsupport::TempDir dir_{"kwscm", 0755};
  std::unique_ptr<testsupport::Scmd> scmd_;
};

TEST_F(ScmdTest, ServicesAreFoundInAnyCaseAndOutliveARestartOfScmd) {
  RawClient c(dir_.path());
  auto [err, m] = c.OpenManager(kManagerAllAccess);
  ASSERT_EQ(err, 0u);
  ServiceConfig config = Config("Kelvadon", "/opt/k/KelvadonService -x");
  config.startType = kDemandStart;
  auto [cerr, s] = c.Create(m, config);
  ASSERT_EQ(cerr, 0u);
  Writer change = Request(Op::kChangeDescription).U32(s).OptStr(std::string("desc"));
  ASSERT_EQ(c.Call(change), 0u);

  scmd_->Stop();
  ASSERT_TRUE(scmd_->Start());
  RawClient again(dir_.path());
  auto [err2, m2] = again.OpenManager(kManagerConnect);
  ASSERT_EQ(err2, 0u);
  auto [oerr, s2] = again.OpenService(m2, "KELVADON", kServiceQueryConfig | kServiceQueryStatus);
  ASSERT_EQ(oerr, 0u);
  std::string rest;
  ASSERT_EQ(again.Call(Request(Op::kQueryConfig).U32(s2), &rest), 0u);
  ServiceConfig back;
  ASSERT_TRUE(Reader(rest).Config(back));
  EXPECT_EQ(back.name, "Kelvadon");
  EXPECT_EQ(back.displayName, "Kelvadon");  // defaults to the name
  EXPECT_EQ(back.serviceStartName, "LocalSystem");
  EXPECT_EQ(back.binaryPathName, "/opt/k/KelvadonService -x");
  ASSERT_EQ(again.Call(Request(Op::kQueryDescription).U32(s2), &rest), 0u);
  std::optional<std::string> desc;
  ASSERT_TRUE(Reader(rest).OptStr(desc, 100));
  EXPECT_EQ(desc, std::optional<std::string>("desc"));
  EXPECT_EQ(again.Status(s2).currentState, kServiceStopped);
}

TEST_F(ScmdTest, RequestsAreRefusedWithTheirWin32Codes) {
  RawClient c(dir_.path());
  const uint32_t m = c.OpenManager(kManagerAllAccess).second;
  ASSERT_EQ(c.Create(m, Config("one", "/bin/true")).first, 0u);
  ServiceConfig disabled = Config("off", "/bin/true");
  disabled.startType = kDisabled;
  const uint32_t off = c.Create(m, disabled).second;
  ServiceConfig clash = Config("two", "/bin/true");
  clash.displayName = "ONE";
  ServiceConfig badStart = Config("three", "/bin/true");
  badStart.startType = kBootStart;
  ServiceConfig badAccount = Config("four", "/bin/true");
  badAccount.serviceStartName = "no-such-user-kw";
  ServiceConfig badType = Config("five", "/bin/true");
  badType.serviceType = 0x1;

  const struct {
    const char* what;
    uint32_t got;
    uint32_t want;
  } cases[] = {
      {"unknown service", c.OpenService(m, "missing", kServiceAllAccess).first, 1060},
      {"empty name", c.OpenService(m, "", kServiceAllAccess).first, 123},
      {"name with a slash", c.Create(m, Config("a/b", "/bin/true")).first, 123},
      {"existing name", c.Create(m, Config("ONE", "/bin/true")).first, 1073},
      {"display name in use", c.Create(m, clash).first, 1078},
      {"boot start for a program", c.Create(m, badStart).first, 87},
      {"driver type", c.Create(m, badType).first, 87},
      {"unknown account", c.Create(m, badAccount).first, 1057},
      {"empty path", c.Create(m, Config("six", "")).first, 87},
      {"service handle as manager", c.OpenService(off, "one", kServiceAllAccess).first, 6},
      {"unknown handle", c.Call(Request(Op::kQueryStatus).U32(999)), 6},
      {"disabled start", c.Start(off), 1058},
      {"control a stopped service", c.Call(Request(Op::kControl).U32(off).U32(kControlStop)), 1062},
      {"shutdown is scmd's", c.Call(Request(Op::kControl).U32(off).U32(kControlShutdown)), 1052},
      {"undefined control", c.Call(Request(Op::kControl).U32(off).U32(77)), 87},
      {"unknown operation", c.Call(Request(static_cast<Op>(999))), 1},
      {"trailing bytes", c.Call(Request(Op::kQueryStatus).U32(off).U32(0)), 13},
  };
  for (const auto& k : cases)
    EXPECT_EQ(k.got, k.want) << k.what;
}

TEST_F(ScmdTest, TheLockHasOneHolderBlocksStartsAndDiesWithItsConnection) {
  auto holder = std::make_unique<RawClient>(dir_.path());
  RawClient other(dir_.path());
  const uint32_t hm = holder->OpenManager(kManagerAllAccess).second;
  const uint32_t om = other.OpenManager(kManagerAllAccess).second;
  const uint32_t s = other.Create(om, Config("svc", "/bin/true")).second;

  std::string rest;
  ASSERT_EQ(holder->Call(Request(Op::kLock).U32(hm), &rest), 0u);
  uint32_t lock = 0;
  Reader(rest).U32(lock);
  EXPECT_EQ(other.Call(Request(Op::kLock).U32(om)), 1055u);
  EXPECT_EQ(other.Start(s), 1055u);
  EXPECT_EQ(other.Call(Request(Op::kUnlock).U32(lock)), 1071u);  // not its lock
  ASSERT_EQ(other.Call(Request(Op::kQueryLockStatus).U32(om), &rest), 0u);
  bool locked = false;
  std::string owner;
  Reader(rest).Bool(locked);
  EXPECT_TRUE(locked);

  holder.reset();  // the holder goes away without unlocking
  ASSERT_TRUE(testsupport::WaitFor([&] {
    std::string r;
    return other.Call(Request(Op::kLock).U32(om), &r) == 0;
  }));
}

TEST_F(ScmdTest, ADroppedClientFreesItsHandlesSoAMarkedServiceGoes) {
  auto first = std::make_unique<RawClient>(dir_.path());
  RawClient second(dir_.path());
  const uint32_t m1 = first->OpenManager(kManagerAllAccess).second;
  const uint32_t s1 = first->Create(m1, Config("gone", "/bin/true")).second;
  const uint32_t m2 = second.OpenManager(kManagerAllAccess).second;
  const uint32_t s2 = second.OpenService(m2, "gone", kServiceAllAccess).second;
  ASSERT_EQ(second.Call(Request(Op::kDeleteService).U32(s2)), 0u);
  EXPECT_EQ(second.Call(Request(Op::kDeleteService).U32(s2)), 1072u);
  EXPECT_EQ(second.Create(m2, Config("gone", "/bin/true")).first, 1072u);
  ASSERT_EQ(second.Call(Request(Op::kCloseHandle).U32(s2)), 0u);
  // Still held open by the first client.
  auto [stillThere, probe] = second.OpenService(m2, "gone", kServiceQueryStatus);
  EXPECT_EQ(stillThere, 0u);
  second.Call(Request(Op::kCloseHandle).U32(probe));
  (void)s1;
  first.reset();
  ASSERT_TRUE(testsupport::WaitFor([&] {
    // The handle the check itself opens keeps it alive: close it again.
    auto [err, h] = second.OpenService(m2, "gone", kServiceQueryStatus);
    if (!err) second.Call(Request(Op::kCloseHandle).U32(h));
    return err == 1060;
  }));
}

TEST_F(ScmdTest, StartsThatNeverReachADispatcherEndStopped) {
  RawClient c(dir_.path());
  const uint32_t m = c.OpenManager(kManagerAllAccess).second;
  const struct {
    const char* name;
    const char* path;
    uint32_t error;
  } cases[] = {
      {"sleeper", "/bin/sleep 60", 1053},  // no dispatcher within the time-out
      {"quitter", "/bin/true", 1067},      // ends before it dispatches
      {"missing", "/nonexistent/program", 2},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const uint32_t s = c.Create(m, Config(k.name, k.path)).second;
    EXPECT_EQ(c.Start(s), k.error);
    const ServiceStatus st = c.Status(s);
    EXPECT_EQ(st.currentState, kServiceStopped);
    EXPECT_EQ(st.processId, 0u);
    if (k.error != 2) {
      EXPECT_EQ(st.win32ExitCode, k.error);
    }
  }
  // The sleeper was killed, not left behind.
  EXPECT_TRUE(
      testsupport::WaitFor([&] { return scmd_->Log().find("killed") != std::string::npos; }));
}

TEST_F(ScmdTest, CallersOutsideRootAndKelvadonMayOnlyQuery) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  {
    RawClient c(dir_.path());
    const uint32_t m = c.OpenManager(kManagerAllAccess).second;
    ASSERT_EQ(c.Create(m, Config("guarded", "/bin/true")).first, 0u);
  }
  passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    std::vector<uint32_t> results;
    if (setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0) {
      RawClient c(dir_.path());
      auto [e1, m] = c.OpenManager(kManagerConnect);
      results.push_back(e1);
      results.push_back(c.OpenManager(kManagerAllAccess).first);
      results.push_back(c.OpenManager(kGenericAll).first);
      auto [e2, s] = c.OpenService(m, "guarded", kServiceQueryStatus | kServiceQueryConfig);
      results.push_back(e2);
      results.push_back(c.OpenService(m, "guarded", kServiceStart).first);
      results.push_back(c.OpenService(m, "guarded", kServiceAllAccess).first);
      results.push_back(c.Status(s).currentState);
    }
    write(pipeFds[1], results.data(), results.size() * sizeof(uint32_t));
    _exit(0);
  }
  close(pipeFds[1]);
  std::vector<uint32_t> results(7);
  ssize_t n = read(pipeFds[0], results.data(), results.size() * sizeof(uint32_t));
  close(pipeFds[0]);
  int status;
  waitpid(child, &status, 0);
  ASSERT_EQ(n, ssize_t(results.size() * sizeof(uint32_t)));
  EXPECT_EQ(results, (std::vector<uint32_t>{0, 5, 5, 0, 5, 5, kServiceStopped}));
}

// A state folder written before descriptors were enforced kept opaque bytes under "security"
// (an empty self-relative descriptor of 20 bytes, or whatever a client had set, here 6 bytes).
// Such services load with the default descriptor, one log line each, and are written anew.
TEST_F(ScmdTest, RecordsOfAnOlderScmdLoadWithTheDefaultDescriptor) {
  {
    RawClient c(dir_.path());
    const uint32_t m = c.OpenManager(kManagerAllAccess).second;
    ASSERT_EQ(c.Create(m, Config("Six", "/bin/true")).first, 0u);
    ASSERT_EQ(c.Create(m, Config("Twenty", "/bin/true")).first, 0u);
  }
  scmd_->Stop();
  const struct {
    const char* name;
    const char* opaque;
  } olds[] = {{"Six", "0100048000FF"}, {"Twenty", "0100008000000000000000000000000000000000"}};
  namespace fs = std::filesystem;
  for (const auto& e : fs::directory_iterator(dir_.File("services"))) {
    std::string text = testsupport::ReadFile(e.path());
    for (const auto& old : olds) {
      if (text.find("\nname=" + std::string(old.name) + "\n") == std::string::npos) continue;
      const size_t at = text.find("\ndescriptor=");
      ASSERT_NE(at, std::string::npos) << text;
      text = text.substr(0, at + 1) + "security=" + old.opaque + "\n" +
             text.substr(text.find('\n', at + 1) + 1);
      std::ofstream(e.path(), std::ios::trunc) << text;
    }
  }
  ASSERT_TRUE(scmd_->Start()) << scmd_->Log();

  RawClient c(dir_.path());
  const uint32_t m = c.OpenManager(kManagerAllAccess).second;
  for (const auto& old : olds) {
    const uint32_t s = c.OpenService(m, old.name, kReadControl).second;
    std::string rest, sd;
    ASSERT_EQ(c.Call(Request(Op::kQuerySecurity).U32(s).U32(kOwnerInfo | kDaclInfo), &rest), 0u);
    ASSERT_TRUE(Reader(rest).Str(sd, kMaxSecurityBytes));
    EXPECT_EQ(sd, EncodeDescriptor(PartsOf(DefaultServiceDescriptor(), kOwnerInfo | kDaclInfo)))
        << old.name;
    EXPECT_NE(scmd_->Log().find(std::string(old.name) +
                                ": its stored security descriptor is not one scmd enforces"),
              std::string::npos)
        << old.name;
  }
  for (const auto& e : fs::directory_iterator(dir_.File("services"))) {
    const std::string text = testsupport::ReadFile(e.path());
    EXPECT_EQ(text.find("\nsecurity="), std::string::npos) << text;
    EXPECT_NE(text.find("\ndescriptor="), std::string::npos) << text;
  }
}

TEST_F(ScmdTest, AClientBreakingTheFramingIsDroppedAndOthersAreServed) {
  uint32_t err;
  auto rogue = Connection::Open(dir_.path(), &err);
  ASSERT_TRUE(rogue);
  const char huge[4] = {'\xFF', '\xFF', '\xFF', '\x7F'};
  ASSERT_EQ(send(rogue->Fd(), huge, 4, MSG_NOSIGNAL), 4);
  char byte;
  EXPECT_EQ(read(rogue->Fd(), &byte, 1), 0);  // scmd hung up
  RawClient c(dir_.path());
  EXPECT_EQ(c.OpenManager(kManagerConnect).first, 0u);
}

// A service's process inherits stdin on /dev/null, stdout and stderr on one pipe (to scmd's log)
// and its control channel, nothing else, whatever scmd itself was given: here a descriptor its
// starter left open without close-on-exec. The service is a shell that lists its own descriptors
// and ends.
TEST(Scmd, AServiceInheritsOnlyStdioAndItsChannel) {
  testsupport::TempDir dir{"kwscm", 0755};
  const int leaked = open("/dev/zero", O_RDONLY);  // no O_CLOEXEC: scmd inherits it
  ASSERT_GE(leaked, 3);
  testsupport::Scmd scmd(
      SCMD_PATH, dir.path(),
      std::vector<std::pair<std::string, std::string>>{{kEnvStartTimeout, kStartTimeoutSeconds}});
  const bool started = scmd.Start();
  close(leaked);
  ASSERT_TRUE(started) << scmd.Log();

  // find writes the list itself (a redirection would show in it); the file appears whole.
  const std::string list = dir.File("fds");
  const std::string script = "find /proc/$$/fd -mindepth 1 -maxdepth 1 -fprintf " + list +
                             ".tmp '%f %l\\n'; echo channel $" + kEnvFd + " >>" + list +
                             ".tmp; mv " + list + ".tmp " + list;
  RawClient c(dir.path());
  const uint32_t m = c.OpenManager(kManagerAllAccess).second;
  const uint32_t s = c.Create(m, Config("lister", "/bin/sh -c \"" + script + "\"")).second;
  EXPECT_EQ(c.Start(s), 1067u);  // it ends without reaching a dispatcher
  const auto text = testsupport::WaitForFile(list);
  ASSERT_TRUE(text) << "the service did not run\n" << scmd.Log();

  std::vector<std::string> lines;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << *text;
  EXPECT_EQ(lines[0], "0 /dev/null");
  EXPECT_EQ(lines[1].rfind("1 pipe:[", 0), 0u) << *text;
  EXPECT_EQ(lines[2], "2" + lines[1].substr(1)) << *text;
  const std::string channel = lines[4].substr(lines[4].find(' ') + 1);
  EXPECT_EQ(lines[4], "channel " + channel);
  EXPECT_EQ(lines[3].rfind(channel + " socket:[", 0), 0u) << *text;
  scmd.Stop();
}

// What a service writes to stdout and stderr is in scmd's log, each line after the service's
// name and process id: a CR before the line end dropped, other control bytes as "?", a line over
// the limit in pieces, and the last line without its end when the process ends.
TEST_F(ScmdTest, AServicesOutputIsLoggedLineByLineUnderItsName) {
  const std::string script =
      "echo first; printf 'second\\r\\n'; echo on stderr >&2; printf 'bell\\007\\033[1m\\n'; "
      "head -c 2500 /dev/zero | tr '\\000' x; echo; printf last";
  RawClient c(dir_.path());
  const uint32_t m = c.OpenManager(kManagerAllAccess).second;
  const uint32_t s = c.Create(m, Config("talker", "/bin/sh -c \"" + script + "\"")).second;
  EXPECT_EQ(c.Start(s), 1067u);  // it ends without reaching a dispatcher
  ASSERT_TRUE(testsupport::WaitFor([&] {
    return scmd_->Log().find("]: last\n") != std::string::npos;
  })) << scmd_->Log();

  const std::string log = scmd_->Log();
  const size_t started = log.find("scmd: talker: started process ");
  ASSERT_NE(started, std::string::npos) << log;
  const std::string pid = log.substr(started + 30, log.find('\n', started) - started - 30);
  const std::string prefix = "scmd: talker[" + pid + "]: ";
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
  const std::vector<std::string> expected = {"first",
                                             "second",
                                             "on stderr",
                                             "bell??[1m",
                                             std::string(kMaxOutputLine, 'x'),
                                             std::string(kMaxOutputLine, 'x'),
                                             std::string(2500 - 2 * kMaxOutputLine, 'x'),
                                             "last"};
  EXPECT_EQ(lines, expected) << log;
}

TEST(Scmd, OneScmdPerFolder) {
  testsupport::TempDir dir{"kwscm", 0755};
  testsupport::Scmd first(SCMD_PATH, dir.path());
  ASSERT_TRUE(first.Start());
  testsupport::Scmd second(SCMD_PATH, dir.path());
  second.Start();  // finds the first one's socket; the second one gives up
  ASSERT_TRUE(testsupport::WaitFor([&] { return !second.Running(); }));
  const int refused = second.Stop();
  EXPECT_TRUE(WIFEXITED(refused) && WEXITSTATUS(refused) == 1);
  EXPECT_NE(first.Log().find("another scmd serves"), std::string::npos);
  EXPECT_TRUE(first.Connectable());
  const int status = first.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace scm
