#include "rtl/files.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rtl {

namespace {

// Paths reach the system as C strings: one with a NUL byte inside would silently name a
// different file, so such a path names nothing.
bool ToCPath(std::string_view path, std::string& out) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  out.assign(path);
  return true;
}

bool StatPath(std::string_view path, struct stat& st) {
  std::string p;
  if (!ToCPath(path, p)) {
    errno = ENOENT;
    return false;
  }
  return stat(p.c_str(), &st) == 0;
}

std::string FindProgramFileName() {
  char buf[PATH_MAX];
  if (realpath("/proc/self/exe", buf)) return buf;
  // The program file was removed or replaced before the first call: the link still names the
  // path it had, marked " (deleted)".
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string path(buf, static_cast<size_t>(n));
  static constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
    path.resize(path.size() - kDeleted.size());
  return path;
}

}  // namespace

std::string ProgramFileName() {
  static const std::string name = FindProgramFileName();
  return name;
}

std::string ProgramDir() {
  return ExtractFilePath(ProgramFileName());
}

std::string ExtractFilePath(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  size_t stem = path.size();
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) stem = dot;
  std::string r(path.substr(0, stem));
  r.append(ext);
  return r;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (!r.empty() && r.back() != '/') r += '/';
  return r;
}

bool FileExists(std::string_view path) {
  struct stat st;
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool ForceDirectories(std::string_view path) {
  std::string p;
  if (!ToCPath(path, p)) {
    errno = ENOENT;
    return false;
  }
  if (DirectoryExists(p)) return true;
  // Create each folder from the top down; one that exists (made by someone else meanwhile, too)
  // is fine as long as it is a folder.
  size_t pos = 0;
  while (pos < p.size()) {
    size_t next = p.find('/', pos);
    if (next == std::string::npos) next = p.size();
    if (next > pos) {  // skips the root and doubled slashes
      std::string prefix = p.substr(0, next);
      if (mkdir(prefix.c_str(), 0777) != 0) {
        int err = errno;
        if (err != EEXIST || !DirectoryExists(prefix)) {
          errno = err == EEXIST ? ENOTDIR : err;
          return false;
        }
      }
    }
    pos = next + 1;
  }
  return true;
}

}  // namespace rtl
