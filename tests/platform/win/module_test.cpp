#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win/win.h"
#include "rtl/files.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;

using IntFunction = int (*)();

class LoadLibraryTest : public ::testing::Test {
 protected:
  ScopedEnv libDir_{"KELVADON_LIBDIR", std::string(WIN_FIXTURE_DIR)};
};

TEST_F(LoadLibraryTest, DllNameInAnyCaseFindsTheSocketLibrary) {
  const char* names[] = {"WSOCK32.DLL", "wsock32.dll", "wsock32", "Ws2_32.Dll", "ws2_32"};
  HMODULE first = nullptr;
  for (const char* name : names) {
    SetLastError(0);
    HMODULE h = LoadLibraryA(name);
    ASSERT_NE(h, nullptr) << name;
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << name;
    if (!first) first = h;
    // One file, one handle, whatever name led to it.
    EXPECT_EQ(h, first) << name;
    auto answer = reinterpret_cast<IntFunction>(GetProcAddress(h, "fixture_answer"));
    ASSERT_NE(answer, nullptr) << name;
    EXPECT_EQ(answer(), 42);
  }
  for (size_t i = 0; i < std::size(names); ++i)
    EXPECT_TRUE(FreeLibrary(first));
}

TEST_F(LoadLibraryTest, MissingSymbolGives127) {
  HMODULE socket = LoadLibraryA("wsock32.dll");
  HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
  ASSERT_NE(socket, nullptr);
  ASSERT_NE(advapi, nullptr);
  EXPECT_NE(socket, advapi);

  const struct {
    HMODULE module;
    const char* name;
  } missing[] = {
      {socket, "no_such_entry"},
      {socket, "fixture_plain"},       // exported, but without the prefix
      {socket, "wsk_fixture_answer"},  // the prefix is added, not expected from the caller
      {advapi, "getpid"},              // the C library's, reachable only as a dependency
      {socket, "socket"},              // never the C library's socket
  };
  for (const auto& m : missing) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(m.module, m.name), nullptr) << m.name;
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND) << m.name;
  }
  auto plain = reinterpret_cast<IntFunction>(GetProcAddress(advapi, "fixture_advapi_answer"));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain(), 32);
  EXPECT_TRUE(FreeLibrary(socket));
  EXPECT_TRUE(FreeLibrary(advapi));
}

TEST_F(LoadLibraryTest, ReferenceCountAndEntryPointsAfterTheLastFree) {
  HMODULE a = LoadLibraryA("wsock32.dll");
  HMODULE b = LoadLibraryA("ws2_32.dll");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a, b);
  auto answer = reinterpret_cast<IntFunction>(GetProcAddress(a, "fixture_answer"));
  ASSERT_NE(answer, nullptr);

  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddress(a, "fixture_answer"), nullptr) << "one reference is left";
  EXPECT_TRUE(FreeLibrary(b));
  // No reference left: the handle is dead, but a cached entry point still runs.
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(a, "fixture_answer"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(answer(), 42);

  // Loading again works and gives the same handle.
  HMODULE again = LoadLibraryA("WSOCK32");
  EXPECT_EQ(again, a);
  EXPECT_TRUE(FreeLibrary(again));
}

TEST(LoadLibrary, UnmappedNamesGive126) {
  ScopedEnv libDir("KELVADON_LIBDIR", std::string(WIN_FIXTURE_DIR));
  for (const char* name : {"netapi32.dll", "radmin32.dll", "kernel32.dll", "wsock32.so",
                           "libwsock32.so", "wsock32.dll.dll", "", "C:\\WINDOWS\\wsock32.dll"}) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(name), nullptr) << name;
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << name;
  }
}

TEST(LoadLibrary, MissingOrBrokenFileGives126) {
  TempDir empty;
  TempDir broken;
  broken.Write("libwsock32.so", "this is not a shared library\n");
  for (const TempDir* dir : {&empty, &broken}) {
    ScopedEnv libDir("KELVADON_LIBDIR", dir->path());
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("wsock32.dll"), nullptr) << dir->path();
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << dir->path();
  }
}

TEST(LoadLibrary, SearchFolders) {
  {
    ScopedEnv libDir("KELVADON_LIBDIR", std::string("/opt/kw/lib"));
    EXPECT_EQ(LibrarySearchDirs(), std::vector<std::string>{"/opt/kw/lib/"});
  }
  for (auto unset : {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnv libDir("KELVADON_LIBDIR", unset);
    EXPECT_EQ(LibrarySearchDirs(), (std::vector<std::string>{
                                       rtl::ProgramDir(), rtl::ProgramDir() + "../lib/kelvadon/"}));
  }
}

TEST(ModuleFileName, ProgramAndLoadedLibrary) {
  char exe[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const std::string program(exe);
  ASSERT_EQ(rtl::ProgramDir().back(), '/');
  EXPECT_EQ(rtl::ProgramDir() + "platform_win_test", program);

  char buf[PATH_MAX];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, sizeof buf), program.size());
  EXPECT_EQ(std::string(buf), program);

  // Too small: truncated with a NUL, result = size, error 122.
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 5), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(buf), program.substr(0, 4));

  ScopedEnv libDir("KELVADON_LIBDIR", std::string(WIN_FIXTURE_DIR));
  HMODULE h = LoadLibraryA("advapi32");
  ASSERT_NE(h, nullptr);
  char real[PATH_MAX];
  ASSERT_NE(realpath(WIN_FIXTURE_DIR "/libkw_advapi32.so", real), nullptr);
  EXPECT_EQ(GetModuleFileNameA(h, buf, sizeof buf), std::strlen(real));
  EXPECT_STREQ(buf, real);
  EXPECT_TRUE(FreeLibrary(h));
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(h, buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
