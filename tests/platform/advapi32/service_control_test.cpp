// Starting and controlling services through the client functions, against a real scmd and the
// test service: the life cycle, the refusals, crashes and their failure actions, scmd's own start
// and end, and clients that race or vanish.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <latch>
#include <sstream>
#include <thread>

#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace svctest {
namespace {

using testsupport::ScHandle;
using testsupport::ServiceTest;

pid_t PidFromTrace(const std::vector<std::string>& lines, const std::string& key) {
  for (const auto& l : lines)
    if (l.rfind(key + " ", 0) == 0)
      return static_cast<pid_t>(std::atoi(l.c_str() + key.size() + 1));
  return 0;
}

// The states scmd logged for a service, from its log, each with its exit code and process.
std::vector<std::string> StateLines(const std::string& log, const std::string& name) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  const std::string prefix = "scmd: " + name + ": ";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0 && line.find(" check point ") != std::string::npos)
      lines.push_back(line.substr(prefix.size()));
  return lines;
}

TEST_F(ServiceTest, StartPauseContinueStopWithStatesInOrder) {
  // Pending long enough that the state is still START_PENDING when the start has returned.
  constexpr int kStartDelayMs = 3000;
  ScHandle s =
      Install("Cycle", "--start-delay=" + std::to_string(kStartDelayMs) + " --stop-delay=200");
  LPCSTR args[] = {"one", "two"};
  ASSERT_TRUE(StartServiceA(s, 2, args)) << GetLastError();
  // Once the start returns the dispatcher has it: the service main has begun or will.
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_START_PENDING));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));

  const SERVICE_STATUS_PROCESS running = Status(s);
  const pid_t pid = PidFromTrace(TraceLines("Cycle"), "pid");
  EXPECT_EQ(running.dwProcessId, DWORD(pid));
  EXPECT_TRUE(testsupport::ProcessAlive(pid));
  EXPECT_EQ(running.dwControlsAccepted,
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN);
  EXPECT_TRUE(TraceHas("Cycle", "main Cycle one two"));

  SERVICE_STATUS st{};
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_PAUSE, &st)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_PAUSED));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_CONTINUE, &st)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_INTERROGATE, &st));
  EXPECT_EQ(st.dwCurrentState, DWORD(SERVICE_RUNNING));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  EXPECT_EQ(Status(s).dwProcessId, 0u);
  EXPECT_EQ(Status(s).dwWin32ExitCode, 0u);
  EXPECT_TRUE(testsupport::WaitFor([&] { return !testsupport::ProcessAlive(pid); }));

  // scmd's own START_PENDING at the spawn, the service's reports with their check points (one each
  // 100 ms of the start), and nothing out of order.
  std::vector<std::string> want = {"START_PENDING 0", "START_PENDING 0"};
  for (int cp = 1; cp <= kStartDelayMs / 100; ++cp)
    want.push_back("START_PENDING " + std::to_string(cp));
  for (const char* state :
       {"RUNNING 0", "PAUSED 0", "RUNNING 0", "RUNNING 0", "STOP_PENDING 0", "STOPPED 0"})
    want.push_back(state);
  EXPECT_EQ(LoggedStates("Cycle"), want);
}

