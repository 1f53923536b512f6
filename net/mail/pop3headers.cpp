#include "net/mail/pop3headers.h"

#include <algorithm>

#include "net/mail/pop3limits.h"
#include "rtl/cp932.h"

namespace net::mail {

namespace {

// Appends text to field, up to the field's limit.
void AppendLimited(std::string& field, std::string_view text) {
  const size_t room =
      field.size() < kPop3HeaderValueLimit ? kPop3HeaderValueLimit - field.size() : 0;
  field.append(text.substr(0, std::min(room, text.size())));
}

}  // namespace

void TPop3HeaderFields::ClearHeaderFields() {
  for (std::string* f : {&HeaderFrom, &HeaderTo, &HeaderSubject, &HeaderDate, &HeaderMessageId,
                         &HeaderReplyTo, &HeaderInReplyTo, &HeaderReturnPath, &HeaderCc})
    f->clear();
}

void TPop3HeaderScanner::Start() {
  inHeader_ = true;
  key_.clear();
}

std::string* TPop3HeaderScanner::CurrentField(TPop3HeaderFields& fields) const {
  struct Entry {
    const char* key;
    std::string TPop3HeaderFields::*field;
  };
  static constexpr Entry kFields[] = {
      {"from", &TPop3HeaderFields::HeaderFrom},
      {"to", &TPop3HeaderFields::HeaderTo},
      {"subject", &TPop3HeaderFields::HeaderSubject},
      {"date", &TPop3HeaderFields::HeaderDate},
      {"message-id", &TPop3HeaderFields::HeaderMessageId},
      {"reply-to", &TPop3HeaderFields::HeaderReplyTo},
      {"in-reply-to", &TPop3HeaderFields::HeaderInReplyTo},
      {"return-path", &TPop3HeaderFields::HeaderReturnPath},
      {"cc", &TPop3HeaderFields::HeaderCc},
  };
  for (const Entry& e : kFields)
    if (key_ == e.key) return &(fields.*e.field);
  return nullptr;
}

bool TPop3HeaderScanner::Scan(std::string_view line, TPop3HeaderFields& fields) {
  if (line.empty()) {
    inHeader_ = false;
    return true;
  }
  if (line[0] == '\t' || line[0] == ' ') {
    if (std::string* field = CurrentField(fields)) AppendLimited(*field, line.substr(1));
    return false;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  key_ = rtl::LowerCase(rtl::Trim(line.substr(0, colon)));
  std::string_view value = line.substr(colon + 1);
  if (!value.empty() && value[0] == ' ') value.remove_prefix(1);
  if (std::string* field = CurrentField(fields)) {
    if (key_ != "cc") field->clear();
    AppendLimited(*field, value);
  }
  return false;
}

}  // namespace net::mail
