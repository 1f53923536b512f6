#include "tests/support/programs.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// Single-quotes s for the shell.
std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool IsExecutableFile(const fs::path& p) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) return false;
  auto perms = fs::status(p, ec).permissions();
  return (perms & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) !=
         fs::perms::none;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return IsExecutableFile(program) ? program : std::string();
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    fs::path p = fs::path(dir) / program;
    if (IsExecutableFile(p)) return p.string();
  }
  return std::string();
}

bool RunProgram(const std::string& program, const std::vector<std::string>& args,
                const fs::path& input, const fs::path& output) {
  std::string cmd = Quote(program);
  for (const auto& a : args)
    cmd += " " + Quote(a);
  cmd += " <" + Quote(input.string()) + " >" + Quote(output.string()) + " 2>" +
         Quote(output.string() + ".err");
  return std::system(cmd.c_str()) == 0;
}

std::string Filter(const std::string& program, const std::vector<std::string>& args,
                   const std::string& bytes, bool& ok) {
  TempDir dir;
  fs::path in = dir.Write("in", bytes);
  fs::path out = dir.File("out");
  ok = RunProgram(program, args, in, out);
  return ReadFile(out);
}

std::string PythonPath() {
  return FindProgram("/usr/bin/python3");
}

}  // namespace testsupport
