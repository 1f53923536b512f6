#include <string>

#include <gtest/gtest.h>

#include "platform/win/win.h"

namespace {

// "ソ表日本\~ｱ" in CP932: ソ and 表 have 0x5C as trail byte, 0x5C and 0x7E are themselves,
// ｱ is a half-width single byte.
const std::string kCp932 = "\x83\x5C\x95\x5C\x93\xFA\x96\x7B\\~\xB1";
const std::u16string kUtf16 = u"ソ表日本\\~ｱ";
const std::string kUtf8 = "\xE3\x82\xBD\xE8\xA1\xA8\xE6\x97\xA5\xE6\x9C\xAC\\~\xEF\xBD\xB1";

std::u16string ToWide(UINT cp, const std::string& mb, DWORD flags = 0) {
  const int n = MultiByteToWideChar(cp, flags, mb.data(), int(mb.size()), nullptr, 0);
  std::u16string out(size_t(n > 0 ? n : 0), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(cp, flags, mb.data(), int(mb.size()), out.data(), n), n);
  }
  return out;
}

std::string ToMultiByte(UINT cp, const std::u16string& wide, const char* defaultChar = nullptr,
                        BOOL* usedDefault = nullptr) {
  const int n = WideCharToMultiByte(cp, 0, wide.data(), int(wide.size()), nullptr, 0, defaultChar,
                                    usedDefault);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, wide.data(), int(wide.size()), out.data(), n, defaultChar,
                                  usedDefault),
              n);
  }
  return out;
}

TEST(CodePage, JapaneseRoundTrip) {
  for (UINT acp : {CP_ACP, CP_932}) {
    EXPECT_EQ(ToWide(acp, kCp932), kUtf16) << acp;
    EXPECT_EQ(ToMultiByte(acp, kUtf16), kCp932) << acp;
  }
  EXPECT_EQ(ToWide(CP_UTF8, kUtf8), kUtf16);
  EXPECT_EQ(ToMultiByte(CP_UTF8, kUtf16), kUtf8);
  // Shift-JIS to UTF-8 through UTF-16, and back.
  EXPECT_EQ(ToMultiByte(CP_UTF8, ToWide(CP_ACP, kCp932)), kUtf8);
  EXPECT_EQ(ToMultiByte(CP_ACP, ToWide(CP_UTF8, kUtf8)), kCp932);
}

TEST(CodePage, SizeQueryAndNulTerminatedInput) {
  // -1: the input runs to its NUL, which is converted and counted.
  const int needed = MultiByteToWideChar(CP_ACP, 0, kCp932.c_str(), -1, nullptr, 0);
  EXPECT_EQ(needed, int(kUtf16.size()) + 1);
  std::u16string wide(size_t(needed), u'x');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, kCp932.c_str(), -1, wide.data(), needed), needed);
  EXPECT_EQ(wide, kUtf16 + u'\0');

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, kCp932.c_str(), -1, wide.data(), needed - 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, kUtf16.c_str(), -1, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(bytes, int(kCp932.size()) + 1);
  std::string mb(size_t(bytes), 'x');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, kUtf16.c_str(), -1, mb.data(), bytes, nullptr, nullptr),
            bytes);
  EXPECT_EQ(mb, kCp932 + '\0');
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, kUtf16.c_str(), -1, mb.data(), bytes - 1, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, InvalidArguments) {
  WCHAR wide[8];
  char mb[8];
  const struct {
    const char* what;
    int result;
  } cases[] = {
      {"code page 1252", MultiByteToWideChar(1252, 0, "a", 1, wide, 8)},
      {"zero length", MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 8)},
      {"length -2", MultiByteToWideChar(CP_ACP, 0, "a", -2, wide, 8)},
      {"null input", MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 8)},
      {"negative output", MultiByteToWideChar(CP_ACP, 0, "a", 1, wide, -1)},
      {"wide code page 437", WideCharToMultiByte(437, 0, u"a", 1, mb, 8, nullptr, nullptr)},
      {"default char with UTF-8", WideCharToMultiByte(CP_UTF8, 0, u"a", 1, mb, 8, "?", nullptr)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.result, 0) << c.what;
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePage, InvalidInputIsReplacedOrRefused) {
  // A lead byte without its trail byte, and a byte UTF-8 never uses.
  EXPECT_EQ(ToWide(CP_932, "a\x81"), u"a\u30FB");
  EXPECT_EQ(ToWide(CP_UTF8,
                   "a\xFF"
                   "b"),
            u"a\uFFFD"
            u"b");
  SetLastError(0);
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

  // A character CP932 lacks becomes the default character.
  BOOL used = FALSE;
  EXPECT_EQ(ToMultiByte(CP_932, u"a\u00E9b", nullptr, &used), "a?b");
  EXPECT_TRUE(used);
  EXPECT_EQ(ToMultiByte(CP_932, u"a\u00E9b", "*", &used), "a*b");
  EXPECT_EQ(ToMultiByte(CP_932, u"ab", "*", &used), "ab");
  EXPECT_FALSE(used);

  // An unpaired surrogate in UTF-8 output.
  const std::u16string lone = u"a" + std::u16string(1, char16_t(0xD800)) + u"b";
  EXPECT_EQ(ToMultiByte(CP_UTF8, lone),
            "a\xEF\xBF\xBD"
            "b");
  char mb[16];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), int(lone.size()), mb,
                                16, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // A surrogate pair is one character.
  EXPECT_EQ(ToMultiByte(CP_UTF8, u"\U0001F600"), "\xF0\x9F\x98\x80");
}

}  // namespace
