#include "rtl/files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "rtl/exception.h"

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

namespace {
// The folder tests put in place of the program's own (empty: none).
std::mutex g_programDirMutex;
std::string g_programDirOverride;
}  // namespace

std::string ProgramDir() {
  {
    std::lock_guard<std::mutex> lock(g_programDirMutex);
    if (!g_programDirOverride.empty()) return g_programDirOverride;
  }
  return ExtractFilePath(ProgramFileName());
}

void SetProgramDir(std::string_view dir) {
  std::lock_guard<std::mutex> lock(g_programDirMutex);
  g_programDirOverride = IncludeTrailingPathDelimiter(dir);
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

namespace {

// Writes all of data to fd, going on after signals and short writes. Returns 0 or the errno.
int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

// Opens a new file beside target, named "." + file name + "." + pid + "." + counter + ".tmp", so
// concurrent writers of one path never share a temporary file; mode less the umask. Returns the
// descriptor or -1.
int CreateTempBeside(const std::string& target, unsigned mode, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = ExtractFilePath(target);
  const std::string name = ExtractFileName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = dir + "." + name + "." + std::to_string(getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
    int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void SyncFolderOf(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  if (dir.empty()) dir = ".";
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The rename has taken place already; a folder that cannot be flushed changes nothing for the
  // caller, so the result is not reported.
  fsync(fd);
  close(fd);
}

// WriteFileAtomic with the mode of a new file (less the umask) and the bits an old one keeps.
int ReplaceFile(std::string_view path, std::string_view data, unsigned createMode,
                unsigned keptBits) {
  std::string target;
  if (!ToCPath(path, target)) return ENOENT;
  struct stat st;
  bool existed = lstat(target.c_str(), &st) == 0;
  if (existed && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(target.c_str(), resolved)) return errno;
    target = resolved;
    existed = stat(target.c_str(), &st) == 0;
  }
  if (existed && S_ISDIR(st.st_mode)) return EISDIR;

  std::string temp;
  int fd = CreateTempBeside(target, createMode, temp);
  if (fd < 0) return errno;
  int err = 0;
  if (existed) {
    // Owner first: changing it may clear the set-id bits that fchmod then restores. Only a
    // privileged caller may give the file away, so a refusal there is no failure.
    [[maybe_unused]] int refused = fchown(fd, st.st_uid, st.st_gid);
    if (fchmod(fd, st.st_mode & keptBits) != 0) err = errno;
  }
  if (err == 0) err = WriteAll(fd, data);
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return err;
  }
  SyncFolderOf(target);
  return 0;
}

}  // namespace

int WriteFileAtomic(std::string_view path, std::string_view data) {
  return ReplaceFile(path, data, 0666, 07777);
}

int WriteFileAtomic(std::string_view path, std::string_view data, unsigned mode) {
  return ReplaceFile(path, data, mode, mode);
}

std::string InOutErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return "Path not found";
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
      return "File access denied";
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return "Disk full";
    default:
      return "I/O error " + std::to_string(err);
  }
}

namespace {

// Writes the pieces to fd in order with writev, going on after signals and short writes; pieces
// may be empty. Returns 0 or the errno; written tells how many bytes went out either way.
int WritePieces(int fd, iovec* pieces, int count, size_t& written) {
  written = 0;
  while (count > 0) {
    if (pieces->iov_len == 0) {
      ++pieces;
      --count;
      continue;
    }
    const ssize_t n = writev(fd, pieces, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    written += static_cast<size_t>(n);
    // Skips what went out: whole pieces, then the written part of the next one.
    size_t left = static_cast<size_t>(n);
    while (count > 0 && left >= pieces->iov_len) {
      left -= pieces->iov_len;
      ++pieces;
      --count;
    }
    if (left > 0) {
      pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
      pieces->iov_len -= left;
    }
  }
  return 0;
}

iovec Piece(std::string_view s) {
  return iovec{const_cast<char*>(s.data()), s.size()};
}

[[noreturn]] void ThrowInOutError(int err) {
  throw EInOutError(InOutErrorText(err), err);
}

// 0 when fd is a plain file; else EISDIR for a folder, EINVAL for any other kind (a FIFO, a
// device, a socket), or the errno of the look. Asks for the type alone: about half what a full
// fstat costs, which counts on every record.
int PlainFileCheck(int fd) {
  struct statx st;
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE, &st) != 0) return errno;
  if (S_ISREG(st.stx_mode)) return 0;
  return S_ISDIR(st.stx_mode) ? EISDIR : EINVAL;
}

