// Code-page conversion through iconv. The whole text is converted in one call; only when that
// fails is it converted character by character, so that each bad character can be replaced.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win/codepage.h"
#include "rtl/cp932.h"

namespace {

constexpr char kUtf16[] = "UTF-16LE";

// The iconv name of a code page, or null for one we do not convert.
const char* IconvName(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_932:
      return "CP932";
    case CP_UTF8:
      return "UTF-8";
    default:
      return nullptr;
  }
}

std::u16string FromUtf16Bytes(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = char16_t(static_cast<unsigned char>(bytes[2 * i]) |
                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string ToUtf16Bytes(std::u16string_view text) {
  std::string out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = char(text[i] & 0xFF);
    out[2 * i + 1] = char(text[i] >> 8);
  }
  return out;
}

// Length in bytes of the character that starts at mb[i].
size_t CharLength(UINT codePage, std::string_view mb, size_t i) {
  const unsigned char b = static_cast<unsigned char>(mb[i]);
  size_t n = 1;
  if (codePage == CP_UTF8) {
    if (b >= 0xF0)
      n = 4;
    else if (b >= 0xE0)
      n = 3;
    else if (b >= 0xC0)
      n = 2;
  } else if (rtl::IsLeadByte(b)) {
    n = 2;
  }
  return std::min(n, mb.size() - i);
}

// Multi-byte -> UTF-16. False only when a bad sequence is met and `strict` is set.
bool DecodeMultiByte(UINT codePage, std::string_view mb, bool strict, std::u16string& out) {
  const char* from = IconvName(codePage);
  std::string bytes;
  if (rtl::IconvConvert(from, kUtf16, mb, bytes)) {
    out = FromUtf16Bytes(bytes);
    return true;
  }
  if (strict) return false;
  const char16_t replacement = codePage == CP_UTF8 ? u'\uFFFD' : u'\u30FB';
  out.clear();
  for (size_t i = 0; i < mb.size();) {
    const size_t n = CharLength(codePage, mb, i);
    if (rtl::IconvConvert(from, kUtf16, mb.substr(i, n), bytes)) {
      out += FromUtf16Bytes(bytes);
      i += n;
    } else {
      out += replacement;
      i += 1;  // resynchronise on the next byte
    }
  }
  return true;
}

// UTF-16 -> multi-byte. False only when a character cannot be converted and `strict` is set.
bool EncodeMultiByte(UINT codePage, std::u16string_view wide, bool strict, char defaultChar,
                     std::string& out, bool& usedDefault) {
  const char* to = IconvName(codePage);
  usedDefault = false;
  if (rtl::IconvConvert(kUtf16, to, ToUtf16Bytes(wide), out)) return true;
  if (strict) return false;
  out.clear();
  std::string bytes;
  for (size_t i = 0; i < wide.size();) {
    size_t n = 1;
    if (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF)
      n = 2;
    if (rtl::IconvConvert(kUtf16, to, ToUtf16Bytes(wide.substr(i, n)), bytes)) {
      out += bytes;
    } else if (codePage == CP_UTF8) {
      out += "\xEF\xBF\xBD";  // U+FFFD for an unpaired surrogate
    } else {
      out += defaultChar;
      usedDefault = true;
    }
    i += n;
  }
  return true;
}

// Resolves the Windows length convention: -1 means up to and including the NUL.
template <typename Char>
bool InputLength(const Char* text, int length, size_t& out) {
  if (!text || length == 0 || length < -1) return false;
  if (length == -1) {
    size_t n = 0;
    while (text[n])
      ++n;
    out = n + 1;
  } else {
    out = static_cast<size_t>(length);
  }
  return true;
}

int Fail(DWORD code) {
  SetLastError(code);
  return 0;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* mb, int mbLength, WCHAR* wide,
                        int wideLength) {
  size_t inLength = 0;
  if (!IconvName(codePage) || (flags & ~MB_ERR_INVALID_CHARS) != 0 ||
      !InputLength(mb, mbLength, inLength) || wideLength < 0 || (wideLength > 0 && !wide))
    return Fail(ERROR_INVALID_PARAMETER);
  std::u16string out;
  if (!DecodeMultiByte(codePage, std::string_view(mb, inLength), flags & MB_ERR_INVALID_CHARS, out))
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (wideLength == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(wideLength)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(wide, out.data(), out.size() * sizeof(WCHAR));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, char* mb,
                        int mbLength, const char* defaultChar, BOOL* usedDefault) {
  size_t inLength = 0;
  const bool utf8 = codePage == CP_UTF8;
  const DWORD allowed = utf8 ? WC_ERR_INVALID_CHARS : 0;
  if (!IconvName(codePage) || (flags & ~allowed) != 0 || !InputLength(wide, wideLength, inLength) ||
      mbLength < 0 || (mbLength > 0 && !mb) || (utf8 && (defaultChar || usedDefault)))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string out;
  bool defaulted = false;
  if (!EncodeMultiByte(codePage, std::u16string_view(wide, inLength), flags & WC_ERR_INVALID_CHARS,
                       defaultChar ? defaultChar[0] : '?', out, defaulted))
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (usedDefault) *usedDefault = defaulted ? TRUE : FALSE;
  if (mbLength == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(mbLength)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(mb, out.data(), out.size());
  return static_cast<int>(out.size());
}