TEST_F(ServiceTest, RefusalsCarryTheirWin32Codes) {
  ScHandle running = Install("Picky", "--refuse=pause,stop");
  ASSERT_TRUE(StartServiceA(running, 0, nullptr));
  ASSERT_TRUE(WaitState(running, SERVICE_RUNNING));
  // Pending for longer than any test takes (it is killed at the end).
  ScHandle slow = Install("Slow", "--start-delay=120000");
  ASSERT_TRUE(StartServiceA(slow, 0, nullptr));
  ScHandle stopped = Install("Idle");

  SERVICE_STATUS st{};
  const struct {
    const char* what;
    SC_HANDLE service;
    DWORD control;
    DWORD error;
  } controls[] = {
      {"pause not accepted", running, SERVICE_CONTROL_PAUSE, 1052},
      {"stop not accepted", running, SERVICE_CONTROL_STOP, 1052},
      {"shutdown only from scmd", running, SERVICE_CONTROL_SHUTDOWN, 1052},
      {"undefined control", running, 9, 87},
      {"start still pending", slow, SERVICE_CONTROL_STOP, 1061},
      {"not started", stopped, SERVICE_CONTROL_STOP, 1062},
      {"not started, interrogate", stopped, SERVICE_CONTROL_INTERROGATE, 1062},
  };
  for (const auto& c : controls) {
    SetLastError(0);
    EXPECT_FALSE(ControlService(c.service, c.control, &st)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  EXPECT_EQ(st.dwCurrentState, DWORD(SERVICE_STOPPED));  // the status comes with the refusal

  EXPECT_FALSE(StartServiceA(running, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_FALSE(OpenServiceA(manager_, "NotInstalled", SERVICE_ALL_ACCESS));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_FALSE(QueryServiceStatus(reinterpret_cast<SC_HANDLE>(0x42), &st));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  const pid_t slowPid = static_cast<pid_t>(Status(slow).dwProcessId);
  ASSERT_GT(slowPid, 0);
  kill(slowPid, SIGKILL);
  ASSERT_TRUE(WaitState(slow, SERVICE_STOPPED));
  // Even a service that refuses the stop goes when scmd shuts down.
  EXPECT_EQ(scmd_->Stop(), 0);
  EXPECT_TRUE(TraceHas("Picky", "control 5"));
}

// scmd with a short start time-out, for the test that waits for it.
class ServiceStartTimeout : public ServiceTest {
 protected:
  ServiceStartTimeout() { ShortStartTimeout(); }
};

TEST_F(ServiceStartTimeout, AProgramThatNeverDispatchesIsKilledAfterTheTimeOut) {
  ScHandle s = Install("Mute", "--no-dispatch");
  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_REQUEST_TIMEOUT));
  const SERVICE_STATUS_PROCESS st = Status(s);
  EXPECT_EQ(st.dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(st.dwWin32ExitCode, DWORD(ERROR_SERVICE_REQUEST_TIMEOUT));
  const pid_t pid = PidFromTrace(TraceLines("Mute"), "pid");
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(testsupport::WaitFor([&] { return !testsupport::ProcessAlive(pid); }));
  // It may be started again.
  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_REQUEST_TIMEOUT));
}

TEST_F(ServiceTest, CrashesStopWith1067AndRunTheFailureActionsInTurn) {
  ScHandle s = Install("Crashy", "--crash-after=300");
  const std::string marker = dir_.File("command-ran");
  std::u16string command = u"/bin/sh -c \"echo ran >> ";
  command.append(marker.begin(), marker.end());
  command += u"\"";
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 700}, {SC_ACTION_RUN_COMMAND, 0}};
  SERVICE_FAILURE_ACTIONSW fa{3600, nullptr, command.data(), 2, actions};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();

  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  // The second crash runs the command and leaves the service stopped.
  ASSERT_TRUE(testsupport::WaitFor([&] { return testsupport::ReadFile(marker) == "ran\n"; }));
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(Status(s).dwWin32ExitCode, DWORD(ERROR_PROCESS_ABORTED));
  // Before it, read from scmd's log (the 700 ms between are too short to catch by asking): the
  // first crash, STOPPED with 1067, and the restart in another process.
  std::vector<std::string> stopped, runningPids;
  for (const std::string& line : StateLines(scmd_->Log(), "Crashy")) {
    const size_t code = line.find(" exit code "), pid = line.find(" pid ");
    if (code == std::string::npos || pid == std::string::npos) continue;
    if (line.rfind("STOPPED ", 0) == 0) stopped.push_back(line.substr(code + 11, pid - code - 11));
    if (line.rfind("RUNNING ", 0) == 0) runningPids.push_back(line.substr(pid + 5));
  }
  EXPECT_EQ(stopped, std::vector<std::string>(2, "1067")) << scmd_->Log();
  ASSERT_EQ(runningPids.size(), 2u) << scmd_->Log();
  EXPECT_NE(runningPids[0], runningPids[1]);
}

TEST_F(ServiceTest, ADetachedChildOutlivesItsServiceAndScmd) {
  ScHandle s = Install("Parent", "--spawn-child");
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  pid_t child = 0;
  ASSERT_TRUE(
      testsupport::WaitFor([&] { return (child = PidFromTrace(TraceLines("Parent"), "child")); }));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  EXPECT_TRUE(testsupport::ProcessAlive(child));

  ASSERT_TRUE(StartServiceA(s, 0, nullptr));  // and once more, with scmd ending under it
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  s.reset();
  manager_.reset();
  EXPECT_EQ(scmd_->Stop(), 0);
  EXPECT_TRUE(testsupport::ProcessAlive(child));
  kill(child, SIGKILL);
}

