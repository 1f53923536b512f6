// Dependencies between services against a real scmd and the test service: a start starts what it
// depends on first, a stop of a dependency is refused while its dependent runs, dependencies that
// cannot run end the start with their codes, cycles are refused, and the automatic start keeps
// the order.
#include <cstring>
#include <string>
#include <vector>

#include "platform/scm/record.h"
#include "tests/support/service_fixture.h"

namespace svctest {
namespace {

using testsupport::ScHandle;

class ServiceDependencies : public testsupport::ServiceTest {
 protected:
  // Sets the service's dependencies; 0 or the error.
  static DWORD Depend(SC_HANDLE s, const std::vector<std::string>& names) {
    std::string multi;
    for (const auto& n : names)
      multi.append(n).push_back('\0');
    multi.push_back('\0');
    return ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                nullptr, nullptr, multi.data(), nullptr, nullptr, nullptr)
               ? 0
               : GetLastError();
  }

  // The service's dependencies as scmd reports them.
  static std::vector<std::string> DependenciesOf(SC_HANDLE s) {
    alignas(8) BYTE buf[8192];
    DWORD needed = 0;
    auto* c = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf);
    if (!QueryServiceConfigA(s, c, sizeof buf, &needed)) return {"query failed"};
    std::vector<std::string> out;
    for (const char* p = c->lpDependencies; *p; p += strlen(p) + 1)
      out.emplace_back(p);
    return out;
  }

  // Where a line starting with "scmd: " + text stands in scmd's log (npos when nowhere).
  size_t LogAt(const std::string& text) const { return scmd_->Log().find("scmd: " + text); }

  size_t Count(const std::string& text) const {
    const std::string log = scmd_->Log();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++n;
    return n;
  }

  // Stops scmd and starts it again, with a new manager handle.
  void RestartScmd() {
    manager_.reset();
    scmd_->Stop();
    ASSERT_TRUE(scmd_->Start()) << scmd_->Log();
    manager_ = ScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_.h);
  }

  ScHandle Open(const char* name) {
    return ScHandle(OpenServiceA(manager_, name, SERVICE_ALL_ACCESS));
  }
};

