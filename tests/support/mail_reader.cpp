#include "tests/support/mail_reader.h"

#include <sstream>

#include "tests/support/files.h"
#include "tests/support/programs.h"

namespace testsupport {

namespace {

constexpr char kScript[] = R"py(import sys, email, email.policy
data = open(sys.argv[1], 'rb').read()
msg = email.message_from_bytes(data, policy=email.policy.default)
out = []
def put(key, value):
    if isinstance(value, str):
        value = value.encode('utf-8', 'surrogateescape')
    out.append(key + '\t' + value.hex())
put('headers', ','.join(msg.keys()))
defects = [type(d).__name__ for d in msg.defects]
for name in msg.keys():
    h = msg[name]
    put(name, str(h))
    defects += [type(d).__name__ for d in getattr(h, 'defects', ())]
    for i, a in enumerate(getattr(h, 'addresses', ())):
        put('%s.%d.name' % (name, i), a.display_name)
        put('%s.%d.addr' % (name, i), a.addr_spec)
d = msg['Date']
if d is not None and d.datetime is not None and d.datetime.utcoffset() is not None:
    put('Date.offset', str(int(d.datetime.utcoffset().total_seconds() // 60)))
    put('Date.utc', (d.datetime - d.datetime.utcoffset()).replace(tzinfo=None).isoformat())
put('type', msg.get_content_type())
parts = list(msg.walk()) if msg.is_multipart() else [msg]
parts = [p for p in parts if not p.is_multipart()]
put('parts', str(len(parts)))
for i, part in enumerate(parts):
    defects += [type(x).__name__ for x in part.defects]
    put('part.%d.type' % i, part.get_content_type())
    put('part.%d.cte' % i, str(part.get('Content-Transfer-Encoding', '')))
    fn = part.get_filename()
    if fn is not None:
        put('part.%d.filename' % i, fn)
    payload = part.get_payload(decode=True) or b''
    put('part.%d.bytes' % i, payload)
    if part.get_content_maintype() == 'text' and fn is None:
        try:
            put('part.%d.text' % i, payload.decode(part.get_content_charset() or 'ascii'))
        except UnicodeDecodeError as e:
            put('part.%d.texterror' % i, str(e))
put('defects', ','.join(defects))
sys.stdout.write('\n'.join(out) + '\n')
)py";

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace

std::string Inspected::operator[](const std::string& key) const {
  auto it = items.find(key);
  return it == items.end() ? std::string() : it->second;
}

Inspected InspectWithPython(const std::string& message) {
  Inspected r;
  const std::string python = PythonPath();
  if (python.empty()) {
    r.error = "no /usr/bin/python3";
    return r;
  }
  TempDir dir("smtpinspect");
  const std::string script = dir.Write("inspect.py", kScript);
  const std::string msg = dir.Write("message.eml", message);
  const std::string none = dir.Write("empty", "");
  const std::string out = dir.File("out");
  if (!RunProgram(python, {script, msg}, none, out)) {
    r.error = ReadFile(out + ".err");
    return r;
  }
  std::istringstream lines(ReadFile(out));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    r.items[line.substr(0, tab)] = FromHex(line.substr(tab + 1));
  }
  r.ok = true;
  return r;
}

}  // namespace testsupport
