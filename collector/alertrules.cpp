#include "collector/alertrules.h"

#include <algorithm>

#include "rtl/cp932.h"
#include "settings/keys.h"

namespace collector {

namespace {

constexpr unsigned char kBlankMax = 0x20;  // bytes up to this one separate items

bool IsSeparatorByte(unsigned char b) {
  return b <= kBlankMax;
}

// The length of the character at i: two bytes for a lead byte with a byte after it, else one.
size_t CharLength(std::string_view text, size_t i) {
  return rtl::IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

void SkipSeparators(std::string_view text, size_t& i) {
  while (i < text.size() && IsSeparatorByte(static_cast<unsigned char>(text[i])))
    ++i;
}

// The quoted item starting at the quote at i; i ends after the closing quote (or at the end).
std::string QuotedItem(std::string_view text, size_t& i) {
  std::string item;
  ++i;
  while (i < text.size()) {
    if (text[i] == '"') {
      if (i + 1 < text.size() && text[i + 1] == '"') {
        item += '"';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    const size_t n = CharLength(text, i);
    item.append(text.substr(i, n));
    i += n;
  }
  return item;
}

// The plain item starting at i, up to a separator byte or a comma.
std::string PlainItem(std::string_view text, size_t& i) {
  const size_t start = i;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (IsSeparatorByte(b) || b == ',') break;
    i += CharLength(text, i);
  }
  return std::string(text.substr(start, i - start));
}

}  // namespace

std::vector<std::string> CommaList(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  SkipSeparators(text, i);
  while (i < text.size()) {
    items.push_back(text[i] == '"' ? QuotedItem(text, i) : PlainItem(text, i));
    SkipSeparators(text, i);
    if (i < text.size() && text[i] == ',') {
      if (i + 1 == text.size()) items.emplace_back();
      ++i;
      SkipSeparators(text, i);
    }
  }
  return items;
}

bool RuleFires(std::string_view record, const std::vector<std::string>& terms) {
  if (terms.empty()) return false;
  for (const std::string& term : terms)
    if (term.empty() || record.find(term) == std::string_view::npos) return false;
  return true;
}

std::vector<std::string> FiredRules(const TIniFileCompo& ini, std::string_view record, int count) {
  std::vector<std::string> fired;
  for (int rule = 0; rule < std::min(count, settings::kWordCount); ++rule) {
    std::string value = settings::ReadSetting(ini, settings::kWord[rule]);
    if (value.empty()) continue;
    if (RuleFires(record, CommaList(value))) fired.push_back(std::move(value));
  }
  return fired;
}

}  // namespace collector
