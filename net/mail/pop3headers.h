// The header fields the POP3 client picks out of the lines of a retrieved message, and the
// scanner that fills them line by line until the empty line that ends a message's header.
// Values owned by the component that holds them; one thread.
#pragma once

#include <string>
#include <string_view>

namespace net::mail {

// The nine fields, each kept to at most kPop3HeaderValueLimit bytes. The POP3 component derives
// from this struct, so they are its public fields.
struct TPop3HeaderFields {
  std::string HeaderFrom;
  std::string HeaderTo;
  std::string HeaderSubject;
  std::string HeaderDate;
  std::string HeaderMessageId;
  std::string HeaderReplyTo;
  std::string HeaderInReplyTo;
  std::string HeaderReturnPath;
  std::string HeaderCc;  // every Cc line, joined without a separator

  void ClearHeaderFields();
};

// Reads header lines:
// - a line that starts with TAB or blank continues the previous header: its text from the second
//   byte is appended, without a separator, to that header's field (when it has one);
// - another line with ":" starts a header: its key is the text before the first ":", trimmed and
//   lower-cased; its value starts after the ":" and one blank if there is one. "from", "to",
//   "subject", "date", "message-id", "reply-to", "in-reply-to" and "return-path" set their field,
//   "cc" is appended to HeaderCc, any other key is only remembered (its continuations are
//   dropped);
// - a line without ":" is ignored;
// - the first empty line ends the header part.
class TPop3HeaderScanner {
 public:
  // A new message begins: the header part is on and no header is current.
  void Start();
  // Whether lines are still header lines.
  bool InHeader() const { return inHeader_; }
  // Scans one line of the header part into fields. Returns true when it was the empty line that
  // ends the header part. REQUIRES: InHeader().
  bool Scan(std::string_view line, TPop3HeaderFields& fields);

 private:
  // The field of the current key, or null when the key has none.
  std::string* CurrentField(TPop3HeaderFields& fields) const;

  bool inHeader_ = false;
  std::string key_;
};

}  // namespace net::mail
