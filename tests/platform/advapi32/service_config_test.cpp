// Configuration, description, failure actions, security descriptors and the lock through the
// client functions, with the Win32 buffer rules (122 and the size needed).
#include <cstring>
#include <vector>

#include "tests/support/service_fixture.h"

namespace svctest {
namespace {

using testsupport::ScHandle;
using testsupport::ServiceTest;

TEST_F(ServiceTest, ConfigurationReadsBackThroughTheBufferRules) {
  const char* deps = "Alpha\0Beta\0";
  SC_HANDLE raw =
      CreateServiceA(manager_, "Configured", "\x83\x5C\x83\x74\x83\x67 Display", SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_SEVERE,
                     "/opt/k/prog -x", "Group", nullptr, deps, nullptr, "secret");
  ASSERT_TRUE(raw) << GetLastError();
  ScHandle s(raw);
  ScHandle other = Install("Other");

  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceConfigA(s, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGA));
  std::vector<unsigned char> small(needed - 1);
  EXPECT_FALSE(QueryServiceConfigA(s, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(small.data()),
                                   needed - 1, &needed));
  std::vector<uint64_t> buf(needed / 8 + 1);
  auto* c = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf.data());
  ASSERT_TRUE(QueryServiceConfigA(s, c, needed, &needed)) << GetLastError();
  EXPECT_EQ(c->dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(c->dwStartType, SERVICE_AUTO_START);
  EXPECT_EQ(c->dwErrorControl, SERVICE_ERROR_SEVERE);
  EXPECT_STREQ(c->lpBinaryPathName, "/opt/k/prog -x");
  EXPECT_STREQ(c->lpLoadOrderGroup, "Group");
  EXPECT_EQ(std::memcmp(c->lpDependencies, "Alpha\0Beta\0\0", 12), 0);
  EXPECT_STREQ(c->lpServiceStartName, "LocalSystem");
  EXPECT_STREQ(c->lpDisplayName, "\x83\x5C\x83\x74\x83\x67 Display");
  // Every text lies inside the caller's buffer.
  const char* begin = reinterpret_cast<const char*>(buf.data());
  for (const char* p : {c->lpBinaryPathName, c->lpDisplayName, c->lpDependencies})
    EXPECT_TRUE(p >= begin && p < begin + needed);

  ASSERT_TRUE(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, "\0", nullptr, nullptr, "Renamed"));
  ASSERT_TRUE(QueryServiceConfigA(s, c, static_cast<DWORD>(buf.size() * 8), &needed));
  EXPECT_EQ(c->dwStartType, SERVICE_DISABLED);
  EXPECT_EQ(c->dwErrorControl, SERVICE_ERROR_SEVERE);
  EXPECT_STREQ(c->lpDisplayName, "Renamed");
  EXPECT_STREQ(c->lpBinaryPathName, "/opt/k/prog -x");
  EXPECT_EQ(c->lpDependencies[0], '\0');

  // Each call's error, taken at once (a braced list is evaluated in order).
  auto error = [](BOOL ok) { return ok ? DWORD(0) : GetLastError(); };
  const struct {
    const char* what;
    DWORD got;
    DWORD want;
  } refusals[] = {
      {"bad start type",
       error(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, 9, SERVICE_NO_CHANGE, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr)),
       87},
      {"tag asked for",
       error(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, &needed, nullptr, nullptr, nullptr, nullptr)),
       87},
      {"unknown account",
       error(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, nullptr, ".\\no-such-user-kw", nullptr,
                                  nullptr)),
       1057},
      {"display name of another service",
       error(ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "Other")),
       1078},
  };
  for (const auto& r : refusals)
    EXPECT_EQ(r.got, r.want) << r.what;
}

