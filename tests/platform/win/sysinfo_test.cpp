#include <limits.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/win.h"
#include "tests/support/env.h"

namespace {

using testsupport::ScopedEnv;

TEST(GetVersionEx, DefaultAndOverride) {
  const struct {
    std::optional<std::string> env;
    DWORD platform, major, minor;
  } cases[] = {
      {std::nullopt, 2, 5, 1},  // Windows XP
      {"2.6.0", 2, 6, 0},       // Vista
      {"2.4.0", 2, 4, 0},       // NT 4.0
      {"1.4.10", 1, 4, 10},     // Windows 98
      {"2.10.0", 2, 10, 0},
      // Not of the form P.MAJ.MIN: the default stays.
      {"", 2, 5, 1},
      {"2.6", 2, 5, 1},
      {"2.6.0.1", 2, 5, 1},
      {"2..0", 2, 5, 1},
      {"a.b.c", 2, 5, 1},
      {" 2.6.0", 2, 5, 1},
      {"2.6.-1", 2, 5, 1},
      {"2.6.0x", 2, 5, 1},
      {"99999999999.1.1", 2, 5, 1},
  };
  for (const auto& c : cases) {
    const std::string label = c.env ? "\"" + *c.env + "\"" : "unset";
    ScopedEnv winver("KELVADON_WINVER", c.env);
    OSVERSIONINFOA info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info)) << label;
    EXPECT_EQ(info.dwPlatformId, c.platform) << label;
    EXPECT_EQ(info.dwMajorVersion, c.major) << label;
    EXPECT_EQ(info.dwMinorVersion, c.minor) << label;
    EXPECT_EQ(info.dwBuildNumber, 2600u) << label;
    EXPECT_NE(std::memchr(info.szCSDVersion, 0, sizeof info.szCSDVersion), nullptr) << label;
  }
}

TEST(GetVersionEx, SizeField) {
  OSVERSIONINFOEXA ex;
  std::memset(&ex, 0xCC, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 5u);
  EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
  EXPECT_EQ(ex.wReserved, 0);

  for (DWORD size : {0u, 147u, 149u, 155u, 157u}) {
    OSVERSIONINFOEXA bad{};
    bad.dwOSVersionInfoSize = size;
    SetLastError(0);
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&bad))) << size;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << size;
    EXPECT_EQ(bad.dwMajorVersion, 0u) << size;
  }
  SetLastError(0);
  EXPECT_FALSE(GetVersionExA(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ComputerName, FromHostName) {
  const struct {
    const char* host;
    const char* name;
  } cases[] = {
      {"vm", "VM"},
      {"Web01.example.com", "WEB01"},
      {"build-host-7", "BUILD-HOST-7"},
      {"averyveryverylonghostname.local", "AVERYVERYVERYLO"},
      {"exactly15chars1", "EXACTLY15CHARS1"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComputerNameFromHostName(c.host), c.name) << c.host;
}

TEST(ComputerName, BufferRules) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string expected = ComputerNameFromHostName(host);
  ASSERT_FALSE(expected.empty());

  // Size query: FALSE, 111, and the size needed with the NUL.
  DWORD size = 0;
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameA(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, expected.size() + 1);

  char buf[MAX_COMPUTERNAME_LENGTH + 1];
  size = static_cast<DWORD>(expected.size());  // one short: no room for the NUL
  EXPECT_FALSE(GetComputerNameA(buf, &size));
  EXPECT_EQ(size, expected.size() + 1);

  size = static_cast<DWORD>(expected.size() + 1);
  ASSERT_TRUE(GetComputerNameA(buf, &size));
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(std::string(buf), expected);
}

}  // namespace

TEST(Priority, IdleClassIsNice19) {
  // In a child, so the test process keeps its own priority.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    bool ok = SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS) &&
              getpriority(PRIO_PROCESS, 0) == 19 && !SetPriorityClass(GetCurrentProcess(), 12345) &&
              GetLastError() == ERROR_INVALID_PARAMETER;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
