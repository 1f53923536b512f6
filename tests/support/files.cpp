#include "tests/support/files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/wait.h"

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir(const std::string& prefix, mode_t mode) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
  if (chmod(path_.c_str(), mode) != 0) throw std::runtime_error("chmod failed for " + path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& rel, const std::string& content, mode_t mode) const {
  const fs::path file = File(rel);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
  fs::permissions(file, static_cast<fs::perms>(mode));
  return file.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::optional<std::string> WaitForFile(const std::string& path, int timeoutMs) {
  if (!WaitFor([&] { return fs::exists(path); }, timeoutMs)) return std::nullopt;
  return ReadFile(path);
}

}  // namespace testsupport
