// ShellExecuteA: programs are started, everything else goes to xdg-open; both detached.
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win/shell.h"
#include "rtl/cp932.h"

namespace {

HINSTANCE AsInstance(UINT_PTR value) {
  return reinterpret_cast<HINSTANCE>(value);
}

constexpr UINT_PTR kSuccess = 42;

// The ShellExecuteA result for a last error.
UINT_PTR ShellErrorFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
      return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED:
      return SE_ERR_ACCESSDENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
      return SE_ERR_OOM;
    case ERROR_BAD_FORMAT:
      return SE_ERR_BAD_FORMAT;
    default:
      return SE_ERR_NOASSOC;
  }
}

HINSTANCE Failure(DWORD error) {
  SetLastError(error);
  return AsInstance(ShellErrorFor(error));
}

HINSTANCE Started(bool ok) {
  if (ok) return AsInstance(kSuccess);
  return AsInstance(ShellErrorFor(GetLastError()));
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) + "/" + path : path;
}

// The one verb: "open" in any case, as Windows takes it; none (null or empty) means it too.
bool IsOpenVerb(const char* operation) {
  return !operation || !*operation || rtl::SameText(operation, "open");
}

HINSTANCE OpenWithDesktop(const std::string& target, const std::string& dir) {
  const std::string opener = FindProgram("xdg-open");
  if (opener.empty()) return Failure(ERROR_NO_ASSOCIATION);
  return Started(SpawnDetached(opener, {target}, dir));
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool inQuotes = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (!inQuotes && (c == ' ' || c == '\t')) {
      if (inArgument) {
        args.push_back(std::move(current));
        current.clear();
        inArgument = false;
      }
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      size_t count = 0;
      while (i + count < line.size() && line[i + count] == '\\')
        ++count;
      i += count;
      if (i < line.size() && line[i] == '"') {
        current.append(count / 2, '\\');
        if (count % 2 == 1) {
          current += '"';
          ++i;
        }
        // With an even count the quote is handled as a quote next.
      } else {
        current.append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (inQuotes && i + 1 < line.size() && line[i + 1] == '"') {
        current += '"';
        i += 2;
      } else {
        inQuotes = !inQuotes;
        ++i;
      }
      continue;
    }
    current += c;
    ++i;
  }
  if (inArgument) args.push_back(std::move(current));
  return args;
}

HINSTANCE ShellExecuteA(HWND hwnd, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show) {
  if (!IsOpenVerb(operation)) return Failure(ERROR_NO_ASSOCIATION);
  if (!file || !*file) return Failure(ERROR_FILE_NOT_FOUND);
  const std::string target(file);
  const std::string dir = directory ? directory : "";
  if (target.find("://") != std::string::npos) return OpenWithDesktop(target, dir);

  std::string path;
  struct stat st;
  if (target.find('/') != std::string::npos || stat(target.c_str(), &st) == 0) {
    path = Absolute(target);
  } else {
    path = FindProgram(target);
    if (path.empty()) return Failure(ERROR_FILE_NOT_FOUND);
  }
  if (stat(path.c_str(), &st) != 0) {
    const int err = errno;
    return Failure(err == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(err));
  }
  if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0)
    return Started(SpawnDetached(path, SplitCommandLine(parameters ? parameters : ""), dir));
  return OpenWithDesktop(path, dir);
}
