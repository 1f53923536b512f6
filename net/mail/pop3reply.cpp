#include "net/mail/pop3reply.h"

#include <climits>

#include "rtl/crypto.h"

namespace net::mail {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Index of the first digit at or after from, or text.size().
size_t SkipToDigit(std::string_view text, size_t from) {
  while (from < text.size() && !IsDigit(text[from]))
    ++from;
  return from;
}

size_t SkipDigits(std::string_view text, size_t from) {
  while (from < text.size() && IsDigit(text[from]))
    ++from;
  return from;
}

}  // namespace

bool Pop3Positive(std::string_view reply) {
  return !reply.empty() && reply[0] == '+';
}

int Pop3ReadNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  long long n = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > INT_MAX) n = INT_MAX;  // stays there: the rest of the digits cannot lower it
  }
  return static_cast<int>(n);
}

bool Pop3TwoNumbers(std::string_view text, int& first, int& second) {
  first = second = 0;
  size_t i = SkipToDigit(text, 0);
  if (i >= text.size()) return false;
  const int a = Pop3ReadNumber(text.substr(i));
  i = SkipDigits(text, i);
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  if (i >= text.size()) return false;
  first = a;
  second = Pop3ReadNumber(text.substr(i));
  return true;
}

bool Pop3NumberAndId(std::string_view text, int& number, std::string& id) {
  number = 0;
  id.clear();
  size_t i = SkipToDigit(text, 0);
  if (i >= text.size()) return false;
  number = Pop3ReadNumber(text.substr(i));
  i = SkipDigits(text, i);
  while (i < text.size() && text[i] == ' ')
    ++i;
  const size_t start = i;
  while (i < text.size() && text[i] >= '!' && text[i] <= '~')
    ++i;
  id.assign(text.substr(start, i - start));
  return true;
}

std::string Pop3GreetingTimestamp(std::string_view greeting) {
  const size_t open = greeting.find('<');
  if (open == std::string_view::npos) return std::string();
  const size_t close = greeting.find('>', open);
  if (close == std::string_view::npos) return std::string();
  return std::string(greeting.substr(open, close - open + 1));
}

std::string Pop3ApopDigest(std::string_view timestamp, std::string_view password) {
  std::string text(timestamp);
  text.append(password);
  return rtl::HexLower(rtl::Md5(text));
}

std::string Pop3CramAnswer(TPop3Cram kind, std::string_view challengeReply, std::string_view user,
                           std::string_view password) {
  return CramAnswer(kind, challengeReply.size() > 2 ? challengeReply.substr(2) : std::string_view(),
                    user, password);
}

}  // namespace net::mail
