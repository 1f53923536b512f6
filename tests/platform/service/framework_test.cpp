// The service framework through a program built on it: the command line, the life cycle under
// scmd and in the foreground, the states with their check points, and where handlers run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "platform/advapi32/winsvc.h"
#include "tests/support/scmd.h"
#include "tests/support/service_fixture.h"

namespace {

using testsupport::ScHandle;

// The framework program as a child process, its output in files.
class Program {
 public:
  Program(const std::string& dir, std::vector<std::string> args,
          std::map<std::string, std::string> env)
      : out_(dir + "/stdout"), err_(dir + "/stderr") {
    pid_ = fork();
    if (pid_ == 0) {
      for (auto& [k, v] : env)
        setenv(k.c_str(), v.c_str(), 1);
      freopen(out_.c_str(), "w", stdout);
      freopen(err_.c_str(), "w", stderr);
      std::vector<char*> argv{const_cast<char*>(FRAMEWORK_SERVICE_PATH)};
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(FRAMEWORK_SERVICE_PATH, argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  // The exit code, or -1 when it did not end normally within 60 s.
  int Wait() {
    int status = 0;
    if (pid_ <= 0) return code_;
    if (!testsupport::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = 0;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return code_;
  }
  void Signal(int sig) { kill(pid_, sig); }
  std::string Out() const { return testsupport::ReadFile(out_); }
  std::string Err() const { return testsupport::ReadFile(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = 0;
  int code_ = -1;
};

class FrameworkTest : public testsupport::ServiceTest {
 protected:
  // scmd passes its environment on to the service it starts.
  std::vector<std::pair<std::string, std::string>> ScmdEnv() override {
    auto env = testsupport::ServiceTest::ScmdEnv();
    for (auto& [k, v] : Env())
      env.emplace_back(k, v);
    for (auto& kv : extra_)
      env.push_back(kv);
    return env;
  }

  std::map<std::string, std::string> Env() const {
    return {{"KWFW_TRACE", dir_.File("trace")}, {"KELVADON_EVENTLOG", dir_.File("events")}};
  }

  // Runs the program to its end and returns its exit code.
  int RunProgram(std::vector<std::string> args) {
    last_ = std::make_unique<Program>(dir_.path(), std::move(args), Env());
    return last_->Wait();
  }

  std::vector<std::string> Trace() const { return testsupport::ReadLines(dir_.File("trace")); }
  bool TraceHas(const std::string& line) const {
    auto t = Trace();
    return std::find(t.begin(), t.end(), line) != t.end();
  }
  size_t TraceIndex(const std::string& line) const {
    auto t = Trace();
    return static_cast<size_t>(std::find(t.begin(), t.end(), line) - t.begin());
  }

  // Installs the program with its own INSTALL switch and opens the service.
  ScHandle InstallProgram() {
    EXPECT_EQ(RunProgram({"/INSTALL", "/SILENT"}), 0) << last_->Err();
    return ScHandle(OpenServiceA(manager_, "KwFramework", SERVICE_ALL_ACCESS));
  }

  std::vector<std::pair<std::string, std::string>> extra_;
  std::unique_ptr<Program> last_;
};

TEST_F(FrameworkTest, InstallAndUninstallShowTheirResultUnlessSilent) {
  const std::string failed1073 =
      "\"システムエラー。コード：1073.\r\nThe specified service already exists\" : "
      "サービス \"Kw Framework Test\" の登録は失敗しました。\n";
  const std::string failed1060 =
      "\"システムエラー。コード：1060.\r\nThe specified service does not exist as an installed "
      "service\" : サービス \"Kw Framework Test\" の登録解除に失敗しました。\n";
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out, err;
  } steps[] = {
      {{"/INSTALL"}, 0, "サービスを登録しました。\n", ""},
      {{"-install"}, 1, "", failed1073},
      {{"-Install", "/SILENT"}, 1, "", ""},
      {{"/UNINSTALL", "-silent"}, 0, "", ""},
      {{"/uninstall"}, 1, "", failed1060},
      {{"/INSTALL", "/Silent"}, 0, "", ""},
      {{"/UNINSTALL"}, 0, "サービスの登録を解除しました。\n", ""},
  };
  int runs = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.args[0]);
    EXPECT_EQ(RunProgram(step.args), step.code);
    EXPECT_EQ(last_->Out(), step.out);
    EXPECT_EQ(last_->Err(), step.err);
    ++runs;
    if (runs == 1) {
      // What INSTALL registered: the module's properties and the program's own path.
      ScHandle s(OpenServiceA(manager_, "kwframework", SERVICE_QUERY_CONFIG));
      ASSERT_TRUE(s.h);
      std::vector<uint64_t> buf(1024);
      DWORD needed;
      auto* c = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf.data());
      ASSERT_TRUE(QueryServiceConfigA(s, c, 8192, &needed));
      EXPECT_STREQ(c->lpDisplayName, "Kw Framework Test");
      EXPECT_EQ(c->dwStartType, SERVICE_AUTO_START);
      EXPECT_EQ(c->dwServiceType, SERVICE_WIN32_OWN_PROCESS);
      EXPECT_EQ(c->dwErrorControl, SERVICE_ERROR_NORMAL);
      EXPECT_STREQ(c->lpBinaryPathName, FRAMEWORK_SERVICE_PATH);
      EXPECT_STREQ(c->lpServiceStartName, "LocalSystem");
    }
  }
  // OnCreate ran in every one of them; nothing was started.
  auto trace = Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "create main"), runs);
  EXPECT_FALSE(TraceHas("start main"));
}

TEST_F(FrameworkTest, InstallWithoutScmdSaysHowToStartIt) {
  scmd_->Stop();
  EXPECT_EQ(RunProgram({"/INSTALL"}), 1);
  EXPECT_EQ(last_->Err(),
            "\"システムエラー。コード：1722.\r\nThe RPC server is unavailable\" : サービス \"Kw "
            "Framework Test\" の登録は失敗しました。\n"
            "scmd is not running: start it with systemctl start kelvadon-scm, or run scmd\n");
  EXPECT_EQ(RunProgram({"/INSTALL", "/SILENT"}), 1);
  EXPECT_EQ(last_->Err(), "");
}

TEST_F(FrameworkTest, ALifeCycleUnderScmdOnTheMainThreadWithItsStatesInOrder) {
  extra_ = {{"KWFW_TICK", "50"}};
  TearDown();
  SetUp();
  ScHandle s = InstallProgram();
  ASSERT_TRUE(s.h);
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));

  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_PAUSE, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_PAUSED));
  // The thread that owns the timers (and the sockets) keeps working while paused.
  const std::string pausedTick = "tick " + std::to_string(SERVICE_PAUSED);
  ASSERT_TRUE(testsupport::WaitFor([&] {
    auto t = Trace();
    return std::count(t.begin(), t.end(), pausedTick) >= 3;
  }));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_CONTINUE, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  ASSERT_TRUE(testsupport::WaitFor([&] {
    auto t = Trace();
    return std::count(t.begin(), t.end(), "exit 0") == 2;  // the INSTALL run's, and this one's
  }));
  const std::vector<std::string> firstRun = LoggedStates("KwFramework");

  for (const char* handler : {"create", "start", "execute", "pause", "continue", "stop"}) {
    EXPECT_TRUE(TraceHas(std::string(handler) + " main")) << handler;
    EXPECT_FALSE(TraceHas(std::string(handler) + " other")) << handler;
  }
  EXPECT_TRUE(TraceHas("foreground 0"));
  const std::vector<std::string> want = {"START_PENDING 0",    "START_PENDING 0", "START_PENDING 1",
                                         "RUNNING 0",          "PAUSE_PENDING 0", "PAUSED 0",
                                         "CONTINUE_PENDING 0", "RUNNING 0",       "STOP_PENDING 0",
                                         "STOPPED 0"};
  EXPECT_EQ(firstRun, want);
  const std::string log = scmd_->Log();
  EXPECT_NE(log.find("KwFramework: START_PENDING check point 1 wait hint 5000 controls 0x0"),
            std::string::npos);
  EXPECT_NE(log.find("KwFramework: RUNNING check point 0 wait hint 5000 controls 0x7"),
            std::string::npos);

  // And it starts again, as the restart helper and the console do it.
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  auto t = Trace();
  EXPECT_EQ(std::count(t.begin(), t.end(), "start main"), 2);
}

