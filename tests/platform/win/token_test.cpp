#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/win.h"
#include "tests/support/netns.h"

namespace {

class TokenTest : public ::testing::Test {
 protected:
  void SetUp() override { KwResetProcessToken(); }
  void TearDown() override { KwResetProcessToken(); }

  static LUID Luid(const char* name) {
    LUID luid{};
    EXPECT_TRUE(KwLookupPrivilegeValue(name, &luid)) << name;
    return luid;
  }

  // The token's entry for a privilege, or nullopt when it is not held.
  static std::optional<DWORD> Attributes(const char* name) {
    const LUID luid = Luid(name);
    for (const auto& e : KwTokenPrivileges())
      if (e.Luid == luid) return e.Attributes;
    return std::nullopt;
  }
};

TEST_F(TokenTest, LookupByNameAndLuid) {
  const struct {
    const char* name;
    DWORD luid;
  } cases[] = {
      {"SeTcbPrivilege", 7},
      {"SeSecurityPrivilege", 8},
      {"SeTakeOwnershipPrivilege", 9},
      {"SeSystemtimePrivilege", 12},
      {"SeBackupPrivilege", 17},
      {"SeRestorePrivilege", 18},
      {"SeShutdownPrivilege", 19},
      {"SeDebugPrivilege", 20},
      {"SeAuditPrivilege", 21},
      {"SeChangeNotifyPrivilege", 23},
      {"SeRemoteShutdownPrivilege", 24},
      {"SeUndockPrivilege", 25},
      {"SeIncreaseWorkingSetPrivilege", 33},
      {"SeTimeZonePrivilege", 34},
  };
  for (const auto& c : cases) {
    LUID luid{99, 99};
    ASSERT_TRUE(KwLookupPrivilegeValue(c.name, &luid)) << c.name;
    EXPECT_EQ(luid.LowPart, c.luid) << c.name;
    EXPECT_EQ(luid.HighPart, 0) << c.name;
    std::string name;
    ASSERT_TRUE(KwLookupPrivilegeName(luid, name)) << c.name;
    EXPECT_EQ(name, c.name);
  }
  LUID luid{};
  EXPECT_TRUE(KwLookupPrivilegeValue("seshutdownPRIVILEGE", &luid));
  EXPECT_EQ(luid.LowPart, 19u);

  SetLastError(0);
  EXPECT_FALSE(KwLookupPrivilegeValue("SeNoSuchPrivilege", &luid));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
  std::string name;
  SetLastError(0);
  EXPECT_FALSE(KwLookupPrivilegeName(LUID{999, 0}, name));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
  EXPECT_FALSE(KwLookupPrivilegeName(LUID{19, 1}, name));
}

TEST_F(TokenTest, OnlyChangeNotifyStartsEnabled) {
  const auto held = KwTokenPrivileges();
  ASSERT_FALSE(held.empty());
  for (const auto& e : held) {
    std::string name;
    ASSERT_TRUE(KwLookupPrivilegeName(e.Luid, name));
    EXPECT_EQ((e.Attributes & SE_PRIVILEGE_ENABLED) != 0, name == "SeChangeNotifyPrivilege")
        << name;
  }
  EXPECT_TRUE(std::is_sorted(held.begin(), held.end(), [](const auto& a, const auto& b) {
    return a.Luid.LowPart < b.Luid.LowPart;
  }));
  if (geteuid() == 0) {
    EXPECT_EQ(held.size(), 35u) << "root holds every privilege";
  }
}

TEST_F(TokenTest, EnableAndDisable) {
  const LUID shutdown = Luid("SeShutdownPrivilege");  // held by every token
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KwAdjustTokenPrivilege(shutdown, SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Attributes("SeShutdownPrivilege"), SE_PRIVILEGE_ENABLED);

  EXPECT_TRUE(KwAdjustTokenPrivilege(shutdown, 0));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Attributes("SeShutdownPrivilege"), 0u);

  // Disabling keeps the by-default mark.
  EXPECT_TRUE(KwAdjustTokenPrivilege(Luid("SeChangeNotifyPrivilege"), 0));
  EXPECT_EQ(Attributes("SeChangeNotifyPrivilege"), SE_PRIVILEGE_ENABLED_BY_DEFAULT);
}

TEST_F(TokenTest, PrivilegeNotHeldGives1300) {
  const LUID shutdown = Luid("SeShutdownPrivilege");
  EXPECT_TRUE(KwAdjustTokenPrivilege(shutdown, SE_PRIVILEGE_REMOVED));
  EXPECT_EQ(Attributes("SeShutdownPrivilege"), std::nullopt);
  // Removed for good: enabling it now changes nothing and says so.
  SetLastError(0);
  EXPECT_TRUE(KwAdjustTokenPrivilege(shutdown, SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
  EXPECT_EQ(Attributes("SeShutdownPrivilege"), std::nullopt);

  SetLastError(0);
  EXPECT_TRUE(KwAdjustTokenPrivilege(LUID{999, 0}, SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
}

// A process of another user holds the five user privileges only. Run in a child that drops to
// "nobody" when the test runs as root.
TEST_F(TokenTest, UserTokenHoldsTheUserPrivilegesOnly) {
  if (geteuid() == 0 && !testsupport::UsersCanSwitch())
    GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        KwResetProcessToken();
        std::string names;
        for (const auto& e : KwTokenPrivileges()) {
          std::string name;
          KwLookupPrivilegeName(e.Luid, name);
          names += name + " ";
        }
        const std::string expected =
            "SeShutdownPrivilege SeChangeNotifyPrivilege SeUndockPrivilege "
            "SeIncreaseWorkingSetPrivilege SeTimeZonePrivilege ";
        if (names != expected) {
          std::fprintf(stderr, "held: %s\n", names.c_str());
          _exit(1);
        }
        LUID debug{};
        KwLookupPrivilegeValue("SeDebugPrivilege", &debug);
        SetLastError(0);
        if (!KwAdjustTokenPrivilege(debug, SE_PRIVILEGE_ENABLED) ||
            GetLastError() != ERROR_NOT_ALL_ASSIGNED)
          _exit(3);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
