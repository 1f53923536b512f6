// Services under an account with a password, against a real scmd that sees the test account (in
// a mount namespace of its own): the account logs on with the password kept for it at each
// start, a restart included; a change takes any password from an administrator or the account's
// own user, and none from another caller; the password is in no file but the service's record
// and in no log line, reply or child process. An scmd run as the account itself starts that
// account's services without a password, and no process of the account reads its memory.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/advapi32/security.h"
#include "platform/scm/record.h"
#include "tests/support/service_fixture.h"

namespace svctest {
namespace {

using testsupport::ScHandle;
using testsupport::TestAccount;

constexpr char kWrong[] = "Kw wrong-pass 2";

class ServiceLogon : public testsupport::ServiceTest {
 protected:
  bool WantsTestAccount() const override { return true; }

  // Changes the account and password (null: not given); 0 or the error.
  static DWORD Change(SC_HANDLE s, const char* account, const char* password) {
    return ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                nullptr, nullptr, nullptr, account, password, nullptr)
               ? 0
               : GetLastError();
  }

  static DWORD StartError(SC_HANDLE s) {
    SetLastError(0);
    return StartServiceA(s, 0, nullptr) ? 0 : GetLastError();
  }

  // How often the service's program ran.
  size_t Runs(const std::string& name) const {
    size_t n = 0;
    for (const auto& line : TraceLines(name))
      n += line.rfind("pid ", 0) == 0;
    return n;
  }

  // The files under the state folder that hold text.
  std::vector<std::string> FilesHolding(const std::string& text) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path()))
      if (e.is_regular_file() && testsupport::ReadFile(e.path()).find(text) != std::string::npos)
        out.push_back(e.path());
    return out;
  }
};

TEST_F(ServiceLogon, TheAccountLogsOnWithItsPasswordAtEachStart) {
  const std::string account = account_->Name();
  ScHandle s = Install("Logon", "", SERVICE_DEMAND_START, account.c_str(), TestAccount::kPassword);
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  const pid_t pid = static_cast<pid_t>(Status(s).dwProcessId);
  EXPECT_TRUE(
      TraceHas("Logon", "pid " + std::to_string(pid) + " uid " + std::to_string(account_->Uid())));
  const std::string proc = "/proc/" + std::to_string(pid);
  for (const char* file : {"/environ", "/cmdline"})
    EXPECT_EQ(testsupport::ReadFile(proc + file).find(TestAccount::kPassword), std::string::npos)
        << file;
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));

  // A wrong password is taken, and the account does not log on with it: the program never runs.
  EXPECT_EQ(Change(s, nullptr, kWrong), 0u);
  EXPECT_EQ(StartError(s), DWORD(ERROR_SERVICE_LOGON_FAILED));
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
  // The account given anew without a password has none; the password alone is the account's.
  EXPECT_EQ(Change(s, nullptr, TestAccount::kPassword), 0u);
  EXPECT_EQ(Change(s, "LocalSystem", nullptr), 0u);
  EXPECT_EQ(Change(s, account.c_str(), nullptr), 0u);
  EXPECT_EQ(StartError(s), DWORD(ERROR_SERVICE_LOGON_FAILED));
  EXPECT_EQ(Runs("Logon"), 1u);
  EXPECT_EQ(Change(s, nullptr, TestAccount::kPassword), 0u);
  ASSERT_EQ(StartError(s), 0u);
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  EXPECT_EQ(Runs("Logon"), 2u);

  // The password lives in the record alone, which is scmd's.
  alignas(8) BYTE config[8192];
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(s, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(config),
                                  sizeof config, &needed));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(config), needed).find(TestAccount::kPassword),
            std::string::npos);
  const std::string record = scm::ServiceStore(dir_.path()).FileOf("Logon");
  EXPECT_EQ(FilesHolding(TestAccount::kPassword), std::vector<std::string>{record});
  EXPECT_TRUE(FilesHolding(kWrong).empty());
  struct stat info;
  ASSERT_EQ(stat(record.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(dir_.File("services").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
}

// A restart after a crash logs the account on as any start does. The crash comes once the
// password has changed: the test ends the service's process itself.
TEST_F(ServiceLogon, ARestartWithAWrongPasswordFailsAndIsLogged) {
  ScHandle s =
      Install("Crashy", "", SERVICE_DEMAND_START, account_->Name().c_str(), TestAccount::kPassword);
  SC_ACTION restart[] = {{SC_ACTION_RESTART, 100}};
  SERVICE_FAILURE_ACTIONSW fa{3600, nullptr, nullptr, 1, restart};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_EQ(Change(s, nullptr, kWrong), 0u);
  ASSERT_EQ(kill(static_cast<pid_t>(Status(s).dwProcessId), SIGKILL), 0);
  EXPECT_TRUE(testsupport::WaitFor(
      [&] { return scmd_->Log().find("Crashy: restart failed with 1069") != std::string::npos; }));
  EXPECT_NE(scmd_->Log().find("Crashy: the account " + account_->Name() + " did not log on"),
            std::string::npos);
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(Runs("Crashy"), 1u);
  EXPECT_EQ(scmd_->Log().find(kWrong), std::string::npos);
}

// A caller below an administrator that holds every right on services (a NULL DACL) cannot set
// the password of one that runs under another account: "set a password, start" would tell it,
// guess after guess, whether that account's password is the one it set. Its own account's it sets.
TEST_F(ServiceLogon, OnlyAnAdministratorOrTheAccountItselfSetsAPassword) {
  ScHandle other = Install("Other", "", SERVICE_DEMAND_START, "nobody");
  ScHandle own = Install("Own", "", SERVICE_DEMAND_START, account_->Name().c_str(), kWrong);
  ScHandle moved = Install("Moved", "", SERVICE_DEMAND_START, "nobody");
  for (const char* name : {"Other", "Own", "Moved"})
    ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(name), SE_SERVICE, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr),
              0u)
        << name;
  const std::string otherRecord = scm::ServiceStore(dir_.path()).FileOf("Other");
  const std::string before = testsupport::ReadFile(otherRecord);
  ASSERT_FALSE(before.empty());
  // The account's group has the account's id.
  const std::string self = ".\\" + account_->Name();
  const std::vector<DWORD> codes = AsUser(account_->Uid(), account_->Uid(), {}, [&] {
    std::vector<DWORD> out;
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE o = OpenServiceA(m, "Other", SERVICE_ALL_ACCESS);
    SC_HANDLE s = OpenServiceA(m, "Own", SERVICE_ALL_ACCESS);
    SC_HANDLE v = OpenServiceA(m, "Moved", SERVICE_ALL_ACCESS);
    out.push_back(o && s && v ? 0 : GetLastError());
    out.push_back(Change(o, nullptr, ""));
    out.push_back(Change(o, nullptr, kWrong));
    out.push_back(Change(o, ".\\nobody", kWrong));  // the same account given anew
    out.push_back(Change(o, nullptr, nullptr));     // a change without one is the caller's
    out.push_back(Change(s, nullptr, TestAccount::kPassword));
    // Moved onto the caller's own account, with that account's password in the same call.
    out.push_back(Change(v, self.c_str(), TestAccount::kPassword));
    for (SC_HANDLE h : {v, s, o})
      CloseServiceHandle(h);
    CloseServiceHandle(m);
    return out;
  });
  EXPECT_EQ(codes, (std::vector<DWORD>{0, 5, 5, 5, 0, 0, 0}));
  EXPECT_EQ(testsupport::ReadFile(otherRecord), before);
  // The password its user set is the one the account logs on with.
  for (SC_HANDLE h : {own.h, moved.h}) {
    ASSERT_EQ(StartError(h), 0u);
    ASSERT_TRUE(WaitState(h, SERVICE_RUNNING));
    SERVICE_STATUS st;
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &st));
    ASSERT_TRUE(WaitState(h, SERVICE_STOPPED));
  }
}

