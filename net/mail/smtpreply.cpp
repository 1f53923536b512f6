#include "net/mail/smtpreply.h"

#include "net/mail/smtplimits.h"

TSmtpReplyCode ReadSmtpReplyCode(std::string_view line) {
  size_t i = 0;
  while (i < line.size() &&
         (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
    ++i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  int value = 0;
  bool digits = false;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    digits = true;
    // Past the largest code the value only has to stay out of range.
    if (value <= kSmtpMaxReplyCode) value = value * 10 + (line[i] - '0');
  }
  TSmtpReplyCode r;
  r.Continued = i < line.size() && line[i] == '-';
  r.Code = digits && value >= 1 && value <= kSmtpMaxReplyCode ? value : kSmtpNoReplyCode;
  return r;
}
