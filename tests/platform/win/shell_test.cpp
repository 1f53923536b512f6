#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win/win.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WaitForFile;

constexpr mode_t kExecutable = 0755;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

UINT_PTR Result(HINSTANCE h) {
  return reinterpret_cast<UINT_PTR>(h);
}

// Descriptors the test leaves open, on purpose without close-on-exec.
class LeakyDescriptors {
 public:
  LeakyDescriptors() {
    fds_.push_back(open("/dev/zero", O_RDONLY));
    int p[2];
    if (pipe(p) == 0) fds_.insert(fds_.end(), {p[0], p[1]});
    fds_.push_back(socket(AF_UNIX, SOCK_STREAM, 0));
  }
  ~LeakyDescriptors() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  const std::vector<int>& fds() const { return fds_; }

 private:
  std::vector<int> fds_;
};

TEST(SpawnDetached, InheritsNoDescriptorAndIsNoZombie) {
  TempDir dir;
  LeakyDescriptors leaky;
  for (int fd : leaky.fds()) {
    ASSERT_GE(fd, 3);
    ASSERT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  }
  // The shell has find list the shell's own descriptors. find writes the file itself: a redirection
  // would be set up inside the shell and show in the list. Each file appears whole through a
  // rename.
  const std::string script =
      "find /proc/$$/fd -mindepth 1 -maxdepth 1 -fprintf fds.tmp '%f %l\\n'; "
      "cat /proc/$$/stat > stat.tmp; mv fds.tmp fds; mv stat.tmp stat";
  ASSERT_TRUE(SpawnDetached("/bin/sh", {"-c", script}, dir.path())) << GetLastError();

  // Nothing is left for this process to reap: the middle process was waited for, the program's
  // process is not our child.
  int status;
  errno = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  const auto stat = WaitForFile(dir.File("stat"));
  const auto fds = WaitForFile(dir.File("fds"));
  ASSERT_TRUE(stat && fds) << "the spawned shell did not run";
  EXPECT_EQ(Lines(*fds), (std::vector<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}))
      << *fds;

  // stat: pid (comm) state ppid pgrp session ...
  std::istringstream fields(stat->substr(stat->rfind(')') + 2));
  char state;
  long ppid = 0, pgrp = 0, session = 0;
  fields >> state >> ppid >> pgrp >> session;
  EXPECT_NE(ppid, long(getpid()));
  EXPECT_NE(session, long(getsid(0))) << "a session of its own";
}

TEST(SpawnDetached, FailuresAreReported) {
  TempDir dir;
  const std::string text = dir.Write("plain.txt", "not a program\n");
  const std::string garbage = dir.Write("garbage",
                                        "\x7f"
                                        "ELF?? not really\n",
                                        kExecutable);
  const struct {
    const char* what;
    std::string path;
    std::string workDir;
    DWORD error;
  } cases[] = {
      {"missing program", dir.File("no-such-program"), "", ERROR_FILE_NOT_FOUND},
      {"missing program in PATH", "kelvadon-no-such-program", "", ERROR_FILE_NOT_FOUND},
      {"not executable", text, "", ERROR_ACCESS_DENIED},
      {"not a program", garbage, "", ERROR_BAD_FORMAT},
      {"missing folder", "/bin/true", dir.File("no-such-folder"), ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(SpawnDetached(c.path, {}, c.workDir)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  int status;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "no child left behind";
}

TEST(SplitCommandLine, WindowsRules) {
  using Args = std::vector<std::string>;
  const struct {
    const char* line;
    Args args;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"a b  c", {"a", "b", "c"}},
      {"\tx\ty ", {"x", "y"}},
      {"-c \"two words\" x", {"-c", "two words", "x"}},
      {"ab\"c d\"ef", {"abc def"}},
      {"\"\" x", {"", "x"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"a\\\\b", {"a\\\\b"}},        // backslashes without a quote are literal
      {"a\\\"b", {"a\"b"}},          // \"  -> literal quote
      {"a\\\\\"b c\"", {"a\\b c"}},  // \\" -> one backslash, quote groups
      {"a\\\\\\\"b", {"a\\\"b"}},    // \\\" -> backslash and literal quote
      {"\"unterminated group", {"unterminated group"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

TEST(ShellExecute, StartsAProgramWithSplitParametersInItsFolder) {
  TempDir dir;
  const std::string program =
      dir.Write("args.sh",
                "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.tmp\n"
                "mv args.tmp args\n",
                kExecutable);
  TempDir work;
  HINSTANCE h = ShellExecuteA(0, "open", program.c_str(), "one \"two words\" th\\\"ree",
                              work.path().c_str(), SW_SHOWNORMAL);
  ASSERT_GT(Result(h), 32u) << GetLastError();
  const auto args = WaitForFile(work.File("args"));
  ASSERT_TRUE(args);
  EXPECT_EQ(Lines(*args), (std::vector<std::string>{"one", "two words", "th\"ree"}));
}

TEST(ShellExecute, MissingFileAndOtherOperations) {
  TempDir dir;
  const struct {
    const char* operation;
    std::string file;
    UINT_PTR result;
    DWORD error;
  } cases[] = {
      {nullptr, dir.File("missing"), SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"open", "kelvadon-no-such-program", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"", "", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {nullptr, dir.File("missing/below"), SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"OPEN", "kelvadon-no-such-program", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"print", "/bin/true", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {"opens", "/bin/true", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {"ope", "/bin/true", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(Result(ShellExecuteA(0, c.operation, c.file.c_str(), nullptr, nullptr, SW_SHOW)),
              c.result)
        << c.file;
    EXPECT_EQ(GetLastError(), c.error) << c.file;
  }
}

// URLs and documents go to xdg-open, found in PATH; a stand-in records what it was given.
TEST(ShellExecute, UrlsAndDocumentsGoToXdgOpen) {
  TempDir bin;
  TempDir out;
  bin.Write("xdg-open",
            "#!/bin/sh\nprintf '%s\\n' \"$1\" > " + out.File("n.tmp") + "\n/bin/mv " +
                out.File("n.tmp") + " " + out.File("opened") + "\n",
            kExecutable);
  const std::string document = out.Write("report.txt", "text\n");
  const std::string folder = out.path();
  // The verb is taken in any case, as Windows takes it.
  const struct {
    const char* verb;
    std::string target;
  } cases[] = {{nullptr, "http://127.0.0.1:9/index.html"},
               {"Open", "http://127.0.0.1:9/help/"},
               {"open", document},
               {nullptr, folder}};
  for (const auto& [verb, target] : cases) {
    std::filesystem::remove(out.File("opened"));
    ScopedEnv path("PATH", bin.path());
    ASSERT_GT(Result(ShellExecuteA(0, verb, target.c_str(), nullptr, nullptr, SW_SHOW)), 32u)
        << target;
    const auto opened = WaitForFile(out.File("opened"));
    ASSERT_TRUE(opened) << target;
    EXPECT_EQ(*opened, target + "\n");
  }
}

TEST(ShellExecute, NoXdgOpenMeansNoAssociation) {
  TempDir emptyBin;
  ScopedEnv path("PATH", emptyBin.path());
  SetLastError(0);
  EXPECT_EQ(Result(ShellExecuteA(0, "open", "https://127.0.0.1/", nullptr, nullptr, SW_SHOW)),
            SE_ERR_NOASSOC);
  EXPECT_EQ(GetLastError(), ERROR_NO_ASSOCIATION);
}

}  // namespace