// scmd run as the test account: it cannot read the shadow table, and needs not to for a service
// of its own user, which it starts as it is.
class ScmdAsTheAccount : public ServiceLogon {
 protected:
  bool ScmdRunsAsTestAccount() const override { return true; }
};

TEST_F(ScmdAsTheAccount, StartsAServiceOfItsOwnUserWithoutAPassword) {
  ScHandle s = Install("Self", "", SERVICE_DEMAND_START, account_->Name().c_str());
  ASSERT_EQ(StartError(s), 0u) << scmd_->Log();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  const pid_t pid = static_cast<pid_t>(Status(s).dwProcessId);
  EXPECT_TRUE(
      TraceHas("Self", "pid " + std::to_string(pid) + " uid " + std::to_string(account_->Uid())));
  SERVICE_STATUS st;
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));
}

// scmd keeps the passwords in its memory: its own user sees none of it. Its /proc files belong to
// root, and its environment cannot be read by the account it runs as.
TEST_F(ScmdAsTheAccount, IsNotDumpable) {
  const std::string proc = "/proc/" + std::to_string(scmd_->pid());
  EXPECT_NE(
      testsupport::ReadFile(proc + "/status").find("\nUid:\t" + std::to_string(account_->Uid())),
      std::string::npos);
  for (const char* file : {"/environ", "/mem", "/maps", "/status"}) {
    struct stat info;
    ASSERT_EQ(stat((proc + file).c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_uid, 0u) << file;
  }
  const std::vector<DWORD> opened = AsUser(account_->Uid(), account_->Uid(), {}, [&] {
    const int fd = open((proc + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
    const DWORD error = fd < 0 ? DWORD(errno) : 0;
    if (fd >= 0) close(fd);
    return std::vector<DWORD>{error};
  });
  EXPECT_EQ(opened, std::vector<DWORD>{EACCES});
}

}  // namespace
}  // namespace svctest
