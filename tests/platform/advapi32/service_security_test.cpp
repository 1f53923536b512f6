// Service security against a real scmd, through the service API, with real callers: root (this
// process), uid 65534 outside the group "kelvadon", and uid 65534 as a member of it; the others
// are child processes that change their user and rebuild their token. The descriptor of each
// service decides; no caller that is not root or in the group reaches root through a service.
#include <grp.h>
#include <pwd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/advapi32/security.h"
#include "platform/scm/accounts.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace svctest {
namespace {

using testsupport::ScHandle;

constexpr uid_t kNobody = 65534;

enum class Who { kRoot, kMember, kNobody };

// One entry of a DACL: kind, flags, rights and the SID's text.
struct Entry {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::string sid;
};

const char* const kSystem = "S-1-5-18";
const char* const kAdministrators = "S-1-5-32-544";
const char* const kAuthenticatedUsers = "S-1-5-11";
const char* const kEveryone = "S-1-1-0";

// The SID of a text, as bytes the library can take.
std::string SidBytes(const std::string& text) {
  PSID sid = nullptr;
  const std::u16string w(text.begin(), text.end());
  if (!ConvertStringSidToSidW(reinterpret_cast<LPCWSTR>(w.c_str()), &sid)) return "";
  std::string out(static_cast<const char*>(sid), GetLengthSid(sid));
  LocalFree(sid);
  return out;
}

// The default DACL's entries, after those given.
std::vector<Entry> BeforeDefault(std::vector<Entry> first) {
  first.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, kSystem});
  first.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, kAdministrators});
  first.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_READ, kAuthenticatedUsers});
  return first;
}

class ServiceSecurity : public testsupport::ServiceTest {
 protected:
  // Sets a service's DACL by name: these entries in this order, or a null DACL.
  DWORD SetDacl(const std::string& name, const std::vector<Entry>& entries, bool null = false) {
    std::vector<std::string> sids;
    DWORD size = sizeof(ACL);
    for (const auto& e : entries) {
      sids.push_back(SidBytes(e.sid));
      size += 8 + static_cast<DWORD>(sids.back().size());
    }
    std::vector<BYTE> acl(size);
    auto* p = reinterpret_cast<PACL>(acl.data());
    EXPECT_TRUE(InitializeAcl(p, size, ACL_REVISION));
    for (size_t i = 0; i < entries.size(); ++i) {
      PSID sid = sids[i].data();
      const Entry& e = entries[i];
      EXPECT_TRUE(e.type == ACCESS_DENIED_ACE_TYPE
                      ? AddAccessDeniedAce(p, ACL_REVISION, e.mask, sid)
                      : AddAccessAllowedAce(p, ACL_REVISION, e.mask, sid));
      LPVOID ace = nullptr;
      EXPECT_TRUE(GetAce(p, static_cast<DWORD>(i), &ace));
      static_cast<ACE_HEADER*>(ace)->AceFlags = e.flags;
    }
    return SetNamedSecurityInfoA(const_cast<char*>(name.c_str()), SE_SERVICE,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, null ? nullptr : p,
                                 nullptr);
  }

  // Runs body as who and returns the codes it gave (empty when the child could not become who).
  // Another caller than root is a child (AsUser).
  static std::vector<DWORD> As(Who who, const std::function<std::vector<DWORD>()>& body) {
    if (who == Who::kRoot) return body();
    std::vector<gid_t> groups;
    if (who == Who::kMember) groups.push_back(getgrnam("kelvadon")->gr_gid);
    return AsUser(kNobody, kNobody, groups, body);
  }

  // The result of opening a service with a right: 0, or the last error.
  static DWORD Open(const std::string& name, DWORD access) {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!m) return GetLastError();
    SC_HANDLE s = OpenServiceA(m, name.c_str(), access);
    const DWORD error = s ? 0 : GetLastError();
    if (s) CloseServiceHandle(s);
    CloseServiceHandle(m);
    return error;
  }

  void SetUp() override {
    if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
    ASSERT_NE(getgrnam("kelvadon"), nullptr) << "scripts/setup makes the group kelvadon";
    ServiceTest::SetUp();
  }
};