TEST_F(ServiceTest, DescriptionAndFailureActionsFollowTheWideRules) {
  ScHandle s = Install("Described");
  BYTE buf[8192];
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, buf, sizeof buf, &needed));
  EXPECT_EQ(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buf)->lpDescription, nullptr);

  std::u16string text = u"収集サービス collector";
  SERVICE_DESCRIPTIONW d{text.data()};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, &d));
  EXPECT_FALSE(QueryServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, buf, 10, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, sizeof(SERVICE_DESCRIPTIONW) + (text.size() + 1) * 2);
  ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, buf, sizeof buf, &needed));
  EXPECT_EQ(std::u16string(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buf)->lpDescription), text);

  std::u16string reboot = u"再起動", command = u"/bin/true";
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW fa{86400, reboot.data(), command.data(), 2, actions};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();
  auto* out = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buf);
  ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, buf, sizeof buf, &needed));
  EXPECT_EQ(out->dwResetPeriod, 86400u);
  EXPECT_EQ(std::u16string(out->lpRebootMsg), reboot);
  EXPECT_EQ(std::u16string(out->lpCommand), command);
  ASSERT_EQ(out->cActions, 2u);
  EXPECT_EQ(out->lpsaActions[0].Type, SC_ACTION_RESTART);
  EXPECT_EQ(out->lpsaActions[0].Delay, 1000u);

  // Null texts and a null array keep what is there; an empty array removes the actions.
  SERVICE_FAILURE_ACTIONSW keep{0, nullptr, nullptr, 0, nullptr};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &keep));
  ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, buf, sizeof buf, &needed));
  EXPECT_EQ(out->cActions, 2u);
  EXPECT_EQ(out->dwResetPeriod, 86400u);
  SC_ACTION none[1];
  std::u16string empty;
  SERVICE_FAILURE_ACTIONSW clear{0, empty.data(), nullptr, 0, none};
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &clear));
  ASSERT_TRUE(QueryServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, buf, sizeof buf, &needed));
  EXPECT_EQ(out->cActions, 0u);
  EXPECT_EQ(out->lpsaActions, nullptr);
  EXPECT_EQ(out->lpRebootMsg, nullptr);
  EXPECT_EQ(std::u16string(out->lpCommand), command);

  EXPECT_FALSE(QueryServiceConfig2W(s, 7, buf, sizeof buf, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(ServiceTest, ARebootActionNeedsTheShutdownPrivilegeAndIsOnlyLogged) {
  ScHandle s = Install("Rebooter", "--crash-after=100");
  std::u16string message = u"going down";
  SC_ACTION reboot[] = {{SC_ACTION_REBOOT, 0}};
  SERVICE_FAILURE_ACTIONSW fa{0, message.data(), nullptr, 1, reboot};
  LUID luid;
  ASSERT_TRUE(KwLookupPrivilegeValue("SeShutdownPrivilege", &luid));
  KwAdjustTokenPrivilege(luid, 0);
  EXPECT_FALSE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));
  KwAdjustTokenPrivilege(luid, SE_PRIVILEGE_ENABLED);
  ASSERT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_FAILURE_ACTIONS, &fa)) << GetLastError();
  KwAdjustTokenPrivilege(luid, 0);

  ASSERT_TRUE(StartServiceA(s, 0, nullptr));
  EXPECT_TRUE(testsupport::WaitFor(
      [&] { return scmd_->Log().find("asks for a reboot") != std::string::npos; }));
  EXPECT_NE(scmd_->Log().find("going down"), std::string::npos);
  EXPECT_EQ(Status(s).dwCurrentState, DWORD(SERVICE_STOPPED));
}

