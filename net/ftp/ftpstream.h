// The streams a transfer reads or writes (a session's DataStream): a file opened through the
// run-time's file layer (never through a symbolic link, never a special file) or a listing built
// in memory. Failures raise rtl::EInOutError with the system's text. A stream belongs to one
// session and is used on its thread.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/fs.h"

class TFtpStream {
 public:
  TFtpStream() = default;
  TFtpStream(const TFtpStream&) = delete;
  TFtpStream& operator=(const TFtpStream&) = delete;
  virtual ~TFtpStream() = default;

  // Up to len bytes into buffer; the count, 0 at the end.
  virtual int64_t Read(void* buffer, int64_t len) = 0;
  // All len bytes.
  virtual void Write(const void* data, int64_t len) = 0;
  // Moves to pos from the start; the new position.
  virtual int64_t Seek(int64_t pos) = 0;
  virtual int64_t Size() = 0;
  // Ends the use of the stream; a file is closed, and a failure to close it (data that could not
  // be written after all) raises. Nothing may be read or written afterwards.
  virtual void Close() {}
};

// A stream over bytes held in memory.
class TFtpMemoryStream : public TFtpStream {
 public:
  int64_t Read(void* buffer, int64_t len) override;
  void Write(const void* data, int64_t len) override;
  int64_t Seek(int64_t pos) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  size_t pos_ = 0;
};

// A stream over a plain file. Open raises rtl::EInOutError when the file cannot be opened in that
// mode (see rtl::fs::TFile::Open for what is refused).
class TFtpFileStream : public TFtpStream {
 public:
  TFtpFileStream(const std::string& path, rtl::fs::TOpenMode mode);
  int64_t Read(void* buffer, int64_t len) override;
  void Write(const void* data, int64_t len) override;
  int64_t Seek(int64_t pos) override;
  int64_t Size() override;
  void Close() override;

 private:
  rtl::fs::TFile file_;
};
