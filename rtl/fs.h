// File-system calls for code that must not be led astray by the names it is given (the FTP
// server's confined tree): status without following symbolic links, realpath, directory scans,
// file times, files opened without following links and never blocking on a FIFO or device,
// rename, delete, folder creation and removal, and the descriptor limit. Paths are byte strings
// with "/" as the delimiter. Every call reports failure as an errno value (0 on success) and keeps
// no descriptor open beyond the TFile that owns it. Every function is safe from any thread; a
// TFile is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl::fs {

enum class TFileKind {
  Missing,    // nothing of that name
  Regular,    // a plain file
  Directory,  // a folder
  Symlink,    // a symbolic link (never followed here)
  Other,      // FIFO, socket, character or block device
};

struct TFileInfo {
  TFileKind Kind = TFileKind::Missing;
  int64_t Size = 0;       // bytes (plain files)
  int64_t MTime = 0;      // last modification, seconds since the Unix epoch (UTC)
  int64_t CTime = 0;      // last status change, seconds since the epoch: the closest the
                          // system has to a creation time
  uint32_t Mode = 0;      // permission bits (07777)
  bool Writable = false;  // the owner may write it
};

// Status of path itself: a symbolic link is reported as one, not followed. A name that does not
// exist gives 0 with Kind Missing; other failures (a part of the path that is not a folder, no
// permission) give their errno with Kind Missing.
int LStat(std::string_view path, TFileInfo& info);

// The absolute path of path with every symbolic link, "." and ".." resolved, in out; 0 or errno.
int RealPath(std::string_view path, std::string& out);

// The names in the folder path (without "." and ".."), in the order the system gives them. The
// folder is opened without following a symbolic link (ENOTDIR when path is one); 0 or errno.
int ListDirectory(std::string_view path, std::vector<std::string>& names);

// Sets the modification time of path (a symbolic link is not followed) to whole seconds since the
// epoch; the access time is left alone. 0 or errno.
int SetModificationTime(std::string_view path, int64_t epochSeconds);

// Folder and name operations; 0 or errno. MakeDirectory uses mode 0777 less the umask and creates
// only the last part. Rename replaces an existing plain file at `to` (the system's rule).
int MakeDirectory(std::string_view path);
int RemoveDirectory(std::string_view path);
int DeleteFile(std::string_view path);
int Rename(std::string_view from, std::string_view to);

// The soft limit on open descriptors of the process (RLIMIT_NOFILE), or 1024 when it cannot be
// read or is unlimited.
int64_t DescriptorLimit();

// Raises the soft descriptor limit to the hard one, so that a program started with the usual soft
// limit (1024) may hold as many descriptors as it is allowed. Returns the soft limit afterwards.
int64_t RaiseDescriptorLimit();

// The file mode creation mask of the programs that share the program folder (the root service and
// a console run by a member of the folder's group): what either makes is writable by the group,
// so each appends to the other's day files.
inline constexpr unsigned kSharedFileMask = 002;
// Sets the process's mask to kSharedFileMask.
void UseSharedFileMask();

// The descriptors the process has open right now (the entries of /proc/self/fd, less the one the
// count itself uses), or -1 when they cannot be counted. Costs one scan of the folder.
int64_t OpenDescriptorCount();

// The system's text for an errno value, in strerror's wording ("No such file or directory";
// "Unknown error 99999" for a value without one). Every layer takes its errno texts from here.
std::string ErrorText(int err);

enum class TOpenMode {
  Read,       // existing file, reading
  Write,      // existing file, writing (not truncated)
  ReadWrite,  // existing file, reading and writing
  Create,     // created when missing, emptied when present; writing
  CreateNew,  // created; fails with EEXIST when the name exists (O_EXCL); writing
};

// An open plain file. Opening never follows a symbolic link in the last part of the name
// (ELOOP), never blocks on a FIFO or device, and refuses anything but a plain file (EISDIR for a
// folder, EINVAL for other kinds). The descriptor is close-on-exec and closed by Close or the
// destructor. Move-only.
class TFile {
 public:
  TFile() = default;
  ~TFile();
  TFile(TFile&& other) noexcept;
  TFile& operator=(TFile&& other) noexcept;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  // Opens path; 0 or errno (the file stays closed on failure). A file already open is closed
  // first.
  int Open(std::string_view path, TOpenMode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // Bytes read (0 at the end), or -errno. Retries on EINTR.
  int64_t Read(void* buffer, int64_t len);
  // Writes all len bytes; 0 or errno.
  int Write(const void* data, int64_t len);
  // Moves to offset from the start; the new position, or -errno.
  int64_t Seek(int64_t offset);
  // The current size, or -errno.
  int64_t Size() const;
  // Status of the open file; 0 or errno.
  int Stat(TFileInfo& info) const;
  // 0 or the errno of close.
  int Close();

 private:
  int fd_ = -1;
};

}  // namespace rtl::fs