TEST_F(ServiceDependencies, ADependencyRunsFirstAndIsNotStoppedUnderItsDependent) {
  ScHandle base = Install("Base", "--start-delay=300");
  ScHandle top = Install("Top");
  ASSERT_EQ(Depend(top, {"BASE"}), 0u);  // names match in any letter case
  ASSERT_TRUE(StartServiceA(top, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitState(top, SERVICE_RUNNING));
  EXPECT_EQ(Status(base).dwCurrentState, DWORD(SERVICE_RUNNING));
  // Top's process was started once Base ran, not before.
  ASSERT_NE(LogAt("Base: RUNNING"), std::string::npos);
  EXPECT_LT(LogAt("Base: RUNNING"), LogAt("Top: started process"));
  EXPECT_LT(LogAt("Top: waits for its dependencies"), LogAt("Base: RUNNING"));

  SERVICE_STATUS st{};
  EXPECT_FALSE(ControlService(base, SERVICE_CONTROL_STOP, &st));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DEPENDENT_SERVICES_RUNNING));
  EXPECT_EQ(st.dwCurrentState, DWORD(SERVICE_RUNNING));
  EXPECT_FALSE(TraceHas("Base", "control 1"));
  EXPECT_EQ(Status(top).dwCurrentState, DWORD(SERVICE_RUNNING));
  // Other controls reach it; once its dependent is stopped, so does the stop.
  EXPECT_TRUE(ControlService(base, SERVICE_CONTROL_INTERROGATE, &st)) << GetLastError();
  ASSERT_TRUE(ControlService(top, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  ASSERT_TRUE(WaitState(top, SERVICE_STOPPED));
  EXPECT_TRUE(ControlService(base, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  EXPECT_TRUE(WaitState(base, SERVICE_STOPPED));
}

// scmd with a short start time-out, for a dependency that stays START_PENDING past it. (Every
// dependency started below fails either way, in its time-out or before it, so a loaded machine
// changes no outcome.)
class DependencyStartTimeout : public ServiceDependencies {
 protected:
  DependencyStartTimeout() { ShortStartTimeout(); }
};

// Each dependency here cannot run: the start ends with its code, the dependent stays STOPPED and
// its program never runs.
TEST_F(DependencyStartTimeout, AStartWhoseDependencyCannotRunEndsWithItsCode) {
  ScHandle disabled = Install("Disabled");
  ASSERT_TRUE(ChangeServiceConfigA(disabled, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  ScHandle named = Install("Named");
  ASSERT_TRUE(ChangeServiceConfigA(named, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "Shown"));
  ScHandle doomed = Install("Doomed");
  ASSERT_TRUE(DeleteService(doomed));  // marked; the open handle keeps it
  ScHandle middle = Install("Middle");
  ASSERT_EQ(Depend(middle, {"Missing"}), 0u);
  ScHandle slow = Install("Slow", "--start-delay=5000");  // past the 3 s time-out
  std::vector<ScHandle> programs;
  for (const auto& [name, path] :
       {std::pair{"NoProgram", "/nonexistent/kw-program"}, std::pair{"Quitter", "/bin/true"}}) {
    programs.emplace_back(CreateServiceA(manager_, name, nullptr, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                         SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr,
                                         nullptr, nullptr));
    ASSERT_TRUE(programs.back().h) << name;
  }

  const struct {
    const char* what;
    const char* dependency;
    DWORD error;
  } cases[] = {
      {"not installed", "Missing", ERROR_SERVICE_DEPENDENCY_DELETED},
      {"a group", "+Group", ERROR_SERVICE_DEPENDENCY_DELETED},
      {"marked for deletion", "Doomed", ERROR_SERVICE_DEPENDENCY_DELETED},
      {"a display name", "Shown", ERROR_SERVICE_DEPENDENCY_DELETED},
      {"missing one further down", "Middle", ERROR_SERVICE_DEPENDENCY_DELETED},
      {"disabled", "Disabled", ERROR_SERVICE_DEPENDENCY_FAIL},
      {"its program does not exist", "NoProgram", ERROR_SERVICE_DEPENDENCY_FAIL},
      {"it ends before its dispatcher", "Quitter", ERROR_SERVICE_DEPENDENCY_FAIL},
      {"START_PENDING past the time-out", "Slow", ERROR_SERVICE_DEPENDENCY_FAIL},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "Dependent" + std::to_string(++n);
    ScHandle s = Install(name);
    ASSERT_EQ(Depend(s, {c.dependency}), 0u);
    SetLastError(0);
    EXPECT_FALSE(StartServiceA(s, 0, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
    const SERVICE_STATUS_PROCESS st = Status(s);
    EXPECT_EQ(st.dwCurrentState, DWORD(SERVICE_STOPPED));
    EXPECT_EQ(st.dwProcessId, 0u);
    EXPECT_TRUE(TraceLines(name).empty());
  }
  EXPECT_TRUE(TraceLines("Middle").empty());  // not started for a missing dependency of its own
}

TEST_F(ServiceDependencies, ACycleIsRefusedAndChangesNothing) {
  SC_HANDLE self =
      CreateServiceA(manager_, "Self", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "/bin/true", nullptr, nullptr,
                     "SELF\0", nullptr, nullptr);
  EXPECT_FALSE(self);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_CIRCULAR_DEPENDENCY));
  EXPECT_FALSE(OpenServiceA(manager_, "Self", SERVICE_QUERY_STATUS));

  ScHandle a = Install("A"), b = Install("B"), c = Install("C");
  ASSERT_EQ(Depend(a, {"B"}), 0u);
  EXPECT_EQ(Depend(b, {"A"}), DWORD(ERROR_CIRCULAR_DEPENDENCY));
  ASSERT_EQ(Depend(b, {"C", "+Group", "Missing"}), 0u);
  EXPECT_EQ(Depend(c, {"Missing", "a"}), DWORD(ERROR_CIRCULAR_DEPENDENCY));
  EXPECT_TRUE(DependenciesOf(c).empty());
  EXPECT_EQ(DependenciesOf(b), (std::vector<std::string>{"C", "+Group", "Missing"}));
  // A list without the way back is taken, and a change of another field keeps it.
  ASSERT_EQ(Depend(c, {"Missing"}), 0u);
  ASSERT_TRUE(ChangeServiceConfigA(c, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(DependenciesOf(c), std::vector<std::string>{"Missing"});
}

// Records of an older scmd may hold a cycle: a start through it fails, and scmd goes on.
TEST_F(ServiceDependencies, ACycleStoredByAnOlderScmdFailsItsStart) {
  Install("Ping");
  Install("Pong");
  manager_.reset();
  scmd_->Stop();
  scm::ServiceStore store(dir_.path());
  for (scm::ServiceRecord& r : store.LoadAll(nullptr)) {
    r.config.dependencies = {r.config.name == "Ping" ? "Pong" : "Ping"};
    ASSERT_TRUE(store.Save(r));
  }
  ASSERT_TRUE(scmd_->Start()) << scmd_->Log();
  manager_ = ScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle ping = Open("Ping");
  EXPECT_FALSE(StartServiceA(ping, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DEPENDENCY_FAIL));
  ScHandle pong = Open("Pong");
  EXPECT_EQ(Status(ping).dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(Status(pong).dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_TRUE(TraceLines("Ping").empty());
  EXPECT_TRUE(TraceLines("Pong").empty());
  EXPECT_TRUE(scmd_->Running());
  // The cycle stops no other change, and a list that breaks it lets both start.
  EXPECT_TRUE(ChangeServiceConfigA(ping, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "Shown"))
      << GetLastError();
  ASSERT_EQ(Depend(pong, {}), 0u);
  ASSERT_TRUE(StartServiceA(ping, 0, nullptr)) << GetLastError();
  EXPECT_TRUE(WaitState(ping, SERVICE_RUNNING));
  EXPECT_EQ(Status(pong).dwCurrentState, DWORD(SERVICE_RUNNING));
}

// Two automatic services on one that is automatic too: it starts once, before either of them.
TEST_F(ServiceDependencies, AutomaticServicesStartAfterTheirDependencies) {
  ScHandle first = Install("AutoA", "", SERVICE_AUTO_START);
  ScHandle base = Install("AutoB", "--start-delay=300", SERVICE_AUTO_START);
  ScHandle last = Install("AutoC", "", SERVICE_AUTO_START);
  ASSERT_EQ(Depend(first, {"AutoB"}), 0u);
  ASSERT_EQ(Depend(last, {"autob"}), 0u);
  first.reset();
  base.reset();
  last.reset();
  RestartScmd();
  for (const char* name : {"AutoA", "AutoB", "AutoC"})
    EXPECT_TRUE(WaitState(Open(name), SERVICE_RUNNING)) << name;
  EXPECT_EQ(Count("AutoB: started process"), 1u);
  EXPECT_LT(LogAt("AutoB: RUNNING"), LogAt("AutoA: started process"));
  EXPECT_LT(LogAt("AutoB: RUNNING"), LogAt("AutoC: started process"));
  EXPECT_EQ(Count("automatic start failed"), 0u) << scmd_->Log();
}

}  // namespace
}  // namespace svctest
