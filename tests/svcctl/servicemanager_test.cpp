// The service manager component on services of a real scmd: configuration, description, failure
// actions, start, status, controls, the lock and the guarded setters.
#include "svcctl/servicemanager.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/advapi32/advapi32.h"
#include "rtl/cp932.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntprivilege.h"
#include "tests/support/service_fixture.h"

namespace {

using namespace ntsvc;

// The ENTException f raises, as "code: message" ("" when none).
std::string Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENTException& e) {
    return std::to_string(e.ErrorCode) + ": " + e.Message;
  }
  return "";
}

class ServiceManager : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    service_ = Install("KelvadonManager");
    nts_.SetServiceName("KelvadonManager");
    KwResetProcessToken();
  }
  void TearDown() override {
    service_.reset();
    KwResetProcessToken();
    ServiceTest::TearDown();
  }

  // The service's configuration as another client sees it.
  QUERY_SERVICE_CONFIGA* Config() {
    DWORD needed = 0;
    if (!QueryServiceConfigA(service_, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(config_),
                             sizeof config_, &needed))
      ADD_FAILURE() << "QueryServiceConfigA " << GetLastError();
    return reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config_);
  }

  testsupport::ScHandle service_;
  TNTServiceManager nts_;
  alignas(8) BYTE config_[8192];
};

TEST_F(ServiceManager, ConstructionValues) {
  TNTServiceManager fresh;
  EXPECT_EQ(fresh.ManagerAccess(), 1u);
  EXPECT_EQ(fresh.ServiceAccess(), 983551u);
  EXPECT_FALSE(fresh.ActiveManager());
  EXPECT_FALSE(fresh.ActiveService());
  EXPECT_EQ(fresh.GetObjectType(), SE_SERVICE);
  // Closed: the defaults of a closed service.
  EXPECT_EQ(fresh.DisplayName(), "");
  EXPECT_EQ(fresh.StartType(), BOOT_START);
  EXPECT_EQ(fresh.ErrorControl(), ERROR_IGNORE);
  EXPECT_EQ(fresh.Description(), "");
}

TEST_F(ServiceManager, EachSetterWritesItsOneField) {
  nts_.SetActiveService(true);
  ASSERT_TRUE(nts_.ActiveManager());
  const std::string path = nts_.BinaryPathName();
  struct Case {
    const char* name;
    std::function<void()> set;
    std::function<std::string(QUERY_SERVICE_CONFIGA*)> shown;
    std::string expected;
  };
  rtl::TStringList deps;
  deps.Add("Alpha");
  deps.Add("Beta");
  const std::vector<Case> cases = {
      {"DisplayName", [&] { nts_.SetDisplayName("Kelvadon Manager"); },
       [](auto* c) { return std::string(c->lpDisplayName); }, "Kelvadon Manager"},
      {"StartType", [&] { nts_.SetStartType(AUTO_START); },
       [](auto* c) { return std::to_string(c->dwStartType); }, "2"},
      {"ErrorControl", [&] { nts_.SetErrorControl(ERROR_SEVERE); },
       [](auto* c) { return std::to_string(c->dwErrorControl); }, "2"},
      {"ServiceType",
       [&] {
         nts_.SetServiceType(TServiceTypes{WIN32_OWN_PROCESS, INTERACTIVE_PROCESS});
       },
       [](auto* c) { return std::to_string(c->dwServiceType); }, "272"},
      {"LoadOrder", [&] { nts_.SetLoadOrder("Group1"); },
       [](auto* c) { return std::string(c->lpLoadOrderGroup); }, "Group1"},
      {"Dependencies", [&] { nts_.SetDependencies(deps); },
       [](auto* c) {
         std::string s;
         for (const char* p = c->lpDependencies; p && *p; p += strlen(p) + 1)
           s += std::string(p) + ";";
         return s;
       },
       "Alpha;Beta;"},
      {"BinaryPathName", [&] { nts_.SetBinaryPathName(path + " --stop-delay=10"); },
       [](auto* c) { return std::string(c->lpBinaryPathName); }, path + " --stop-delay=10"},
  };
  for (const Case& c : cases) {
    c.set();
    QUERY_SERVICE_CONFIGA* config = Config();
    EXPECT_EQ(c.shown(config), c.expected) << c.name;
    // The other fields are untouched: the display name stays once it is set.
    if (std::string(c.name) != "DisplayName") {
      EXPECT_STREQ(config->lpDisplayName, "Kelvadon Manager") << c.name;
    }
  }
  // A fresh read gives back what was written; the password never reads back.
  nts_.SetActiveService(false);
  nts_.SetActiveService(true);
  EXPECT_EQ(nts_.StartType(), AUTO_START);
  EXPECT_EQ(nts_.Dependencies().Count(), 2);
  EXPECT_EQ(nts_.Password(), "");
}

