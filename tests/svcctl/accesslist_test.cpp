// The flag bytes and kinds of access entries, in both directions, and the names of objects.
#include "svcctl/accesslist.h"

#include <gtest/gtest.h>

#include "rtl/cp932.h"
#include "svcctl/abstrsec.h"
#include "svcctl/ntexception.h"

namespace {

TEST(AccessEntries, FlagBytesExchangeInheritOnlyAndNoPropagate) {
  const struct {
    TAceFlags flags;
    TAceType type;
    BYTE system;
  } cases[] = {
      {{acfObjInherit, acfContainer, acfInherited}, actAccessAllowed, 0x13},
      {{acfInheritOnly}, actAccessDenied, 0x08},
      {{acfNoPropagate}, actAccessAllowed, 0x04},
      {{acfInheritOnly, acfNoPropagate}, actAccessAllowed, 0x0C},
      {{}, actAuditSuccess, 0x40},
      {{acfInheritOnly}, actAuditFailure, 0x88},
      {{acfContainer}, actAuditFull, 0xC2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AceFlagsToByte(c.flags, c.type), c.system) << int(c.system);
    EXPECT_EQ(AceFlagsFromByte(c.system), c.flags) << int(c.system);
  }
}

TEST(AccessEntries, KindsOfSystemEntries) {
  const struct {
    BYTE type, flags;
    TAceType want;
  } cases[] = {
      {ACCESS_ALLOWED_ACE_TYPE, 0x00, actAccessAllowed},
      {ACCESS_DENIED_ACE_TYPE, 0x40, actAccessDenied},
      {SYSTEM_AUDIT_ACE_TYPE, 0xC0, actAuditFull},
      {SYSTEM_AUDIT_ACE_TYPE, 0x40, actAuditSuccess},
      {SYSTEM_AUDIT_ACE_TYPE, 0x80, actAuditFailure},
      {SYSTEM_AUDIT_ACE_TYPE, 0x02, actAccessAllowed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AceTypeOf(ACE_HEADER{c.type, c.flags, 20}), c.want) << int(c.type) << int(c.flags);

  // An entry of a kind the lists do not know (here an alarm entry, 3) is not read as allowed.
  try {
    AceTypeOf(ACE_HEADER{3, 0, 20});
    ADD_FAILURE() << "no exception";
  } catch (const ENTException& e) {
    EXPECT_EQ(e.Message, "Invalid AceType parameter");
    EXPECT_EQ(e.ErrorCode, -1);
  }
}

// Another machine's objects are named through it; this machine's go by their own name.
TEST(AccessEntries, ObjectNamesOnThisAndAnotherMachine) {
  const std::string local = GetLocalComputerName();
  EXPECT_EQ(TNTAbstractSecurity::BuildObjectName("", "Svc"), "Svc");
  EXPECT_EQ(TNTAbstractSecurity::BuildObjectName(local, "Svc"), "Svc");
  EXPECT_EQ(TNTAbstractSecurity::BuildObjectName(rtl::LowerCase(local), "Svc"), "Svc");
  EXPECT_EQ(TNTAbstractSecurity::BuildObjectName("FARHOST", "Svc"), "FARHOST\\Svc");
}

}  // namespace
