#include "rtl/cp932.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>

namespace rtl {

namespace {

constexpr bool IsBlank(unsigned char b) {
  return b <= 0x20;
}

constexpr char FoldUpper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
constexpr char FoldLower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

template <char (*Fold)(char)>
std::string FoldCase(std::string_view s) {
  std::string r(s);
  for (size_t i = 0; i < r.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(r[i]))) {
      ++i;  // leave the trail byte alone
      continue;
    }
    r[i] = Fold(r[i]);
  }
  return r;
}

// How a lossy conversion steps over input it cannot convert: one "?" stands for a whole character.
enum class Skip { Fail, Cp932Char, Utf8Char };

// Length of the character at the start of rest (not empty) that could not be converted.
size_t BadCharLength(std::string_view rest, Skip skip) {
  const unsigned char b = rest[0];
  size_t n = 1;
  if (skip == Skip::Cp932Char) {
    if (IsLeadByte(b) && rest.size() >= 2) {
      const unsigned char t = rest[1];
      if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC)) n = 2;
    }
  } else if (skip == Skip::Utf8Char && b >= 0xC2 && b <= 0xF4) {
    // A lead byte and the continuation bytes that follow it, at most four bytes in all.
    while (n < rest.size() && n < 4 && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80)
      ++n;
  }
  return n;
}

// One iconv conversion. Unless skip is Fail, input that cannot be converted is replaced by "?"
// (one per character) and conversion goes on; with Fail the conversion fails.
bool Convert(const char* from, const char* to, std::string_view in, std::string& out, Skip skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  char* inp = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char buf[4096];
  bool ok = true;
  while (true) {
    char* outp = buf;
    size_t outLeft = sizeof buf;
    size_t r = iconv(cd, inLeft ? &inp : nullptr, &inLeft, &outp, &outLeft);
    out.append(buf, sizeof buf - outLeft);
    if (r != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // Flush any shift state.
        outp = buf;
        outLeft = sizeof buf;
        iconv(cd, nullptr, nullptr, &outp, &outLeft);
        out.append(buf, sizeof buf - outLeft);
        break;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    if ((errno == EILSEQ || errno == EINVAL) && skip != Skip::Fail && inLeft > 0) {
      out.push_back('?');
      size_t n = BadCharLength(std::string_view(inp, inLeft), skip);
      inp += n;
      inLeft -= n;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (inLeft == 0) break;
      continue;
    }
    ok = false;
    break;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

bool IsTrailByteAt(std::string_view s, size_t i) {
  if (i >= s.size()) return false;
  size_t k = 0;
  while (k < i)
    k += IsLeadByte(static_cast<unsigned char>(s[k])) ? 2 : 1;
  return k == i + 1;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b]))
    ++b;
  while (e > b && IsBlank(s[e - 1]))
    --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b]))
    ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1]))
    --e;
  return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
  return FoldCase<FoldUpper>(s);
}
std::string LowerCase(std::string_view s) {
  return FoldCase<FoldLower>(s);
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  bool trail = false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = a[i], y = b[i];
    if (!trail) {
      x = static_cast<unsigned char>(FoldUpper(static_cast<char>(x)));
      y = static_cast<unsigned char>(FoldUpper(static_cast<char>(y)));
    }
    if (x != y) return x < y ? -1 : 1;
    trail = !trail && IsLeadByte(static_cast<unsigned char>(a[i]));
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareStr(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool IconvConvert(const char* fromCode, const char* toCode, std::string_view in, std::string& out) {
  return Convert(fromCode, toCode, in, out, Skip::Fail);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  std::string out;
  Convert("CP932", "UTF-8", cp932, out, Skip::Cp932Char);
  return out;
}

std::string Utf8ToCp932(std::string_view utf8) {
  std::string out;
  Convert("UTF-8", "CP932", utf8, out, Skip::Utf8Char);
  return out;
}

}  // namespace rtl
