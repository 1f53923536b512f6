#include "platform/ui/fltk/text.h"

#include <unordered_map>

#include "rtl/cp932.h"

namespace fltkpeer {

const std::string& Utf8Of(std::string_view cp932) {
  static std::unordered_map<std::string, std::string> cache;
  static std::string last;
  bool ascii = true;
  for (unsigned char c : cp932)
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return last.assign(cp932);
  auto it = cache.find(std::string(cp932));
  if (it == cache.end()) {
    if (cache.size() >= kTextCacheLimit) cache.clear();
    it = cache.emplace(std::string(cp932), rtl::Cp932ToUtf8(cp932)).first;
  }
  return last.assign(it->second);
}

const std::string& Utf8Of(std::string_view text, TFontCharset charset) {
  if (charset != ANSI_CHARSET) return Utf8Of(text);
  static std::string latin;
  latin.clear();
  for (unsigned char c : text) {
    if (c < 0x80) {
      latin += static_cast<char>(c);
    } else {
      latin += static_cast<char>(0xC0 | (c >> 6));
      latin += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return latin;
}

std::string Cp932Of(std::string_view utf8) {
  return rtl::Utf8ToCp932(utf8);
}

}  // namespace fltkpeer
