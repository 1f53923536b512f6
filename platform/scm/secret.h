// Passwords in memory. The copies of a password that scmd and the client side make while they
// work (a request's frame and its decoded values, a record's file text, the logon check's
// buffers) are wiped once used, so that neither a core file nor a later reader of freed memory
// finds them. The stored password itself lives in the service's record as long as the service.
// Pure functions on the caller's own text; safe from any thread.
#pragma once

#include <optional>
#include <string>

namespace scm {

// Zeroes every byte of the text's buffer, the unused capacity included, with a store the
// compiler keeps (explicit_bzero), and leaves the text empty. The buffer stays the text's.
void Wipe(std::string& text);
// A present text is wiped and stays present; an absent one is left alone.
void Wipe(std::optional<std::string>& text);

// Wipes a text when the scope ends, on every way out of it.
template <typename Text>
class WipeAtExit {
 public:
  explicit WipeAtExit(Text& text) : text_(text) {}
  ~WipeAtExit() { Wipe(text_); }
  WipeAtExit(const WipeAtExit&) = delete;
  WipeAtExit& operator=(const WipeAtExit&) = delete;

 private:
  Text& text_;
};

}  // namespace scm
