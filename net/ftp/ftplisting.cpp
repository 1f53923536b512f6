#include "net/ftp/ftplisting.h"

#include <algorithm>
#include <cstdio>

#include "net/ftp/ftptime.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "rtl/exception.h"
#include "rtl/fs.h"

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A name cut into characters: one byte, or a CP932 lead byte with its trail byte.
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> chars;
  for (size_t i = 0; i < text.size();) {
    const size_t n =
        rtl::IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    chars.push_back(text.substr(i, n));
    i += n;
  }
  return chars;
}

char FoldAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameCharacter(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 1) return FoldAscii(a[0]) == FoldAscii(b[0]);
  return a == b;  // a double-byte character matches only itself
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The parts of an instant in local time; the epoch when the system cannot break it down.
rtl::TSystemTime LocalParts(int64_t seconds) {
  try {
    return rtl::LocalTimeOf(seconds * 1000000);
  } catch (const rtl::Exception&) {
    return rtl::LocalTimeOf(0);
  }
}

// yyyymmddhhnnss of an instant read as UTC; zeros for an instant outside the years 1-9999.
std::string FactTime(int64_t seconds) {
  char buf[32];
  try {
    const rtl::TSystemTime t = rtl::DateTimeToSystemTime(EpochToUtcDateTime(seconds));
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
  } catch (const rtl::Exception&) {
    return "00000000000000";
  }
  return buf;
}

bool HasExtension(std::string_view name, std::string_view ext) {
  return name.size() > ext.size() && rtl::SameText(name.substr(name.size() - ext.size()), ext);
}

}  // namespace

bool FtpHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

bool FtpHasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool FtpNameMatches(std::string_view pattern, std::string_view name) {
  if (pattern.empty() || pattern == "*.*") return true;
  const std::vector<std::string_view> p = Characters(pattern);
  const std::vector<std::string_view> n = Characters(name);
  // Classic wildcard walk: on a mismatch go back to the last "*" and let it take one more
  // character.
  size_t pi = 0;
  size_t ni = 0;
  size_t star = std::string_view::npos;
  size_t starName = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == "*") {
      star = pi++;
      starName = ni;
    } else if (pi < p.size() && (p[pi] == "?" || SameCharacter(p[pi], n[ni]))) {
      ++pi;
      ++ni;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == "*")
    ++pi;
  return pi == p.size();
}

bool FtpEntryOf(const std::string& path, const std::string& name, TFtpDirEntry& entry) {
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(path, info) != 0) return false;
  if (info.Kind != rtl::fs::TFileKind::Regular && info.Kind != rtl::fs::TFileKind::Directory)
    return false;
  entry.Name = name;
  entry.Directory = info.Kind == rtl::fs::TFileKind::Directory;
  entry.ReadOnly = !info.Writable;
  entry.Size = entry.Directory ? 0 : info.Size;
  entry.MTime = info.MTime;
  entry.CTime = info.CTime;
  return true;
}

int ScanFtpFolder(const std::string& folder, std::string_view pattern, bool includeHidden,
                  bool atRoot, std::vector<TFtpDirEntry>& entries) {
  std::vector<std::string> names;
  if (int err = rtl::fs::ListDirectory(folder, names)) return err;
  std::sort(names.begin(), names.end());
  TFtpDirEntry e;
  if (FtpNameMatches(pattern, ".") && FtpEntryOf(folder, ".", e)) entries.push_back(e);
  if (!atRoot && FtpNameMatches(pattern, "..") && FtpEntryOf(Join(folder, ".."), "..", e))
    entries.push_back(e);
  for (const std::string& name : names) {
    if (!includeHidden && FtpHiddenName(name)) continue;
    if (!FtpNameMatches(pattern, name)) continue;
    if (FtpEntryOf(Join(folder, name), name, e)) entries.push_back(e);
  }
  return 0;
}

std::string FtpUnixLine(const TFtpDirEntry& entry, int currentYear) {
  std::string perms = "-rw-rw-rw-";
  if (entry.Directory) perms[0] = 'd';
  if (entry.ReadOnly) perms[2] = perms[5] = perms[8] = '-';
  if (HasExtension(entry.Name, ".exe") || HasExtension(entry.Name, ".com") ||
      HasExtension(entry.Name, ".bat"))
    perms[3] = perms[6] = perms[9] = 'x';
  const rtl::TSystemTime t = LocalParts(entry.MTime);
  char when[16];
  if (t.Year == currentYear)
    std::snprintf(when, sizeof when, "%2.2d:%2.2d", t.Hour, t.Minute);
  else
    std::snprintf(when, sizeof when, "%5d", t.Year);
  char middle[96];
  std::snprintf(middle, sizeof middle, "%11lld %s %2.2d %5s ", static_cast<long long>(entry.Size),
                kMonths[std::clamp(t.Month, 1, 12) - 1], t.Day, when);
  return perms + "   1 ftp      ftp  " + middle + entry.Name;
}

std::string FtpFactsLine(const TFtpDirEntry& entry) {
  std::string facts;
  if (!entry.Directory)
    facts = "size=" + std::to_string(entry.Size) +
            ";type=file;perm=" + (entry.ReadOnly ? "rw;" : "fdrwa;");
  else if (entry.Name == ".")
    facts = "size=0;type=cdir;perm=fdelcmp;";
  else if (entry.Name == "..")
    facts = "size=0;type=pdir;perm=fdelcmp;";
  else
    facts = "size=0;type=dir;perm=fdelcmp;";
  return facts + "create=" + FactTime(entry.CTime) + ";modify=" + FactTime(entry.MTime) + "; " +
         entry.Name;
}
