// The security functions in the caller's memory: SIDs and their texts, access lists, descriptors
// in both forms (the self-relative bytes are the ones scmd reads), accounts and privileges, each
// with its Windows layout and codes.
#include <grp.h>
#include <pwd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/security.h"
#include "platform/scm/accounts.h"
#include "platform/scm/secdesc.h"

namespace {

// A SID made by the library, freed with FreeSid.
struct OwnedSid {
  PSID sid = nullptr;
  OwnedSid(BYTE authority, BYTE count, std::vector<DWORD> sub) {
    SID_IDENTIFIER_AUTHORITY a{{0, 0, 0, 0, 0, authority}};
    sub.resize(8);
    EXPECT_TRUE(AllocateAndInitializeSid(&a, count, sub[0], sub[1], sub[2], sub[3], sub[4], sub[5],
                                         sub[6], sub[7], &sid));
  }
  ~OwnedSid() { FreeSid(sid); }
  operator PSID() const { return sid; }
};

std::u16string Wide(const char* s) {
  return std::u16string(s, s + std::strlen(s));
}

// The text of a SID through ConvertSidToStringSidW ("" on failure).
std::string Text(PSID sid) {
  LPWSTR w = nullptr;
  if (!ConvertSidToStringSidW(sid, &w)) return "";
  std::string out;
  for (LPWSTR p = w; *p; ++p)
    out.push_back(static_cast<char>(*p));
  LocalFree(w);
  return out;
}

// A SID from its text, as bytes ("" on failure).
std::string FromText(const char* text) {
  PSID sid = nullptr;
  const std::u16string w = Wide(text);
  if (!ConvertStringSidToSidW(reinterpret_cast<LPCWSTR>(w.c_str()), &sid)) return "";
  std::string out(static_cast<const char*>(sid), GetLengthSid(sid));
  LocalFree(sid);
  return out;
}

TEST(Sids, TheLayoutTheTextAndTheRefusals) {
  OwnedSid admins(5, 2, {32, 544});
  const BYTE expected[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  ASSERT_TRUE(IsValidSid(admins));
  ASSERT_EQ(GetLengthSid(admins), sizeof expected);
  EXPECT_EQ(std::memcmp(admins.sid, expected, sizeof expected), 0);
  EXPECT_EQ(*GetSidSubAuthorityCount(admins), 2);
  EXPECT_EQ(GetSidIdentifierAuthority(admins)->Value[5], 5);
  EXPECT_EQ(*GetSidSubAuthority(admins, 1), 544u);
  EXPECT_EQ(GetSidSubAuthority(admins, 2), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  EXPECT_EQ(Text(admins), "S-1-5-32-544");
  EXPECT_EQ(FromText("S-1-5-32-544"), std::string(reinterpret_cast<const char*>(expected), 16));
  OwnedSid system(5, 1, {18});
  EXPECT_FALSE(EqualSid(admins, system));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  OwnedSid again(5, 2, {32, 544});
  EXPECT_TRUE(EqualSid(admins, again));

  // Refusals: a count outside 1-8 when allocating, texts that are no SID, SIDs that are not valid.
  SID_IDENTIFIER_AUTHORITY nt{{0, 0, 0, 0, 0, 5}};
  PSID none = nullptr;
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &none));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  for (const char* bad :
       {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "S-2-5-18", "S-1-5-x", ""}) {
    EXPECT_EQ(FromText(bad), "") << bad;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID)) << bad;
  }
  BYTE tooLong[8 + 16 * 4] = {1, 16, 0, 0, 0, 0, 0, 5};
  BYTE revision2[12] = {2, 1, 0, 0, 0, 0, 0, 5, 18};
  for (PSID bad : {static_cast<PSID>(tooLong), static_cast<PSID>(revision2)}) {
    EXPECT_FALSE(IsValidSid(bad));
    EXPECT_EQ(GetLengthSid(bad), 0u);
    EXPECT_FALSE(EqualSid(bad, bad));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
    EXPECT_EQ(Text(bad), "");
  }
}

