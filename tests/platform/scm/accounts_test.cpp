// Accounts as SIDs: the machine's SID from its machine-id, user and group ids, and the lookups by
// name and by SID over this system's user and group tables ("root", "nobody", "daemon", which
// Debian has as a user and as a group) and the well-known accounts.
#include "platform/scm/accounts.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include "rtl/files.h"

namespace scm {
namespace {

TEST(Accounts, TheMachineSidComesFromTheMachineId) {
  const struct {
    const char* id;
    const char* sid;
  } cases[] = {
      {"3d1219c7c4c5404aaa1f6d2a48adfda4\n", "S-1-5-21-1024596423-3301261386-2854186282"},
      {"3D1219C7C4C5404AAA1F6D2A48ADFDA4", "S-1-5-21-1024596423-3301261386-2854186282"},
      {"00000000000000000000000000000000", "S-1-5-21-0-0-0"},
      {"", "S-1-5-21-1-1-1"},                                  // no file
      {"3d1219c7c4c5404aaa1f6d2a48adfda", "S-1-5-21-1-1-1"},   // 31 digits
      {"3d1219c7c4c5404aaa1f6d2a48adfdaz", "S-1-5-21-1-1-1"},  // not hex
      {"uninitialized\n", "S-1-5-21-1-1-1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SidText(MachineSidFromId(c.id)), c.sid) << c.id;

  std::string id;
  if (rtl::ReadWholeFile(kMachineIdFile, id) != 0) id.clear();
  EXPECT_EQ(MachineSid(), MachineSidFromId(id));
}

TEST(Accounts, UserAndGroupIdsMapOntoRelativeIds) {
  const std::string machine = SidText(MachineSid());
  EXPECT_EQ(UserSid(0), SystemSid());
  EXPECT_EQ(SidText(*UserSid(65534)), machine + "-132068");
  EXPECT_EQ(SidText(*GroupSid(0)), machine + "-1001");
  EXPECT_EQ(SidText(*GroupSid(1)), machine + "-1003");
  EXPECT_EQ(SidText(*UserSid(2147483147)), machine + "-4294967294");  // the last that fits
  EXPECT_FALSE(UserSid(2147483148));
  EXPECT_EQ(SidText(*GroupSid(2147483147)), machine + "-4294967295");
  EXPECT_FALSE(GroupSid(2147483148));
  EXPECT_FALSE(UserSid(0xFFFFFFFF));
}

TEST(Accounts, NamesAndSidsMapBothWays) {
  ASSERT_NE(getpwnam("daemon"), nullptr) << "this system has no user daemon";
  ASSERT_NE(getgrnam("daemon"), nullptr) << "this system has no group daemon";
  ASSERT_NE(getgrnam("nogroup"), nullptr) << "this system has no group nogroup";
  ASSERT_EQ(getgrnam("nogroup")->gr_gid, 65534u);
  const gid_t daemonGid = getgrnam("daemon")->gr_gid;
  const std::string computer = ComputerName();
  const Sid nobody = *UserSid(65534);

  // By name: the SID, domain, name and kind found.
  const struct {
    std::string account;
    uint32_t code;
    Sid sid;
    std::string domain, name;
    int use;
  } byName[] = {
      {"root", 0, SystemSid(), "NT AUTHORITY", "SYSTEM", kSidTypeWellKnownGroup},
      {computer + "\\root", 0, SystemSid(), "NT AUTHORITY", "SYSTEM", kSidTypeWellKnownGroup},
      {"SYSTEM", 0, SystemSid(), "NT AUTHORITY", "SYSTEM", kSidTypeWellKnownGroup},
      {"nobody", 0, nobody, computer, "nobody", kSidTypeUser},
      {computer + "\\nobody", 0, nobody, computer, "nobody", kSidTypeUser},
      {"daemon", 0, *UserSid(getpwnam("daemon")->pw_uid), computer, "daemon", kSidTypeUser},
      {"Authenticated Users", 0, AuthenticatedUsersSid(), "NT AUTHORITY", "Authenticated Users",
       kSidTypeWellKnownGroup},
      {"nt authority\\authenticated users", 0, AuthenticatedUsersSid(), "NT AUTHORITY",
       "Authenticated Users", kSidTypeWellKnownGroup},
      {"BUILTIN\\Administrators", 0, AdministratorsSid(), "BUILTIN", "Administrators",
       kSidTypeAlias},
      {"Everyone", 0, EveryoneSid(), "", "Everyone", kSidTypeWellKnownGroup},
      {"DIALUP", 0, Sid::Make(5, {1}), "NT AUTHORITY", "DIALUP", kSidTypeWellKnownGroup},
      {computer, 0, MachineSid(), computer, computer, kSidTypeDomain},
      {"no-such-account-kw", 1332, {}, "", "", 0},
      {"BUILTIN\\nobody", 1332, {}, "", "", 0},
      {"OTHERHOST\\nobody", 1332, {}, "", "", 0},
      {"S-1-5-32-544", 1332, {}, "", "", 0},  // a SID text is no name
      {"", 1332, {}, "", "", 0},
  };
  for (const auto& c : byName) {
    AccountName a;
    ASSERT_EQ(LookupAccountByName(c.account, a), c.code) << c.account;
    if (c.code) continue;
    EXPECT_EQ(SidText(a.sid), SidText(c.sid)) << c.account;
    EXPECT_EQ(a.domain, c.domain) << c.account;
    EXPECT_EQ(a.name, c.name) << c.account;
    EXPECT_EQ(a.use, c.use) << c.account;
  }

  // By SID. The group daemon, named like the user daemon, maps to no name: its name would map
  // back to the user.
  const struct {
    Sid sid;
    uint32_t code;
    std::string domain, name;
  } bySid[] = {
      {SystemSid(), 0, "NT AUTHORITY", "SYSTEM"},
      {Sid::Make(5, {1}), 0, "NT AUTHORITY", "DIALUP"},
      {nobody, 0, computer, "nobody"},
      {*GroupSid(65534), 0, computer, "nogroup"},
      {Sid::Make(5, {32, 544}), 0, "BUILTIN", "Administrators"},
      {*GroupSid(daemonGid), 1332, "", ""},
      {*UserSid(2147483000), 1332, "", ""},               // no such user
      {Sid::Make(5, {21, 1, 2, 3, 1000}), 1332, "", ""},  // another machine's
      {Sid::Make(5, {99}), 1332, "", ""},
  };
  for (const auto& c : bySid) {
    AccountName a;
    ASSERT_EQ(LookupAccountBySid(c.sid, a), c.code) << SidText(c.sid);
    if (c.code) continue;
    EXPECT_EQ(a.domain, c.domain) << SidText(c.sid);
    EXPECT_EQ(a.name, c.name) << SidText(c.sid);
    // And back again.
    AccountName back;
    ASSERT_EQ(LookupAccountByName(a.domain.empty() ? a.name : a.domain + "\\" + a.name, back), 0u);
    EXPECT_EQ(back.sid, c.sid);
  }
  // The group shows as its SID text, which reads back as the group's SID.
  Sid fromText;
  ASSERT_TRUE(ParseSidText(SidText(*GroupSid(daemonGid)), fromText));
  EXPECT_EQ(fromText, *GroupSid(daemonGid));
}

TEST(Accounts, ServiceAccountsByStartName) {
  const struct {
    const char* name;
    bool ok, self;
    uid_t uid;
  } cases[] = {
      {"", true, true, 0},
      {"LocalSystem", true, true, 0},
      {"NT AUTHORITY\\LocalSystem", true, true, 0},
      {"nobody", true, false, 65534},
      {".\\nobody", true, false, 65534},
      {"root", true, false, 0},
      {"no-such-user-kw", false, false, 0},
  };
  for (const auto& c : cases) {
    Account a;
    EXPECT_EQ(ResolveAccount(c.name, a), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(a.self, c.self) << c.name;
    if (!a.self) {
      EXPECT_EQ(a.uid, c.uid) << c.name;
    }
  }
  EXPECT_EQ(UserName(0), "root");
  EXPECT_EQ(UserName(2147483000), "uid 2147483000");
}

}  // namespace
}  // namespace scm
