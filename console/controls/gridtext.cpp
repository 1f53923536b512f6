#include "console/controls/gridtext.h"

#include <charconv>

#include "rtl/cp932.h"
#include "rtl/exception.h"

namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';

// Bytes 0-32: blanks and control characters, which end an unquoted item.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// A line must be quoted when one of its characters starts with a blank, a quote or a comma, or
// when it ends in a lone lead byte: unquoted, that byte would pair with the comma after it when
// read back, quoted with the closing quote (which the reader takes byte by byte).
bool NeedsQuotes(std::string_view line) {
  for (size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (IsBlank(c) || c == kQuote || c == kComma) return true;
    const size_t n = rtl::CharLength(line, i);
    if (n == 1 && i + 1 == line.size() && rtl::IsLeadByte(static_cast<unsigned char>(c)))
      return true;
    i += n;
  }
  return false;
}

void AppendItem(std::string& out, std::string_view line) {
  if (!NeedsQuotes(line)) {
    out.append(line);
    return;
  }
  // Every quote byte is doubled, also one after a lead byte: the reader takes a quoted item byte
  // by byte, since no trail byte of CP932 is a quote.
  out += kQuote;
  for (char c : line) {
    out += c;
    if (c == kQuote) out += kQuote;
  }
  out += kQuote;
}

bool ParseInt32(std::string_view text, int32_t& value) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

}  // namespace

std::string LinesToCommaText(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    // A CR ends the line first; only a text without CR is cut at its LFs.
    size_t brk = text.find('\r');
    if (brk == std::string_view::npos) brk = text.find('\n');
    if (brk == std::string_view::npos) {
      AppendItem(out, text);
      break;
    }
    AppendItem(out, text.substr(0, brk));
    out += kComma;
    const bool crlf = text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n';
    text.remove_prefix(brk + (crlf ? 2 : 1));
  }
  return out;
}

std::string CommaTextToLines(std::string_view s) {
  std::string out;
  size_t i = 0;
  const size_t n = s.size();
  auto skipBlanks = [&] {
    while (i < n && IsBlank(s[i]))
      ++i;
  };
  skipBlanks();
  while (i < n) {
    if (s[i] == kQuote) {
      ++i;
      while (i < n) {
        if (s[i] == kQuote) {
          if (i + 1 < n && s[i + 1] == kQuote) {
            out += kQuote;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += s[i++];
      }
    } else {
      const size_t begin = i;
      while (i < n && !IsBlank(s[i]) && s[i] != kComma)
        i += rtl::CharLength(s, i);
      out.append(s.substr(begin, i - begin));
    }
    skipBlanks();
    if (i < n && s[i] == kComma) {
      out += "\r\n";
      ++i;
      skipBlanks();
    }
  }
  return out;
}

int32_t StrToIntLenient(std::string_view text) {
  const std::string trimmed = rtl::Trim(text);
  int32_t value = 0;
  if (ParseInt32(trimmed, value)) return value;
  size_t digits = 0;
  while (digits < trimmed.size() && IsDigitChar(trimmed[digits]))
    ++digits;
  if (digits == 0) return 0;
  const std::string_view run = std::string_view(trimmed).substr(0, digits);
  if (!ParseInt32(run, value))
    throw rtl::EConvertError("'" + std::string(run) + "' is not a valid integer value");
  return value;
}
