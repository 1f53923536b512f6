#include "platform/service/format.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>

#include "rtl/cp932.h"

std::string FormatIndexed(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    size_t index = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && j - i <= 4)
      index = index * 10 + size_t(format[j++] - '0');
    if (j > i + 1 && j + 1 < format.size() && format[j] == ':' && format[j + 1] == 's') {
      if (index < args.size()) out += args[index];
      i = j + 1;
      continue;
    }
    out += format[i];
  }
  return out;
}

std::string TerminalText(std::string_view cp932) {
  // The locale is read once, without changing the process's own (which stays "C").
  static const std::string codeset = [] {
    std::string name;
    if (locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t(0))) {
      name = nl_langinfo_l(CODESET, loc);
      freelocale(loc);
    }
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII") name = "UTF-8";
    return name;
  }();
  std::string out;
  if (codeset != "UTF-8" &&
      rtl::IconvConvert("CP932", (codeset + "//TRANSLIT").c_str(), cp932, out))
    return out;
  return rtl::Cp932ToUtf8(cp932);
}
