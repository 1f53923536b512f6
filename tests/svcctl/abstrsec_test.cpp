// The security component on a service of a real scmd: what it reads, what it writes, and that
// scmd enforces what it wrote. Callers other than root run in a child process (run_as.h).
#include "svcctl/abstrsec.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include <string>
#include <vector>

#include "platform/advapi32/advapi32.h"
#include "svcctl/ntaccounts.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntprivilege.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"
#include "tests/svcctl/run_as.h"
#include "tests/svcctl/service_security.h"

namespace {

using svcctltest::TServiceSecurity;

constexpr DWORD kStart = SERVICE_START, kStop = SERVICE_STOP;

struct Entry {
  std::string user;
  uint32_t mask;
  TAceType type;
  uint32_t flags;
  bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << "{" << e.user << " " << std::hex << e.mask << " " << e.type << " " << e.flags << "}";
}

std::vector<Entry> Entries(TAccessList* list) {
  std::vector<Entry> out;
  if (!list) return out;
  for (int i = 0; i < list->Count(); ++i) {
    const TAccessItem* item = list->Items(i);
    out.push_back({item->UserName(), item->Mask(), item->AceType(), item->Flags().Bits()});
  }
  return out;
}

// The error code of the ENTException f raises (0 when none).
template <typename F>
int32_t Raised(F f) {
  try {
    f();
  } catch (const ENTException& e) {
    return e.ErrorCode;
  }
  return 0;
}

std::string Computer() {
  char name[64];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

// The raw entries of the service's DACL or SACL as scmd holds them: type, flags, mask.
struct RawAce {
  BYTE type, flags;
  DWORD mask;
  bool operator==(const RawAce&) const = default;
};
std::ostream& operator<<(std::ostream& os, const RawAce& a) {
  return os << "{" << int(a.type) << " " << std::hex << int(a.flags) << " " << a.mask << "}";
}

class SecurityComponent : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    service_ = Install("Guarded");
    security_.Name = "Sec";
    security_.SetServiceName("Guarded");
    KwResetProcessToken();
  }
  void TearDown() override {
    service_.reset();
    KwResetProcessToken();
    ServiceTest::TearDown();
  }

  std::vector<RawAce> Raw(SECURITY_INFORMATION part) {
    EnsurePrivilege("SeSecurityPrivilege");
    testsupport::ScHandle s(OpenServiceA(manager_, "Guarded", READ_CONTROL | 0x1000000));
    std::vector<RawAce> out;
    BYTE buffer[4096];
    DWORD needed = 0;
    if (!s.h || !QueryServiceObjectSecurity(s, part, buffer, sizeof buffer, &needed)) return out;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (part == DACL_SECURITY_INFORMATION)
      GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted);
    else
      GetSecurityDescriptorSacl(buffer, &present, &acl, &defaulted);
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
      void* ace = nullptr;
      GetAce(acl, i, &ace);
      auto* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      out.push_back({a->Header.AceType, a->Header.AceFlags, a->Mask});
    }
    return out;
  }

  // What a caller may do with the service: "" when OpenServiceA with `access` succeeds, else
  // the error.
  static std::string Opens(DWORD access) {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!m) return "manager " + std::to_string(GetLastError());
    SC_HANDLE s = OpenServiceA(m, "Guarded", access);
    const std::string result = s ? "" : std::to_string(GetLastError());
    if (s) CloseServiceHandle(s);
    CloseServiceHandle(m);
    return result;
  }

  testsupport::ScHandle service_;
  TServiceSecurity security_;
};

// The default list, then edits in both access modes: denied entries go first whatever the order
// of the list, the flag bits are exchanged on the way, an item change is written at once and a
// change to the same value writes nothing.
TEST_F(SecurityComponent, EditsTheAccessListInBothModes) {
  for (TAccessMode mode : {amWin95, amWinNT}) {
    SCOPED_TRACE(mode);
    security_.AccessMode = mode;
    TAccessControlList* list = security_.AccessList();
    ASSERT_NE(list, nullptr);
    const std::vector<Entry> initial = {{"SYSTEM", 0xF01FF, actAccessAllowed, 0},
                                        {"BUILTIN\\Administrators", 0xF01FF, actAccessAllowed, 0},
                                        {"Authenticated Users", 0x2008D, actAccessAllowed, 0}};
    ASSERT_EQ(Entries(list), initial);

    list->Add("Everyone", kStop, actAccessDenied, {acfInheritOnly});
    TAccessItem* item = list->Items(3);
    EXPECT_EQ(item->NamePath(), "Sec.AccessList[3]");
    EXPECT_EQ(
        Raw(DACL_SECURITY_INFORMATION),
        (std::vector<RawAce>{{1, 0x08, kStop}, {0, 0, 0xF01FF}, {0, 0, 0xF01FF}, {0, 0, 0x2008D}}));
    item->SetMask(kStop | kStart);
    EXPECT_EQ(Raw(DACL_SECURITY_INFORMATION)[0], (RawAce{1, 0x08, kStop | kStart}));
    const int writes = security_.Writes;
    item->SetMask(kStop | kStart);
    EXPECT_EQ(security_.Writes, writes);

    // Read back: the denied entry first, its flags as they were set.
    list = security_.AccessList();
    ASSERT_EQ(list->Count(), 4);
    EXPECT_EQ(Entries(list)[0], (Entry{"Everyone", kStop | kStart, actAccessDenied,
                                       TAceFlags{acfInheritOnly}.Bits()}));
    list->Delete(0);
    EXPECT_EQ(Entries(security_.AccessList()), initial);
  }
}

