#include "net/mail/smtpaddress.h"

#include "rtl/cp932.h"

namespace {

// What stands between the first "<" at or after from and the next ">" (the rest when there is no
// ">"); empty when there is no "<".
std::string Bracketed(std::string_view text, size_t from) {
  const size_t lt = text.find('<', from);
  if (lt == std::string_view::npos) return std::string();
  const size_t gt = text.find('>', lt + 1);
  return std::string(text.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1));
}

}  // namespace

void ParseAddress(std::string_view text, std::string& DisplayName, std::string& Address) {
  DisplayName.clear();
  Address.clear();
  const bool hasLt = text.find('<') != std::string_view::npos;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
    const size_t close = text.find(text[i], i + 1);
    DisplayName =
        std::string(text.substr(i + 1, close == std::string_view::npos ? close : close - i - 1));
    const size_t after = close == std::string_view::npos ? text.size() : close + 1;
    Address = hasLt ? Bracketed(text, after) : rtl::Trim(text.substr(after));
  } else if (hasLt) {
    const size_t lt = text.find('<');
    DisplayName = rtl::Trim(text.substr(i, lt > i ? lt - i : 0));
    Address = Bracketed(text, lt);
  } else {
    const size_t blank = text.find(' ', i);
    if (blank == std::string_view::npos) {
      DisplayName = rtl::Trim(text.substr(i));
    } else {
      DisplayName = rtl::Trim(text.substr(i, blank - i));
      Address = rtl::Trim(text.substr(blank + 1));
    }
  }
  if (Address.empty() && DisplayName.find('@') != std::string::npos) {
    Address = DisplayName;
    DisplayName.clear();
  }
}

std::vector<std::string> SplitAddressList(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ')
      ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ',' && text[i] != ';') {
      if (text[i] == '"') {
        const size_t close = text.find('"', i + 1);
        i = close == std::string_view::npos ? text.size() : close;
      }
      if (i < text.size()) ++i;
    }
    std::string item = rtl::Trim(text.substr(start, i - start));
    if (!item.empty()) items.push_back(std::move(item));
    if (i < text.size()) ++i;  // the separator
  }
  return items;
}

std::string SmtpHeloName(std::string_view SignOn, std::string_view localHostName) {
  std::string name(SignOn.empty() ? localHostName : SignOn);
  for (char& c : name)
    if (c == ' ') c = '_';
  return name;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string BlankLineBreaks(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string QuotedHeaderText(std::string_view text) {
  std::string s = "\"";
  for (char c : BlankLineBreaks(text)) {
    if (c == '"' || c == '\\') s += '\\';
    s += c;
  }
  return s + "\"";
}
