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

std::string Cp932Of(std::string_view utf8) {
  return rtl::Utf8ToCp932(utf8);
}

}  // namespace fltkpeer
