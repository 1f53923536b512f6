// The program folder "cmake --install" lays out from this build: exactly the programs, their
// libraries, the record and event folders, a default KelvadonMan.ini and scmd's unit naming the
// folder; the folders shared with the group kelvadon at every install; a reinstall keeps the
// administrator's settings; the collector runs from the folder on the folder's own libraries, in
// the foreground and as the service under the folder's scmd.
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/collector/program_folder.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/scmd.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kLibraries = {"libkw_rtl.so", "libkw_win.so", "libkw_msg.so",
                                             "libkw_advapi32.so", "libwsock32.so"};

const std::string kRecord =
    "2026/12/10 10:00:00\tInsert\tPC01\t\t127.0.0.1\tuser\tE:\tUSB DISK\tf.txt";

// Everything the folder should hold, folders with a trailing "/".
std::set<std::string> ExpectedEntries() {
  std::set<std::string> entries = {"KelvadonService",
                                   "KelvadonMan",
                                   "Rekindler",
                                   "scmd",
                                   "scmctl",
                                   "RecvData/",
                                   "Log/",
                                   "KelvadonMan.ini",
                                   "kelvadon-scm.service",
                                   "libkw_ui_core.so",
                                   "libkw_ui_fltk.so"};
  entries.insert(kLibraries.begin(), kLibraries.end());
  return entries;
}

// Everything below dir, relative to it, folders with a trailing "/".
std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(e.path(), dir);
    entries.insert(e.is_directory() ? rel + "/" : rel);
  }
  return entries;
}

// The project's libraries mapped into a process, as full paths.
std::set<std::string> MappedLibraries(pid_t pid) {
  std::set<std::string> mapped;
  std::istringstream maps(testsupport::ReadFile("/proc/" + std::to_string(pid) + "/maps"));
  for (std::string line; std::getline(maps, line);) {
    const size_t path = line.find('/');
    if (path == std::string::npos) continue;
    const fs::path file = line.substr(path);
    for (const auto& name : kLibraries)
      if (file.filename() == name) mapped.insert(file);
  }
  return mapped;
}

struct Ran {
  int status = -1;     // exit status; -1 when the program did not end by itself in two minutes
  std::string output;  // stdout and stderr
};

// Runs a program to its end, its stdout and stderr into the file log; setUp, when given, runs in
// its process first (false ends it).
Ran RunToEnd(const std::vector<std::string>& args, const std::string& log,
             const std::function<bool()>& setUp = nullptr) {
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    if (setUp && !setUp()) _exit(126);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
    std::vector<char*> argv;
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  Ran ran;
  if (testsupport::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 120000)) {
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  } else {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ran.output = testsupport::ReadFile(log);
  return ran;
}

class CollectorInstall : public ::testing::Test {
 protected:
  // "cmake --install" of this build into the folder (setUp as RunToEnd runs it); its output.
  ::testing::AssertionResult InstallFolder(const std::function<bool()>& setUp = nullptr) {
    const Ran ran =
        RunToEnd({CMAKE_PATH, "--install", BUILD_DIR, "--prefix", folder_}, log_, setUp);
    if (ran.status == 0) return ::testing::AssertionSuccess() << ran.output;
    return ::testing::AssertionFailure() << "cmake --install: " << ran.status << "\n" << ran.output;
  }
  std::string File(const std::string& rel) const { return folder_ + "/" + rel; }
  // Whether the file rel belongs to group gid with exactly the permission bits mode.
  ::testing::AssertionResult Has(const std::string& rel, gid_t gid, unsigned mode) const {
    struct stat st {};
    if (stat(File(rel).c_str(), &st) != 0)
      return ::testing::AssertionFailure() << rel << " missing";
    if (st.st_gid == gid && (st.st_mode & 07777) == mode) return ::testing::AssertionSuccess();
    std::ostringstream found;
    found << rel << ": group " << st.st_gid << ", mode " << std::oct << (st.st_mode & 07777);
    return ::testing::AssertionFailure() << found.str();
  }

  testsupport::TempDir tmp_{"kwinstall"};
  const std::string folder_ = tmp_.File("folder");
  const std::string log_ = tmp_.File("run.log");
};