TEST_F(ServiceManager, ClosedServiceOnlyCachesAndTheNextReadReplacesIt) {
  nts_.SetActiveService(true);
  EXPECT_EQ(nts_.StartType(), DEMAND_START);
  nts_.SetActiveService(false);
  nts_.SetStartType(DISABLED);  // cached only
  EXPECT_EQ(Config()->dwStartType, SERVICE_DEMAND_START);
  nts_.SetActiveService(true);  // the caches are unread again
  EXPECT_EQ(nts_.StartType(), DEMAND_START);
}

TEST_F(ServiceManager, DescriptionRoundTrips) {
  nts_.SetActiveService(true);
  EXPECT_EQ(nts_.Description(), "");
  const std::string japanese = rtl::Utf8ToCp932("集計サービス「ソ」");
  nts_.SetDescription(japanese);
  nts_.SetActiveService(false);
  nts_.SetActiveService(true);
  EXPECT_EQ(nts_.Description(), japanese);
  // Over 8192 bytes as UTF-16: read through the second, larger buffer.
  const std::string long_(6000, 'd');
  nts_.SetDescription(long_);
  nts_.SetActiveService(false);
  nts_.SetActiveService(true);
  EXPECT_EQ(nts_.Description(), long_);
  // A dependency list of over 8192 bytes makes the configuration read take the larger buffer.
  rtl::TStringList deps;
  for (int i = 0; i < 40; ++i)
    deps.Add(std::to_string(100 + i) + std::string(240, 'x'));
  nts_.SetDependencies(deps);
  nts_.SetActiveService(false);
  nts_.SetActiveService(true);
  ASSERT_EQ(nts_.Dependencies().Count(), 40);
  EXPECT_EQ(nts_.Dependencies().Strings(39), deps.Strings(39));
}

TEST_F(ServiceManager, DependenciesStartFirstAndHoldTheirDependency) {
  testsupport::ScHandle base = Install("Base", "--start-delay=200");
  nts_.SetActiveService(true);
  rtl::TStringList deps;
  deps.Add("base");
  nts_.SetDependencies(deps);
  nts_.StartService();
  ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
  EXPECT_EQ(Status(base).dwCurrentState, DWORD(SERVICE_RUNNING));
  const std::string log = scmd_->Log();
  EXPECT_LT(log.find("scmd: Base: RUNNING"), log.find("scmd: KelvadonManager: started process"));

  // The dependency's own component: it may not stop under its dependent, nor depend on it.
  TNTServiceManager dependency;
  dependency.SetServiceName("Base");
  dependency.SetActiveService(true);
  EXPECT_EQ(Raised([&] { dependency.Control(CONTROL_STOP); }).substr(0, 6), "1051: ");
  rtl::TStringList back;
  back.Add("KelvadonManager");
  EXPECT_EQ(Raised([&] { dependency.SetDependencies(back); }).substr(0, 6), "1059: ");
  dependency.SetActiveService(false);
  dependency.SetActiveService(true);
  EXPECT_EQ(dependency.Dependencies().Count(), 0);
  EXPECT_EQ(dependency.QueryStatus()->CurrentState, RUNNING);
}

// The service runs under the test account, which only this test's scmd sees.
class ServiceManagerLogon : public ServiceManager {
 protected:
  bool WantsTestAccount() const override { return true; }
};

TEST_F(ServiceManagerLogon, TheAccountAndItsPasswordTakeEffectAtTheStart) {
  const std::string account = account_->Name();
  testsupport::ScHandle s = Install("Logon", "", SERVICE_DEMAND_START, account.c_str());
  TNTServiceManager logon;
  logon.SetServiceName("Logon");
  logon.SetActiveService(true);
  EXPECT_EQ(Raised([&] { logon.StartService(); }).substr(0, 6), "1069: ");  // it has none yet

  logon.SetPassword(testsupport::TestAccount::kPassword);  // the current account's
  logon.StartService();
  ASSERT_TRUE(WaitState(s, SERVICE_RUNNING));
  const pid_t pid = static_cast<pid_t>(Status(s).dwProcessId);
  EXPECT_TRUE(
      TraceHas("Logon", "pid " + std::to_string(pid) + " uid " + std::to_string(account_->Uid())));
  logon.SetActiveService(true);
  logon.Control(CONTROL_STOP);
  ASSERT_TRUE(WaitState(s, SERVICE_STOPPED));

  // The account and the password go together; a wrong one is taken and fails the start.
  logon.SetServiceStartName("LocalSystem");
  logon.SetPassword("Kw wrong-pass 2");
  logon.SetServiceStartName(account);
  EXPECT_EQ(Raised([&] { logon.StartService(); }).substr(0, 6), "1069: ");
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
  logon.SetActiveService(false);
  logon.SetActiveService(true);
  EXPECT_EQ(logon.ServiceStartName(), account);
  EXPECT_EQ(logon.Password(), "");
}

