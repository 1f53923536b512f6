// Outside programs run by tests: finding one on PATH, running it on files, filtering bytes
// through it, and Debian's Python (which has the email package and aiosmtpd). Each run is a child
// process on files in a temporary folder; no state is kept between calls.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The absolute path of program: itself when it is an absolute path to an executable file, else
// the first executable of that name on PATH; "" when there is none.
std::string FindProgram(const std::string& program);

// Runs program with args, stdin from the file input and stdout into the file output (stderr
// into output + ".err"). Returns true when it exits with status 0.
bool RunProgram(const std::string& program, const std::vector<std::string>& args,
                const std::filesystem::path& input, const std::filesystem::path& output);

// Filters bytes through program with args; sets ok to whether it exited with status 0.
std::string Filter(const std::string& program, const std::vector<std::string>& args,
                   const std::string& bytes, bool& ok);

// The path of Debian's Python, or "" when it is not installed.
std::string PythonPath();

}  // namespace testsupport
