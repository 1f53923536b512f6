#include "net/mail/jcode.h"

#include "net/mail/base64.h"
#include "rtl/cp932.h"

namespace net::mail {

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr char kEnterDbcs[] = "\x1b$B";
constexpr char kLeaveDbcs[] = "\x1b(J";
constexpr char kEndDbcs[] = "\x1b(B";
constexpr TBytePair kGeta = {0x22, 0x2E};  // stands for a character that cannot be converted
constexpr size_t kBinaryWindow = 512;

// Full-width JIS forms of the half-width katakana 0xA1..0xDF.
constexpr TBytePair kKana[0xDF - 0xA1 + 1] = {
    {0x21, 0x23}, {0x21, 0x56}, {0x21, 0x57}, {0x21, 0x22}, {0x21, 0x26}, {0x25, 0x72},
    {0x25, 0x21}, {0x25, 0x23}, {0x25, 0x25}, {0x25, 0x27}, {0x25, 0x29}, {0x25, 0x63},
    {0x25, 0x65}, {0x25, 0x67}, {0x25, 0x43}, {0x21, 0x3C}, {0x25, 0x22}, {0x25, 0x24},
    {0x25, 0x26}, {0x25, 0x28}, {0x25, 0x2A}, {0x25, 0x2B}, {0x25, 0x2D}, {0x25, 0x2F},
    {0x25, 0x31}, {0x25, 0x33}, {0x25, 0x35}, {0x25, 0x37}, {0x25, 0x39}, {0x25, 0x3B},
    {0x25, 0x3D}, {0x25, 0x3F}, {0x25, 0x41}, {0x25, 0x44}, {0x25, 0x46}, {0x25, 0x48},
    {0x25, 0x4A}, {0x25, 0x4B}, {0x25, 0x4C}, {0x25, 0x4D}, {0x25, 0x4E}, {0x25, 0x4F},
    {0x25, 0x52}, {0x25, 0x55}, {0x25, 0x58}, {0x25, 0x5B}, {0x25, 0x5E}, {0x25, 0x5F},
    {0x25, 0x60}, {0x25, 0x61}, {0x25, 0x62}, {0x25, 0x64}, {0x25, 0x66}, {0x25, 0x68},
    {0x25, 0x69}, {0x25, 0x6A}, {0x25, 0x6B}, {0x25, 0x6C}, {0x25, 0x6D}, {0x25, 0x6F},
    {0x25, 0x73}, {0x21, 0x2B}, {0x21, 0x2C},
};

constexpr bool In(unsigned b, unsigned lo, unsigned hi) {
  return b >= lo && b <= hi;
}
constexpr bool IsHalfKana(unsigned b) {
  return In(b, 0xA1, 0xDF);
}
constexpr bool IsJisByte(unsigned b) {
  return In(b, 0x21, 0x7E);
}

unsigned At(std::string_view s, size_t i) {
  return static_cast<unsigned char>(s[i]);
}

void Put(std::string& out, TBytePair p) {
  out += static_cast<char>(p.b1);
  out += static_cast<char>(p.b2);
}

// The full-width form of kana k, joined with mark when they combine (mark 0 for none). Sets
// used when the mark was taken.
TBytePair KanaToJis(unsigned k, unsigned mark, bool& used) {
  used = false;
  if (!IsHalfKana(k)) return kGeta;
  TBytePair p = kKana[k - 0xA1];
  if (k == 0xB3 && mark == 0xDE) {
    used = true;
    return {0x25, 0x74};  // voiced u
  }
  if (In(k, 0xB6, 0xC4) && mark == 0xDE) {
    used = true;
    p.b2 += 1;
  } else if (In(k, 0xCA, 0xCE) && (mark == 0xDE || mark == 0xDF)) {
    used = true;
    p.b2 += mark == 0xDE ? 1 : 2;
  }
  return p;
}

// Reads the escape sequence at i (text[i] is ESC) and sets the mode it selects. Returns false,
// leaving i alone, when the sequence is cut off by the end of text.
bool ReadEscape(std::string_view text, size_t& i, bool& dbcs) {
  if (text.size() - i < 3) return false;
  if (text[i + 1] == '$')
    dbcs = true;
  else if (text[i + 1] == '(')
    dbcs = false;
  i += 3;
  return true;
}

// Shared body of the two 8-bit to JIS writers; Pair converts the double-byte character at i
// (advancing i) and returns false when it is cut off by the end of text.
template <typename Pair>
std::string ToJis(std::string_view text, Pair pair) {
  std::string out;
  bool dbcs = false;
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    if (c < 0x80) {
      if (dbcs) {
        out += kLeaveDbcs;
        dbcs = false;
      }
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (!dbcs) {
      out += kEnterDbcs;
      dbcs = true;
    }
    TBytePair p;
    if (!pair(i, p)) break;
    Put(out, p);
  }
  if (dbcs) out += kEndDbcs;
  return out;
}

}  // namespace

