#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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

// Token handles: the privileges read through GetTokenInformation in the Win32 layout, the rights
// a handle was opened with, and the refusals.
TEST_F(TokenTest, TokenHandlesReadThePrivilegesInTheWin32Layout) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  ASSERT_TRUE(KwAdjustTokenPrivilege(Luid("SeShutdownPrivilege"), SE_PRIVILEGE_ENABLED));
  const auto held = KwTokenPrivileges();
  DWORD needed = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_EQ(needed, 4 + 12 * held.size());
  std::vector<unsigned char> buf(needed - 1);
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buf.data(), needed - 1, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  buf.resize(needed);
  ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buf.data(), needed, &needed));
  auto u32 = [&](size_t at) {
    return DWORD(buf[at]) | DWORD(buf[at + 1]) << 8 | DWORD(buf[at + 2]) << 16 |
           DWORD(buf[at + 3]) << 24;
  };
  ASSERT_EQ(u32(0), held.size());
  for (size_t i = 0; i < held.size(); ++i) {
    EXPECT_EQ(u32(4 + 12 * i), held[i].Luid.LowPart);
    EXPECT_EQ(u32(8 + 12 * i), DWORD(held[i].Luid.HighPart));
    EXPECT_EQ(u32(12 + 12 * i), held[i].Attributes);
  }
  DWORD access = 0;
  ASSERT_TRUE(KwTokenAccess(token, &access));
  EXPECT_EQ(access, TOKEN_QUERY);
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, buf.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(CloseHandle(token));
  EXPECT_FALSE(CloseHandle(token));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buf.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // A handle without TOKEN_QUERY reads nothing; MAXIMUM_ALLOWED gives every token right.
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buf.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(token);
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0x02000000, &token));
  ASSERT_TRUE(KwTokenAccess(token, &access));
  EXPECT_EQ(access, TOKEN_ALL_ACCESS);
  CloseHandle(token);
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(uintptr_t(0x1234)), TOKEN_QUERY, &token));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
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
