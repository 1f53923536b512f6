// The path layer of the FTP server: every session sees a virtual tree whose root "/" is its home
// folder, and nothing outside it. Names from the client are split at "/" and "\" (a "\" that is
// the trail byte of a CP932 double-byte character belongs to the name); "." is dropped and ".."
// goes up, stopping at the root for a change of folder and refused above it for a file argument;
// ":" (drive letters, streams) and NUL bytes are refused. On disk each name is matched exactly
// first, then with ASCII letters folded; symbolic links, FIFOs, sockets and devices are never
// followed or named. Plain functions, safe from any thread; failures raise EFtpPathError, whose
// message the commands show ("501 " + message).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtl/exception.h"
#include "rtl/fs.h"

RTL_DECLARE_EXCEPTION(EFtpPathError, rtl::Exception);

// Messages of EFtpPathError.
inline constexpr char kFtpPathBadSyntax[] = "Invalid directory name syntax";
inline constexpr char kFtpPathAboveRoot[] = "Cannot accept relative path using dot notation";
inline constexpr char kFtpPathNoPermission[] = "No permission";
inline constexpr char kFtpPathNotDirectory[] = "Not a directory";

// What ".." does at the root.
enum class TFtpDotDot {
  StopAtRoot,  // stays at the root (CWD, CDUP)
  Refuse,      // raises kFtpPathAboveRoot (file arguments)
};

// The names of text split at "/" and "\" (CP932 trail bytes excepted); empty names dropped.
std::vector<std::string> SplitFtpPath(std::string_view text);

// The names of the virtual path that arg denotes when the session is in the virtual folder
// current ("/" or "/a/b/"): from the root when arg starts with a separator, else from current.
// Raises kFtpPathBadSyntax for ":" or NUL anywhere in arg, kFtpPathAboveRoot for ".." at the root
// under TFtpDotDot::Refuse.
std::vector<std::string> CombineFtpPath(std::string_view current, std::string_view arg,
                                        TFtpDotDot rule);

// "/" followed by the names joined with "/"; with folderForm a "/" is added after the last name
// ("/", "/a/", "/a/b/"), else not ("/", "/a", "/a/b").
std::string FtpPathText(const std::vector<std::string>& names, bool folderForm);

// Where a virtual path lies on disk.
struct TFtpLocation {
  std::vector<std::string> Names;  // the names as found on disk, the rest as given
  std::string Local;               // the local path: root, then "/" + each name
  rtl::fs::TFileKind Kind = rtl::fs::TFileKind::Missing;  // what the last name is (the root: a
                                                          // folder)
  // The virtual path of Names, without a trailing "/" ("/" for the root).
  std::string Virtual() const { return FtpPathText(Names, false); }
};

// Finds names below the local folder root, one at a time: an existing entry of the exact name,
// else the first (in byte order) whose name equals it with ASCII letters folded. From the first
// name that matches nothing on, the rest is taken as given and Kind is Missing. Raises
// kFtpPathNoPermission when a matched entry is a symbolic link or a special file, or cannot be
// examined, and kFtpPathNotDirectory when a plain file stands where a folder is needed.
// REQUIRES: root is the real path of a folder (no symbolic link in it, e.g. from
// rtl::fs::RealPath).
TFtpLocation LocateFtpPath(const std::string& root, const std::vector<std::string>& names);