// A descriptor built in absolute form, made self-relative (the bytes scmd reads) and absolute
// again.
TEST(Descriptors, BuiltAbsoluteTheyReadBackInBothForms) {
  OwnedSid everyone(1, 1, {0}), system(5, 1, {18}), users(5, 2, {32, 545});
  std::vector<BYTE> dacl(8 + 2 * 20), sacl(64);
  auto* d = reinterpret_cast<PACL>(dacl.data());
  auto* s = reinterpret_cast<PACL>(sacl.data());
  ASSERT_TRUE(InitializeAcl(d, static_cast<DWORD>(dacl.size()), ACL_REVISION));
  ASSERT_TRUE(AddAccessDeniedAce(d, ACL_REVISION, SERVICE_STOP, everyone));
  ASSERT_TRUE(AddAccessAllowedAce(d, ACL_REVISION, GENERIC_READ, everyone));
  EXPECT_FALSE(AddAccessAllowedAce(d, ACL_REVISION, GENERIC_READ, everyone));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALLOTTED_SPACE_EXCEEDED));
  ASSERT_TRUE(InitializeAcl(s, static_cast<DWORD>(sacl.size()), ACL_REVISION));
  ASSERT_TRUE(AddAuditAccessAce(s, ACL_REVISION, SERVICE_START, users, TRUE, TRUE));
  LPVOID ace = nullptr;
  ASSERT_TRUE(GetAce(d, 1, &ace));
  EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
  static_cast<ACE_HEADER*>(ace)->AceFlags = 0x08;  // inherit-only, as the caller may set it
  EXPECT_FALSE(GetAce(d, 2, &ace));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  ACL_SIZE_INFORMATION size{};
  ASSERT_TRUE(GetAclInformation(s, &size, sizeof size, AclSizeInformation));
  EXPECT_EQ(size.AceCount, 1u);
  EXPECT_EQ(size.AclBytesInUse, 8u + 8 + 16);
  EXPECT_EQ(size.AclBytesFree, 64u - 32);
  EXPECT_FALSE(GetAclInformation(s, &size, sizeof size - 1, AclSizeInformation));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

  BYTE absolute[SECURITY_DESCRIPTOR_MIN_LENGTH];
  ASSERT_TRUE(InitializeSecurityDescriptor(absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(absolute, system, TRUE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(absolute, TRUE, d, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorSacl(absolute, TRUE, s, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorControl(absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
  EXPECT_FALSE(SetSecurityDescriptorControl(absolute, SE_DACL_PRESENT, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  DWORD length = 0;
  EXPECT_FALSE(MakeSelfRelativeSD(absolute, nullptr, &length));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_EQ(length, 20u + 64 + 48 + 12);  // header, SACL, DACL, owner
  std::vector<BYTE> relative(length);
  ASSERT_TRUE(MakeSelfRelativeSD(absolute, relative.data(), &length));

  // The bytes are the self-relative form scmd reads, holding what was built.
  scm::Descriptor parsed;
  ASSERT_EQ(
      scm::ParseDescriptor(
          std::string_view(reinterpret_cast<char*>(relative.data()), relative.size()), parsed),
      0u);
  EXPECT_EQ(parsed.control, SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_SACL_PRESENT |
                                SE_DACL_PRESENT | SE_OWNER_DEFAULTED);
  EXPECT_EQ(parsed.owner, scm::SystemSid());
  ASSERT_TRUE(parsed.dacl);
  ASSERT_EQ(parsed.dacl->aces.size(), 2u);
  EXPECT_EQ(parsed.dacl->aces[0], (scm::Ace{1, 0, SERVICE_STOP, scm::EveryoneSid()}));
  EXPECT_EQ(parsed.dacl->aces[1], (scm::Ace{0, 0x08, GENERIC_READ, scm::EveryoneSid()}));
  ASSERT_TRUE(parsed.sacl);
  EXPECT_EQ(parsed.sacl->aces[0], (scm::Ace{2, 0xC0, SERVICE_START, scm::UsersSid()}));

  // Its parts read in place; a self-relative descriptor is not set part by part.
  PSID owner = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(relative.data(), &owner, &defaulted));
  EXPECT_TRUE(EqualSid(owner, system));
  EXPECT_TRUE(defaulted);
  ASSERT_TRUE(GetSecurityDescriptorDacl(relative.data(), &present, &list, &defaulted));
  EXPECT_TRUE(present && !defaulted);
  EXPECT_EQ(std::memcmp(list, d, 8 + 2 * 20), 0);
  EXPECT_FALSE(SetSecurityDescriptorOwner(relative.data(), everyone, FALSE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_DESCRIPTOR_FORMAT));
  EXPECT_FALSE(MakeSelfRelativeSD(relative.data(), nullptr, &length));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_DESCRIPTOR_FORMAT));

  // Absolute again: every size is told when one buffer is short; then each part in its block.
  DWORD sizes[5] = {};
  EXPECT_FALSE(MakeAbsoluteSD(relative.data(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr,
                              &sizes[2], nullptr, &sizes[3], nullptr, &sizes[4]));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(sizes[0], SECURITY_DESCRIPTOR_MIN_LENGTH);
  EXPECT_EQ(sizes[1], 48u);
  EXPECT_EQ(sizes[2], 64u);
  EXPECT_EQ(sizes[3], 12u);
  EXPECT_EQ(sizes[4], 0u);
  std::vector<BYTE> a2(sizes[0]), d2(sizes[1]), s2(sizes[2]), o2(sizes[3]);
  ASSERT_TRUE(MakeAbsoluteSD(
      relative.data(), a2.data(), &sizes[0], reinterpret_cast<PACL>(d2.data()), &sizes[1],
      reinterpret_cast<PACL>(s2.data()), &sizes[2], o2.data(), &sizes[3], nullptr, &sizes[4]));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(a2.data(), &control, &revision));
  EXPECT_EQ(control & SE_SELF_RELATIVE, 0);
  EXPECT_EQ(revision, 1u);
  ASSERT_TRUE(GetSecurityDescriptorSacl(a2.data(), &present, &list, &defaulted));
  EXPECT_EQ(static_cast<void*>(list), static_cast<void*>(s2.data()));
  DWORD again = 0;
  MakeSelfRelativeSD(a2.data(), nullptr, &again);
  std::vector<BYTE> relative2(again);
  ASSERT_TRUE(MakeSelfRelativeSD(a2.data(), relative2.data(), &again));
  EXPECT_EQ(relative2, relative);

  // A list set not present clears its bits; a null list that is present stays a null list.
  ASSERT_TRUE(SetSecurityDescriptorSacl(a2.data(), FALSE, nullptr, TRUE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(a2.data(), TRUE, nullptr, FALSE));
  ASSERT_TRUE(GetSecurityDescriptorControl(a2.data(), &control, &revision));
  EXPECT_EQ(control & (SE_SACL_PRESENT | SE_SACL_DEFAULTED), 0);
  ASSERT_TRUE(GetSecurityDescriptorDacl(a2.data(), &present, &list, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(list, nullptr);
}

TEST(Descriptors, BrokenListsAndDescriptorsAreRefusedWithTheirCodes) {
  std::vector<BYTE> acl(16);
  auto* p = reinterpret_cast<PACL>(acl.data());
  EXPECT_FALSE(InitializeAcl(p, 7, ACL_REVISION));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(InitializeAcl(p, 16, 5));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(InitializeAcl(p, 16, ACL_REVISION));
  OwnedSid system(5, 1, {18});
  EXPECT_FALSE(AddAccessAllowedAce(p, 7, 1, system));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_REVISION_MISMATCH));
  BYTE badSid[8] = {1, 16};
  EXPECT_FALSE(AddAccessAllowedAce(p, ACL_REVISION, 1, badSid));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
  p->AceCount = 1;  // an entry the list has no room for
  LPVOID ace;
  EXPECT_FALSE(GetAce(p, 0, &ace));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ACL));

  BYTE absolute[SECURITY_DESCRIPTOR_MIN_LENGTH];
  EXPECT_FALSE(InitializeSecurityDescriptor(absolute, 2));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
  ASSERT_TRUE(InitializeSecurityDescriptor(absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(absolute, TRUE, p, FALSE));
  DWORD length = 0;
  EXPECT_FALSE(MakeSelfRelativeSD(absolute, nullptr, &length));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ACL));

  DWORD sizes[5] = {};
  BYTE notRelative[20] = {1, 0, 0x04, 0};
  EXPECT_FALSE(MakeAbsoluteSD(notRelative, nullptr, &sizes[0], nullptr, &sizes[1], nullptr,
                              &sizes[2], nullptr, &sizes[3], nullptr, &sizes[4]));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_DESCRIPTOR_FORMAT));
}

