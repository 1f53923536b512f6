// The restart helper as the real program against a real scmd: from each starting state of
// "KelvadonManager", what the service saw, what was reported and the exit code.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace {

constexpr char kName[] = "KelvadonManager";

struct Ran {
  int exitCode = -1;
  std::string err;
  std::string events;
  double seconds = 0;
};

class Rekindler : public testsupport::ServiceTest {
 protected:
  // Runs the helper (as uid/gid when given) with the test's scmd folder, up to 120 s.
  Ran Run(const std::string& program, uid_t uid = 0) {
    const std::string errFile = dir_.File("rekindler.err");
    const std::string events = dir_.File("events");
    unlink(errFile.c_str());
    close(open(events.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    chmod(events.c_str(), 0666);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("KELVADON_EVENTLOG", events.c_str(), 1);
      const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd >= 0) dup2(fd, 2);
      if (uid && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)) _exit(99);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    Ran ran;
    int status = 0;
    if (!testsupport::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 120000)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    ran.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ran.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.err = testsupport::ReadFile(errFile);
    ran.events = testsupport::ReadFile(events);
    return ran;
  }
  DWORD Pid() { return Status(service_).dwProcessId; }

  testsupport::ScHandle service_;
};

TEST_F(Rekindler, FromEachStartingState) {
  enum Start { kRunning, kStopped, kPaused, kNotInstalled, kSlowStop, kNoScmd, kOtherUser };
  struct Case {
    const char* name;
    Start start;
    bool stopSent;
    int exitCode;
    const char* error;  // in the report and the event; "" when none
  };
  const Case cases[] = {
      {"running", kRunning, true, 0, ""},
      {"stopped", kStopped, false, 0, ""},
      {"paused", kPaused, false, 1, "1056: An instance of the service is already running."},
      {"not installed", kNotInstalled, false, 1, "1060: "},
      {"slow stop", kSlowStop, true, 0, ""},
      {"no scmd", kNoScmd, false, 1, "1722: "},
      {"other user", kOtherUser, false, 1, "5: Access is denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.start == kOtherUser && !testsupport::UsersCanSwitch()) {
      std::cerr << "other user: " << testsupport::kUsersCannotSwitch << "\n";
      continue;
    }
    if (!scmd_->Running()) {
      ASSERT_TRUE(scmd_->Start());
    }
    if (!manager_.h) manager_ = testsupport::ScHandle(OpenSCManagerA(nullptr, nullptr, 0xF003F));
    unlink(Trace(kName).c_str());
    if (c.start != kNotInstalled && c.start != kNoScmd)
      service_ = Install(kName, c.start == kSlowStop ? "--stop-delay=5000" : "");
    DWORD before = 0;
    if (c.start == kRunning || c.start == kSlowStop || c.start == kPaused) {
      ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
      ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
      before = Pid();
    }
    if (c.start == kPaused) {
      SERVICE_STATUS s{};
      ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_PAUSE, &s));
    }
    if (c.start == kNoScmd) {
      manager_.reset();
      scmd_->Stop();
    }
    const std::string program =
        c.start == kOtherUser ? ReachableCopy(REKINDLER_PATH) : std::string(REKINDLER_PATH);
    const Ran ran = Run(program, c.start == kOtherUser ? 65534 : 0);

    EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err;
    EXPECT_EQ(TraceHas(kName, "control 1"), c.stopSent);
    if (c.exitCode == 0) {
      EXPECT_TRUE(ran.err.empty()) << ran.err;
      EXPECT_TRUE(ran.events.empty()) << ran.events;
      ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
      if (before) {
        EXPECT_NE(Pid(), before);
      }
      if (c.stopSent) {
        EXPECT_GE(ran.seconds, 2.0);
      }
      // A slow stop is waited for: the service went STOPPED before it was started again.
      if (c.start == kSlowStop) {
        const auto states = LoggedStates(kName);
        bool stopped = false;
        for (const auto& s : states)
          stopped |= s.rfind("STOPPED", 0) == 0;
        EXPECT_TRUE(stopped);
      }
    } else {
      EXPECT_NE(ran.err.find("ENTException"), std::string::npos) << ran.err;
      EXPECT_NE(ran.err.find("Rekindler"), std::string::npos) << ran.err;
      EXPECT_NE(ran.err.find(c.error), std::string::npos) << ran.err;
      EXPECT_EQ(ran.events.rfind("Rekindler\tERROR\t", 0), 0u) << ran.events;
      EXPECT_NE(ran.events.find(c.error), std::string::npos) << ran.events;
    }
    // Leave nothing behind for the next case.
    if (service_.h) {
      SERVICE_STATUS s{};
      ControlService(service_, SERVICE_CONTROL_STOP, &s);
      WaitState(service_, SERVICE_STOPPED, 30000);
      DeleteService(service_);
      service_.reset();
      // Deletion ends once scmd has let go of the service: wait until the name is free.
      testsupport::WaitFor(
          [&] {
            testsupport::ScHandle gone(OpenServiceA(manager_, kName, SERVICE_QUERY_STATUS));
            return !gone.h && GetLastError() == 1060;
          },
          30000);
    }
  }
}

}  // namespace
