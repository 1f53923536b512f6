// Services under an account with a password, against a real scmd that sees the test account (in
// a mount namespace of its own): the account logs on with the password kept for it at each
// start, a restart included; a change takes any password; the password is in no file but the
// service's record and in no log line, reply or child process.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

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

// A restart after a crash logs the account on as any start does.
TEST_F(ServiceLogon, ARestartWithAWrongPasswordFailsAndIsLogged) {
  ScHandle s = Install("Crashy", "--crash-after=300", SERVICE_DEMAND_START,
                       account_->Name().c_str(), TestAccount::kPassword);
  SC_ACTION restart[] = {{SC_ACTION_RESTART, 100}};
  SERVICE_FAILURE_ACTIONSW fa{3600, nullptr, nullptr, 1, restart};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  ASSERT_EQ(Change(s, nullptr, kWrong), 0u);
  EXPECT_TRUE(testsupport::WaitFor(
      [&] { return scmd_->Log().find("Crashy: restart failed with 1069") != std::string::npos; }));
  EXPECT_NE(scmd_->Log().find("Crashy: the account " + account_->Name() + " did not log on"),
            std::string::npos);
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(Runs("Crashy"), 1u);
  EXPECT_EQ(scmd_->Log().find(kWrong), std::string::npos);
}

}  // namespace
}  // namespace svctest
