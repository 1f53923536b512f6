#include "net/mail/pop3lines.h"

#include <cstring>

namespace net::mail {

char* TPop3LineSplitter::WritePos() {
  if (start_ > 0) {
    std::memmove(buf_, buf_ + start_, static_cast<size_t>(held_));
    start_ = 0;
  }
  return buf_ + held_;
}

bool TPop3LineSplitter::NextLine(std::string& line, bool& continuation) {
  for (;;) {
    const char* p = buf_ + start_;
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(held_));
    if (lf) {
      const int end = static_cast<int>(static_cast<const char*>(lf) - p);
      const int len = end > 0 && p[end - 1] == '\r' ? end - 1 : end;
      continuation = cut_;
      cut_ = false;
      line.assign(p, static_cast<size_t>(len));
      Consume(end + 1);
      if (continuation && line.empty()) continue;  // the cut line ended right at the cut
      return true;
    }
    if (held_ < kPop3LineCut) return false;
    // Full without a line end: cut. A CR at the cut may belong to the line end, so it stays.
    const int len = p[kPop3LineCut - 1] == '\r' ? kPop3LineCut - 1 : kPop3LineCut;
    continuation = cut_;
    cut_ = true;
    line.assign(p, static_cast<size_t>(len));
    Consume(len);
    return true;
  }
}

void TPop3LineSplitter::Clear() {
  start_ = 0;
  held_ = 0;
  cut_ = false;
}

void TPop3LineSplitter::Consume(int n) {
  start_ += n;
  held_ -= n;
  if (held_ == 0) start_ = 0;
}

}  // namespace net::mail
