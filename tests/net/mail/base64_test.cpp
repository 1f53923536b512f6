#include "net/mail/base64.h"

#include <gtest/gtest.h>

#include <random>

#include "net/mail/mime.h"
#include "rtl/exception.h"

namespace net::mail {
namespace {

struct Base64Case {
  std::string bytes;
  std::string text;
};

// The standard vectors and bytes that use the top of the alphabet: both encoders write the same
// text and the stored-password decoder reads it back.
TEST(Base64, KnownTexts) {
  const Base64Case cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xff\xfe\xfd", "//79"},
      {"\xfb\xff", "+/8="},
      {std::string("\0\0\0\0", 4), "AAAAAA=="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Base64Encode(c.bytes), c.text);
    EXPECT_EQ(MimeBase64Encode(c.bytes), c.text);
    EXPECT_EQ(Base64Decode(c.text), c.bytes);
    EXPECT_EQ(MimeBase64Decode(c.text), c.bytes);
  }
}

TEST(Base64, RoundTripOfEveryByteValueAndLength) {
  std::mt19937 rng(7);
  for (size_t n = 0; n < 300; ++n) {
    std::string bytes(n, '\0');
    for (auto& b : bytes)
      b = static_cast<char>(rng() & 0xFF);
    std::string text = Base64Encode(bytes);
    ASSERT_EQ(text.size(), 4 * ((n + 2) / 3));
    ASSERT_EQ(Base64Decode(text), bytes) << n;
    ASSERT_EQ(MimeBase64Decode(text), bytes) << n;
  }
}

TEST(Base64, LengthNotAMultipleOfFourIsRefused) {
  for (const char* text : {"A", "AB", "ABC", "Zm9vY", "Zm9v\r\n"}) {
    SCOPED_TRACE(text);
    try {
      Base64Decode(text);
      ADD_FAILURE() << "no exception";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message, "Base64: Incorrect string format");
      EXPECT_STREQ(e.ClassName(), "Exception");
    }
  }
}

// The decoder rejects no character: anything outside A-Z, a-z, 0-9 and "+" counts as 63, padding
// counts only in the last group, and CR LF are data.
TEST(Base64, LenientAlphabet) {
  const Base64Case cases[] = {
      {"\xff\xff\xff", "////"},
      {"\xff\xff\xff", "*.-\x80"},
      {"\xff\xff\xff", "\r\n\r\n"},
      {"f\x0f\xff"
       "f",
       "Zg==Zg=="},
      {"\xfb", "+/=="},
      {"\xfb\xff", "+/9="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Base64Decode(c.text), c.bytes);
  }
}

}  // namespace
}  // namespace net::mail