TEST_F(SecurityComponent, WrongKindsAndUnknownAccountsLeaveTheListAsItWas) {
  TAccessControlList* list = security_.AccessList();
  ASSERT_NE(list, nullptr);
  const std::vector<Entry> before = Entries(list);
  EXPECT_EQ(Raised([&] { list->Add("Everyone", kStart, actAuditSuccess, {}); }), -1);
  EXPECT_EQ(Raised([&] { list->Add("no-such-user", kStart, actAccessAllowed, {}); }),
            int32_t(ERROR_NONE_MAPPED));
  EXPECT_EQ(Raised([&] { security_.SystemAudit()->Add("Everyone", kStart, actAccessDenied, {}); }),
            -1);
  EXPECT_EQ(Entries(list), before);
  EXPECT_EQ(Raised([&] { list->Items(2)->SetUserName("no-such-user"); }),
            int32_t(ERROR_NONE_MAPPED));
  EXPECT_EQ(Entries(list), before);
  // The next change is not refused for the entry that never reached the service.
  list->Add("Everyone", kStart, actAccessAllowed, {});
  EXPECT_EQ(list->Count(), 4);

  // Without scmd every write fails: the list shows what it showed.
  scmd_->Stop();
  const std::vector<Entry> four = Entries(list);
  EXPECT_NE(Raised([&] { list->Delete(1); }), 0);
  EXPECT_EQ(Entries(list), four);
  EXPECT_NE(Raised([&] { list->Clear(); }), 0);
  EXPECT_EQ(Entries(list), four);
  EXPECT_NE(Raised([&] { list->Items(0)->SetFlags({acfInherited}); }), 0);
  EXPECT_EQ(Entries(list), four);

  // Reads raise while the component may act; in the designer they yield empty values.
  EXPECT_NE(Raised([&] { security_.ObjectOwner(); }), 0);
  EXPECT_NE(Raised([&] { security_.GetSecurityControl(); }), 0);
  security_.SetDesigning(true);
  EXPECT_EQ(security_.AccessList(), nullptr);
  EXPECT_EQ(security_.SystemAudit(), nullptr);
  EXPECT_EQ(security_.ObjectOwner(), "");
  EXPECT_FALSE(security_.ControlAccess());
  EXPECT_EQ(security_.GetSecurityControl(), 0);
  EXPECT_NE(Raised([&] { security_.SetControlAccess(true); }), 0);  // writes never swallow
}

// What the component writes is what scmd enforces: an allowed START lets nobody open the service
// to start it; a first denied STOP for Everyone refuses a "kelvadon" member but not root.
TEST_F(SecurityComponent, WhatItWritesIsEnforced) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  const passwd* nobody = getpwnam("nobody");
  const group* control = getgrnam("kelvadon");
  ASSERT_NE(nobody, nullptr);
  ASSERT_NE(control, nullptr) << "the group kelvadon is made by scripts/setup";
  auto asNobody = [&](DWORD access) {
    return svcctltest::RunAs(nobody->pw_uid, nobody->pw_gid, {}, [&] { return Opens(access); });
  };
  auto asMember = [&](DWORD access) {
    return svcctltest::RunAs(nobody->pw_uid, nobody->pw_gid, {control->gr_gid},
                             [&] { return Opens(access); });
  };

  EXPECT_EQ(asNobody(kStart), "5");
  security_.AccessList()->Add("nobody", kStart, actAccessAllowed, {});
  EXPECT_EQ(asNobody(kStart), "");

  EXPECT_EQ(asMember(kStop), "");
  security_.AccessList()->Add("Everyone", kStop, actAccessDenied, {});
  EXPECT_EQ(asMember(kStop), "5");
  EXPECT_EQ(asMember(kStart), "");
  EXPECT_EQ(Opens(kStop), "");  // root

  // No DACL at all: no access control. An empty one: only root.
  security_.SetControlAccess(false);
  EXPECT_FALSE(security_.ControlAccess());
  EXPECT_EQ(asNobody(kStop), "");
  security_.SetControlAccess(true);
  EXPECT_TRUE(security_.ControlAccess());
  EXPECT_EQ(security_.AccessList()->Count(), 0);
  EXPECT_EQ(asMember(kStart), "5");
  EXPECT_EQ(Opens(kStop), "");
}