TEST_F(FrameworkTest, AFailedStartGoesStraightToStoppedAndFailuresAreLogged) {
  const struct {
    const char* start;
    const char* execute;
    bool running;
    const char* event;
  } cases[] = {
      {"refuse", "", false, nullptr},
      {"throw", "", false, "KwFramework\tERROR\t0\tサービス失敗 開始: boom"},
      {"", "throw", true, "KwFramework\tERROR\t0\tサービス失敗 実行: bang"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "/" + c.execute);
    extra_ = {{"KWFW_START", c.start}, {"KWFW_EXECUTE", c.execute}};
    TearDown();
    std::remove(dir_.File("scmd.log").c_str());
    std::remove(dir_.File("trace").c_str());
    std::remove(dir_.File("events").c_str());
    SetUp();
    ScHandle s = InstallProgram();
    std::remove(dir_.File("trace").c_str());
    ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(testsupport::WaitFor([&] { return TraceHas("exit 0"); }));
    // The process writes its last trace line before scmd has taken its final status.
    EXPECT_TRUE(WaitState(s, SERVICE_STOPPED));
    std::vector<std::string> want = {"START_PENDING 0", "START_PENDING 0", "START_PENDING 1"};
    if (c.running) want.push_back("RUNNING 0");
    want.push_back("STOPPED 0");
    EXPECT_EQ(LoggedStates("KwFramework"), want);
    EXPECT_EQ(TraceHas("execute main"), c.running);
    auto events = testsupport::ReadLines(dir_.File("events"));
    if (c.event) {
      EXPECT_EQ(events, std::vector<std::string>{c.event});
    } else {
      EXPECT_TRUE(events.empty());
    }
    s.reset();
    ASSERT_EQ(RunProgram({"/UNINSTALL", "/SILENT"}), 0);
  }
}

