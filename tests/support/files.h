// Files for tests: a temporary folder that removes itself, whole-file reads and a bounded wait for
// a file to appear. A TempDir belongs to the object that made it; the functions keep no state.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace testsupport {

// A fresh folder /tmp/<prefix>-XXXXXX, removed with everything in it when the object goes. It is
// always under /tmp (not $TMPDIR): a folder given mode 0755 must be reachable by other users, and
// sockets made in it need a short path.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kwtest", mode_t mode = 0700);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing slash.
  const std::string& path() const { return path_; }
  // The path of rel inside the folder.
  std::string File(const std::string& rel) const { return path_ + "/" + rel; }
  // Writes content to rel (making the folders on the way) with the given mode; returns its path.
  std::string Write(const std::string& rel, const std::string& content, mode_t mode = 0644) const;

 private:
  std::string path_;
};

// The whole content of a file as bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// The lines of a file, without their line ends.
std::vector<std::string> ReadLines(const std::string& path);
// Waits up to timeoutMs for a file to appear and returns its content; nullopt when it did not.
std::optional<std::string> WaitForFile(const std::string& path, int timeoutMs = kWaitLimitMs);

}  // namespace testsupport
