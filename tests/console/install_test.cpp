// The console of a member of the group "kelvadon" and the installed service hand the collection
// to each other across a reinstall, as an administrator runs them: a program folder that
// "cmake --install" lays out from this build, its scmd, KelvadonService registered and started
// as root, and the console (headless, its questions answered Yes) in a process of a test account
// that is a member of "kelvadon", in the account's mount namespace. Every record, whoever took
// it, lands in the one day file. The installed programs run on one day's clock.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "collector/dayfiles.h"
#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/datetime.h"
#include "rtl/fs.h"
#include "tests/console/questions.h"
#include "tests/support/clock.h"
#include "tests/support/env.h"
#include "tests/support/faketime.h"
#include "tests/support/files.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/programs.h"
#include "tests/support/pump.h"
#include "tests/support/scmd.h"
#include "tests/support/test_account.h"
#include "tests/support/wait.h"

namespace {

using consoletest::kExitQuestion;
using consoletest::kRunningQuestion;

constexpr int kCollectorPort = 4016;  // the installed settings file's
constexpr int kFtpPort = 9021;
// Noon of the day the installed programs and the console live in, and that day's record file.
const int64_t kNoonMicros = rtl::EpochOfLocal(rtl::TSystemTime{2026, 12, 10, 12, 0, 0, 0, 0});
const std::string kDayRecords = std::string(collector::kRecordFolder) + "20261210.log";

// In a child of the test, which ends here: the console as the program makes it, run by the
// account with its groups in the account's namespace, with the libraries of the folder. It answers
// Yes to the question about the running service, writes "collecting" to ready once it collects,
// and once control is readable closes with Yes to the exit question. Exit code 0 when it showed
// those two boxes and nothing else and ended.
[[noreturn]] void RunConsoleAs(const testsupport::TestAccount& account, const std::string& folder,
                               int ready, int control) {
  const passwd* pw = account.Enter() ? getpwnam(account.Name().c_str()) : nullptr;
  if (!pw || initgroups(pw->pw_name, pw->pw_gid) != 0 || setgid(pw->pw_gid) != 0 ||
      setuid(pw->pw_uid) != 0)
    _exit(126);
  setenv("KELVADON_LIBDIR", folder.c_str(), 1);
  rtl::fs::UseSharedFileMask();  // as the program does
  const testsupport::ScopedClock clock(kNoonMicros / 1000000);
  const uitest::ScopedProgramDir programDir(folder);
  uitest::TTestApp kit;
  kit.WidgetSet.ExpectBox(kRunningQuestion, IDYES);
  CreateKelvadonMan(kit.App);
  FrmWatch->Show();
  if (FrmWatch->FirstShowDone && !kit.App.Terminated()) {
    [[maybe_unused]] const ssize_t n = write(ready, "collecting\n", 11);
  }
  pollfd told{control, POLLIN, 0};
  testsupport::PumpUntil([&] { return poll(&told, 1, 0) == 1; });
  kit.WidgetSet.ExpectBox(kExitQuestion, IDYES);
  FrmWatch->Close();
  std::vector<std::string> shown;
  for (const TMessageBoxRequest& r : kit.WidgetSet.Shown)
    shown.push_back(r.Text);
  EXPECT_EQ(shown, (std::vector<std::string>{kRunningQuestion, kExitQuestion}));
  EXPECT_TRUE(kit.App.Terminated());
  _exit(::testing::Test::HasFailure() ? 1 : 0);
}

class MemberConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    for (testsupport::FixedPort* port : {&collectorPort_, &ftpPort_})
      if (!port->Take()) GTEST_SKIP() << port->Error();
    if (!testsupport::FakeTimeAvailable()) GTEST_SKIP() << testsupport::kNoFakeTime;
    if (const std::string why = account_.Unavailable(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_NE(getgrnam("kelvadon"), nullptr) << "scripts/setup makes the group kelvadon";
  }
  void TearDown() override {
    if (console_ > 0) {
      kill(console_, SIGKILL);
      waitpid(console_, nullptr, 0);
    }
  }

  // Runs a program to its end (at most 300 s); its stdout, or why it failed.
  std::string Run(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"300", program};
    all.insert(all.end(), args.begin(), args.end());
    const std::string out = tmp_.File("run.out");
    if (testsupport::RunProgram("/usr/bin/timeout", all, "/dev/null", out))
      return testsupport::ReadFile(out);
    return "failed: " + testsupport::ReadFile(out) + testsupport::ReadFile(out + ".err");
  }
  // "cmake --install" of this build into the folder.
  ::testing::AssertionResult Install() {
    const std::string out = Run(CMAKE_PATH, {"--install", BUILD_DIR, "--prefix", folder_});
    if (!out.starts_with("failed: ")) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << out;
  }
  // Sends a record to whoever listens on the collector port (waiting for a listener) and waits
  // until the day file holds it.
  bool Deliver(const std::string& record) {
    int fd = -1;
    if (!testsupport::WaitFor([&] { return (fd = testsupport::ConnectTcp(kCollectorPort)) >= 0; }))
      return false;
    const bool sent = testsupport::SendAll(fd, record + "\r\n");
    close(fd);
    return sent && testsupport::WaitFor([&] {
             return testsupport::ReadFile(File(kDayRecords)).find(record) != std::string::npos;
           });
  }
  // The console of the account, in a child process; false when it does not collect.
  bool StartConsole() {
    int ready[2], control[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(control, O_CLOEXEC) != 0) return false;
    console_ = fork();
    if (console_ == 0) {
      close(ready[0]);
      close(control[1]);
      RunConsoleAs(account_, folder_, ready[1], control[0]);
    }
    close(ready[1]);
    close(control[0]);
    control_ = control[1];
    pollfd answer{ready[0], POLLIN, 0};
    char line[16] = {};
    const bool collecting = console_ > 0 && poll(&answer, 1, testsupport::kWaitLimitMs) == 1 &&
                            read(ready[0], line, sizeof line - 1) > 0 &&
                            std::string(line) == "collecting\n";
    close(ready[0]);
    return collecting;
  }
  // Tells the console to end with the exit answer Yes; its exit code, -1 when it did not end.
  int EndConsole() {
    [[maybe_unused]] const ssize_t n = write(control_, "exit\n", 5);
    close(control_);
    int status = 0;
    if (!testsupport::WaitFor([&] { return waitpid(console_, &status, WNOHANG) == console_; }))
      return -1;
    console_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string File(const std::string& rel) const { return folder_ + "/" + rel; }

  testsupport::FixedPort collectorPort_{kCollectorPort};
  testsupport::FixedPort ftpPort_{kFtpPort};
  const testsupport::TestAccount account_{{"kelvadon"}};
  testsupport::TempDir tmp_{"kwmember", 0755};  // the account reaches the folder
  const std::string folder_ = tmp_.File("folder");
  pid_t console_ = 0;
  int control_ = -1;
};

TEST_F(MemberConsole, TakesTheCollectionOverAndHandsItBackAcrossAReinstall) {
  testsupport::TempDir state("kwscm", 0755);
  const testsupport::ScopedEnv scmDir("KELVADON_SCM_DIR", state.path());
  ASSERT_TRUE(Install());
  testsupport::Scmd scmd(File("scmd"), state.path(), testsupport::FakeTimeEnvAt(kNoonMicros));
  scmd.SetChildSetUp([this] { return account_.Enter(); });
  ASSERT_TRUE(scmd.Start()) << scmd.Log();
  ASSERT_EQ(Run(File("KelvadonService"), {"/INSTALL", "/SILENT"}), "");
  ASSERT_EQ(Run(File("scmctl"), {"start", "KelvadonManager"}),
            "KelvadonManager: RUNNING, exit code 0\n");

  const std::vector<std::string> records = {
      "2026/12/10 12:00:01\tInsert\tPC01\tto the service\t127.0.0.1\tuser\tE:\tUSB\tf1.txt",
      "2026/12/10 12:00:02\tCopy\tPC02\tto the console\t127.0.0.1\tuser\tE:\tUSB\tf2.txt",
      "2026/12/10 12:00:03\tRemove\tPC03\tto the service again\t127.0.0.1\tuser\tE:\tUSB\tf3.txt",
  };
  ASSERT_TRUE(Deliver(records[0]));
  ASSERT_TRUE(Install());  // an upgrade while the service runs
  ASSERT_TRUE(StartConsole());
  EXPECT_TRUE(Deliver(records[1]));
  EXPECT_EQ(EndConsole(), 0);
  EXPECT_TRUE(Deliver(records[2]));

  std::string expected = std::string(collector::kRecordHeader) + "\r\n";
  for (const std::string& r : records)
    expected += r + "\r\n";
  EXPECT_EQ(testsupport::ReadFile(File(kDayRecords)), expected);
  struct stat st {};
  ASSERT_EQ(stat(File(kDayRecords).c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, getgrnam("kelvadon")->gr_gid);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
}

}  // namespace