TEST_F(CollectorInstall, LaysOutExactlyTheProgramFolder) {
  ASSERT_TRUE(InstallFolder());
  EXPECT_EQ(Entries(folder_), ExpectedEntries());
  EXPECT_EQ(testsupport::ReadFile(File("KelvadonMan.ini")), "[KelvadonManager]\r\nPort=4016\r\n");

  // The unit as it is, but for the path of scmd.
  const auto source = testsupport::ReadLines(SCM_UNIT);
  const auto unit = testsupport::ReadLines(File("kelvadon-scm.service"));
  ASSERT_EQ(unit.size(), source.size());
  int execStart = 0;
  for (size_t i = 0; i < unit.size(); ++i) {
    if (source[i].starts_with("ExecStart=")) {
      EXPECT_EQ(unit[i], "ExecStart=" + folder_ + "/scmd");
      ++execStart;
    } else {
      EXPECT_EQ(unit[i], source[i]);
    }
  }
  EXPECT_EQ(execStart, 1);
}

TEST_F(CollectorInstall, AReinstallKeepsTheSettings) {
  ASSERT_TRUE(InstallFolder());
  const std::string settings = "[KelvadonManager]\r\nPort=5016\r\nPassword=0123456789ABCDEF\r\n";
  tmp_.Write("folder/KelvadonMan.ini", settings);
  ASSERT_TRUE(InstallFolder());
  EXPECT_EQ(testsupport::ReadFile(File("KelvadonMan.ini")), settings);
  EXPECT_EQ(Entries(folder_), ExpectedEntries());
}

