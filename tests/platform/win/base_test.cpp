#include <errno.h>

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win/win.h"

namespace {

TEST(LastError, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenAtStart = 99;
  DWORD seenAfterSet = 99;
  std::thread other([&] {
    seenAtStart = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
    seenAfterSet = GetLastError();
  });
  other.join();
  EXPECT_EQ(seenAtStart, ERROR_SUCCESS);
  EXPECT_EQ(seenAfterSet, ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, FailureInsideTheLibraryIsSeenByTheCaller) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LoadLibraryA("netapi32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(LocalMemory, ZeroInitAndFlags) {
  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 256));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(block[i], 0) << i;
  std::memset(block, 0xAB, 256);
  EXPECT_EQ(LocalFree(block), nullptr);

  SetLastError(0);
  EXPECT_EQ(LocalAlloc(0x2 /* LMEM_MOVEABLE */, 16), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(WordPacking, MatchesTheWindowsMacros) {
  // A socket notification: event in the low word, error in the high word.
  constexpr LPARAM lParam = MAKELPARAM(0x10, 10061);
  static_assert(LOWORD(lParam) == 0x10 && HIWORD(lParam) == 10061);
  // An error code with the top bit set makes a negative LONG; the words still come back.
  constexpr LONG negative = MAKELONG(1, 0x8001);
  static_assert(negative < 0 && LOWORD(negative) == 1 && HIWORD(negative) == 0x8001);
  static_assert(MAKEWORD(1, 1) == 0x0101 && LOBYTE(0x0201) == 1 && HIBYTE(0x0201) == 2);
  EXPECT_EQ(HIWORD(static_cast<LPARAM>(negative)), 0x8001);
}

// Every code the errno translation produces must have a system text.
TEST(ErrnoTranslation, EveryCodeHasAText) {
  for (int err = 0; err < 140; ++err) {
    const DWORD code = Win32ErrorFromErrno(err);
    char text[512];
    EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr),
              0u)
        << "errno " << err << " -> " << code;
  }
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
}

}  // namespace
