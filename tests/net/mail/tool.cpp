#include "tests/net/mail/tool.h"

#include "tests/support/files.h"

namespace net::mail::testing {

namespace fs = std::filesystem;

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
