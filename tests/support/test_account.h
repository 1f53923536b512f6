// A user account with a known password for tests, seen only by the programs a test starts in a
// mount namespace of their own: temporary copies of /etc/passwd, /etc/group and /etc/shadow (the
// machine's entries, and the account with a group of its own added) are bound over the
// originals there. The machine's files and its mount table are never touched, and the namespace
// ends with the last process in it. For tests that run as root and may switch users; a
// TestAccount belongs to one test and its thread.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/netns.h"

namespace testsupport {

class TestAccount {
 public:
  // The account's password, and its SHA-512 crypt hash as the shadow copy holds it (made with
  // "openssl passwd -6 -salt kelvadontest").
  static constexpr char kPassword[] = "Kw test-pass 1";
  static constexpr char kHash[] =
      "$6$kelvadontest$N41ypR5T8JEhumZShm2QIG5JlMRh6/QRvk/GPhsa7f/lu5B6Yxtx0TE0k9.GDK5BvQxrVfLHcd"
      "pIHEtzcaWSc.";

  // Picks a name and an id that the machine does not use and writes the copies; in the copy of
  // /etc/group the account is a member of each of the machine's groups named in memberOf too
  // (initgroups gives a process of the account those groups).
  explicit TestAccount(const std::vector<std::string>& memberOf = {}) {
    for (int n = 0; getpwnam(name_.c_str()) || getgrnam(name_.c_str()); ++n)
      name_ = "kelvadon-test" + std::to_string(n);
    while (getpwuid(uid_) || getgrgid(uid_))
      ++uid_;
    const std::string id = std::to_string(uid_);
    Copy("passwd", name_ + ":x:" + id + ":" + id + ":Kelvadon test:/nonexistent:/bin/false", 0644);
    Copy("group", name_ + ":x:" + id + ":", 0644, memberOf);
    Copy("shadow", name_ + ":" + kHash + ":19000:0:99999:7:::", 0600);
  }

  const std::string& Name() const { return name_; }
  uid_t Uid() const { return uid_; }

  // Why the account cannot be had here, or "" when it can: a child process tries the namespace
  // and looks the account up through it.
  std::string Unavailable() const {
    if (!UsersCanSwitch()) return kUsersCannotSwitch;
    const pid_t pid = fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
      const passwd* pw = Enter() ? getpwnam(name_.c_str()) : nullptr;
      _exit(pw && pw->pw_uid == uid_ ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return "no mount namespace with a test account could be made here (unshare or a bind mount "
           "over /etc/passwd, /etc/group, /etc/shadow was refused)";
  }

  // For a child between fork and exec: enters a mount namespace of its own, in which nothing
  // propagates back to the machine's, and binds the copies over the originals. False when a step
  // fails (the child should then end).
  bool Enter() const {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
      return false;
    for (const auto& [copy, original] : binds_)
      if (mount(copy.c_str(), original.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    return true;
  }

 private:
  // The machine's file with line added, and the account added to the member lists (the last
  // field) of the entries named in memberOf.
  void Copy(const std::string& file, const std::string& line, mode_t mode,
            const std::vector<std::string>& memberOf = {}) {
    const std::string original = "/etc/" + file;
    std::istringstream lines(ReadFile(original));
    std::string text;
    for (std::string entry; std::getline(lines, entry);) {
      const std::string name = entry.substr(0, entry.find(':'));
      if (std::find(memberOf.begin(), memberOf.end(), name) != memberOf.end())
        entry += (entry.back() == ':' ? "" : ",") + name_;
      text += entry + "\n";
    }
    binds_.emplace_back(dir_.Write(file, text + line + "\n", mode), original);
  }

  TempDir dir_{"kwaccount", 0700};  // the shadow copy holds the machine's hashes too
  std::string name_ = "kelvadon-test";
  uid_t uid_ = 61000;
  std::vector<std::pair<std::string, std::string>> binds_;  // copy, original
};

}  // namespace testsupport