int DetectJCode(std::string_view text) {
  const size_t n = text.size();
  const size_t window = n == 0 ? 0 : (n - 1 < kBinaryWindow ? n - 1 : kBinaryWindow);
  for (size_t i = 0; i < window; ++i) {
    unsigned b = At(text, i);
    if (b < 0x08 || b == 0xFF) return jcBinary;
  }

  int code = jcAscii;
  size_t i = 0;
  // i + 1 < n: the first byte is never the last byte of text, so b2 always exists.
  while ((code == jcAscii || code == jcEucOrSjis) && i + 1 < n) {
    unsigned b1 = At(text, i++);
    if (b1 == kEsc) {
      unsigned b2 = At(text, i++);
      if (b2 == '$' && i < n) {
        unsigned b3 = At(text, i++);
        if (b3 == 'B')
          code = jcJis;
        else if (b3 == '@')
          code = jcOldJis;
      }
    } else if (b1 < 0x08 || b1 == 0xFF) {
      code = jcBinary;
    } else if (b1 <= 0x7F) {
      // plain ASCII
    } else if (In(b1, 0x81, 0x8D) || In(b1, 0x8F, 0x9F)) {
      code = jcSjis;
    } else if (b1 == 0x8E) {
      unsigned b2 = At(text, i++);
      if (In(b2, 0x40, 0x7E) || In(b2, 0x80, 0xA0) || In(b2, 0xE0, 0xFC))
        code = jcSjis;
      else if (In(b2, 0xA1, 0xDF))
        code = jcEucOrSjis;
    } else if (In(b1, 0xA1, 0xDF)) {
      unsigned b2 = At(text, i++);
      if (In(b2, 0xF0, 0xFE)) {
        code = jcEuc;
      } else if (In(b2, 0xA1, 0xDF)) {
        code = jcEucOrSjis;
      } else if (In(b2, 0xE0, 0xEF)) {
        code = jcEucOrSjis;
        while (code == jcEucOrSjis && i < n && At(text, i) >= 0x40) {
          unsigned c = At(text, i++);
          if (In(c, 0x81, 0x8D) || In(c, 0x8F, 0x9C))
            code = jcSjis;
          else if (c == 0xFD || c == 0xFE)
            code = jcEuc;
        }
        if (code == jcEucOrSjis && i < n) ++i;  // the byte that stopped the run
      } else if (b2 <= 0x9F) {
        code = jcSjis;
      }
    } else if (In(b1, 0xF0, 0xFE)) {
      code = jcEuc;
    } else if (In(b1, 0xE0, 0xEF)) {
      unsigned b2 = At(text, i++);
      if (In(b2, 0x40, 0x7E) || In(b2, 0x80, 0xA0))
        code = jcSjis;
      else if (b2 == 0xFD || b2 == 0xFE)
        code = jcEuc;
      else if (In(b2, 0xA1, 0xFC))
        code = jcEucOrSjis;
    }
    // 0x80 and 0xA0 say nothing.
  }
  return code;
}

std::string ConvertJCode(std::string_view text, int target) {
  const int code = DetectJCode(text);
  if (code == jcAscii || code == jcBinary || code == target || code == jcEucOrSjis)
    return std::string(text);
  switch (target) {
    case jcJis:
      if (code == jcEuc) return EucToJis(text);
      if (code == jcSjis) return SjisToJis(text);
      break;
    case jcEuc:
      if (code == jcJis || code == jcOldJis) return JisToEuc(text);
      if (code == jcSjis) return SjisToEuc(text);
      break;
    case jcSjis:
      if (code == jcJis || code == jcOldJis) return JisToSjis(text);
      if (code == jcEuc) return EucToSjis(text);
      break;
    default:
      break;
  }
  return std::string(text);
}

std::string EncodeMimeHeaderJis(std::string_view text) {
  std::string out, single, run;
  auto flushRun = [&] {
    if (run.empty()) return;
    out += "=?ISO-2022-JP?B?" + JcBase64Encode(SjisToJis(run)) + "?=";
    run.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    // Half-width katakana go into the run too: as bare 8-bit bytes they would break the header.
    if (rtl::IsLeadByte(static_cast<unsigned char>(c)) || IsHalfKana(c)) {
      out += single;
      single.clear();
      size_t len = rtl::IsLeadByte(static_cast<unsigned char>(c)) ? 2 : 1;
      run += text.substr(i, len);
      i += len;
    } else {
      flushRun();
      single += static_cast<char>(c);
      ++i;
    }
  }
  flushRun();
  out += single;
  return out;
}

