#include "rtl/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "rtl/cp932.h"

namespace rtl {
namespace {

// The message file is compiled into CP932: the texts hold Shift-JIS bytes, not UTF-8.
TEST(Messages, TextsAreCp932Bytes) {
  const std::string text = msg::kOSErrorFormat;
  EXPECT_EQ(text.substr(0, 8), "\x83\x56\x83\x58\x83\x65\x83\x80");  // システム
  EXPECT_EQ(Cp932ToUtf8(text), "システムエラー。コード：%d.\r\n%s");
  EXPECT_EQ(text, Utf8ToCp932("システムエラー。コード：%d.\r\n%s"));
}

}  // namespace
}  // namespace rtl
