// The text helpers: multi-strings, words and account names.
#include "svcctl/ntstrings.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Strings(const rtl::TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i)
    out.push_back(list[i]);
  return out;
}

TEST(NtStrings, PCharOrNilPassesOnlyTextsThatAreSet) {
  const std::string empty, set = "x";
  EXPECT_EQ(PCharOrNil(empty), nullptr);
  EXPECT_EQ(PCharOrNil(set), set.c_str());
}

// Reading stops at two NULs or at the limit, whichever comes first; nothing past the limit is
// read even when the buffer has no end of its own there.
TEST(NtStrings, MultiStringToListStopsAtDoubleNulOrTheLimit) {
  const struct {
    std::string buffer;
    size_t limit;
    std::vector<std::string> want;
  } cases[] = {
      {std::string("a\0bc\0\0zz", 9), 9, {"a", "bc"}},
      {std::string("\0\0x", 3), 3, {""}},
      {std::string("one\0two", 7), 7, {"one", "two"}},   // no end: the limit ends it
      {std::string("one\0twoXX", 9), 6, {"one", "tw"}},  // a string cut by the limit
      {std::string("abc", 3), 3, {"abc"}},
      {std::string("ab\0\0", 4), 0, {""}},
  };
  for (const auto& c : cases) {
    // A copy of exactly limit bytes, so that a read past it shows under the sanitizer.
    std::vector<char> bytes(c.buffer.begin(), c.buffer.begin() + c.limit);
    rtl::TStringList list;
    list.Add("stale");
    MultiStringToList(bytes.data(), c.limit, list);
    EXPECT_EQ(Strings(list), c.want) << c.buffer;
  }
}

TEST(NtStrings, ListToMultiStringKeepsRoomForTheFinalNul) {
  rtl::TStringList list;
  list.Add("ab");
  list.Add("cde");
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  ListToMultiString(buffer, 7, list);  // "ab\0" fits; "cde\0" would leave no final NUL
  EXPECT_EQ(std::string(buffer, 8), std::string("ab\0\0\0\0\0x", 8));
  ListToMultiString(buffer, 8, list);
  EXPECT_EQ(std::string(buffer, 8), std::string("ab\0cde\0\0", 8));

  rtl::TStringList back;
  MultiStringToList(buffer, 8, back);
  EXPECT_EQ(Strings(back), (std::vector<std::string>{"ab", "cde"}));
}

// "ソ" is 83 5C: its trail byte is a backslash that never separates.
TEST(NtStrings, WordsNeverSplitADoubleByteCharacter) {
  const std::string text = "\\\\dom\\\x83\x5Cname\\\\x";
  EXPECT_EQ(WordCount(text, "\\"), 3);
  EXPECT_EQ(WordPosition(2, text, "\\"), 7);
  EXPECT_EQ(ExtractWord(2, text, "\\"), "\x83\x5Cname");
  EXPECT_EQ(WordPosition(4, text, "\\"), 0);
  EXPECT_EQ(ExtractWord(4, text, "\\"), "");
  EXPECT_EQ(WordCount("", "\\"), 0);
  EXPECT_EQ(WordCount("a-b c", "- "), 3);
}

TEST(NtStrings, SplitAndJoinAccountNames) {
  const struct {
    std::string account, domain, name;
  } cases[] = {
      {"daemon", "", "daemon"},     {"HOST\\daemon", "HOST", "daemon"},
      {"\\daemon", "", "\\daemon"},  // one word: the whole text is the name
      {"a\\b\\c", "a", "b"},        {"\x83\x5C\\\x83\x5C", "\x83\x5C", "\x83\x5C"},
  };
  for (const auto& c : cases) {
    std::string domain = "stale", name = "stale";
    SplitAccountName(c.account, domain, name);
    EXPECT_EQ(domain, c.domain) << c.account;
    EXPECT_EQ(name, c.name) << c.account;
  }
  EXPECT_EQ(JoinAccountName("", "daemon"), "daemon");
  EXPECT_EQ(JoinAccountName("HOST", "daemon"), "HOST\\daemon");
}

}  // namespace