TEST_F(ServiceManager, FailureActionsAreWrittenAtOnce) {
  nts_.SetActiveService(true);
  TFailureOptions& options = nts_.FailureOptions();
  EXPECT_EQ(options.Actions().Count(), 0);
  options.SetResetPeriod(600);
  options.Actions().Add(SC_ACTION_RESTART, 1000);
  options.Actions().Add(SC_ACTION_RUN_COMMAND, 2000);
  options.SetCommandLine("/bin/true");
  rtl::TStringList message;
  message.Add(rtl::Utf8ToCp932("再起動します"));
  message.Add("second line");
  options.SetRebootMessage(message);

  TNTServiceManager other;
  other.SetServiceName("KelvadonManager");
  other.SetActiveService(true);
  TFailureOptions& read = other.FailureOptions();
  ASSERT_EQ(read.Actions().Count(), 2);
  EXPECT_EQ(read.Actions().Items(1)->ActionType(), 3u);
  EXPECT_EQ(read.Actions().Items(1)->Delay(), 2000u);
  EXPECT_EQ(read.ResetPeriod(), 600u);
  EXPECT_EQ(read.CommandLine(), "/bin/true");
  EXPECT_EQ(read.RebootMessage().Text(), message.Text());

  // Clearing removes the service's actions.
  options.Actions().Clear();
  read.Actions().Refresh();
  EXPECT_EQ(read.Actions().Count(), 0);

  // A reboot action enables the shutdown privilege first (scmd refuses it otherwise).
  EXPECT_FALSE(IsPrivilegeEnabled("SeShutdownPrivilege"));
  options.Actions().Add(SC_ACTION_REBOOT, 0);
  EXPECT_TRUE(IsPrivilegeEnabled("SeShutdownPrivilege"));
  read.Actions().Refresh();
  EXPECT_EQ(read.Actions().Count(), 1);
}

TEST_F(ServiceManager, RefusedFailureActionChangesAreUndone) {
  nts_.SetServiceAccess(SERVICE_ALL_ACCESS & ~SERVICE_START);
  nts_.SetActiveService(true);
  TFailureOptions& options = nts_.FailureOptions();
  options.Actions().Add(SC_ACTION_RUN_COMMAND, 500);
  // A restart action needs SERVICE_START on the handle.
  EXPECT_EQ(Raised([&] { options.Actions().Add(SC_ACTION_RESTART, 1000); }).substr(0, 3), "5: ");
  ASSERT_EQ(options.Actions().Count(), 1);
  EXPECT_EQ(
      Raised([&] { options.Actions().Items(0)->SetActionType(SC_ACTION_RESTART); }).substr(0, 3),
      "5: ");
  EXPECT_EQ(options.Actions().Items(0)->ActionType(), 3u);
  // The next change is not refused for the entry that never reached the service.
  options.Actions().Add(SC_ACTION_NONE, 0);
  EXPECT_EQ(options.Actions().Count(), 2);
}