TEST_F(ServiceSecurity, EachDescriptorGrantsEachCallerItsRights) {
  const Entry startForAll{ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_START, kEveryone};
  const struct {
    const char* service;
    std::vector<Entry> dacl;
    bool null;
  } descriptors[] = {
      {"Default", {}, false},
      {"StartForAll", BeforeDefault({startForAll}), false},
      {"DenyStop", BeforeDefault({{ACCESS_DENIED_ACE_TYPE, 0, SERVICE_STOP, kEveryone}}), false},
      {"DenyExecute",
       BeforeDefault({{ACCESS_DENIED_ACE_TYPE, 0, GENERIC_EXECUTE, kEveryone},
                      {ACCESS_ALLOWED_ACE_TYPE, 0, SERVICE_START | SERVICE_STOP, kEveryone}}),
       false},
      {"InheritOnly", BeforeDefault({{ACCESS_ALLOWED_ACE_TYPE, 0x08, SERVICE_START, kEveryone}}),
       false},
      {"Empty", {}, false},
      {"Null", {}, true},
  };
  for (const auto& d : descriptors) {
    Install(d.service);
    if (std::string(d.service) != "Default") {
      ASSERT_EQ(SetDacl(d.service, d.dacl, d.null), 0u) << d.service;
    }
  }
  const struct {
    const char* service;
    DWORD right;
    DWORD root, member, nobody;
  } table[] = {
      {"Default", SERVICE_QUERY_STATUS, 0, 0, 0},
      {"Default", SERVICE_START, 0, 0, 5},
      {"Default", SERVICE_STOP, 0, 0, 5},
      {"Default", SERVICE_ALL_ACCESS, 0, 0, 5},
      {"StartForAll", SERVICE_START, 0, 0, 0},
      {"StartForAll", SERVICE_STOP, 0, 0, 5},
      {"DenyStop", SERVICE_STOP, 0, 5, 5},
      {"DenyStop", SERVICE_START, 0, 0, 5},
      {"DenyExecute", SERVICE_START, 0, 5, 5},
      {"DenyExecute", SERVICE_STOP, 0, 5, 5},
      {"DenyExecute", SERVICE_QUERY_STATUS, 0, 0, 0},
      {"InheritOnly", SERVICE_START, 0, 0, 5},
      {"Empty", SERVICE_QUERY_STATUS, 0, 5, 5},
      {"Empty", SERVICE_START, 0, 5, 5},
      {"Null", SERVICE_START, 0, 0, 0},
      {"Null", SERVICE_ALL_ACCESS, 0, 0, 0},
  };
  auto run = [&] {
    std::vector<DWORD> codes;
    for (const auto& row : table)
      codes.push_back(Open(row.service, row.right));
    return codes;
  };
  const std::vector<DWORD> root = As(Who::kRoot, run), member = As(Who::kMember, run),
                           nobody = As(Who::kNobody, run);
  ASSERT_EQ(member.size(), std::size(table));
  ASSERT_EQ(nobody.size(), std::size(table));
  for (size_t i = 0; i < std::size(table); ++i) {
    const auto& row = table[i];
    const std::string what = std::string(row.service) + " right " + std::to_string(row.right);
    EXPECT_EQ(root[i], row.root) << "root: " << what;
    EXPECT_EQ(member[i], row.member) << "member: " << what;
    EXPECT_EQ(nobody[i], row.nobody) << "65534: " << what;
  }
  // And a right granted is a right that works: 65534 starts the service open to everyone, and
  // with it the service it depends on, which 65534 may not start itself.
  ScHandle open(OpenServiceA(manager_, "StartForAll", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(ChangeServiceConfigA(open, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, "Default\0", nullptr, nullptr,
                                   nullptr));
  const std::vector<DWORD> started = As(Who::kNobody, [] {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE s = OpenServiceA(m, "StartForAll", SERVICE_START);
    const DWORD error = StartServiceA(s, 0, nullptr) ? 0 : GetLastError();
    CloseServiceHandle(s);
    CloseServiceHandle(m);
    return std::vector<DWORD>{error};
  });
  EXPECT_EQ(started, std::vector<DWORD>{0});
  ScHandle base(OpenServiceA(manager_, "Default", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(WaitState(open, SERVICE_RUNNING));
  EXPECT_EQ(Status(base).dwCurrentState, DWORD(SERVICE_RUNNING));
  SERVICE_STATUS st;
  ControlService(open, SERVICE_CONTROL_STOP, &st);
  ASSERT_TRUE(WaitState(open, SERVICE_STOPPED));
}

// 65534 holds CHANGE_CONFIG and WRITE_OWNER on a service that runs as 65534: it may change the
// service within its own account and make itself the owner, and nothing that leads to root.
TEST_F(ServiceSecurity, NoWayUpToRootForAnOrdinaryUser) {
  Install("Own", "", SERVICE_DEMAND_START, "nobody");
  const std::string self = scm::SidText(*scm::UserSid(kNobody));
  ASSERT_EQ(SetDacl("Own", BeforeDefault({{ACCESS_ALLOWED_ACE_TYPE, 0,
                                           SERVICE_CHANGE_CONFIG | WRITE_OWNER | READ_CONTROL |
                                               SERVICE_QUERY_CONFIG,
                                           self}})),
            0u);
  const std::vector<DWORD> codes = As(Who::kNobody, [&] {
    std::vector<DWORD> out;
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE s = OpenServiceA(m, "Own", SERVICE_CHANGE_CONFIG | WRITE_OWNER);
    out.push_back(s ? 0 : GetLastError());
    auto account = [&](const char* name) {
      return ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, nullptr, name, nullptr, nullptr)
                 ? 0
                 : GetLastError();
    };
    out.push_back(account("root"));
    out.push_back(account("LocalSystem"));
    out.push_back(account(".\\nobody"));
    auto owner = [&](const std::string& sid) {
      std::string bytes = SidBytes(sid);
      BYTE absolute[SECURITY_DESCRIPTOR_MIN_LENGTH];
      InitializeSecurityDescriptor(absolute, SECURITY_DESCRIPTOR_REVISION);
      SetSecurityDescriptorOwner(absolute, bytes.data(), FALSE);
      BYTE relative[128];
      DWORD size = sizeof relative;
      MakeSelfRelativeSD(absolute, relative, &size);
      return SetServiceObjectSecurity(s, OWNER_SECURITY_INFORMATION, relative) ? 0 : GetLastError();
    };
    out.push_back(owner(kEveryone));
    out.push_back(owner(kSystem));
    out.push_back(owner(self));
    CloseServiceHandle(s);
    CloseServiceHandle(m);
    return out;
  });
  EXPECT_EQ(codes, (std::vector<DWORD>{0, 5, 5, 0, 1307, 1307, 0}));

  // The account is still 65534's, and the owner is 65534.
  ScHandle s(OpenServiceA(manager_, "Own", SERVICE_ALL_ACCESS));
  BYTE buf[8192];
  DWORD needed = 0;
  ASSERT_TRUE(
      QueryServiceConfigA(s, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf), sizeof buf, &needed));
  EXPECT_STREQ(reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf)->lpServiceStartName, ".\\nobody");
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA("Own", SE_SERVICE, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                  nullptr, nullptr, &sd),
            0u);
  EXPECT_EQ(SidBytes(self), std::string(static_cast<char*>(owner), GetLengthSid(owner)));
  LocalFree(sd);
}

