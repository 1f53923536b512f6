// Runs the outside programs the mail tests compare against (nkf, Python's email package) as
// child processes on files in a temporary folder of the test's own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace net::mail::testing {

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

// What Python's email package (/usr/bin/python3) reads from a message: the Subject through the
// classic decode_header/make_header and through the default policy's header parser, and the
// body with its transfer encoding undone and its charset decoded. Texts are UTF-8.
struct PythonMail {
  bool ok = false;    // Python ran and decoded everything
  std::string error;  // Python's complaint when not ok
  std::string subjectClassic;
  std::string subjectModern;
  std::string body;
};

// The path of Debian's Python, or "" when it is not installed.
std::string PythonPath();

// Lets Python's email package read message (CR LF line ends).
PythonMail DecodeWithPython(const std::string& message);

}  // namespace net::mail::testing
