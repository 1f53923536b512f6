// The binding units. Each unit binds once per process, at its first use, so each case expects a
// process of its own (as CTest runs them) and sets the environment the binding reads first:
// KELVADON_WINVER for the system, KELVADON_LIBDIR for where the libraries are.
#include "svcctl/apibind.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "svcctl/ntexception.h"
#include "svcctl/secbind.h"
#include "svcctl/servicemanager.h"
#include "tests/support/files.h"

namespace {

// What a call gave: its result as a number and the last error after it.
struct Outcome {
  uintptr_t result;
  DWORD error;
  bool operator==(const Outcome&) const = default;
};

template <typename R>
Outcome Of(R result) {
  const DWORD error = GetLastError();
  uintptr_t value;
  if constexpr (std::is_pointer_v<R>)
    value = reinterpret_cast<uintptr_t>(result);
  else
    value = static_cast<uintptr_t>(result);
  return {value, error};
}

// The message and code an ENTException from f carries ("" when none is raised).
std::pair<std::string, int32_t> Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENTException& e) {
    return {e.Message, e.ErrorCode};
  }
  return {"", -2};
}

void SetEnv(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

// Every service-control forwarder gives exactly what the library's own function gives, result
// and last error (failures here: a bad handle, no scmd).
TEST(Binding, ServiceForwardersPassResultAndLastErrorThrough) {
  testsupport::TempDir noScmd("kwbind");
  SetEnv("KELVADON_SCM_DIR", noScmd.path());
  HMODULE lib = LoadLibraryA("advapi32.dll");
  ASSERT_TRUE(lib);
  auto direct = [&](const char* name) { return GetProcAddress(lib, name); };
  const auto bad = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x77));
  SERVICE_STATUS st{};
  DWORD needed = 0;
  BYTE buffer[16];
  const struct {
    const char* name;
    std::function<Outcome()> forwarded, own;
  } rows[] = {
      {"OpenSCManagerA", [&] { return Of(nt::OpenSCManagerA(nullptr, nullptr, 1)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::OpenSCManagerA)>(direct("OpenSCManagerA"))(
             nullptr, nullptr, 1));
       }},
      {"OpenServiceA", [&] { return Of(nt::OpenServiceA(bad, "x", 1)); },
       [&] {
         return Of(
             reinterpret_cast<decltype(&nt::OpenServiceA)>(direct("OpenServiceA"))(bad, "x", 1));
       }},
      {"CloseServiceHandle", [&] { return Of(nt::CloseServiceHandle(bad)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::CloseServiceHandle)>(
             direct("CloseServiceHandle"))(bad));
       }},
      {"QueryServiceStatus", [&] { return Of(nt::QueryServiceStatus(bad, &st)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::QueryServiceStatus)>(
             direct("QueryServiceStatus"))(bad, &st));
       }},
      {"ControlService", [&] { return Of(nt::ControlService(bad, 1, &st)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::ControlService)>(direct("ControlService"))(bad, 1,
                                                                                             &st));
       }},
      {"StartServiceA", [&] { return Of(nt::StartServiceA(bad, 0, nullptr)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::StartServiceA)>(direct("StartServiceA"))(
             bad, 0, nullptr));
       }},
      {"ChangeServiceConfigA",
       [&] {
         return Of(nt::ChangeServiceConfigA(bad, 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr));
       },
       [&] {
         return Of(
             reinterpret_cast<decltype(&nt::ChangeServiceConfigA)>(direct("ChangeServiceConfigA"))(
                 bad, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
       }},
      {"ChangeServiceConfig2W", [&] { return Of(nt::ChangeServiceConfig2W(bad, 1, nullptr)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::ChangeServiceConfig2W)>(
             direct("ChangeServiceConfig2W"))(bad, 1, nullptr));
       }},
      {"QueryServiceConfigA", [&] { return Of(nt::QueryServiceConfigA(bad, nullptr, 0, &needed)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::QueryServiceConfigA)>(
             direct("QueryServiceConfigA"))(bad, nullptr, 0, &needed));
       }},
      {"QueryServiceConfig2W",
       [&] { return Of(nt::QueryServiceConfig2W(bad, 1, buffer, sizeof buffer, &needed)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::QueryServiceConfig2W)>(
             direct("QueryServiceConfig2W"))(bad, 1, buffer, sizeof buffer, &needed));
       }},
      {"LockServiceDatabase", [&] { return Of(nt::LockServiceDatabase(bad)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::LockServiceDatabase)>(
             direct("LockServiceDatabase"))(bad));
       }},
      {"UnlockServiceDatabase", [&] { return Of(nt::UnlockServiceDatabase(bad)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::UnlockServiceDatabase)>(
             direct("UnlockServiceDatabase"))(bad));
       }},
      {"QueryServiceObjectSecurity",
       [&] { return Of(nt::QueryServiceObjectSecurity(bad, 4, buffer, sizeof buffer, &needed)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::QueryServiceObjectSecurity)>(
             direct("QueryServiceObjectSecurity"))(bad, 4, buffer, sizeof buffer, &needed));
       }},
      {"SetServiceObjectSecurity", [&] { return Of(nt::SetServiceObjectSecurity(bad, 4, buffer)); },
       [&] {
         return Of(reinterpret_cast<decltype(&nt::SetServiceObjectSecurity)>(
             direct("SetServiceObjectSecurity"))(bad, 4, buffer));
       }},
  };
  for (const auto& r : rows) {
    ASSERT_TRUE(direct(r.name)) << r.name;
    SetLastError(0);
    const Outcome forwarded = r.forwarded();
    SetLastError(0);
    const Outcome own = r.own();
    EXPECT_EQ(forwarded, own) << r.name;
    EXPECT_NE(forwarded.error, 0u) << r.name << ": a failure without a last error";
  }
  EXPECT_EQ(nt::ServiceUnit().Library(), "advapi32.dll");
  EXPECT_TRUE(nt::ServiceUnit().Loaded());
}

