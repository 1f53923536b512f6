// Record files: a heading line, then one "key=value" line per value. Values are bytes with every
// control byte, DEL and "%" written as %XX, so a value never breaks its line. The descriptor is
// kept under "descriptor"; records written before descriptors were enforced kept opaque bytes
// under "security", which are read and dropped.
#include "platform/scm/record.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/scm/secret.h"

namespace scm {

namespace {

constexpr char kHeading[] = "kelvadon-scm-service 1";
constexpr char kSuffix[] = ".service";
constexpr char kTempSuffix[] = ".tmp";
constexpr size_t kMaxRecordFile = 1024 * 1024;

const char kHex[] = "0123456789ABCDEF";

bool Escaped(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%';
}

// The escaped text's length.
size_t EscapedSize(std::string_view v) {
  size_t n = v.size();
  for (unsigned char c : v)
    n += Escaped(c) ? 2 : 0;
  return n;
}

void AppendEscaped(std::string& out, std::string_view v) {
  for (unsigned char c : v) {
    if (Escaped(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
}

std::string Escape(std::string_view v) {
  std::string out;
  out.reserve(EscapedSize(v));
  AppendEscaped(out, v);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view v, std::string& out) {
  out.clear();
  out.reserve(v.size());  // never grown on the way, so no copy of a password is freed unwiped
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '%') {
      out += v[i];
      continue;
    }
    if (i + 2 >= v.size()) return false;
    int hi = HexDigit(v[i + 1]), lo = HexDigit(v[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string Hex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

bool Unhex(std::string_view v, std::string& out) {
  if (v.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < v.size(); i += 2) {
    int hi = HexDigit(v[i]), lo = HexDigit(v[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool Number(std::string_view v, uint32_t& out) {
  if (v.empty() || v.size() > 10) return false;
  uint64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + uint64_t(c - '0');
  }
  if (n > 0xFFFFFFFFu) return false;
  out = static_cast<uint32_t>(n);
  return true;
}

void Line(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append("=").append(value).append("\n");
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadFile(const std::string& path, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  out.clear();
  // The text holds a password: read into a buffer of its final size, with no copy left behind.
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0 && size_t(st.st_size) <= kMaxRecordFile)
    out.reserve(size_t(st.st_size));
  char buf[8192];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > kMaxRecordFile) {
      ok = false;
      break;
    }
  }
  explicit_bzero(buf, sizeof buf);
  close(fd);
  return ok;
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string EncodeRecord(const ServiceRecord& r) {
  const ServiceConfig& c = r.config;
  std::string head = std::string(kHeading) + "\n";
  Line(head, "name", Escape(c.name));
  Line(head, "display", Escape(c.displayName));
  Line(head, "type", std::to_string(c.serviceType));
  Line(head, "start", std::to_string(c.startType));
  Line(head, "error", std::to_string(c.errorControl));
  Line(head, "path", Escape(c.binaryPathName));
  Line(head, "group", Escape(c.loadOrderGroup));
  Line(head, "tag", std::to_string(c.tagId));
  for (const auto& d : c.dependencies)
    Line(head, "dependency", Escape(d));
  Line(head, "account", Escape(c.serviceStartName));
  std::string tail;
  if (r.description) Line(tail, "description", Escape(*r.description));
  Line(tail, "reset", std::to_string(r.failure.resetPeriod));
  Line(tail, "reboot", Escape(r.failure.rebootMessage));
  Line(tail, "command", Escape(r.failure.command));
  for (const auto& a : r.failure.actions)
    Line(tail, "action", std::to_string(a.type) + "," + std::to_string(a.delayMs));
  Line(tail, "descriptor", Hex(r.security));
  // The password goes straight into a text of its final size: no growth leaves a copy of it in
  // freed memory. The caller wipes the text once it is written.
  constexpr char kPasswordKey[] = "password=";
  std::string text;
  text.reserve(head.size() + sizeof kPasswordKey + EscapedSize(r.password) + tail.size());
  text.append(head);
  if (!r.password.empty()) {
    text.append(kPasswordKey);
    AppendEscaped(text, r.password);
    text.append("\n");
  }
  text.append(tail);
  return text;
}

bool DecodeRecord(std::string_view text, ServiceRecord& r) {
  r = ServiceRecord{};
  r.config.dependencies.clear();
  size_t pos = text.find('\n');
  if (pos == std::string_view::npos || text.substr(0, pos) != kHeading) return false;
  ++pos;
  bool haveName = false, havePath = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) return false;  // a cut-off last line
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view key = line.substr(0, eq), raw = line.substr(eq + 1);
    std::string v;
    ServiceConfig& c = r.config;
    auto text_ = [&](std::string& field, size_t limit) {
      return Unescape(raw, field) && field.size() <= limit;
    };
    bool ok = true;
    if (key == "name") {
      ok = text_(c.name, kMaxNameLength) && !c.name.empty();
      haveName = ok;
    } else if (key == "display") {
      ok = text_(c.displayName, kMaxNameLength);
    } else if (key == "type") {
      ok = Number(raw, c.serviceType);
    } else if (key == "start") {
      ok = Number(raw, c.startType);
    } else if (key == "error") {
      ok = Number(raw, c.errorControl);
    } else if (key == "path") {
      ok = text_(c.binaryPathName, kMaxPathLength) && !c.binaryPathName.empty();
      havePath = ok;
    } else if (key == "group") {
      ok = text_(c.loadOrderGroup, kMaxNameLength);
    } else if (key == "tag") {
      ok = Number(raw, c.tagId);
    } else if (key == "dependency") {
      ok = text_(v, kMaxNameLength) && c.dependencies.size() < kMaxDependencies;
      if (ok) c.dependencies.push_back(v);
    } else if (key == "account") {
      ok = text_(c.serviceStartName, kMaxNameLength);
    } else if (key == "password") {
      ok = text_(r.password, kMaxPasswordLength);
    } else if (key == "description") {
      ok = text_(v, kMaxTextLength);
      if (ok) r.description = v;
    } else if (key == "reset") {
      ok = Number(raw, r.failure.resetPeriod);
    } else if (key == "reboot") {
      ok = text_(r.failure.rebootMessage, kMaxTextLength);
    } else if (key == "command") {
      ok = text_(r.failure.command, kMaxPathLength);
    } else if (key == "action") {
      size_t comma = raw.find(',');
      Action a;
      ok = comma != std::string_view::npos && Number(raw.substr(0, comma), a.type) &&
           Number(raw.substr(comma + 1), a.delayMs) && r.failure.actions.size() < kMaxActions;
      if (ok) r.failure.actions.push_back(a);
    } else if (key == "descriptor") {
      ok = Unhex(raw, r.security) && r.security.size() <= kMaxSecurityBytes;
    } else if (key == "security") {
      // Written before descriptors were enforced: opaque bytes, read for their form only and
      // dropped, so that the service is loaded with the default descriptor.
      ok = Unhex(raw, v) && v.size() <= kMaxSecurityBytes;
    }
    if (!ok) return false;
  }
  return haveName && havePath;
}

ServiceStore::ServiceStore(std::string stateDir) : dir_(std::move(stateDir) + "/services") {}

std::string ServiceStore::FileOf(std::string_view name) const {
  std::string file = dir_ + "/";
  for (unsigned char c : NameKey(name)) {
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      file += kHex[c >> 4];
      file += kHex[c & 0xF];
    }
  }
  return file + kSuffix;
}

bool ServiceStore::Save(const ServiceRecord& record) const {
  // The records hold passwords: nobody but scmd's user reaches them, at no moment.
  if (mkdir(dir_.c_str(), 0700) != 0) {
    struct stat st;
    if (errno != EEXIST || lstat(dir_.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return false;
    }
    if ((st.st_mode & 07777) != 0700 && chmod(dir_.c_str(), 0700) != 0) return false;
  }
  const std::string file = FileOf(record.config.name);
  const std::string temp = file + kTempSuffix;
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  std::string text = EncodeRecord(record);
  const bool written = fchmod(fd, 0600) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  int saved = errno;
  Wipe(text);
  if (close(fd) != 0 && written) saved = errno;
  if (!written || rename(temp.c_str(), file.c_str()) != 0) {
    if (written) saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return false;
  }
  // The rename itself reaches the disk with the folder.
  int dfd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

bool ServiceStore::Remove(std::string_view name) const {
  return unlink(FileOf(name).c_str()) == 0 || errno == ENOENT;
}

std::vector<ServiceRecord> ServiceStore::LoadAll(std::vector<std::string>* bad) const {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir_.c_str())) {
    while (dirent* e = readdir(d))
      names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<ServiceRecord> out;
  out.reserve(names.size());  // never moved on growth, which would leave short passwords behind
  for (const auto& n : names) {
    const std::string path = dir_ + "/" + n;
    if (EndsWith(n, kTempSuffix)) {
      unlink(path.c_str());  // a save that never finished
      continue;
    }
    if (!EndsWith(n, kSuffix)) continue;
    std::string text;
    ServiceRecord r;
    if (ReadFile(path, text) && DecodeRecord(text, r) && FileOf(r.config.name) == path) {
      out.push_back(std::move(r));
    } else if (bad) {
      bad->push_back(path);
    }
    Wipe(text);
    Wipe(r.password);
  }
  return out;
}

}  // namespace scm
