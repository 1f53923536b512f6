#include "rtl/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace rtl {
namespace {

namespace fs = std::filesystem;

TEST(Files, ProgramFileAndFolder) {
  const std::string exe = ProgramFileName();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
  EXPECT_EQ(fs::path(exe), fs::canonical(exe));  // no links left in it
  EXPECT_EQ(ExtractFileName(exe), "rtl_test");
  EXPECT_EQ(ProgramDir(), ExtractFilePath(exe));
  EXPECT_EQ(ProgramDir().back(), '/');
  EXPECT_TRUE(DirectoryExists(ProgramDir()));
  EXPECT_TRUE(FileExists(ProgramDir() + "rtl_test"));
}

TEST(Files, NameParts) {
  struct Case {
    std::string path, dir, name;
  } cases[] = {
      {"/a/b/c.txt", "/a/b/", "c.txt"},
      {"c.txt", "", "c.txt"},
      {"/a/b/", "/a/b/", ""},
      {"/", "/", ""},
      {"", "", ""},
      {"/Log/\x83\x5C.log", "/Log/", "\x83\x5C.log"},  // ソ ends in the byte of "\"
      {"C:\\dir\\f", "", "C:\\dir\\f"},                // "\" is no delimiter here
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
  }
}

TEST(Files, ChangeFileExtAndTrailingDelimiter) {
  struct Case {
    std::string path, ext, result;
  } cases[] = {
      {"/opt/kelvadon-1.2/KelvadonMan", ".ini", "/opt/kelvadon-1.2/KelvadonMan.ini"},
      {"/opt/KelvadonMan.bin", ".ini", "/opt/KelvadonMan.ini"},
      {"a/b.tar.gz", ".x", "a/b.tar.x"},
      {"a/b.", ".x", "a/b.x"},
      {"a/b.log", "", "a/b"},
      {"b", ".x", "b.x"},
      {"", ".x", ".x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.result) << c.path;

  struct Delim {
    std::string path, result;
  } delims[] = {{"/a", "/a/"}, {"/a/", "/a/"}, {"/", "/"}, {"", ""}, {"\x83\x5C", "\x83\x5C/"}};
  for (const auto& d : delims)
    EXPECT_EQ(IncludeTrailingPathDelimiter(d.path), d.result);
}

// A fresh folder under the system's temporary folder, removed afterwards.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(root_ / "file") << "x"; }
  std::string Path(const std::string& rel) const { return (root_ / rel).string(); }

  testsupport::TempDir tmp_{"rtl_files"};
  fs::path root_ = tmp_.path();
};

TEST_F(FilesTest, ExistenceTests) {
  fs::create_symlink(root_ / "file", root_ / "link");
  fs::create_symlink(root_ / "missing", root_ / "dangling");
  fs::create_directory_symlink(root_, root_ / "dirlink");
  struct Case {
    std::string path;
    bool file, dir;
  } cases[] = {
      {Path("file"), true, false},
      {Path("link"), true, false},
      {Path("dangling"), false, false},
      {Path("missing"), false, false},
      {root_.string(), false, true},
      {root_.string() + "/", false, true},
      {Path("dirlink"), false, true},
      {Path("file/"), false, false},
      {std::string(Path("file") + '\0' + "x"), false, false},  // never just "file"
      {"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(c.path), c.file) << c.path;
    EXPECT_EQ(DirectoryExists(c.path), c.dir) << c.path;
  }
}

TEST_F(FilesTest, ForceDirectoriesCreatesEveryLevel) {
  struct Case {
    std::string path;
    bool ok;
  } cases[] = {
      {Path("a/b/c"), true},
      {Path("a/b/c"), true},  // already there
      {Path("a//d/e/"), true},
      {Path("file/x"), false},  // a file in the way
      {Path("file"), false},
      {"", false},
      {Path("n") + '\0' + "ul", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ForceDirectories(c.path), c.ok) << c.path;
    EXPECT_EQ(DirectoryExists(c.path), c.ok) << c.path;
  }
  EXPECT_TRUE(DirectoryExists(Path("a/d/e")));
  EXPECT_FALSE(fs::exists(Path("n")));
}

TEST_F(FilesTest, ForceDirectoriesRacingItself) {
  const std::string deep = Path("p/q/r/s/t/u/v/w");
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { ok[i] = ForceDirectories(deep); });
  for (auto& t : threads)
    t.join();
  for (int i = 0; i < 8; ++i)
    EXPECT_TRUE(ok[i]) << "thread " << i;
  EXPECT_TRUE(DirectoryExists(deep));
}

TEST_F(FilesTest, WriteFileAtomicReplacesWholeFiles) {
  auto read = [](const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  };
  // A new file, then a replacement that keeps the old file's mode.
  ASSERT_EQ(WriteFileAtomic(Path("new"), std::string("a\0b", 3)), 0);
  EXPECT_EQ(read(root_ / "new"), std::string("a\0b", 3));
  fs::permissions(root_ / "new", fs::perms(0604));
  ASSERT_EQ(WriteFileAtomic(Path("new"), "second"), 0);
  EXPECT_EQ(read(root_ / "new"), "second");
  EXPECT_EQ(fs::status(root_ / "new").permissions(), fs::perms(0604));
  ASSERT_EQ(WriteFileAtomic(Path("new"), ""), 0);
  EXPECT_EQ(fs::file_size(root_ / "new"), 0u);

  // Through a symbolic link the file it points to is replaced; the link stays.
  fs::create_symlink(root_ / "file", root_ / "link");
  ASSERT_EQ(WriteFileAtomic(Path("link"), "via link"), 0);
  EXPECT_TRUE(fs::is_symlink(root_ / "link"));
  EXPECT_EQ(read(root_ / "file"), "via link");

  // Failures leave what was there.
  fs::create_directory(root_ / "dir");
  struct Case {
    std::string path;
    int err;
  } cases[] = {
      {Path("dir"), EISDIR}, {Path("missing/x"), ENOENT},        {Path("file/x"), ENOTDIR},
      {"", ENOENT},          {Path("new") + '\0' + "x", ENOENT},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WriteFileAtomic(c.path, "data"), c.err) << c.path;
  EXPECT_TRUE(fs::is_directory(root_ / "dir"));
  EXPECT_EQ(read(root_ / "file"), "via link");

  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(root_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dir", "file", "link", "new"}));  // no temporaries
}

}  // namespace
}  // namespace rtl
