#include "net/ftp/ftpmd5.h"

#include <algorithm>
#include <memory>

#include "rtl/exception.h"
#include "rtl/fs.h"

void MD5UpdateBuffer(rtl::Digest& context, const void* buffer, size_t len) {
  const char* p = static_cast<const char*>(buffer);
  while (len > 0) {
    const size_t n = std::min(len, kFtpMd5BlockSize);
    context.Update(p, n);
    p += n;
    len -= n;
  }
}

std::string HexUpper(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string BufferMD5Hex(const void* buffer, size_t len) {
  rtl::Digest md5(rtl::DigestKind::Md5);
  MD5UpdateBuffer(md5, buffer, len);
  return HexUpper(md5.Final());
}

std::string StrMD5Hex(std::string_view s) {
  return BufferMD5Hex(s.data(), s.size());
}

std::string FileMD5Hex(const std::string& path) {
  TFileMd5 job(path);
  while (!job.Step(INT64_MAX)) {
  }
  return job.Hex();
}

TFileMd5::TFileMd5(const std::string& path) : block_(new char[kFtpFileMd5ReadSize]) {
  if (int err = file_.Open(path, rtl::fs::TOpenMode::Read))
    throw rtl::EInOutError(rtl::fs::ErrorText(err), err);
}

bool TFileMd5::Step(int64_t maxBytes) {
  int64_t taken = 0;
  while (!done_) {
    const int64_t n = file_.Read(block_.get(), kFtpFileMd5ReadSize);
    if (n < 0)
      throw rtl::EInOutError(rtl::fs::ErrorText(static_cast<int>(-n)), static_cast<int>(-n));
    if (n == 0) {
      done_ = true;
      file_.Close();
      break;
    }
    MD5UpdateBuffer(md5_, block_.get(), static_cast<size_t>(n));
    taken += n;
    if (taken >= maxBytes) break;
  }
  return done_;
}

std::string TFileMd5::Hex() {
  return HexUpper(md5_.Final());
}
