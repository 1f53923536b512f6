#include "net/ftp/ftpstream.h"

#include <algorithm>
#include <cstring>

#include "rtl/exception.h"

namespace {

[[noreturn]] void Fail(int err) {
  throw rtl::EInOutError(rtl::fs::ErrorText(err), err);
}

}  // namespace

int64_t TFtpMemoryStream::Read(void* buffer, int64_t len) {
  if (len <= 0 || pos_ >= data_.size()) return 0;
  const size_t n = std::min(static_cast<size_t>(len), data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return static_cast<int64_t>(n);
}

void TFtpMemoryStream::Write(const void* data, int64_t len) {
  if (len <= 0) return;
  const auto n = static_cast<size_t>(len);
  if (pos_ > data_.size()) data_.resize(pos_, '\0');
  data_.replace(pos_, std::min(n, data_.size() - pos_), static_cast<const char*>(data), n);
  pos_ += n;
}

int64_t TFtpMemoryStream::Seek(int64_t pos) {
  pos_ = static_cast<size_t>(std::max<int64_t>(0, pos));
  return static_cast<int64_t>(pos_);
}

TFtpFileStream::TFtpFileStream(const std::string& path, rtl::fs::TOpenMode mode) {
  if (int err = file_.Open(path, mode)) Fail(err);
}

int64_t TFtpFileStream::Read(void* buffer, int64_t len) {
  const int64_t n = file_.Read(buffer, len);
  if (n < 0) Fail(static_cast<int>(-n));
  return n;
}

void TFtpFileStream::Write(const void* data, int64_t len) {
  if (int err = file_.Write(data, len)) Fail(err);
}

int64_t TFtpFileStream::Seek(int64_t pos) {
  const int64_t r = file_.Seek(pos);
  if (r < 0) Fail(static_cast<int>(-r));
  return r;
}

int64_t TFtpFileStream::Size() {
  const int64_t r = file_.Size();
  if (r < 0) Fail(static_cast<int>(-r));
  return r;
}

void TFtpFileStream::Close() {
  if (!file_.IsOpen()) return;
  if (int err = file_.Close()) Fail(err);
}