TEST(Accounts, NamesAndSidsThroughTheWin32Buffers) {
  const std::string computer = scm::ComputerName();
  struct Found {
    DWORD error = 0;
    std::string sid, domain;
    SID_NAME_USE use = SidTypeInvalid;
  };
  auto byName = [](const char* name, const char* system = nullptr) {
    Found f;
    BYTE sid[68];
    char domain[64];
    DWORD cbSid = sizeof sid, cch = sizeof domain;
    if (!LookupAccountNameA(system, name, sid, &cbSid, domain, &cch, &f.use)) {
      f.error = GetLastError();
      return f;
    }
    EXPECT_EQ(cch, std::strlen(domain));
    f.sid = Text(sid);
    f.domain = domain;
    return f;
  };
  auto bySid = [](const std::string& text) {
    Found f;
    const std::string bytes = FromText(text.c_str());
    char name[64], domain[64];
    DWORD cchName = sizeof name, cch = sizeof domain;
    if (!LookupAccountSidA(nullptr, const_cast<char*>(bytes.data()), name, &cchName, domain, &cch,
                           &f.use)) {
      f.error = GetLastError();
      return f;
    }
    f.sid = name;  // the name, for this direction
    f.domain = domain;
    return f;
  };

  const Found root = byName("root");
  EXPECT_EQ(root.sid, "S-1-5-18");
  EXPECT_EQ(root.domain, "NT AUTHORITY");
  EXPECT_EQ(bySid("S-1-5-18").sid, "SYSTEM");
  const std::string nobody = scm::SidText(*scm::UserSid(65534));
  EXPECT_EQ(byName("nobody").sid, nobody);
  EXPECT_EQ(byName("nobody").domain, computer);
  EXPECT_EQ(byName("nobody").use, SidTypeUser);
  EXPECT_EQ(bySid(nobody).sid, "nobody");
  EXPECT_EQ(byName("Authenticated Users").sid, "S-1-5-11");
  EXPECT_EQ(byName("BUILTIN\\Administrators").sid, "S-1-5-32-544");
  EXPECT_EQ(byName("BUILTIN\\Administrators").use, SidTypeAlias);
  EXPECT_EQ(bySid("S-1-5-32-544").sid, "Administrators");
  EXPECT_EQ(bySid("S-1-5-32-544").domain, "BUILTIN");
  // S-1-5-1 names the authority that the well-known accounts are under.
  EXPECT_EQ(bySid("S-1-5-1").domain, "NT AUTHORITY");

  // The group daemon beside the user daemon: its SID has no name (the name is the user's), so it
  // shows as its SID text, which reads back as the group's SID.
  ASSERT_NE(getgrnam("daemon"), nullptr);
  ASSERT_NE(getpwnam("daemon"), nullptr);
  const std::string group = scm::SidText(*scm::GroupSid(getgrnam("daemon")->gr_gid));
  EXPECT_EQ(bySid(group).error, DWORD(ERROR_NONE_MAPPED));
  EXPECT_EQ(Text(const_cast<char*>(FromText(group.c_str()).data())), group);
  EXPECT_EQ(byName("daemon").sid, scm::SidText(*scm::UserSid(getpwnam("daemon")->pw_uid)));

  EXPECT_EQ(byName("no-such-account-kw").error, DWORD(ERROR_NONE_MAPPED));
  EXPECT_EQ(byName("nobody", "OTHERHOST").error, DWORD(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(byName("nobody", computer.c_str()).sid, nobody);

  // Short buffers: both sizes needed, the domain's with its NUL.
  DWORD cbSid = 4, cch = 1;
  SID_NAME_USE use;
  BYTE sid[4];
  char domain[1];
  EXPECT_FALSE(LookupAccountNameA(nullptr, "Everyone", sid, &cbSid, domain, &cch, &use));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cbSid, 12u);
  EXPECT_EQ(cch, 1u);  // Everyone's domain is ""
}

TEST(Privileges, LookupsAndAdjustmentThroughATokenHandle) {
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
  EXPECT_EQ(luid.LowPart, 19u);
  EXPECT_FALSE(LookupPrivilegeValueA("OTHERHOST", "SeShutdownPrivilege", &luid));
  EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
  char name[8];
  DWORD cch = sizeof name;
  EXPECT_FALSE(LookupPrivilegeNameA(nullptr, &luid, name, &cch));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cch, 20u);
  char full[32];
  cch = sizeof full;
  ASSERT_TRUE(LookupPrivilegeNameA(nullptr, &luid, full, &cch));
  EXPECT_STREQ(full, "SeShutdownPrivilege");
  EXPECT_EQ(cch, 19u);

  KwResetProcessToken();
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  // Two entries: the shutdown privilege, which every token holds, and one no token holds.
  BYTE state[4 + 2 * 12] = {};
  auto* tp = reinterpret_cast<PTOKEN_PRIVILEGES>(state);
  const LUID_AND_ATTRIBUTES entries[2] = {{luid, SE_PRIVILEGE_ENABLED},
                                          {{999, 0}, SE_PRIVILEGE_ENABLED}};
  tp->PrivilegeCount = 2;
  std::memcpy(state + 4, entries, sizeof entries);
  BYTE previous[4 + 2 * 12];
  DWORD returned = 0;
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, tp, 4,
                                     reinterpret_cast<PTOKEN_PRIVILEGES>(previous), &returned));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, 16u);
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, tp, sizeof previous,
                                    reinterpret_cast<PTOKEN_PRIVILEGES>(previous), &returned));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_EQ(reinterpret_cast<PTOKEN_PRIVILEGES>(previous)->PrivilegeCount, 1u);
  bool enabled = false;
  for (const auto& e : KwTokenPrivileges())
    if (e.Luid == luid) enabled = (e.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  EXPECT_TRUE(enabled);
  ASSERT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  for (const auto& e : KwTokenPrivileges())
    EXPECT_EQ(e.Attributes & SE_PRIVILEGE_ENABLED, 0u);
  CloseHandle(token);

  // A handle without TOKEN_ADJUST_PRIVILEGES changes nothing; a closed one is no handle.
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, tp, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  CloseHandle(token);
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, tp, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  KwResetProcessToken();
}

}  // namespace
