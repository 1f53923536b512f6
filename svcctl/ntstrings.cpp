#include "svcctl/ntstrings.h"

#include <cstring>

#include "rtl/cp932.h"

const char* PCharOrNil(const std::string& s) {
  return s.empty() ? nullptr : s.c_str();
}

std::u16string AnsiToWide(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::u16string();
  std::u16string wide(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToAnsi(const WCHAR* wide) {
  if (!wide || !*wide) return std::string();
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), length, nullptr, nullptr);
  text.pop_back();  // the NUL
  return text;
}

void MultiStringToList(const char* buffer, size_t limit, rtl::TStringList& list) {
  list.Clear();
  const size_t first = limit ? strnlen(buffer, limit) : 0;
  list.Add(std::string(buffer, first));
  for (size_t i = first; i + 1 < limit; ++i) {
    if (buffer[i] != '\0') continue;
    if (buffer[i + 1] == '\0') break;
    const size_t length = strnlen(buffer + i + 1, limit - i - 1);
    list.Add(std::string(buffer + i + 1, length));
    i += length;  // to the byte before the NUL that ends it
  }
}

void ListToMultiString(char* buffer, size_t size, const rtl::TStringList& list) {
  std::memset(buffer, 0, size);
  size_t used = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& s = list.Strings(i);
    if (used + s.size() + 1 >= size) break;
    std::memcpy(buffer + used, s.data(), s.size());
    used += s.size() + 1;
  }
}

namespace {

// Where each word starts and how long it is, walking double-byte characters whole.
struct Word {
  size_t start, length;
};

// Calls f(word) for each word in order until f returns false.
template <typename F>
void ForEachWord(std::string_view text, std::string_view delimiters, F f) {
  // A lead byte with its trail byte is one character, and never a delimiter.
  auto width = [&](size_t at) {
    return rtl::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
  };
  auto delimiter = [&](size_t at) {
    return width(at) == 1 && delimiters.find(text[at]) != std::string_view::npos;
  };
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && delimiter(i))
      ++i;
    if (i >= text.size()) return;
    const size_t start = i;
    while (i < text.size() && !delimiter(i))
      i += width(i);
    if (!f(Word{start, i - start})) return;
  }
}

}  // namespace

int WordCount(std::string_view text, std::string_view delimiters) {
  int count = 0;
  ForEachWord(text, delimiters, [&](Word) { return ++count, true; });
  return count;
}

int WordPosition(int n, std::string_view text, std::string_view delimiters) {
  int count = 0, position = 0;
  ForEachWord(text, delimiters, [&](Word w) {
    if (++count != n) return true;
    position = static_cast<int>(w.start) + 1;
    return false;
  });
  return position;
}

std::string ExtractWord(int n, std::string_view text, std::string_view delimiters) {
  int count = 0;
  std::string word;
  ForEachWord(text, delimiters, [&](Word w) {
    if (++count != n) return true;
    word = text.substr(w.start, w.length);
    return false;
  });
  return word;
}

void SplitAccountName(const std::string& account, std::string& domain, std::string& name) {
  if (WordCount(account, "\\") < 2) {
    domain.clear();
    name = account;
    return;
  }
  domain = ExtractWord(1, account, "\\");
  name = ExtractWord(2, account, "\\");
}

std::string JoinAccountName(const std::string& domain, const std::string& name) {
  return domain.empty() ? name : domain + "\\" + name;
}