// The folder, RecvData/ and Log/ belong to the group kelvadon with the setgid bit and group-write
// after every install, so that the root service and a member's console append to each other's day
// files; the settings file is its owner's and the group's only (it holds the POP password). A
// reinstall over what an older install and the root service left makes it so again, and takes
// nothing away.
TEST_F(CollectorInstall, EveryInstallSharesTheFoldersWithTheGroupKelvadon) {
  const group* found = getgrnam("kelvadon");
  ASSERT_NE(found, nullptr) << "scripts/setup makes the group kelvadon";
  const gid_t kelvadon = found->gr_gid;
  const std::string folders[] = {"", "RecvData", "Log"};
  ASSERT_TRUE(InstallFolder());
  for (const auto& f : folders)
    EXPECT_TRUE(Has(f, kelvadon, 02775));
  EXPECT_TRUE(Has("KelvadonMan.ini", kelvadon, 0660));

  // Meanwhile root made a day file under its usual mask (0644, the folder's group), and an older
  // install left the program folder and Log/ as root's (0755) and root made an event file there.
  tmp_.Write("folder/RecvData/20261210.log", "record\r\n", 0644);
  for (const auto& f : {"", "Log"}) {
    ASSERT_EQ(chown(File(f).c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(File(f).c_str(), 0755), 0);
  }
  tmp_.Write("folder/Log/20261210.log", "event\r\n", 0644);
  ASSERT_EQ(chown(File("KelvadonMan.ini").c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(File("KelvadonMan.ini").c_str(), 0644), 0);
  ASSERT_TRUE(Has("RecvData/20261210.log", kelvadon, 0644));
  ASSERT_TRUE(Has("Log/20261210.log", 0, 0644));
  ASSERT_TRUE(InstallFolder());
  for (const auto& f : folders)
    EXPECT_TRUE(Has(f, kelvadon, 02775));
  EXPECT_TRUE(Has("RecvData/20261210.log", kelvadon, 0664));
  EXPECT_TRUE(Has("Log/20261210.log", kelvadon, 0664));
  EXPECT_TRUE(Has("KelvadonMan.ini", kelvadon, 0660));

  // What an administrator closed further stays closed.
  ASSERT_EQ(chmod(File("Log").c_str(), 02770), 0);
  ASSERT_EQ(chmod(File("KelvadonMan.ini").c_str(), 0640), 0);
  ASSERT_TRUE(InstallFolder());
  EXPECT_TRUE(Has("Log", kelvadon, 02770));
  EXPECT_TRUE(Has("KelvadonMan.ini", kelvadon, 0640));
}

// Without the group kelvadon (here: in a mount namespace whose /etc/group lacks it) the install
// lays the folder out all the same and says what to do.
TEST_F(CollectorInstall, AnInstallWithoutTheGroupSaysSo) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  std::string groups;
  for (const auto& line : testsupport::ReadLines("/etc/group"))
    if (!line.starts_with("kelvadon:")) groups += line + "\n";
  const std::string copy = tmp_.Write("group", groups);
  const auto withoutTheGroup = [&] {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(copy.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
  };
  const ::testing::AssertionResult installed = InstallFolder(withoutTheGroup);
  ASSERT_TRUE(installed);
  EXPECT_NE(std::string(installed.message()).find("The group kelvadon does not exist"),
            std::string::npos)
      << installed.message();
  EXPECT_EQ(Entries(folder_), ExpectedEntries());
  const mode_t mask = umask(0);
  umask(mask);
  for (const auto& f : {"", "RecvData", "Log"})
    EXPECT_TRUE(Has(f, getegid(), 0777 & ~mask));
  EXPECT_TRUE(Has("KelvadonMan.ini", getegid(), 0660));
}

TEST_F(CollectorInstall, TheCollectorRunsThereOnItsOwnLibraries) {
  ASSERT_TRUE(InstallFolder());
  ProgramFolder collector(folder_);
  ASSERT_TRUE(collector.Start()) << collector.Read("stderr.log");

  const int fd = testsupport::ConnectTcp(collector.Port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testsupport::SendAll(fd, kRecord + "\r\n"));
  close(fd);
  EXPECT_EQ(collector.WaitForRecords(1), std::vector<std::string>{kRecord});

  // Every library, the socket library loaded by name included, comes from the folder.
  std::set<std::string> expected;
  for (const auto& name : kLibraries)
    expected.insert(fs::canonical(folder_) / name);
  EXPECT_EQ(MappedLibraries(collector.Pid()), expected);
  collector.Stop();
}

// What the administrator does after installing: register the collector with the folder's scmd,
// then start, query and stop it with scmctl.
TEST_F(CollectorInstall, TheServiceRunsUnderTheInstalledScmd) {
  ASSERT_TRUE(InstallFolder());
  ProgramFolder collector(folder_);  // the settings, with a free port
  testsupport::FixedPort ftpPort(ProgramFolder::kFtpPort);
  ASSERT_TRUE(ftpPort.Take()) << ftpPort.Error();
  testsupport::TempDir state("kwscm", 0755);
  testsupport::ScopedEnv scmDir("KELVADON_SCM_DIR", state.path());
  // The collector it starts runs on the collectors' clock, as ProgramFolder's do.
  testsupport::Scmd scmd(File("scmd"), state.path(), ProgramFolder::ClockEnv());
  ASSERT_TRUE(scmd.Start()) << scmd.Log();

  const Ran installed = RunToEnd({File("KelvadonService"), "/INSTALL", "/SILENT"}, log_);
  ASSERT_EQ(installed.status, 0) << installed.output;
  struct Step {
    std::vector<std::string> args;
    std::string output;
  };
  const Step steps[] = {
      {{"query", "KelvadonManager"}, "KelvadonManager: STOPPED, exit code 0\n"},
      {{"start", "KelvadonManager"}, "KelvadonManager: RUNNING, exit code 0\n"},
      {{"list"}, "KelvadonManager: RUNNING, exit code 0\n"},
      {{"stop", "KelvadonManager"}, "KelvadonManager: STOPPED, exit code 0\n"},
  };
  for (const auto& step : steps) {
    std::vector<std::string> args = {File("scmctl")};
    args.insert(args.end(), step.args.begin(), step.args.end());
    const Ran ran = RunToEnd(args, log_);
    EXPECT_EQ(ran.status, 0) << step.args[0] << "\n" << ran.output << scmd.Log();
    EXPECT_EQ(ran.output, step.output) << step.args[0];
    if (step.args[0] == "start") {
      const int fd = testsupport::ConnectTcp(collector.Port());
      ASSERT_GE(fd, 0);
      ASSERT_TRUE(testsupport::SendAll(fd, kRecord + "\r\n"));
      close(fd);
      EXPECT_EQ(collector.WaitForRecords(1), std::vector<std::string>{kRecord});
    }
  }
}

}  // namespace
}  // namespace collectortest
