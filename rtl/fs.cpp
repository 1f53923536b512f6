#include "rtl/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace rtl::fs {

namespace {

// Paths arrive as views; the system wants NUL-terminated text. A path holding a NUL byte would be
// cut short by the system, so it is refused instead of naming something else.
bool ToCPath(std::string_view path, std::string& out) {
  if (path.find('\0') != std::string_view::npos) return false;
  out.assign(path.data(), path.size());
  return true;
}

void FillInfo(const struct stat& st, TFileInfo& info) {
  if (S_ISREG(st.st_mode))
    info.Kind = TFileKind::Regular;
  else if (S_ISDIR(st.st_mode))
    info.Kind = TFileKind::Directory;
  else if (S_ISLNK(st.st_mode))
    info.Kind = TFileKind::Symlink;
  else
    info.Kind = TFileKind::Other;
  info.Size = static_cast<int64_t>(st.st_size);
  info.MTime = static_cast<int64_t>(st.st_mtim.tv_sec);
  info.CTime = static_cast<int64_t>(st.st_ctim.tv_sec);
  info.Mode = static_cast<uint32_t>(st.st_mode & 07777);
  info.Writable = (st.st_mode & S_IWUSR) != 0;
}

}  // namespace

int LStat(std::string_view path, TFileInfo& info) {
  info = TFileInfo{};
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  FillInfo(st, info);
  return 0;
}

int RealPath(std::string_view path, std::string& out) {
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  char* r = ::realpath(p.c_str(), nullptr);
  if (!r) return errno;
  out = r;
  std::free(r);
  return 0;
}

int ListDirectory(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    int e = errno;
    ::close(fd);
    return e;
  }
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  int err = errno;
  ::closedir(d);
  return err;
}

int SetModificationTime(std::string_view path, int64_t epochSeconds) {
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(epochSeconds);
  times[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  return 0;
}

int MakeDirectory(std::string_view path) {
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  return ::mkdir(p.c_str(), 0777) == 0 ? 0 : errno;
}

int RemoveDirectory(std::string_view path) {
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  return ::rmdir(p.c_str()) == 0 ? 0 : errno;
}

int DeleteFile(std::string_view path) {
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  return ::unlink(p.c_str()) == 0 ? 0 : errno;
}

int Rename(std::string_view from, std::string_view to) {
  std::string f, t;
  if (!ToCPath(from, f) || !ToCPath(to, t)) return EINVAL;
  return ::rename(f.c_str(), t.c_str()) == 0 ? 0 : errno;
}

int64_t DescriptorLimit() {
  struct rlimit rl;
  if (::getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return 1024;
  return static_cast<int64_t>(rl.rlim_cur);
}

int64_t RaiseDescriptorLimit() {
  struct rlimit rl;
  if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &rl);
  }
  return DescriptorLimit();
}

void UseSharedFileMask() {
  ::umask(kSharedFileMask);
}

int64_t OpenDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int64_t count = 0;
  while (const dirent* e = ::readdir(dir))
    if (e->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;
}

std::string ErrorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which need not be in buf.
  const char* text = ::strerror_r(err, buf, sizeof buf);
  return text ? text : "Unknown error " + std::to_string(err);
}

// ---- TFile ----

TFile::~TFile() {
  Close();
}

TFile::TFile(TFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int TFile::Open(std::string_view path, TOpenMode mode) {
  Close();
  std::string p;
  if (!ToCPath(path, p)) return EINVAL;
  // O_NONBLOCK keeps the open itself from waiting on a FIFO or device; such a file is refused
  // below, and a plain file ignores the flag.
  int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case TOpenMode::Read:
      flags |= O_RDONLY;
      break;
    case TOpenMode::Write:
      flags |= O_WRONLY;
      break;
    case TOpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case TOpenMode::Create:
      // Not O_TRUNC here: a FIFO or device must not be touched before it is recognised.
      flags |= O_WRONLY | O_CREAT;
      break;
    case TOpenMode::CreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      break;
  }
  int fd = ::open(p.c_str(), flags, 0666);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return e;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (mode == TOpenMode::Create && ::ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    return e;
  }
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  fd_ = fd;
  return 0;
}

int64_t TFile::Read(void* buffer, int64_t len) {
  if (fd_ < 0) return -EBADF;
  while (true) {
    ssize_t n = ::read(fd_, buffer, static_cast<size_t>(len));
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

int TFile::Write(const void* data, int64_t len) {
  if (fd_ < 0) return EBADF;
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = ::write(fd_, p, static_cast<size_t>(len));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    len -= n;
  }
  return 0;
}

int64_t TFile::Seek(int64_t offset) {
  if (fd_ < 0) return -EBADF;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
  return r < 0 ? -errno : static_cast<int64_t>(r);
}

int64_t TFile::Size() const {
  if (fd_ < 0) return -EBADF;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -errno;
  return static_cast<int64_t>(st.st_size);
}

int TFile::Stat(TFileInfo& info) const {
  info = TFileInfo{};
  if (fd_ < 0) return EBADF;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errno;
  FillInfo(st, info);
  return 0;
}

int TFile::Close() {
  if (fd_ < 0) return 0;
  int r = ::close(fd_);
  fd_ = -1;
  // The descriptor is gone even when close reports an error; EINTR is not a failure of the data.
  return r == 0 || errno == EINTR ? 0 : errno;
}

}  // namespace rtl::fs
