#include "settings/keys.h"

#include "settings/inifilecompo.h"

namespace settings {

std::string BodyToSetting(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) {
      r += '\t';
      ++i;
    } else {
      r += text[i];
    }
  }
  return r;
}

std::string BodyFromSetting(std::string_view value) {
  std::string r;
  r.reserve(value.size());
  for (char c : value) {
    if (c == '\t')
      r += "\r\n";
    else
      r += c;
  }
  return r;
}

std::string ReadSetting(const TIniFileCompo& ini, const KeyDef& key) {
  return ini.ReadString(key.Section, key.Ident, key.Default);
}

void WriteSetting(TIniFileCompo& ini, const KeyDef& key, std::string_view value) {
  ini.WriteString(key.Section, key.Ident, value);
}

}  // namespace settings