TEST_F(SecurityComponent, OwnerChangesAloneAndReadsBackWithItsDomain) {
  security_.AccessList()->Add("Everyone", kStart, actAccessAllowed, {});
  const std::vector<Entry> entries = Entries(security_.AccessList());
  EXPECT_EQ(security_.ObjectOwner(), "SYSTEM");

  const std::string computer = Computer();
  for (TAccessMode mode : {amWin95, amWinNT}) {
    security_.AccessMode = mode;
    security_.SetObjectOwner("daemon");
    EXPECT_EQ(security_.ObjectOwner(), computer + "\\daemon");
    EXPECT_EQ(Entries(security_.AccessList()), entries);
    security_.SetObjectOwner("root");
    EXPECT_EQ(security_.ObjectOwner(), "SYSTEM");
  }
  EXPECT_EQ(Raised([&] { security_.SetObjectOwner("no-such-user"); }), int32_t(ERROR_NONE_MAPPED));
}

// Audit entries keep their kind through the success and failure bits; the control word's
// protection bit is written with the list it guards and reads back.
TEST_F(SecurityComponent, AuditListAndControlWord) {
  TAuditList* audit = security_.SystemAudit();
  ASSERT_NE(audit, nullptr);
  EXPECT_EQ(audit->Count(), 0);
  audit->Add("Everyone", kStart, actAuditFull, {acfNoPropagate});
  audit->Add("nobody", kStop, actAuditFailure, {});
  EXPECT_EQ(Raw(SACL_SECURITY_INFORMATION),
            (std::vector<RawAce>{{2, 0xC4, kStart}, {2, 0x80, kStop}}));
  EXPECT_EQ(
      Entries(security_.SystemAudit()),
      (std::vector<Entry>{{"Everyone", kStart, actAuditFull, TAceFlags{acfNoPropagate}.Bits()},
                          {Computer() + "\\nobody", kStop, actAuditFailure, 0}}));
  EXPECT_EQ(security_.SystemAudit()->Items(1)->NamePath(), "Sec.SystemAudit[1]");

  const SECURITY_DESCRIPTOR_CONTROL before = security_.GetSecurityControl();
  EXPECT_EQ(before & SE_DACL_PRESENT, SE_DACL_PRESENT);
  EXPECT_EQ(before & SE_SACL_PRESENT, SE_SACL_PRESENT);
  EXPECT_EQ(before & SE_DACL_PROTECTED, 0);
  // Set by the system's call from Windows 2000 on, and in the word itself before.
  for (const char* winver : {"2.5.1", "2.4.0"}) {
    testsupport::ScopedEnv version("KELVADON_WINVER", winver);
    security_.SetSecurityControl(before | SE_DACL_PROTECTED | SE_SACL_PROTECTED);
    EXPECT_EQ(security_.GetSecurityControl(), before | SE_DACL_PROTECTED | SE_SACL_PROTECTED);
    const int writes = security_.Writes;
    security_.SetSecurityControl(before | SE_DACL_PROTECTED | SE_SACL_PROTECTED |
                                 SE_SELF_RELATIVE);  // no bit it sets changes
    EXPECT_EQ(security_.Writes, writes);
    security_.SetSecurityControl(before);
    EXPECT_EQ(security_.GetSecurityControl(), before) << winver;
  }
}

// Another user holds no SeSecurityPrivilege: the audit list reads empty without an exception,
// the control word is collected from the parts it may read, and setting the word writes only
// what it read (the audit list it could not read stays as it was).
TEST_F(SecurityComponent, AnotherUserReadsAndWritesWhatItMay) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  security_.SystemAudit()->Add("Everyone", kStart, actAuditSuccess, {});
  security_.AccessList()->Add("nobody", READ_CONTROL | WRITE_DAC | SERVICE_QUERY_CONFIG,
                              actAccessAllowed, {});
  const SECURITY_DESCRIPTOR_CONTROL all = security_.GetSecurityControl();
  ASSERT_EQ(all & SE_SACL_PRESENT, SE_SACL_PRESENT);
  const SECURITY_DESCRIPTOR_CONTROL wanted = all | SE_DACL_PROTECTED | SE_SACL_PROTECTED;
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  EXPECT_EQ(svcctltest::RunAs(nobody->pw_uid, nobody->pw_gid, {},
                              [&]() -> std::string {
                                TServiceSecurity s;
                                s.SetServiceName("Guarded");
                                s.ServiceAccess = 0;
                                if (EnablePrivilege("SeSecurityPrivilege", true))
                                  return "privilege enabled";
                                TAuditList* audit = s.SystemAudit();
                                if (!audit || audit->Count() != 0) return "audit list read";
                                SECURITY_DESCRIPTOR_CONTROL word = s.GetSecurityControl();
                                if (word != (all & ~kSaclControlBits))
                                  return "control " + std::to_string(word);
                                s.SetSecurityControl(wanted);
                                word = s.GetSecurityControl();
                                if (word != ((all | SE_DACL_PROTECTED) & ~kSaclControlBits))
                                  return "control set " + std::to_string(word);
                                return "";
                              }),
            "");
  EXPECT_EQ(security_.GetSecurityControl(), all | SE_DACL_PROTECTED);
  EXPECT_EQ(security_.SystemAudit()->Count(), 1);
}

}  // namespace
