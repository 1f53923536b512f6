#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/win.h"

namespace {

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string Text(DWORD id, DWORD flags = kSystem) {
  char buf[1024] = {};
  const DWORD n = FormatMessageA(flags, nullptr, id, 0, buf, sizeof buf, nullptr);
  EXPECT_EQ(n, std::strlen(buf)) << id;
  return std::string(buf, n);
}

TEST(FormatMessage, ExactTexts) {
  const struct {
    DWORD id;
    const char* text;
  } cases[] = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {126, "The specified module could not be found.\r\n"},
      {1060, "The specified service does not exist as an installed service.\r\n"},
      {1075, "The dependency service does not exist or has been marked for deletion.\r\n"},
      {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
      {2250, "This network connection does not exist.\r\n"},
      {10061, "No connection could be made because the target machine actively refused it.\r\n"},
      {11001, "No such host is known.\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Text(c.id), c.text) << c.id;
  // The width bits of the flags are ignored.
  EXPECT_EQ(Text(5, kSystem | FORMAT_MESSAGE_MAX_WIDTH_MASK), "Access is denied.\r\n");
}

TEST(FormatMessage, EveryCodeTheSystemReportsHasACrLfText) {
  std::vector<DWORD> codes = {0,     1,     2,     3,     4,     5,     6,     8,     13,
                              87,    109,   120,   122,   126,   127,   183,   234,   259,
                              317,   997,   1078,  1219,  1300,  1313,  1332,  1336,  1337,
                              1338,  1400,  1789,  2250,  10004, 10013, 10022, 10035, 10048,
                              10049, 10053, 10054, 10060, 10061, 10093, 11001};
  for (DWORD code = 1051; code <= 1073; ++code)
    codes.push_back(code);
  for (DWORD code : codes) {
    const std::string text = Text(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    EXPECT_EQ(text.find("\r\n"), text.size() - 2) << code;
  }
}

TEST(FormatMessage, UnknownCodeFailsWith317) {
  for (DWORD code : {7u, 2182u, 12345u, 0xFFFFFFFFu}) {
    char buf[64] = "untouched";
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, code, 0, buf, sizeof buf, nullptr), 0u) << code;
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND) << code;
  }
}

TEST(FormatMessage, BufferMustHoldTheTextAndItsNul) {
  const std::string full = "Access is denied.\r\n";
  char buf[64];
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, 0, buf, full.size(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, 0, buf, full.size() + 1, nullptr), full.size());
  EXPECT_EQ(std::string(buf), full);
}

TEST(FormatMessage, AllocateBufferHandsOutALocalBlock) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 10048, 0,
                                 reinterpret_cast<char*>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, n),
            "Only one usage of each socket address (protocol/network address/port) is normally "
            "permitted.\r\n");
  EXPECT_EQ(text[n], '\0');
  EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(FormatMessage, InsertsNeedIgnoreInserts) {
  // The text of 317 has inserts: unfilled with IGNORE_INSERTS, refused without it.
  EXPECT_NE(Text(317).find("0x%1"), std::string::npos);
  char buf[256];
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 317, 0, buf, sizeof buf, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A text without inserts does not need the flag.
  EXPECT_EQ(Text(5, FORMAT_MESSAGE_FROM_SYSTEM), "Access is denied.\r\n");
}

}  // namespace