TEST_F(ServiceManager, StartQueryControl) {
  nts_.StartService();  // opens what is closed, closes the service again
  EXPECT_TRUE(nts_.ActiveManager());
  EXPECT_FALSE(nts_.ActiveService());
  nts_.SetActiveService(true);
  ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
  nts_.SetDisplayName("Shown");
  auto status = nts_.QueryStatus();
  EXPECT_EQ(status->CurrentState, RUNNING);
  EXPECT_EQ(status->ServiceName, "KelvadonManager");
  EXPECT_EQ(status->DisplayName, "Shown");
  EXPECT_TRUE(status->ServiceType.Contains(WIN32_OWN_PROCESS));
  EXPECT_TRUE(status->ControlsAccepted.Contains(ACCEPT_PAUSE_CONTINUE));
  nts_.Control(CONTROL_PAUSE);
  EXPECT_EQ(nts_.QueryStatus()->CurrentState, PAUSED);
  EXPECT_EQ(Raised([&] { nts_.StartService(); }).substr(0, 6), "1056: ");
  EXPECT_TRUE(nts_.ActiveService());  // a failed start keeps the handle
  nts_.Control(CONTROL_STOP);
  ASSERT_TRUE(WaitState(service_, SERVICE_STOPPED));
  EXPECT_EQ(nts_.QueryStatus()->CurrentState, STOPPED);

  rtl::TStringList args;
  args.Add("one");
  args.Add("two");
  nts_.StartService(&args);
  ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
  EXPECT_TRUE(TraceHas("KelvadonManager", "main KelvadonManager one two"));
}

TEST_F(ServiceManager, HandlesAndGuardedSetters) {
  TNTServiceManager empty;
  EXPECT_EQ(Raised([&] { empty.SetActiveService(true); }), "0: Service name is empty.");
  EXPECT_TRUE(empty.ActiveManager());  // the manager opened first
  EXPECT_FALSE(empty.ActiveService());

  nts_.SetActiveManager(true);
  const std::string managerActive =
      "-1: Can not change parameter when CONTROL SERVICE MANAGER is active";
  EXPECT_EQ(Raised([&] { nts_.SetManagerAccess(5); }), managerActive);
  EXPECT_EQ(Raised([&] { nts_.SetDatabaseName("ServicesActive"); }), managerActive);
  EXPECT_EQ(Raised([&] { nts_.SetMachineName("ELSEWHERE"); }), managerActive);
  EXPECT_EQ(nts_.GetMachineName(), "");
  nts_.SetServiceAccess(SERVICE_ALL_ACCESS);  // only the manager is open
  nts_.SetActiveService(true);
  EXPECT_EQ(Raised([&] { nts_.SetServiceAccess(1); }),
            "-1: Can not change parameter when SERVICE is active");

  // Closing the manager leaves the service open and usable; reopening it does not touch it.
  nts_.SetActiveManager(false);
  EXPECT_TRUE(nts_.ActiveService());
  EXPECT_EQ(nts_.QueryStatus()->CurrentState, STOPPED);
  nts_.SetActiveManager(true);
  nts_.SetActiveService(true);  // the same value does nothing
  EXPECT_EQ(nts_.QueryStatus()->CurrentState, STOPPED);

  // Unknown service: the system's text, the flag stays False.
  TNTServiceManager missing;
  missing.SetServiceName("NoSuchService");
  EXPECT_EQ(Raised([&] { missing.SetActiveService(true); }).substr(0, 6), "1060: ");
  EXPECT_FALSE(missing.ActiveService());
}

TEST_F(ServiceManager, LoadingRecordsAndLoadedOpens) {
  TNTServiceManager loaded;
  loaded.BeginLoading();
  loaded.SetActiveManager(true);
  loaded.SetActiveService(true);
  loaded.SetManagerAccess(5);  // accepted while loading
  loaded.SetServiceName("KelvadonManager");
  loaded.EndLoading();
  EXPECT_TRUE(loaded.ActiveManager());
  EXPECT_TRUE(loaded.ActiveService());
  EXPECT_EQ(loaded.QueryStatus()->CurrentState, STOPPED);
}

TEST_F(ServiceManager, HeldLockStopsOtherStartsUntilDestroyed) {
  {
    TNTServiceManager locker;
    locker.SetManagerAccess(SC_MANAGER_ALL_ACCESS);
    locker.SetActiveManager(true);
    locker.SetDatabaseLocked(true);
    EXPECT_TRUE(locker.DatabaseLocked());
    EXPECT_FALSE(StartServiceA(service_, 0, nullptr));
    EXPECT_EQ(GetLastError(), 1055u);
  }
  EXPECT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
}

TEST_F(ServiceManager, SecurityThroughTheServiceHandle) {
  TAccessControlList* list = nts_.AccessList();
  ASSERT_NE(list, nullptr);
  const int before = list->Count();
  list->Add("Everyone", SERVICE_QUERY_STATUS, actAccessAllowed, TAceFlags());
  TNTServiceManager other;
  other.SetServiceName("KelvadonManager");
  EXPECT_EQ(other.AccessList()->Count(), before + 1);
  EXPECT_EQ(other.ObjectOwner().empty(), false);
}

}  // namespace
