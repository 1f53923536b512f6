// Helpers of the platform/win tests: a temporary folder and a scoped environment variable.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace wintest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kwwin-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file; mode as for chmod.
  std::string Write(const std::string& name, const std::string& content,
                    std::filesystem::perms mode = std::filesystem::perms(0644)) const {
    const std::string file = File(name);
    std::ofstream(file, std::ios::binary) << content;
    std::filesystem::permissions(file, mode);
    return file;
  }

 private:
  std::string path_;
};

// Sets (or, with nullopt, removes) an environment variable and restores it on destruction.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      setenv(name_.c_str(), value->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> old_;
};

// Waits up to 10 s for a file to appear and returns its content; nullopt when it did not.
inline std::optional<std::string> WaitForFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (std::filesystem::exists(path)) {
      std::ifstream in(path, std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      return content.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

}  // namespace wintest