TBytePair JisToSjisPair(unsigned char j1, unsigned char j2) {
  unsigned s1 = ((j1 + 1u) >> 1) + (j1 > 0x5E ? 0xB0 : 0x70);
  unsigned s2 = (j1 & 1) == 0 ? j2 + 0x7Eu : (j2 < 0x60 ? j2 + 0x1Fu : j2 + 0x20u);
  return {static_cast<unsigned char>(s1), static_cast<unsigned char>(s2)};
}

TBytePair SjisToJisPair(unsigned char s1, unsigned char s2) {
  unsigned j1 = (s1 < 0xA0 ? 2u * s1 - 0xE0 : 2u * s1 - 0x60) & 0xFF;
  unsigned j2;
  if (s2 <= 0x9E) {
    j1 -= 1;
    j2 = s2 - (s2 >= 0x80 ? 0x20u : 0x1Fu);
  } else {
    j2 = s2 - 0x7Eu;
  }
  return {static_cast<unsigned char>(j1), static_cast<unsigned char>(j2)};
}

TBytePair EucKanaToJis(std::string_view text, size_t& pos) {
  if (pos + 1 >= text.size()) {
    pos = text.size();
    return kGeta;
  }
  unsigned k = At(text, pos + 1);
  pos += 2;
  unsigned mark = pos + 1 < text.size() && At(text, pos) == 0x8E ? At(text, pos + 1) : 0;
  bool used;
  TBytePair p = KanaToJis(k, mark, used);
  if (used) pos += 2;
  return p;
}

TBytePair SjisKanaToJis(std::string_view text, size_t& pos) {
  if (pos >= text.size()) return kGeta;
  unsigned k = At(text, pos++);
  unsigned mark = pos < text.size() ? At(text, pos) : 0;
  bool used;
  TBytePair p = KanaToJis(k, mark, used);
  if (used) ++pos;
  return p;
}

std::string JisToEuc(std::string_view text) {
  std::string out;
  bool dbcs = false;
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    if (c == kEsc) {
      if (!ReadEscape(text, i, dbcs)) break;
      continue;
    }
    out += static_cast<char>(dbcs && IsJisByte(c) ? c | 0x80 : c);
    ++i;
  }
  return out;
}

std::string JisToSjis(std::string_view text) {
  std::string out;
  bool dbcs = false;
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    if (c == kEsc) {
      if (!ReadEscape(text, i, dbcs)) break;
      continue;
    }
    if (dbcs && IsJisByte(c)) {
      if (i + 1 >= text.size()) break;
      unsigned c2 = At(text, i + 1);
      if (IsJisByte(c2)) {
        Put(out, JisToSjisPair(static_cast<unsigned char>(c), static_cast<unsigned char>(c2)));
        i += 2;
        continue;
      }
    }
    out += static_cast<char>(c);
    ++i;
  }
  return out;
}

std::string EucToJis(std::string_view text) {
  return ToJis(text, [&](size_t& i, TBytePair& p) {
    if (i + 1 >= text.size()) return false;
    if (At(text, i) == 0x8E) {
      p = EucKanaToJis(text, i);
    } else {
      p = {static_cast<unsigned char>(At(text, i) & 0x7F),
           static_cast<unsigned char>(At(text, i + 1) & 0x7F)};
      i += 2;
    }
    return true;
  });
}

std::string SjisToJis(std::string_view text) {
  return ToJis(text, [&](size_t& i, TBytePair& p) {
    unsigned c = At(text, i);
    if (IsHalfKana(c)) {
      p = SjisKanaToJis(text, i);
      return true;
    }
    if (i + 1 >= text.size()) return false;
    p = SjisToJisPair(static_cast<unsigned char>(c), static_cast<unsigned char>(At(text, i + 1)));
    i += 2;
    return true;
  });
}

std::string EucToSjis(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    if (c <= 0x80 || c == 0xFF) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) break;
    if (c == 0x8E) {
      out += text[i + 1];
    } else {
      Put(out, JisToSjisPair(static_cast<unsigned char>(c & 0x7F),
                             static_cast<unsigned char>(At(text, i + 1) & 0x7F)));
    }
    i += 2;
  }
  return out;
}

std::string SjisToEuc(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned c = At(text, i);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (IsHalfKana(c)) {
      out += '\x8E';
      out += static_cast<char>(c);
      ++i;
    } else {
      if (i + 1 >= text.size()) break;
      TBytePair p =
          SjisToJisPair(static_cast<unsigned char>(c), static_cast<unsigned char>(At(text, i + 1)));
      out += static_cast<char>(p.b1 | 0x80);
      out += static_cast<char>(p.b2 | 0x80);
      i += 2;
    }
  }
  return out;
}

std::string JcBase64Encode(std::string_view bytes) {
  return Base64Encode(bytes);
}

}  // namespace net::mail
