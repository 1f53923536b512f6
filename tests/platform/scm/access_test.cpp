// The access checks as functions of a caller and a descriptor: the rules a table of real callers
// cannot reach cheaply (MAXIMUM_ALLOWED, the owner's implicit rights, the order of entries, an
// unknown caller, the audit right), and which owners a caller may set.
#include "platform/scm/access.h"

#include <gtest/gtest.h>

#include "platform/scm/accounts.h"

namespace scm {
namespace {

constexpr uid_t kUser = 65534;

Caller User(bool member = false) {
  std::vector<gid_t> groups;
  return CallerOf(kUser, kUser, groups, 1, member ? std::optional<gid_t>(kUser) : std::nullopt);
}

Caller Root() {
  return CallerOf(0, 0, {}, 1, std::nullopt);
}

Descriptor WithDacl(std::vector<Ace> aces, std::optional<Sid> owner = SystemSid()) {
  Descriptor d;
  d.control = kSelfRelative | kDaclPresent;
  d.owner = owner;
  d.dacl = Acl{kAclRevision, std::move(aces)};
  return d;
}

// 0 and the rights granted, or the error.
uint32_t Open(const Caller& c, const Descriptor& d, uint32_t desired, uint32_t* granted = nullptr) {
  uint32_t g = 0;
  const uint32_t err = CheckServiceAccess(c, d, desired, g);
  if (granted) *granted = err ? 0 : g;
  return err;
}

TEST(ServiceAccess, CallersHoldTheSidsOfTheirCredentials) {
  const Caller user = User();
  EXPECT_TRUE(user.Has(*UserSid(kUser)));
  EXPECT_TRUE(user.Has(*GroupSid(kUser)));
  EXPECT_TRUE(user.Has(EveryoneSid()));
  EXPECT_TRUE(user.Has(AuthenticatedUsersSid()));
  EXPECT_TRUE(user.Has(UsersSid()));
  EXPECT_FALSE(user.Has(AdministratorsSid()));
  EXPECT_FALSE(user.admin);
  EXPECT_TRUE(User(true).Has(AdministratorsSid()));
  EXPECT_TRUE(User(true).admin);
  EXPECT_FALSE(User(true).root);

  const Caller root = Root();
  EXPECT_EQ(root.user, SystemSid());
  EXPECT_TRUE(root.root && root.admin);
  EXPECT_TRUE(root.Has(AdministratorsSid()));

  const Caller unknown = UnknownCaller();
  EXPECT_FALSE(unknown.root || unknown.admin || unknown.known || unknown.user);
  EXPECT_EQ(unknown.sids, std::vector<Sid>{EveryoneSid()});
}

TEST(ServiceAccess, TheRulesOfTheWalk) {
  const Sid everyone = EveryoneSid(), user = *UserSid(kUser);
  uint32_t granted = 0;

  // MAXIMUM_ALLOWED gives what the entries grant, without what an earlier entry denied.
  const Descriptor mixed = WithDacl({{kAccessDeniedAce, 0, kServiceStop, everyone},
                                     {kAccessAllowedAce, 0, kGenericExecute, user},
                                     {kAccessDeniedAce, 0, kServiceStart, user}});
  ASSERT_EQ(Open(User(), mixed, kMaximumAllowed, &granted), 0u);
  EXPECT_EQ(granted,
            kReadControl | kServiceStart | kServicePauseContinue | kServiceUserDefinedControl);
  EXPECT_EQ(Open(User(), mixed, kServiceStart), 0u);  // granted before the later deny
  EXPECT_EQ(Open(User(), mixed, kServiceStop), kErrorAccessDenied);
  EXPECT_EQ(Open(User(), mixed, kMaximumAllowed | kServiceStop), kErrorAccessDenied);
  EXPECT_EQ(Open(User(), WithDacl({}), kMaximumAllowed), kErrorAccessDenied);
  EXPECT_EQ(Open(User(), WithDacl({}), 0), 0u);  // nothing asked, nothing needed

  // The owner keeps READ_CONTROL and WRITE_DAC, even past a deny.
  const Descriptor owned = WithDacl({{kAccessDeniedAce, 0, kServiceAllAccess, everyone}}, user);
  ASSERT_EQ(Open(User(), owned, kMaximumAllowed, &granted), 0u);
  EXPECT_EQ(granted, kReadControl | kWriteDac);
  EXPECT_EQ(Open(User(), owned, kWriteOwner), kErrorAccessDenied);

  // The audit right is root's; entries never grant it.
  const Descriptor all = WithDacl({{kAccessAllowedAce, 0, 0xFFFFFFFF, everyone}});
  EXPECT_EQ(Open(User(true), all, kAccessSystemSecurity), kErrorPrivilegeNotHeld);
  ASSERT_EQ(Open(User(true), all, kMaximumAllowed, &granted), 0u);
  EXPECT_EQ(granted & kAccessSystemSecurity, 0u);
  ASSERT_EQ(Open(Root(), WithDacl({}), kAccessSystemSecurity | kGenericRead, &granted), 0u);
  EXPECT_EQ(granted, kAccessSystemSecurity | MapServiceAccess(kGenericRead));

  // An unknown caller is Everyone: what Everyone has and no more.
  const Descriptor defaults = DefaultServiceDescriptor();
  EXPECT_EQ(Open(UnknownCaller(), defaults, kServiceQueryStatus), kErrorAccessDenied);
  EXPECT_EQ(Open(UnknownCaller(), WithDacl({{kAccessAllowedAce, 0, kServiceQueryStatus, everyone}}),
                 kServiceQueryStatus),
            0u);
}

TEST(ServiceAccess, OwnersACallerMaySet) {
  const struct {
    const char* what;
    Caller caller;
    Sid owner;
    uint32_t code;
  } cases[] = {
      {"a user: itself", User(), *UserSid(kUser), 0},
      {"a user: Everyone", User(), EveryoneSid(), 1307},
      {"a user: SYSTEM", User(), SystemSid(), 1307},
      {"a user: Administrators", User(), AdministratorsSid(), 1307},
      {"a member: Administrators", User(true), AdministratorsSid(), 0},
      {"a member: SYSTEM", User(true), SystemSid(), 1307},
      {"unknown: Everyone", UnknownCaller(), EveryoneSid(), 1307},
      {"root: Everyone", Root(), EveryoneSid(), 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckNewOwner(c.caller, c.owner), c.code) << c.what;
}

TEST(ServiceAccess, StoredMasksHaveTheirGenericBitsMapped) {
  const Descriptor mapped = MapServiceDescriptor(
      WithDacl({{kAccessAllowedAce, 0, kGenericRead | kDelete, EveryoneSid()}}));
  EXPECT_EQ(mapped.dacl->aces[0].mask, kDelete | kServiceQueryRights);
  EXPECT_EQ(MapServiceAccess(kGenericAll), kServiceAllAccess);
  EXPECT_EQ(MapManagerAccess(kGenericExecute), kReadControl | kManagerConnect | kManagerLock);
}

}  // namespace
}  // namespace scm