TEST(Binding, Windows2000FunctionsComeFromAdvapi32AndNetworkFunctionsFromNone) {
  // Windows XP: the SID texts come from advapi32 (a missing name is the fixture's case below).
  SetEnv("KELVADON_WINVER", "2.5.1");
  EXPECT_TRUE(nt::Win2000Unit().Loaded());
  LPWSTR text = nullptr;
  SetLastError(0);
  EXPECT_EQ(Of(nt::ConvertSidToStringSidW(nullptr, &text)), (Outcome{0, ERROR_INVALID_PARAMETER}));
  // The network functions come from a library the system does not ship: nothing is bound.
  EXPECT_FALSE(nt::NetUnit().Loaded());
  EXPECT_EQ(nt::NetUnit().Library(), "netapi32.dll");
}

TEST(Binding, NT4TakesWindows2000FunctionsFromRadmin32) {
  SetEnv("KELVADON_WINVER", "2.4.0");
  PSID sid = nullptr;
  EXPECT_EQ(Raised([&] { nt::ConvertStringSidToSidW(u"S-1-1-0", &sid); }),
            std::make_pair(std::string("Cannot load library \"radmin32.dll\" or linked libraries. "
                                       "Not Windows 2000?"),
                           0));
  // The NT family's own functions still come from advapi32.
  EXPECT_EQ(nt::ServiceUnit().Library(), "advapi32.dll");
}

TEST(Binding, OutsideTheNTFamilyEveryUnitLooksForRadmin32) {
  SetEnv("KELVADON_WINVER", "1.4.10");
  SERVICE_STATUS st{};
  EXPECT_EQ(
      Raised([&] { nt::QueryServiceStatus(nullptr, &st); }),
      std::make_pair(std::string("Cannot load library \"radmin32.dll\" or linked libraries"), 0));
  EXPECT_EQ(Raised([&] { nt::IsValidSid(nullptr); }).first,
            "Cannot load library \"radmin32.dll\" or linked libraries");
  EXPECT_EQ(nt::AccountUnit().Library(), "radmin32.dll");
  EXPECT_EQ(nt::NetUnit().Library(), "radmin32.dll");
}

// A security library without ChangeServiceConfig2W: the unit starts cleanly, forwards the rest
// and raises on that call only.
TEST(Binding, AFunctionMissingFromTheLibraryRaisesOnItsCallOnly) {
  SetEnv("KELVADON_LIBDIR", SVCCTL_FIXTURE_DIR);
  EXPECT_TRUE(nt::ServiceUnit().Loaded());
  SERVICE_STATUS st{};
  SetLastError(0);
  EXPECT_EQ(Of(nt::QueryServiceStatus(nullptr, &st)), (Outcome{0, 4204}));
  EXPECT_EQ(Of(nt::OpenSCManagerA(nullptr, nullptr, 1)), (Outcome{0x4711, 4201}));
  EXPECT_EQ(
      Raised([&] { nt::ChangeServiceConfig2W(nullptr, 1, nullptr); }),
      std::make_pair(std::string("Cannot load library \"advapi32.dll\" or linked libraries"), 0));
  EXPECT_EQ(Of(nt::CloseServiceHandle(nullptr)), (Outcome{1, 4203}));
}

// No security library where the binding looks: the service manager component reports the
// binding's message on its first call and stays closed.
TEST(Binding, AnEmptyLibraryFolderGivesTheBindingMessage) {
  testsupport::TempDir empty;
  SetEnv("KELVADON_LIBDIR", empty.path());
  EXPECT_FALSE(nt::ServiceUnit().Loaded());
  TNTServiceManager nts;
  EXPECT_EQ(
      Raised([&] { nts.SetActiveManager(true); }),
      std::make_pair(std::string("Cannot load library \"advapi32.dll\" or linked libraries"), 0));
  EXPECT_FALSE(nts.ActiveManager());
}

}  // namespace