// A new service has the default descriptor; a query gives only the parts asked for, and a set
// replaces only the parts it names. Sizes follow the buffer rules, and what is no self-relative
// descriptor is refused.
TEST_F(ServiceTest, SecurityDescriptorsAreReadAndSetByPart) {
  ScHandle s = Install("Secured");
  BYTE buf[256];
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceObjectSecurity(s, DACL_SECURITY_INFORMATION, buf, 4, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  // The header and the default DACL: SYSTEM and Administrators all, Authenticated Users query.
  EXPECT_EQ(needed, 20u + 8 + 20 + 24 + 20);
  ASSERT_TRUE(QueryServiceObjectSecurity(s, DACL_SECURITY_INFORMATION, buf, sizeof buf, &needed));
  const BYTE defaultDacl[] = {
      1,  0, 0x04, 0x80, 0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  0, 20, 0, 0,    0,  // DACL only
      2,  0, 72,   0,    3,    0,    0,    0,                                           //
      0,  0, 20,   0,    0xFF, 0x01, 0x0F, 0, 1, 1, 0, 0, 0, 0, 0,  5, 18, 0, 0,    0, 0, 0,
      24, 0, 0xFF, 0x01, 0x0F, 0,    1,    2, 0, 0, 0, 0, 0, 5, 32, 0, 0,  0, 0x20, 2, 0, 0,
      0,  0, 20,   0,    0x8D, 0x00, 0x02, 0, 1, 1, 0, 0, 0, 0, 0,  5, 11, 0, 0,    0};
  ASSERT_EQ(needed, sizeof defaultDacl);
  EXPECT_EQ(std::memcmp(buf, defaultDacl, needed), 0);
  ASSERT_TRUE(QueryServiceObjectSecurity(s, OWNER_SECURITY_INFORMATION, buf, sizeof buf, &needed));
  const BYTE systemOwner[] = {1, 0, 0, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0,
                              0, 0, 0, 0,    1,  1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  ASSERT_EQ(needed, sizeof systemOwner);
  EXPECT_EQ(std::memcmp(buf, systemOwner, needed), 0);

  // Self-relative, owner S-1-5-18 at offset 20, and an empty DACL (8 bytes) at offset 32; the
  // bytes after it are not part of it.
  const BYTE sd[] = {1, 0, 0x04, 0x80, 20, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 32, 0, 0,    0,
                     1, 1, 0,    0,    0,  0, 0, 5, 18, 0, 0, 0, 2, 0, 8, 0, 0,  0, 0xEE, 0xEE};
  ASSERT_TRUE(SetServiceObjectSecurity(s, DACL_SECURITY_INFORMATION, const_cast<BYTE*>(sd)))
      << GetLastError();
  ASSERT_TRUE(QueryServiceObjectSecurity(s, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                         buf, sizeof buf, &needed));
  const BYTE emptyDacl[] = {1, 0, 0x04, 0x80, 28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
                            2, 0, 8,    0,    0,  0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  ASSERT_EQ(needed, sizeof emptyDacl);
  EXPECT_EQ(std::memcmp(buf, emptyDacl, needed), 0);

  BYTE absolute[20] = {1, 0, 0x04, 0x00};  // not self-relative
  EXPECT_FALSE(SetServiceObjectSecurity(s, DACL_SECURITY_INFORMATION, absolute));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SECURITY_DESCR));
  EXPECT_FALSE(SetServiceObjectSecurity(s, 0, const_cast<BYTE*>(sd)));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  // An entry that reaches past its list, and an owner of 16 sub-authorities, are refused with
  // their codes, and the stored descriptor stays as it was.
  const BYTE acePastAcl[] = {1, 0, 0x04, 0x80, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
                             2, 0, 16,   0,    1,    0, 0, 0,  // an ACL of 16 bytes, one entry
                             0, 0, 20,   0,    0xFF, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  EXPECT_FALSE(
      SetServiceObjectSecurity(s, DACL_SECURITY_INFORMATION, const_cast<BYTE*>(acePastAcl)));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ACL));
  std::vector<BYTE> longOwner = {1, 0, 0, 0x80, 20, 0, 0, 0,  0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0,    0,  0, 1, 16, 0, 0, 0, 0, 0, 5};
  longOwner.resize(longOwner.size() + 16 * 4, 1);
  EXPECT_FALSE(SetServiceObjectSecurity(s, OWNER_SECURITY_INFORMATION, longOwner.data()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
  ASSERT_TRUE(QueryServiceObjectSecurity(s, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                         buf, sizeof buf, &needed));
  ASSERT_EQ(needed, sizeof emptyDacl);
  EXPECT_EQ(std::memcmp(buf, emptyDacl, needed), 0);
}

TEST_F(ServiceTest, TheLockStatusNamesItsHolder) {
  BYTE buf[256];
  DWORD needed = 0;
  auto* st = reinterpret_cast<QUERY_SERVICE_LOCK_STATUSA*>(buf);
  ASSERT_TRUE(QueryServiceLockStatusA(manager_, st, sizeof buf, &needed));
  EXPECT_FALSE(st->fIsLocked);
  SC_LOCK lock = LockServiceDatabase(manager_);
  ASSERT_TRUE(lock);
  ASSERT_TRUE(QueryServiceLockStatusA(manager_, st, sizeof buf, &needed));
  EXPECT_TRUE(st->fIsLocked);
  EXPECT_STREQ(st->lpLockOwner, "root");
  EXPECT_FALSE(LockServiceDatabase(manager_));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));
  ScHandle s = Install("Blocked");
  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DATABASE_LOCKED));
  EXPECT_TRUE(UnlockServiceDatabase(lock));
  EXPECT_FALSE(UnlockServiceDatabase(lock));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_LOCK));
}

TEST_F(ServiceTest, OnlyThisMachineAndItsActiveDatabaseOpen) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  const std::string unc = std::string("\\\\") + name;
  ScHandle byName(OpenSCManagerA(unc.c_str(), "ServicesActive", SC_MANAGER_CONNECT));
  EXPECT_TRUE(byName.h);
  EXPECT_FALSE(OpenSCManagerA("\\\\ELSEWHERE-KW", nullptr, SC_MANAGER_CONNECT));
  EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_FALSE(OpenSCManagerA(nullptr, "Other", SC_MANAGER_CONNECT));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DATABASE_DOES_NOT_EXIST));
  // Handles of another kind are refused, and a closed one is gone.
  EXPECT_FALSE(DeleteService(manager_));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  SC_HANDLE extra = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_TRUE(CloseServiceHandle(extra));
  EXPECT_FALSE(CloseServiceHandle(extra));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(ServiceManagerGone, CallsFailWith1722) {
  testsupport::TempDir dir{"kwscm", 0755};
  setenv("KELVADON_SCM_DIR", dir.path().c_str(), 1);
  EXPECT_FALSE(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));

  testsupport::Scmd scmd(SCMD_PATH, dir.path());
  ASSERT_TRUE(scmd.Start());
  ScHandle m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(m.h);
  scmd.Stop();
  EXPECT_FALSE(LockServiceDatabase(m));
  EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_TRUE(CloseServiceHandle(m.h));  // closing still works
  m.h = nullptr;
}

}  // namespace
}  // namespace svctest
