// MD5 digests as the FTP server shows them: the 16 digest bytes as 32 upper-case hexadecimal
// digits, first byte first. The digest itself is the run-time's (rtl::Digest over libcrypto).
// Plain functions, safe from any thread; a TFileMd5 belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/crypto.h"
#include "rtl/fs.h"

// Feeds len bytes of buffer to an MD5 context in blocks of at most kFtpMd5BlockSize bytes.
constexpr size_t kFtpMd5BlockSize = 16384;
void MD5UpdateBuffer(rtl::Digest& context, const void* buffer, size_t len);

// Upper-case hexadecimal of bytes.
std::string HexUpper(std::string_view bytes);

// The digest of len bytes at buffer, and of the bytes of s.
std::string BufferMD5Hex(const void* buffer, size_t len);
std::string StrMD5Hex(std::string_view s);

// Files are read in blocks of this size.
constexpr size_t kFtpFileMd5ReadSize = 102400;

// The digest of the plain file path, read from its start. A file that cannot be opened (missing,
// a folder, a link, a special file, no permission) or read raises rtl::EInOutError with the
// system's text and errno.
std::string FileMD5Hex(const std::string& path);

// The digest of a file computed a part at a time, so that a caller can do other work between the
// parts (the FTP server serves its other sessions). The file is opened by the constructor and
// read from its start in blocks of kFtpFileMd5ReadSize; failures raise rtl::EInOutError as for
// FileMD5Hex.
class TFileMd5 {
 public:
  explicit TFileMd5(const std::string& path);
  TFileMd5(const TFileMd5&) = delete;
  TFileMd5& operator=(const TFileMd5&) = delete;

  // Reads at least one block and at most about maxBytes more of the file; true once its end has
  // been reached (the digest is then ready).
  bool Step(int64_t maxBytes);
  // The 32 hexadecimal digits. REQUIRES: Step returned true.
  std::string Hex();

 private:
  rtl::fs::TFile file_;
  rtl::Digest md5_{rtl::DigestKind::Md5};
  std::unique_ptr<char[]> block_;
  bool done_ = false;
};