TEST_F(ServiceTest, ScmdShutsItsServicesDownAndKillsOnlyTheLateOnes) {
  ScHandle polite = Install("Polite", "--stop-delay=200");
  ScHandle stubborn = Install("Stubborn", "--refuse=shutdown");
  ASSERT_TRUE(StartServiceA(polite, 0, nullptr));
  ASSERT_TRUE(StartServiceA(stubborn, 0, nullptr));
  ASSERT_TRUE(WaitState(polite, SERVICE_RUNNING));
  ASSERT_TRUE(WaitState(stubborn, SERVICE_RUNNING));
  const pid_t politePid = static_cast<pid_t>(Status(polite).dwProcessId);
  const pid_t stubbornPid = static_cast<pid_t>(Status(stubborn).dwProcessId);
  polite.reset();
  stubborn.reset();
  manager_.reset();

  EXPECT_EQ(scmd_->Stop(), 0);
  EXPECT_TRUE(TraceHas("Polite", "control 5"));
  EXPECT_TRUE(TraceHas("Polite", "state 1 0"));  // it reported STOPPED itself
  EXPECT_FALSE(TraceHas("Stubborn", "control 5"));
  EXPECT_FALSE(testsupport::ProcessAlive(politePid));
  EXPECT_FALSE(testsupport::ProcessAlive(stubbornPid));
  const std::string log = scmd_->Log();
  EXPECT_NE(log.find("Stubborn: process " + std::to_string(stubbornPid) + " did not stop"),
            std::string::npos);
  EXPECT_EQ(log.find("Polite: process"), std::string::npos);
}

TEST_F(ServiceTest, AServiceWhoseScmdDiesShutsDownInsteadOfRunningOrphaned) {
  ScHandle s = Install("Orphan");
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  const pid_t pid = static_cast<pid_t>(Status(s).dwProcessId);
  kill(scmd_->pid(), SIGKILL);
  EXPECT_TRUE(testsupport::WaitFor([&] { return TraceHas("Orphan", "dispatcher 0 109"); }));
  EXPECT_TRUE(TraceHas("Orphan", "control 5"));
  EXPECT_TRUE(testsupport::WaitFor([&] { return !testsupport::ProcessAlive(pid); }));
}

TEST_F(ServiceTest, AutoStartServicesStartWithScmd) {
  ScHandle autoStart = Install("Early", "", SERVICE_AUTO_START);
  ScHandle demand = Install("Late");
  autoStart.reset();
  demand.reset();
  manager_.reset();
  scmd_->Stop();
  ASSERT_TRUE(scmd_->Start());
  manager_ = ScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScHandle early(OpenServiceA(manager_, "Early", SERVICE_QUERY_STATUS));
  ScHandle late(OpenServiceA(manager_, "Late", SERVICE_QUERY_STATUS));
  EXPECT_TRUE(WaitState(early, SERVICE_RUNNING));
  EXPECT_EQ(Status(late).dwCurrentState, DWORD(SERVICE_STOPPED));
}

TEST_F(ServiceTest, OfTwoClientsRacingToStartOneWins) {
  ScHandle s = Install("Raced", "--start-delay=500");
  s.reset();
  std::latch ready(2);
  DWORD results[2] = {};
  auto racer = [&](int i) {
    ScHandle m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle h(OpenServiceA(m, "Raced", SERVICE_START));
    ready.arrive_and_wait();
    results[i] = StartServiceA(h, 0, nullptr) ? 0 : GetLastError();
  };
  std::thread a(racer, 0), b(racer, 1);
  a.join();
  b.join();
  std::sort(results, results + 2);
  EXPECT_EQ(results[0], 0u);
  EXPECT_EQ(results[1], DWORD(ERROR_SERVICE_ALREADY_RUNNING));
}

TEST_F(ServiceTest, AClientThatDiesFreesItsHandlesAndItsLock) {
  ScHandle s = Install("Kept");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE h = OpenServiceA(m, "Kept", SERVICE_ALL_ACCESS);
    const bool ok = h && LockServiceDatabase(m) && DeleteService(h);
    _exit(ok ? 0 : 1);  // no unlock, no close
  }
  int status;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  SC_LOCK lock = nullptr;
  EXPECT_TRUE(
      testsupport::WaitFor([&] { return (lock = LockServiceDatabase(manager_)) != nullptr; }));
  EXPECT_TRUE(UnlockServiceDatabase(lock));
  s.reset();  // the last handle: the service marked by the dead client goes
  EXPECT_FALSE(OpenServiceA(manager_, "Kept", SERVICE_QUERY_STATUS));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceTest, AServiceDeletedWhileRunningGoesOnceStopped) {
  ScHandle s = Install("Doomed");
  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_TRUE(DeleteService(s));
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_RUNNING));
  EXPECT_FALSE(DeleteService(s));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  s.reset();
  EXPECT_TRUE(testsupport::WaitFor([&] {
    SC_HANDLE h = OpenServiceA(manager_, "Doomed", SERVICE_QUERY_STATUS);
    if (h) CloseServiceHandle(h);
    return !h && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
  }));
}

TEST_F(ServiceTest, AServiceRunsUnderItsAccount) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  ScHandle s = Install("AsNobody", "", SERVICE_DEMAND_START, "nobody");
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  const pid_t pid = static_cast<pid_t>(Status(s).dwProcessId);
  EXPECT_TRUE(TraceHas("AsNobody", "pid " + std::to_string(pid) + " uid 65534"));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
}

}  // namespace
}  // namespace svctest
