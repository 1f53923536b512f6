// The service side outside scmd, the event log, and the library loaded by its DLL name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/advapi32/advapi32.h"
#include "tests/support/files.h"

namespace {

// Runs the test service directly with KELVADON_SCM_FD set as given (unset for null) and the
// descriptor `keep` left open; returns its exit code and trace.
std::pair<int, std::vector<std::string>> RunOutsideScmd(const char* fdValue, int keep = -1) {
  testsupport::TempDir dir{"kwscm", 0755};
  const std::string trace = dir.File("trace");
  const pid_t pid = fork();
  if (pid == 0) {
    if (fdValue) {
      setenv("KELVADON_SCM_FD", fdValue, 1);
    } else {
      unsetenv("KELVADON_SCM_FD");
    }
    if (keep >= 0) fcntl(keep, F_SETFD, 0);
    const std::string arg = "--trace=" + trace;
    execl(TEST_SERVICE_PATH, TEST_SERVICE_PATH, arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testsupport::ReadLines(trace)};
}

TEST(ServiceSide, ADispatcherOutsideScmdFailsWith1063) {
  int file = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
  const std::string fileFd = std::to_string(file), udpFd = std::to_string(udp),
                    datagramFd = std::to_string(pair[1]);
  const struct {
    const char* what;
    const char* value;
    int keep;
  } cases[] = {
      {"no variable", nullptr, -1},
      {"not a number", "three", -1},
      {"a closed descriptor", "250", -1},
      {"not a socket", fileFd.c_str(), file},
      {"not a Unix socket", udpFd.c_str(), udp},
      {"a Unix socket, but no stream", datagramFd.c_str(), pair[1]},
  };
  for (const auto& c : cases) {
    auto [code, trace] = RunOutsideScmd(c.value, c.keep);
    EXPECT_EQ(code, 2) << c.what;
    ASSERT_FALSE(trace.empty()) << c.what;
    EXPECT_EQ(trace.back(), "dispatcher 0 1063") << c.what;
  }
  close(file);
  close(udp);
  close(pair[0]);
  close(pair[1]);
}

TEST(ServiceSide, StatusCallsWithoutADispatcherAreRefused) {
  SetLastError(0);
  EXPECT_EQ(RegisterServiceCtrlHandlerA("x", [](DWORD) {}), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
  SERVICE_STATUS st{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
  EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(1), &st));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(StartServiceCtrlDispatcherA(nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(EventLog, EventsGoToTheLogFileInUtf8) {
  testsupport::TempDir dir{"kwscm", 0755};
  const std::string file = dir.File("events");
  setenv("KELVADON_EVENTLOG", file.c_str(), 1);
  HANDLE h = RegisterEventSourceA(nullptr, "KelvadonManager");
  ASSERT_TRUE(h);
  // "サービス失敗" in CP932, with a line end inside.
  LPCSTR strings[] = {"\x83\x54\x81\x5B\x83\x72\x83\x58\x8E\xB8\x94\x73 x\r\ny", "tail"};
  ASSERT_TRUE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 7, nullptr, 2, 0, strings, nullptr));
  ASSERT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_FALSE(ReportEventA(h, 3, 0, 0, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
  EXPECT_FALSE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(DeregisterEventSource(h));
  EXPECT_FALSE(DeregisterEventSource(h));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 0, 0, nullptr, nullptr));
  unsetenv("KELVADON_EVENTLOG");

  EXPECT_EQ(testsupport::ReadLines(file),
            (std::vector<std::string>{"KelvadonManager\tERROR\t7\tサービス失敗 x  y tail",
                                      "KelvadonManager\tINFORMATION\t0\t"}));
}

TEST(Library, LoadsByItsDllNameWithTheLinkedEntryPoints) {
  HMODULE lib = LoadLibraryA("ADVAPI32.DLL");
  ASSERT_TRUE(lib) << GetLastError();
  const struct {
    const char* name;
    FARPROC linked;
  } names[] = {
      {"OpenSCManagerA", reinterpret_cast<FARPROC>(&OpenSCManagerA)},
      {"ChangeServiceConfig2W", reinterpret_cast<FARPROC>(&ChangeServiceConfig2W)},
      {"QueryServiceObjectSecurity", reinterpret_cast<FARPROC>(&QueryServiceObjectSecurity)},
      {"StartServiceCtrlDispatcherA", reinterpret_cast<FARPROC>(&StartServiceCtrlDispatcherA)},
      {"ReportEventA", reinterpret_cast<FARPROC>(&ReportEventA)},
  };
  for (const auto& n : names)
    EXPECT_EQ(GetProcAddress(lib, n.name), n.linked) << n.name;
  // Nothing but the Win32 names is exported.
  EXPECT_EQ(GetProcAddress(lib, "_ZN3scm5FrameESt17basic_string_viewIcSt11char_traitsIcEE"),
            nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
  FreeLibrary(lib);
}

}  // namespace
