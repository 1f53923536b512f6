// The fixture of tests at platform/advapi32 and above that use the service API: an scmd in a
// temporary state folder that the test process's client functions talk to, the test service's
// command line, and handles that close themselves. A fixture that asks for the test account
// (WantsTestAccount) runs scmd in a mount namespace where that account exists, as root or as the
// account itself (ScmdRunsAsTestAccount), and skips where it cannot. The test program defines
// SCMD_PATH and TEST_SERVICE_PATH and links platform_advapi32. One fixture per test, on the
// test's thread.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/advapi32/winsvc.h"
#include "platform/win/token.h"
#include "tests/support/files.h"
#include "tests/support/scmd.h"
#include "tests/support/test_account.h"
#include "tests/support/wait.h"

namespace testsupport {

struct ScHandle {
  SC_HANDLE h = nullptr;
  ScHandle() = default;
  explicit ScHandle(SC_HANDLE handle) : h(handle) {}
  ScHandle(ScHandle&& o) noexcept : h(o.h) { o.h = nullptr; }
  ScHandle& operator=(ScHandle&& o) noexcept {
    reset(o.h);
    o.h = nullptr;
    return *this;
  }
  ~ScHandle() { reset(); }
  void reset(SC_HANDLE n = nullptr) {
    if (h) CloseServiceHandle(h);
    h = n;
  }
  operator SC_HANDLE() const { return h; }
};

class ServiceTest : public ::testing::Test {
 protected:
  // Environment for scmd: time-outs that a sanitizer build's service keeps on a loaded machine
  // when it starts and stops (a test that waits for the start time-out shortens it with
  // ShortStartTimeout); the shutdown's is shorter than a real system's, so that a service that
  // refuses it costs less.
  virtual std::vector<std::pair<std::string, std::string>> ScmdEnv() {
    return {{"KELVADON_SCM_START_TIMEOUT", std::to_string(startTimeoutSeconds_)},
            {"KELVADON_SCM_SHUTDOWN_TIMEOUT", "15"}};
  }
  // For a fixture's constructor: scmd's start time-out at 3 s, for a test that waits for it and
  // whose services fail their start either way.
  void ShortStartTimeout() { startTimeoutSeconds_ = 3; }

  // True for a fixture whose services run under account_ (see test_account.h).
  virtual bool WantsTestAccount() const { return false; }
  // True for a fixture of WantsTestAccount whose scmd runs as account_, not as root (the state
  // folder is then account_'s).
  virtual bool ScmdRunsAsTestAccount() const { return false; }

  void SetUp() override {
    if (WantsTestAccount()) {
      account_ = std::make_unique<TestAccount>();
      const std::string why = account_->Unavailable();
      if (!why.empty()) GTEST_SKIP() << why;
    }
    setenv("KELVADON_SCM_DIR", dir_.path().c_str(), 1);
    const bool asAccount = account_ && ScmdRunsAsTestAccount();
    scmd_ = std::make_unique<Scmd>(asAccount ? ReachableCopy(SCMD_PATH) : SCMD_PATH, dir_.path(),
                                   ScmdEnv());
    if (asAccount) {
      ASSERT_EQ(chown(dir_.path().c_str(), account_->Uid(), -1), 0);
    }
    if (account_) {
      scmd_->SetChildSetUp([this, asAccount] {
        if (!account_->Enter()) return false;
        if (!asAccount) return true;
        const passwd* pw = getpwnam(account_->Name().c_str());  // seen in the namespace
        return pw && setgroups(0, nullptr) == 0 && setgid(pw->pw_gid) == 0 &&
               setuid(pw->pw_uid) == 0;
      });
    }
    ASSERT_TRUE(scmd_->Start()) << scmd_->Log();
    manager_ = ScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_.h) << GetLastError();
  }

  void TearDown() override {
    manager_.reset();
    if (!scmd_) return;  // skipped
    scmd_->Stop();
    if (HasFailure()) std::cerr << "---- scmd log\n" << scmd_->Log();
  }

  std::string Trace(const std::string& name) const { return dir_.File(name + ".trace"); }
  std::vector<std::string> TraceLines(const std::string& name) const {
    return ReadLines(Trace(name));
  }
  bool TraceHas(const std::string& name, const std::string& line) const {
    for (const auto& l : TraceLines(name))
      if (l == line) return true;
    return false;
  }

