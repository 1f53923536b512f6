#include "tests/net/mail/tool.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

namespace net::mail::testing {

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
  testsupport::TempDir dir;
  fs::path in = dir.Write("in", bytes);
  fs::path out = dir.File("out");
  ok = RunProgram(program, args, in, out);
  return testsupport::ReadFile(out);
}

namespace {

constexpr char kDecodeScript[] = R"py(import sys, email, email.policy
from email.header import decode_header, make_header
data = open(sys.argv[1], 'rb').read()
classic = email.message_from_bytes(data)
raw = classic.get('Subject', '')
subject_classic = str(make_header(decode_header(raw)))
modern = email.message_from_bytes(data, policy=email.policy.default)
subject_modern = str(modern['Subject'])
payload = classic.get_payload(decode=True) or b''
body = payload.decode(classic.get_content_charset() or 'ascii')
sys.stdout.buffer.write('\0'.join([subject_classic, subject_modern, body]).encode('utf-8'))
)py";

}  // namespace

std::string PythonPath() {
  return FindProgram("/usr/bin/python3");
}

PythonMail DecodeWithPython(const std::string& message) {
  PythonMail r;
  testsupport::TempDir dir;
  fs::path script = dir.Write("decode.py", kDecodeScript);
  fs::path msg = dir.Write("message.eml", message);
  fs::path out = dir.File("out");
  fs::path none = dir.Write("empty", "");
  if (!RunProgram(PythonPath(), {script.string(), msg.string()}, none, out)) {
    r.error = testsupport::ReadFile(out.string() + ".err");
    return r;
  }
  std::string all = testsupport::ReadFile(out);
  size_t a = all.find('\0');
  size_t b = a == std::string::npos ? a : all.find('\0', a + 1);
  if (b == std::string::npos) {
    r.error = "unexpected output: " + all;
    return r;
  }
  r.subjectClassic = all.substr(0, a);
  r.subjectModern = all.substr(a + 1, b - a - 1);
  r.body = all.substr(b + 1);
  r.ok = true;
  return r;
}

}  // namespace net::mail::testing
