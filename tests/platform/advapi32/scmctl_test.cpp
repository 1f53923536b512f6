// scmctl against a real scmd: what each command prints and its exit status; a caller outside root
// and the group "kelvadon" may query but not start; without scmd it says what to do. And the
// enumeration it stands on.
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace testsupport {
namespace {

struct Ran {
  int status = -1;  // exit status
  std::string out, err;
};

// Runs program with args (as user `as` when not null), its stdout and stderr to files in dir.
Ran RunAs(const std::string& program, const std::vector<std::string>& args, const TempDir& dir,
          const passwd* as = nullptr) {
  const std::string out = dir.File("scmctl.out"), err = dir.File("scmctl.err");
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
    if (as && (setgroups(0, nullptr) != 0 || setgid(as->pw_gid) != 0 || setuid(as->pw_uid) != 0))
      _exit(125);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Ran r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

class Scmctl : public ServiceTest {
 protected:
  Ran Ctl(const std::vector<std::string>& args) { return RunAs(SCMCTL_PATH, args, dir_); }
};

TEST_F(Scmctl, EachCommandPrintsTheStateAndSaysWhetherItWorked) {
  Install("Alpha");
  Install("Beta");
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const Step steps[] = {
      {{"query", "Alpha"}, 0, "Alpha: STOPPED, exit code 0\n", ""},
      {{"start", "Alpha"}, 0, "Alpha: RUNNING, exit code 0\n", ""},
      {{"query", "alpha"}, 0, "alpha: RUNNING, exit code 0\n", ""},
      {{"start", "Alpha"},
       1,
       "",
       "scmctl: start Alpha: An instance of the service is already running. (1056)\n"},
      {{"list"}, 0, "Alpha: RUNNING, exit code 0\nBeta: STOPPED, exit code 0\n", ""},
      {{"stop", "Alpha"}, 0, "Alpha: STOPPED, exit code 0\n", ""},
      {{"stop", "Beta"}, 1, "", "scmctl: stop Beta: The service has not been started. (1062)\n"},
      {{"query", "Gamma"},
       1,
       "",
       "scmctl: query Gamma: The specified service does not exist as an installed service. "
       "(1060)\n"},
      {{"pause", "Alpha"}, 2, "", "usage"},
      {{"query"}, 2, "", "usage"},
      {{}, 2, "", "usage"},
  };
  for (const Step& s : steps) {
    const Ran r = Ctl(s.args);
    const std::string what = testing::PrintToString(s.args);
    EXPECT_EQ(r.status, s.status) << what << "\n" << r.err;
    EXPECT_EQ(r.out, s.out) << what;
    if (s.err == "usage")
      EXPECT_EQ(r.err.rfind("usage: scmctl", 0), 0u) << what << "\n" << r.err;
    else
      EXPECT_EQ(r.err, s.err) << what;
  }
}

TEST_F(Scmctl, OutsideRootAndTheGroupStartIsRefusedAndQueryIsNot) {
  if (!UsersCanSwitch()) GTEST_SKIP() << kUsersCannotSwitch;
  ScHandle guarded = Install("Guarded");
  passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string program = ReachableCopy(SCMCTL_PATH);
  const Ran query = RunAs(program, {"query", "Guarded"}, dir_, nobody);
  EXPECT_EQ(query.status, 0) << query.err;
  EXPECT_EQ(query.out, "Guarded: STOPPED, exit code 0\n");
  const Ran start = RunAs(program, {"start", "Guarded"}, dir_, nobody);
  EXPECT_EQ(start.status, 1);
  EXPECT_EQ(start.err, "scmctl: start Guarded: Access is denied. (5)\n");
  EXPECT_EQ(Status(guarded).dwCurrentState, DWORD(SERVICE_STOPPED));
}

TEST(ScmctlWithoutScmd, SaysHowToStartIt) {
  TempDir empty("kwscm", 0755);
  setenv("KELVADON_SCM_DIR", empty.path().c_str(), 1);
  for (const auto& args : {std::vector<std::string>{"list"}, {"start", "KelvadonManager"}}) {
    const Ran r = RunAs(SCMCTL_PATH, args, empty);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "scmctl: scmd is not running: start it with systemctl start kelvadon-scm, or run "
              "scmd\n");
  }
  unsetenv("KELVADON_SCM_DIR");
}

// EnumServicesStatusA: states filtered, entries in name order, and a buffer too small for all of
// them goes on where it stopped.
TEST_F(ServiceTest, EnumerationListsByStateAndResumesWhereTheBufferEnded) {
  ScHandle running = Install("Running");
  Install("Stopped1");
  Install("Stopped2");
  ASSERT_TRUE(StartServiceA(running, 0, nullptr));
  ASSERT_TRUE(WaitState(running, SERVICE_RUNNING));

  auto names = [&](DWORD state, DWORD bufferSize) {
    std::vector<std::string> got;
    std::vector<unsigned char> buffer(bufferSize);
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    DWORD resume = 0;
    for (int round = 0; round < 10; ++round) {
      DWORD needed = 0, count = 0;
      const BOOL all = EnumServicesStatusA(manager_, SERVICE_WIN32, state, entries, bufferSize,
                                           &needed, &count, &resume);
      for (DWORD i = 0; i < count; ++i)
        got.push_back(std::string(entries[i].lpServiceName) + "=" +
                      std::to_string(entries[i].ServiceStatus.dwCurrentState));
      if (all) {
        EXPECT_EQ(needed, 0u);
        EXPECT_EQ(resume, 0u);
        break;
      }
      EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
      EXPECT_GT(needed, 0u);
    }
    return got;
  };
  const std::vector<std::string> all{"Running=4", "Stopped1=1", "Stopped2=1"};
  EXPECT_EQ(names(SERVICE_STATE_ALL, 4096), all);
  EXPECT_EQ(names(SERVICE_STATE_ALL, sizeof(ENUM_SERVICE_STATUSA) + 24), all);
  EXPECT_EQ(names(SERVICE_ACTIVE, 4096), std::vector<std::string>{"Running=4"});
  EXPECT_EQ(names(SERVICE_INACTIVE, 4096), (std::vector<std::string>{"Stopped1=1", "Stopped2=1"}));

  DWORD needed = 0, count = 0;
  EXPECT_FALSE(
      EnumServicesStatusA(manager_, SERVICE_WIN32, 0, nullptr, 0, &needed, &count, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  ScHandle connectOnly(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  EXPECT_FALSE(EnumServicesStatusA(connectOnly, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                                   &needed, &count, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  SERVICE_STATUS st;
  ControlService(running, SERVICE_CONTROL_STOP, &st);
  WaitState(running, SERVICE_STOPPED);
}

}  // namespace
}  // namespace testsupport