  // Registers the test service as `name` with the options given (its trace is Trace(name)). A
  // service under another account runs a copy in the state folder (see ReachableCopy), and may
  // write its trace.
  ScHandle Install(const std::string& name, const std::string& options = "",
                   DWORD startType = SERVICE_DEMAND_START, const char* account = nullptr,
                   const char* password = nullptr) {
    const std::string program = account ? ReachableCopy(TEST_SERVICE_PATH) : TEST_SERVICE_PATH;
    const std::string path = program + " --trace=" + Trace(name) + " " + options;
    if (account) dir_.Write(name + ".trace", "", 0666);
    SC_HANDLE h = CreateServiceA(manager_, name.c_str(), nullptr, SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                 path.c_str(), nullptr, nullptr, nullptr, account, password);
    EXPECT_TRUE(h) << "CreateServiceA " << GetLastError();
    return ScHandle(h);
  }

  // A copy of program, with the libraries beside it (found through the $ORIGIN run path), in
  // <state folder>/bin: other accounts can reach it there whatever the mode of the build folder
  // (a checkout in a 0700 folder is closed to them). For a service under another account, and
  // for scmd run as the test account.
  std::string ReachableCopy(const std::string& program) const {
    namespace fs = std::filesystem;
    const fs::path from = fs::path(program).parent_path();
    const fs::path bin = dir_.File("bin");
    const fs::path copy = bin / fs::path(program).filename();
    if (fs::exists(copy)) return copy.string();
    fs::create_directories(bin);
    fs::permissions(bin, fs::perms(0755));
    for (const auto& e : fs::directory_iterator(from)) {
      const std::string file = e.path().filename();
      if (!(file.starts_with("lib") && file.ends_with(".so"))) continue;
      if (!fs::copy_file(e.path(), bin / file, fs::copy_options::skip_existing)) continue;
      fs::permissions(bin / file, fs::perms(0755));
    }
    fs::copy_file(program, copy);
    fs::permissions(copy, fs::perms(0755));
    return copy.string();
  }

  // Runs body in a child process as uid, with gid and the supplementary groups given and its
  // token rebuilt, and returns the codes it gave; empty when the child could not become that user.
  static std::vector<DWORD> AsUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
                                   const std::function<std::vector<DWORD>()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        _exit(1);
      KwResetProcessToken();
      const std::vector<DWORD> codes = body();
      const ssize_t n = write(fds[1], codes.data(), codes.size() * sizeof(DWORD));
      _exit(n == ssize_t(codes.size() * sizeof(DWORD)) ? 0 : 1);
    }
    close(fds[1]);
    std::vector<DWORD> codes;
    DWORD code;
    while (read(fds[0], &code, sizeof code) == sizeof code)
      codes.push_back(code);
    close(fds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return {};
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? codes : std::vector<DWORD>{};
  }

  static SERVICE_STATUS_PROCESS Status(SC_HANDLE s) {
    SERVICE_STATUS_PROCESS st{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&st), sizeof st,
                              &needed))
      st.dwCurrentState = 0;
    return st;
  }

  static bool WaitState(SC_HANDLE s, DWORD state, int timeoutMs = kWaitLimitMs) {
    return WaitFor([&] { return Status(s).dwCurrentState == state; }, timeoutMs);
  }

  // The states scmd logged for a service, in order, as "STATE cp".
  std::vector<std::string> LoggedStates(const std::string& name) const {
    std::vector<std::string> out;
    const std::string prefix = "scmd: " + name + ": ";
    for (const auto& line : ReadLines(dir_.File("scmd.log"))) {
      if (line.rfind(prefix, 0) != 0) continue;
      const std::string rest = line.substr(prefix.size());
      const size_t cp = rest.find(" check point ");
      if (cp == std::string::npos) continue;
      const size_t end = rest.find(' ', cp + 13);
      out.push_back(rest.substr(0, cp) + " " + rest.substr(cp + 13, end - cp - 13));
    }
    return out;
  }

  int startTimeoutSeconds_ = 30;
  TempDir dir_{"kwscm", 0755};
  std::unique_ptr<TestAccount> account_;  // with WantsTestAccount only
  std::unique_ptr<Scmd> scmd_;
  ScHandle manager_;
};

}  // namespace testsupport
