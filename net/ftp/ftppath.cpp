#include "net/ftp/ftppath.h"

#include "rtl/cp932.h"

namespace {

// The bytes that may follow a CP932 lead byte.
bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The entry of folder whose name equals name with ASCII letters folded; the first in byte order
// when several do, so the choice does not depend on the order of the directory. Empty when none
// does or the folder cannot be read.
std::string FindFolded(const std::string& folder, const std::string& name) {
  std::vector<std::string> entries;
  if (rtl::fs::ListDirectory(folder, entries) != 0) return std::string();
  std::string best;
  bool found = false;
  for (const std::string& e : entries) {
    if (!rtl::SameText(e, name)) continue;
    if (!found || rtl::CompareStr(e, best) < 0) best = e;
    found = true;
  }
  return best;
}

}  // namespace

std::vector<std::string> SplitFtpPath(std::string_view text) {
  std::vector<std::string> names;
  std::string current;
  bool afterLead = false;  // the previous byte was a lead byte
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (afterLead) {
      afterLead = false;
      // Only a byte that can be a trail byte is one; a separator after a stray lead byte still
      // separates.
      if (IsTrailByte(b)) {
        current.push_back(ch);
        continue;
      }
    }
    if (b == '/' || b == '\\') {
      if (!current.empty()) names.push_back(std::move(current));
      current.clear();
      continue;
    }
    current.push_back(ch);
    afterLead = rtl::IsLeadByte(b);
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

std::vector<std::string> CombineFtpPath(std::string_view current, std::string_view arg,
                                        TFtpDotDot rule) {
  if (arg.find(':') != std::string_view::npos || arg.find('\0') != std::string_view::npos)
    throw EFtpPathError(kFtpPathBadSyntax);
  std::vector<std::string> names;
  const bool absolute = !arg.empty() && (arg.front() == '/' || arg.front() == '\\');
  if (!absolute) {
    // The session's own folder was built by this layer; it is taken as it is.
    names = SplitFtpPath(current);
  }
  for (std::string& name : SplitFtpPath(arg)) {
    if (name == ".") continue;
    if (name == "..") {
      if (!names.empty())
        names.pop_back();
      else if (rule == TFtpDotDot::Refuse)
        throw EFtpPathError(kFtpPathAboveRoot);
      continue;
    }
    names.push_back(std::move(name));
  }
  return names;
}

std::string FtpPathText(const std::vector<std::string>& names, bool folderForm) {
  std::string text = "/";
  for (size_t i = 0; i < names.size(); ++i) {
    text += names[i];
    if (folderForm || i + 1 < names.size()) text += "/";
  }
  return text;
}

TFtpLocation LocateFtpPath(const std::string& root, const std::vector<std::string>& names) {
  TFtpLocation loc;
  loc.Local = root;
  loc.Kind = rtl::fs::TFileKind::Directory;
  bool missing = false;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    // Names come from CombineFtpPath; one that could step elsewhere is never joined.
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
      throw EFtpPathError(kFtpPathBadSyntax);
    if (missing) {
      loc.Names.push_back(name);
      loc.Local = Join(loc.Local, name);
      continue;
    }
    if (loc.Kind != rtl::fs::TFileKind::Directory) throw EFtpPathError(kFtpPathNotDirectory);
    std::string found = name;
    rtl::fs::TFileInfo info;
    if (rtl::fs::LStat(Join(loc.Local, name), info) != 0) throw EFtpPathError(kFtpPathNoPermission);
    if (info.Kind == rtl::fs::TFileKind::Missing) {
      found = FindFolded(loc.Local, name);
      if (!found.empty() && rtl::fs::LStat(Join(loc.Local, found), info) != 0)
        throw EFtpPathError(kFtpPathNoPermission);
      if (found.empty() || info.Kind == rtl::fs::TFileKind::Missing) {
        // Nothing of that name (yet): the rest of the path is taken as given.
        missing = true;
        loc.Names.push_back(name);
        loc.Local = Join(loc.Local, name);
        loc.Kind = rtl::fs::TFileKind::Missing;
        continue;
      }
    }
    if (info.Kind == rtl::fs::TFileKind::Symlink || info.Kind == rtl::fs::TFileKind::Other)
      throw EFtpPathError(kFtpPathNoPermission);
    loc.Names.push_back(found);
    loc.Local = Join(loc.Local, found);
    loc.Kind = info.Kind;
  }
  return loc;
}
