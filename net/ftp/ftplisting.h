// Folder listings of the FTP server: the entries of a folder as the listing commands show them, and
// the three line forms (the Unix-style line of LIST, the facts line of MLSD and MLST, the bare
// name of NLST). Only folders and plain files are listed; symbolic links, FIFOs, sockets and
// devices are left out, as the path layer never names them. Attributes are read the way clients
// of the server expect them: read-only means the owner may not write, hidden means a name that
// starts with "." (other than "." and ".."). Plain functions, safe from any thread (the Unix-style
// line reads the local time zone as the C library does).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TFtpDirEntry {
  std::string Name;
  bool Directory = false;
  bool ReadOnly = false;  // the owner may not write it
  int64_t Size = 0;       // bytes (folders: 0)
  int64_t MTime = 0;      // last modification, seconds since the Unix epoch
  int64_t CTime = 0;      // the closest the system has to a creation time, seconds since the epoch
};

// True for a name a listing leaves out unless asked for everything: it starts with "." and is
// neither "." nor "..".
bool FtpHiddenName(std::string_view name);

// True when text holds a wildcard ("*" or "?").
bool FtpHasWildcard(std::string_view text);

// True when name matches pattern: "*" stands for any run of characters, "?" for one character (a
// CP932 double-byte character counts as one), ASCII letters match in either case, everything else
// exactly. "*.*" matches every name, as "*" does.
bool FtpNameMatches(std::string_view pattern, std::string_view name);

// The entry for the local path shown under name; false when path is neither a folder nor a plain
// file (or cannot be examined).
bool FtpEntryOf(const std::string& path, const std::string& name, TFtpDirEntry& entry);

// The entries of the local folder whose names match pattern (an empty pattern matches all): "."
// first, then ".." unless atRoot (a session's home has no parent), then the other names in byte
// order. Names hidden by FtpHiddenName come only with includeHidden. Returns 0, or the errno of a
// folder that cannot be read (entries that vanish or cannot be examined meanwhile are skipped).
int ScanFtpFolder(const std::string& folder, std::string_view pattern, bool includeHidden,
                  bool atRoot, std::vector<TFtpDirEntry>& entries);

// The Unix-style line of entry (without its line end): permissions, "   1 ftp      ftp  ", the
// size right-aligned in 11 columns, the month abbreviation, the day, then the local time "hh:mm"
// when the entry's local year is currentYear, else the year right-aligned in 5 columns, and the
// name. Permissions are "-rw-rw-rw-", with "d" first for a folder, the three "w" taken away for a
// read-only entry and an "x" for everyone when the name ends in ".exe", ".com" or ".bat" (any
// case).
std::string FtpUnixLine(const TFtpDirEntry& entry, int currentYear);

// The facts line of entry (without its line end): size, type (file, or cdir for ".", pdir for
// "..", dir for other folders) and perm facts, then "create=" and "modify=" as yyyymmddhhnnss in
// UTC, then "; " and the name.
std::string FtpFactsLine(const TFtpDirEntry& entry);
