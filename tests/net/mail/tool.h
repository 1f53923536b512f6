// Runs the outside programs the mail tests compare against (nkf, Python's email package) as
// child processes on files in a temporary folder of the test's own (the runners themselves are
// tests/support/programs.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/programs.h"

namespace net::mail::testing {

using testsupport::Filter;
using testsupport::FindProgram;
using testsupport::PythonPath;
using testsupport::RunProgram;

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

// Lets Python's email package read message (CR LF line ends).
PythonMail DecodeWithPython(const std::string& message);

}  // namespace net::mail::testing
