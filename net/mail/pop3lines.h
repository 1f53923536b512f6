// The POP3 client's receive buffer: it takes the bytes of each read and hands them back as
// lines, without their line ends (LF or CR LF). A line whose text is longer than kPop3LineCut
// bytes is handed back in pieces of at most kPop3LineCut bytes, so the buffer never grows: the
// first piece is the line's start and each further piece is marked as the continuation of a cut
// line. A line end that directly follows a cut gives no empty piece, and a CR at the place of a
// cut waits for the next read (it may be the start of the line end). One thread; owned by the
// component that reads.
#pragma once

#include <string>

#include "net/mail/pop3limits.h"

namespace net::mail {

class TPop3LineSplitter {
 public:
  // How many bytes the next read may bring (at least 1 whenever NextLine has returned false).
  int Room() const { return kPop3LineCut - held_; }
  // Where the next read writes its bytes (the bytes held move to the front first); then Commit
  // tells how many it wrote.
  char* WritePos();
  // REQUIRES: 0 <= n <= Room().
  void Commit(int n) { held_ += n; }

  // The next complete line, or a piece of a line that filled the buffer. False when the bytes
  // held are only the start of a line. continuation is true for a piece that continues a cut line
  // (up to and including the piece that ends that line).
  bool NextLine(std::string& line, bool& continuation);

  // Forgets every byte held (a new session).
  void Clear();
  int Held() const { return held_; }

 private:
  // Drops the first n bytes held.
  void Consume(int n);

  char buf_[kPop3ReceiveBufferSize];
  int start_ = 0;  // the bytes held are buf_[start_, start_ + held_)
  int held_ = 0;
  bool cut_ = false;  // the bytes held continue a line that was cut
};

}  // namespace net::mail
