// Accounts, SID texts and privileges through the security library (loaded by name from the test
// program's folder), with the process's SID store in front of it.
#include "svcctl/ntaccounts.h"

#include <gtest/gtest.h>
#include <pwd.h>

#include <string>

#include "platform/win/win.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntprivilege.h"
#include "svcctl/sidstore.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/svcctl/run_as.h"

namespace {

TSidBytes Sid(const std::string& text) {
  TSidBytes sid;
  EXPECT_TRUE(StringToSid(text, sid)) << text;
  return sid;
}

std::string Text(TSidBytes sid) {
  std::string text;
  EXPECT_TRUE(SidToString(SidOf(sid), text));
  return text;
}

struct Account {
  bool ok;
  std::string domain, name;
};
Account AccountOf(const std::string& machine, TSidBytes sid) {
  Account a{};
  a.ok = LookupAccountSid(machine, SidOf(sid), a.domain, a.name);
  return a;
}

std::string Computer() {
  char name[64];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

TEST(Accounts, NamesAndSidsBothWays) {
  const std::string computer = Computer();

  // root is SYSTEM, which has no domain.
  TSidBytes root = LookupAccountName("", "root");
  EXPECT_EQ(Text(root), "S-1-5-18");
  Account system = AccountOf("", root);
  EXPECT_TRUE(system.ok);
  EXPECT_EQ(system.domain, "");
  EXPECT_EQ(system.name, "SYSTEM");

  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  TSidBytes sid = LookupAccountName("", computer + "\\nobody");
  ASSERT_FALSE(sid.empty());
  EXPECT_TRUE(Text(sid).ends_with("-" + std::to_string(1000 + 2 * nobody->pw_uid)));
  Account back = AccountOf("", sid);
  EXPECT_EQ(back.domain + "\\" + back.name, computer + "\\nobody");

  // A SID text names its account; a SID of no account reads as its text.
  EXPECT_EQ(Text(LookupAccountName("", "S-1-5-32-544")), "S-1-5-32-544");
  Account unknown = AccountOf("", Sid("S-1-5-99-7"));
  EXPECT_TRUE(unknown.ok);
  EXPECT_EQ(unknown.domain, "");
  EXPECT_EQ(unknown.name, "S-1-5-99-7");

  EXPECT_EQ(AuthorityName(""), "NT AUTHORITY");
  EXPECT_EQ(DomainUnlessAuthority("", "NT AUTHORITY"), "");
  EXPECT_EQ(DomainUnlessAuthority("", computer), computer);
}

// The name lookup's own error survives the attempt to read the account as a SID text, and a
// remote machine's failure is no "none mapped" (no SID text is tried).
TEST(Accounts, FailuresKeepTheSystemsError) {
  SetLastError(0);
  EXPECT_TRUE(LookupAccountName("", "no-such-user").empty());
  EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
  EXPECT_TRUE(LookupAccountName("FARHOST", "S-1-5-18").empty());
  EXPECT_EQ(GetLastError(), 1722u);
  Account remote = AccountOf("FARHOST", Sid("S-1-5-21-7-7-7-1001"));
  EXPECT_FALSE(remote.ok);
  EXPECT_EQ(GetLastError(), 1722u);
}

// Answers come from the store first, and the system's answers go into it.
TEST(Accounts, TheStoreAnswersFirst) {
  TSidBytes planted = Sid("S-1-5-21-9-9-9-4242");
  SidStore().Add(planted.data(), static_cast<DWORD>(planted.size()), "FAKE", "planted");
  Account a = AccountOf("FARHOST", planted);  // never reaches the system
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.domain + "\\" + a.name, "FAKE\\planted");
  EXPECT_EQ(LookupAccountName("FARHOST", "fake\\PLANTED"), planted);

  // What the system finds is stored under the system's names: "root" reads back as SYSTEM.
  const TSidBytes daemon = LookupAccountName("", "daemon");
  ASSERT_FALSE(daemon.empty());
  const BYTE* stored = SidStore().FindSid("daemon", Computer());
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(TSidBytes(stored, stored + daemon.size()), daemon);
  EXPECT_EQ(SidStore().FindSid("root", ""), nullptr);
}

const char* const kGoodTexts[] = {"S-1-5-18", "S-1-1-0", "S-1-5-32-544",
                                  "S-1-5-21-4294967295-2-3-1000", "S-1-3-0-1-2-3-4-5-6-7"};

// Texts that fail on every path: nine sub-authorities, another revision, a part that is no
// number, a number out of range, no sub-authority, and a text longer than 256 characters (whose
// first 256 would read as another SID).
const std::string kBadTexts[] = {
    "S-1-5-1-2-3-4-5-6-7-8-9", "S-2-5-18", "S-1-5-x",
    "S-1-5-4294967296",        "",         "S-1-5-21-" + std::string(290, '0') + "1",
};

TEST(SidTexts, ReadHereBeforeWindows2000) {
  testsupport::ScopedEnv winver("KELVADON_WINVER", "2.4.0");
  for (const char* text : kGoodTexts)
    EXPECT_EQ(Text(Sid(text)), text);
  TSidBytes sid;
  for (const std::string& text : kBadTexts)
    EXPECT_FALSE(StringToSid(text, sid)) << text;
  EXPECT_FALSE(StringToSid("S-1-256-1", sid));  // an authority above 255
  EXPECT_FALSE(StringToSid("S-1-5", sid));      // no sub-authority
  EXPECT_FALSE(StringToSid("X-1-5-18", sid));

  // Authorities of more than one byte come out whole, as the system writes them.
  const TSidBytes wide = {1, 1, 0, 0, 0, 0, 1, 0, 7, 0, 0, 0};
  const TSidBytes huge = {1, 1, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0};
  EXPECT_EQ(Text(wide), "S-1-256-7");
  EXPECT_EQ(Text(huge), "S-1-0x000100000000-7");
}

TEST(SidTexts, ConvertedBySystemFromWindows2000) {
  testsupport::ScopedEnv winver("KELVADON_WINVER", "2.5.1");
  for (const char* text : kGoodTexts)
    EXPECT_EQ(Text(Sid(text)), text);
  TSidBytes sid;
  for (const std::string& text : kBadTexts)
    EXPECT_FALSE(StringToSid(text, sid)) << text;
  EXPECT_EQ(Text(Sid("S-1-256-1")), "S-1-256-1");
  const TSidBytes huge = {1, 1, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0};
  EXPECT_EQ(Text(huge), "S-1-0x000100000000-7");
}

TEST(Privileges, RootEnablesAndDisables) {
  KwResetProcessToken();
  EXPECT_FALSE(IsPrivilegeEnabled("SeSecurityPrivilege"));
  EXPECT_TRUE(EnsurePrivilege("SeSecurityPrivilege"));
  EXPECT_TRUE(IsPrivilegeEnabled("SeSecurityPrivilege"));
  EXPECT_TRUE(EnablePrivilege("SeSecurityPrivilege", false));
  EXPECT_FALSE(IsPrivilegeEnabled("SeSecurityPrivilege"));
  EXPECT_FALSE(EnablePrivilege("SeNoSuchPrivilege", true));
  EXPECT_FALSE(IsPrivilegeEnabled("SeNoSuchPrivilege"));
  KwResetProcessToken();
}

// A token without the privilege: enabling it "succeeds" with 1300, which counts as failure.
TEST(Privileges, AnotherUserCannotEnableWhatItLacks) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  EXPECT_EQ(svcctltest::RunAs(nobody->pw_uid, nobody->pw_gid, {},
                              [] {
                                if (EnablePrivilege("SeSecurityPrivilege", true)) return "enabled";
                                if (EnsurePrivilege("SeSecurityPrivilege")) return "ensured";
                                if (!EnablePrivilege("SeShutdownPrivilege", true))
                                  return "shutdown not enabled";
                                return "";
                              }),
            "");
}

}  // namespace