// A failure-action command runs as the service does: under 65534 for a service of 65534.
TEST_F(ServiceSecurity, AFailureCommandRunsUnderTheServicesAccount) {
  ScHandle s = Install("Crashy", "--crash-after=200", SERVICE_DEMAND_START, "nobody");
  const std::string marker = dir_.Write("ran-as", "", 0666);
  std::u16string command = u"/bin/sh -c \"id -u >> ";
  command.append(marker.begin(), marker.end());
  command += u"\"";
  SC_ACTION actions[] = {{SC_ACTION_RUN_COMMAND, 0}};
  SERVICE_FAILURE_ACTIONSW fa{3600, nullptr, command.data(), 1, actions};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();
  ASSERT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(testsupport::WaitFor([&] { return !testsupport::ReadFile(marker).empty(); }));
  EXPECT_EQ(testsupport::ReadFile(marker), "65534\n");
}

// The audit list: root opens for it with SeSecurityPrivilege enabled, and only then; a member of
// the group cannot enable the privilege, which its token does not hold.
TEST_F(ServiceSecurity, TheAuditListIsRootsWithThePrivilegeEnabled) {
  Install("Audited");
  auto run = [] {
    std::vector<DWORD> out;
    out.push_back(Open("Audited", ACCESS_SYSTEM_SECURITY));
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
    TOKEN_PRIVILEGES tp{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    LookupPrivilegeValueA(nullptr, "SeSecurityPrivilege", &tp.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    out.push_back(GetLastError());
    CloseHandle(token);
    out.push_back(Open("Audited", ACCESS_SYSTEM_SECURITY));
    PSECURITY_DESCRIPTOR sd = nullptr;
    out.push_back(GetNamedSecurityInfoA("Audited", SE_SERVICE, SACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, nullptr, nullptr, &sd));
    LocalFree(sd);
    KwResetProcessToken();
    return out;
  };
  EXPECT_EQ(As(Who::kRoot, run), (std::vector<DWORD>{1314, 0, 0, 0}));
  EXPECT_EQ(As(Who::kMember, run), (std::vector<DWORD>{1314, 1300, 1314, 1314}));
}

// Services by name: "name", this computer's "MACHINE\name" and "\\MACHINE\name"; another machine,
// another object type and pointers without their descriptor are refused.
TEST_F(ServiceSecurity, NamedSecurityReachesServicesOfThisMachineOnly) {
  Install("Named");
  const std::string computer = scm::ComputerName();
  for (const std::string& name :
       {std::string("Named"), computer + "\\Named", "\\\\" + computer + "\\Named"}) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(name.c_str(), SE_SERVICE, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &sd),
              0u)
        << name;
    ACL_SIZE_INFORMATION size{};
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(size.AceCount, 3u) << name;  // the default DACL
    LocalFree(sd);
  }
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoA("OTHERHOST\\Named", SE_SERVICE, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &sd),
            DWORD(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(GetNamedSecurityInfoA("Named", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &sd),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetNamedSecurityInfoA("Named", SE_SERVICE, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &dacl, nullptr, nullptr),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetNamedSecurityInfoA(const_cast<char*>("Named"), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetNamedSecurityInfoA("Nothing", SE_SERVICE, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &sd),
            DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
}  // namespace svctest