// The body of AppendToFile and AppendLineToFile: header holds the pieces a new file starts with,
// data those of the entry. REQUIRES: headerCount + dataCount <= 4.
void AppendPieces(std::string_view path, iovec* header, int headerCount, iovec* data,
                  int dataCount) {
  // The path as a C text, in a buffer each thread keeps (no allocation per append).
  thread_local std::string p;
  if (!ToCPath(path, p)) ThrowInOutError(ENOENT);
  // O_NONBLOCK: a FIFO or device at the name must not hold the open (a FIFO without a reader
  // fails it with ENXIO); whatever opens is refused below unless it is a plain file, which
  // ignores the flag. One look at the type per append, none for a file this call made.
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  // The file exists at every call but the first of its day: it is opened as it is first, so that
  // call costs one lookup of the path. A missing file is created exclusively (only its creator
  // writes the header); when another writer made it in between, it is opened as it is again.
  bool created = false;
  int fd = open(p.c_str(), flags);
  for (int attempt = 0; fd < 0 && errno == ENOENT && attempt < 3; ++attempt) {
    fd = open(p.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      created = true;
      break;
    }
    if (errno != EEXIST) break;
    fd = open(p.c_str(), flags);
  }
  if (fd < 0) ThrowInOutError(errno == ENXIO ? EINVAL : errno);
  if (const int err = created ? 0 : PlainFileCheck(fd); err != 0) {
    close(fd);
    ThrowInOutError(err);
  }
  // The header's pieces come first in the same array, so header and entry go out in one call.
  iovec pieces[4];
  int count = 0;
  if (created)
    for (int i = 0; i < headerCount; ++i)
      pieces[count++] = header[i];
  for (int i = 0; i < dataCount; ++i)
    pieces[count++] = data[i];
  size_t written = 0;
  const int err = WritePieces(fd, pieces, count, written);
  if (err != 0) {
    // No half entry stays behind for a reader (or the next entry) to trip over; a file made by
    // this call goes again, so the next call writes its header. The old length is the end less
    // what this call appended (found only on this path: no stat on every call).
    if (created) {
      unlink(p.c_str());
    } else {
      const off_t end = lseek(fd, 0, SEEK_END);
      if (end >= static_cast<off_t>(written))
        (void)!ftruncate(fd, end - static_cast<off_t>(written));
    }
    close(fd);
    ThrowInOutError(err);
  }
  if (close(fd) != 0 && errno != EINTR) ThrowInOutError(errno);
}

}  // namespace

void AppendToFile(std::string_view path, std::string_view header, std::string_view data) {
  iovec head[] = {Piece(header)};
  iovec entry[] = {Piece(data)};
  AppendPieces(path, head, 1, entry, 1);
}

void AppendLineToFile(std::string_view path, std::string_view headerLine, std::string_view line,
                      std::string_view lineEnd) {
  iovec head[] = {Piece(headerLine), Piece(headerLine.empty() ? std::string_view() : lineEnd)};
  iovec entry[] = {Piece(line), Piece(lineEnd)};
  AppendPieces(path, head, 2, entry, 2);
}

// ---- whole-file reads, the append file, the read stream ----

namespace {

// Opens path for reading, following links, refusing anything but a plain file (PlainFileCheck);
// the descriptor or -errno. The open never waits on a FIFO or device (O_NONBLOCK, taken off again
// for the plain file).
int OpenForReading(std::string_view path) {
  std::string p;
  if (!ToCPath(path, p)) return -ENOENT;
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -errno;
  int err = PlainFileCheck(fd);
  if (err == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) err = errno;
  if (err == 0) return fd;
  close(fd);
  return -err;
}

// read() going on after signals: bytes read (0 at the end) or -errno.
ssize_t ReadSome(int fd, char* buffer, size_t len) {
  while (true) {
    const ssize_t n = read(fd, buffer, len);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

}  // namespace

int ReadWholeFile(std::string_view path, std::string& out) {
  out.clear();
  const int fd = OpenForReading(path);
  if (fd < 0) return -fd;
  // The size is only a hint (files in /proc say 0, a file may grow): reading goes on to the end.
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buffer[16384];
  int err = 0;
  while (true) {
    const ssize_t n = ReadSome(fd, buffer, sizeof buffer);
    if (n < 0) err = static_cast<int>(-n);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (err != 0) out.clear();
  return err;
}

TAppendFile::~TAppendFile() {
  Close();
}

TAppendFile::TAppendFile(TAppendFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

TAppendFile& TAppendFile::operator=(TAppendFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int TAppendFile::Open(std::string_view path, TOpenMode mode) {
  Close();
  std::string p;
  if (!ToCPath(path, p)) return ENOENT;
  int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  if (mode == TOpenMode::Overwrite) flags |= O_TRUNC;
  const int fd = open(p.c_str(), flags, 0666);
  if (fd < 0) return errno;
  fd_ = fd;
  return 0;
}

int TAppendFile::WriteLine(std::string_view text, std::string_view lineEnd) {
  if (fd_ < 0) return EBADF;
  iovec pieces[] = {Piece(text), Piece(lineEnd)};
  size_t written;
  return WritePieces(fd_, pieces, 2, written);
}

void TAppendFile::Close() {
  if (fd_ < 0) return;
  // Nothing is kept back in memory, so a failing close loses nothing that was reported written.
  close(fd_);
  fd_ = -1;
}

class TFileReadStream::TBuffer : public std::streambuf {
 public:
  ~TBuffer() override {
    if (fd_ >= 0) close(fd_);
  }
  int Open(std::string_view path) {
    const int fd = OpenForReading(path);
    if (fd < 0) return -fd;
    fd_ = fd;
    return 0;
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    const ssize_t n = fd_ < 0 ? -EBADF : ReadSome(fd_, data_, sizeof data_);
    // The stream catches this and sets its badbit.
    if (n < 0) throw std::ios_base::failure("read error");
    setg(data_, data_, data_ + n);
    return n == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
  }

 private:
  int fd_ = -1;
  char data_[16384];
};

TFileReadStream::TFileReadStream() : std::istream(nullptr), buffer_(std::make_unique<TBuffer>()) {
  rdbuf(buffer_.get());
}

TFileReadStream::~TFileReadStream() = default;

int TFileReadStream::Open(std::string_view path) {
  const int err = buffer_->Open(path);
  if (err != 0) setstate(std::ios_base::failbit);
  return err;
}

}  // namespace rtl
