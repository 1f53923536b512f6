#include "console/controls/gridtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "rtl/exception.h"

namespace {

// Bytes in a heap block of exactly their size, so that the sanitizer build catches any read past
// the last byte.
class ExactBytes {
 public:
  explicit ExactBytes(const std::string& s) : size_(s.size()), bytes_(new char[s.size()]) {
    std::memcpy(bytes_.get(), s.data(), size_);
  }
  std::string_view view() const { return std::string_view(bytes_.get(), size_); }

 private:
  size_t size_;
  std::unique_ptr<char[]> bytes_;
};

std::string Stored(const std::string& text) {
  return LinesToCommaText(ExactBytes(text).view());
}
std::string Read(const std::string& stored) {
  return CommaTextToLines(ExactBytes(stored).view());
}

constexpr char kSo[] = "\x83\x5C";    // "ソ": its trail byte is "\"
constexpr char kHyou[] = "\x95\x5C";  // "表"
constexpr char kLead[] = "\x83";      // a lead byte on its own

TEST(StorageForm, ConvertsAndReadsBack) {
  struct Case {
    const char* what;
    std::string text, stored, back;
  } cases[] = {
      {"plain", "abc", "abc", "abc"},
      {"space", "a b", "\"a b\"", "a b"},
      {"quotes doubled", "say \"hi\"", "\"say \"\"hi\"\"\"", "say \"hi\""},
      {"comma", "a,b", "\"a,b\"", "a,b"},
      {"two lines", "a\r\nb", "a,b", "a\r\nb"},
      {"empty", "", "", ""},
      {"empty lines", "\r\n\r\nx", ",,x", "\r\n\r\nx"},
      {"line break at the end", "a\r\n", "a,", "a\r\n"},
      {"a NUL", std::string("a\0b", 3), std::string("\"a\0b\"", 5), std::string("a\0b", 3)},
      {"trail byte 0x5C", std::string(kSo) + kHyou, std::string(kSo) + kHyou,
       std::string(kSo) + kHyou},
      {"lead byte and comma are one character", std::string(kLead) + ",", std::string(kLead) + ",",
       std::string(kLead) + ","},
      {"lone lead byte ending a line", std::string("x") + kLead + "\r\ny",
       std::string("\"x") + kLead + "\",y", std::string("x") + kLead + "\r\ny"},
      {"quote after a lead byte", std::string("a ") + kLead + "\"",
       std::string("\"a ") + kLead + "\"\"\"", std::string("a ") + kLead + "\""},
      {"lone CR", "a\rb", "a,b", "a\r\nb"},
      {"lone LF", "a\nb", "a,b", "a\r\nb"},
      {"a CR first, so an LF before it stays", "a\nb\rc", "\"a\nb\",c", "a\nb\r\nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Stored(c.text), c.stored);
    EXPECT_EQ(Read(c.stored), c.back);
  }
}

TEST(StorageForm, ReadsWhatOthersWrote) {
  struct Case {
    const char* what;
    std::string stored, text;
  } cases[] = {
      {"blanks around items", " a ,\t b ", "a\r\nb"},
      {"unquoted NULs end and are skipped", std::string("a\0\0,b\0", 6), "a\r\nb"},
      {"NULs only", std::string("\0\0\0", 3), ""},
      {"missing closing quote", "\"a,b", "a,b"},
      {"text after a closing quote", "\"a\"b", "ab"},
      {"lead byte at the very end", std::string("a,") + kLead, std::string("a\r\n") + kLead},
      {"lead byte at the end of a quoted item", std::string("\"") + kLead, kLead},
      {"lead byte and a blank at the end", std::string("a") + kLead + " ",
       std::string("a") + kLead + " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.stored), c.text);
  }
}

TEST(StrToIntLenient, TakesWhatItCan) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {" 42 ", 42},
      {"\t-17\r\n", -17},
      {"+5", 5},
      {"12ab", 12},
      {"1 2", 1},
      {"-5x", 0},
      {"abc", 0},
      {"", 0},
      {" \t ", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-99999999999", 0},
      {"+-3", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StrToIntLenient(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrToIntLenient, TooManyDigitsRaise) {
  for (const char* text : {"2147483648", "99999999999x"}) {
    try {
      StrToIntLenient(text);
      ADD_FAILURE() << text << " did not raise";
    } catch (const rtl::EConvertError& e) {
      EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(IsDigitChar, OnlyDecimalDigits) {
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(IsDigitChar(static_cast<char>(b)), b >= '0' && b <= '9') << b;
}

}  // namespace