TEST_F(FrameworkTest, AStopIsHandledInsideANestedWait) {
  // The nested wait lasts long enough for the stop to reach it on a loaded machine.
  extra_ = {{"KWFW_TICK", "50"}, {"KWFW_NESTED", "15000"}};
  TearDown();
  SetUp();
  ScHandle s = InstallProgram();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(testsupport::WaitFor([&] { return TraceHas("nested begin"); }));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  // OnStop has run and STOP_PENDING is reported while the nested wait still goes on.
  ASSERT_TRUE(WaitState(s, SERVICE_STOP_PENDING));
  EXPECT_TRUE(TraceHas("stop main"));
  EXPECT_FALSE(TraceHas("nested end"));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  EXPECT_LT(TraceIndex("stop main"), TraceIndex("nested end"));
}

TEST_F(FrameworkTest, ScmdShuttingDownSkipsOnStop) {
  ScHandle s = InstallProgram();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  s.reset();
  manager_.reset();
  EXPECT_EQ(scmd_->Stop(), 0);
  EXPECT_TRUE(TraceHas("shutdown main"));
  EXPECT_FALSE(TraceHas("stop main"));
  EXPECT_TRUE(TraceHas("exit 0"));
}

TEST_F(FrameworkTest, PauseIsRefusedWhenNotAllowed) {
  extra_ = {{"KWFW_NOPAUSE", "1"}};
  TearDown();
  SetUp();
  ScHandle s = InstallProgram();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  EXPECT_EQ(Status(s).dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
  SERVICE_STATUS st;
  EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_PAUSE, &st));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_CONTROL));
  EXPECT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
}

TEST_F(FrameworkTest, WithoutScmdTheDispatcherFailureIsLoggedAndTheProgramEnds) {
  EXPECT_EQ(RunProgram({}), 1);
  EXPECT_EQ(testsupport::ReadLines(dir_.File("events")),
            std::vector<std::string>{"KwFramework\tERROR\t0\tThe service process could not "
                                     "connect to the service controller"});
  EXPECT_TRUE(TraceHas("create main"));
  EXPECT_FALSE(TraceHas("start main"));
}

TEST(FrameworkForeground, RunsTheLifeCycleWithoutScmdAndSignalsEndIt) {
  const struct {
    int signal;
    const char* handler;
    const char* start;
    int code;
  } cases[] = {
      {SIGINT, "stop main", "", 0},
      {SIGTERM, "shutdown main", "", 0},
      {0, nullptr, "refuse", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    testsupport::TempDir dir{"kwscm", 0755};  // no scmd anywhere
    const std::string trace = dir.File("trace");
    Program p(dir.path(), {"-foreground"},
              {{"KWFW_TRACE", trace},
               {"KWFW_START", c.start},
               {"KWFW_TICK", "50"},
               {"KELVADON_SCM_DIR", dir.path()}});
    std::vector<std::string> want = {"KwFramework: START_PENDING check point 0 wait hint 5000",
                                     "KwFramework: START_PENDING check point 1 wait hint 5000"};
    if (c.signal) {
      ASSERT_TRUE(testsupport::WaitFor([&] {
        auto t = testsupport::ReadLines(trace);
        return std::count(t.begin(), t.end(), "tick 4") >= 2;  // running, ticking
      }));
      p.Signal(c.signal);
      want.push_back("KwFramework: RUNNING check point 0 wait hint 5000");
      want.push_back("KwFramework: STOP_PENDING check point 0 wait hint 5000");
    }
    want.push_back("KwFramework: STOPPED check point 0 wait hint 5000");
    EXPECT_EQ(p.Wait(), c.code);
    std::vector<std::string> lines;
    std::istringstream err(p.Err());
    for (std::string l; std::getline(err, l);)
      lines.push_back(l);
    EXPECT_EQ(lines, want);
    auto t = testsupport::ReadLines(trace);
    EXPECT_NE(std::find(t.begin(), t.end(), "create main"), t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), "foreground 1"), t.end());
    if (c.handler) {
      EXPECT_NE(std::find(t.begin(), t.end(), c.handler), t.end());
    }
  }
}

}  // namespace
