// The file-system layer on real files in a temporary folder: what is followed, opened or refused.
#include "rtl/fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace fs = std::filesystem;
using rtl::fs::TFile;
using rtl::fs::TFileInfo;
using rtl::fs::TFileKind;
using rtl::fs::TOpenMode;

namespace {

class FsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("file", "hello");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "file", dir / "link");
    fs::create_directory_symlink(dir / "folder", dir / "folderlink");
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
  std::string P(const std::string& name) const { return (dir / name).string(); }

  testsupport::TempDir tmp_{"kw_fs_test"};
  fs::path dir = tmp_.path();
};

TEST_F(FsTest, StatusNeverFollowsLinks) {
  struct Case {
    const char* name;
    TFileKind kind;
  } cases[] = {
      {"file", TFileKind::Regular}, {"folder", TFileKind::Directory},
      {"link", TFileKind::Symlink}, {"folderlink", TFileKind::Symlink},
      {"fifo", TFileKind::Other},   {"missing", TFileKind::Missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFileInfo info;
    EXPECT_EQ(rtl::fs::LStat(P(c.name), info), 0);
    EXPECT_EQ(info.Kind, c.kind);
  }
  TFileInfo info;
  ASSERT_EQ(rtl::fs::LStat(P("file"), info), 0);
  EXPECT_EQ(info.Size, 5);
  EXPECT_TRUE(info.Writable);
  // A path through a plain file is an error, not a missing name.
  EXPECT_EQ(rtl::fs::LStat(P("file/x"), info), ENOTDIR);
  EXPECT_EQ(rtl::fs::LStat(std::string("a\0b", 3), info), EINVAL);

  std::string real;
  ASSERT_EQ(rtl::fs::RealPath(P("folderlink"), real), 0);
  std::string folder;
  ASSERT_EQ(rtl::fs::RealPath(P("folder"), folder), 0);
  EXPECT_EQ(real, folder);
  EXPECT_EQ(rtl::fs::RealPath(P("missing"), real), ENOENT);
}

TEST_F(FsTest, OpeningRefusesLinksFoldersAndSpecialFiles) {
  struct Case {
    const char* name;
    TOpenMode mode;
    int err;
  } cases[] = {
      {"file", TOpenMode::Read, 0},           {"file", TOpenMode::ReadWrite, 0},
      {"link", TOpenMode::Read, ELOOP},       {"link", TOpenMode::Create, ELOOP},
      {"folder", TOpenMode::Read, EISDIR},    {"fifo", TOpenMode::Read, EINVAL},
      {"fifo", TOpenMode::Write, ENXIO},      {"missing", TOpenMode::Read, ENOENT},
      {"file", TOpenMode::CreateNew, EEXIST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(static_cast<int>(c.mode)));
    TFile f;
    EXPECT_EQ(f.Open(P(c.name), c.mode), c.err);
    EXPECT_EQ(f.IsOpen(), c.err == 0);
  }
  // Create empties an existing file (and only after it is known to be a plain one).
  TFile f;
  ASSERT_EQ(f.Open(P("file"), TOpenMode::Create), 0);
  EXPECT_EQ(f.Size(), 0);
  ASSERT_EQ(f.Write("abcdef", 6), 0);
  EXPECT_EQ(f.Seek(2), 2);
  f.Close();
  ASSERT_EQ(f.Open(P("file"), TOpenMode::Read), 0);
  char buf[16];
  EXPECT_EQ(f.Read(buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(f.Read(buf, sizeof buf), 0);
  TFile moved(std::move(f));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
}

TEST_F(FsTest, FolderScansAndNameOperations) {
  std::vector<std::string> names;
  ASSERT_EQ(rtl::fs::ListDirectory(dir.string(), names), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fifo", "file", "folder", "folderlink", "link"}));
  EXPECT_EQ(rtl::fs::ListDirectory(P("folderlink"), names), ENOTDIR);  // not followed
  EXPECT_EQ(rtl::fs::ListDirectory(P("file"), names), ENOTDIR);

  EXPECT_EQ(rtl::fs::MakeDirectory(P("made")), 0);
  EXPECT_EQ(rtl::fs::MakeDirectory(P("made")), EEXIST);
  EXPECT_EQ(rtl::fs::Rename(P("made"), P("renamed")), 0);
  EXPECT_EQ(rtl::fs::RemoveDirectory(P("renamed")), 0);
  EXPECT_EQ(rtl::fs::RemoveDirectory(P("renamed")), ENOENT);
  EXPECT_EQ(rtl::fs::DeleteFile(P("link")), 0);  // the link goes, not its target
  EXPECT_TRUE(fs::exists(dir / "file"));
  EXPECT_EQ(rtl::fs::DeleteFile(P("folder")), EISDIR);

  ASSERT_EQ(rtl::fs::SetModificationTime(P("file"), 1700000001), 0);
  TFileInfo info;
  ASSERT_EQ(rtl::fs::LStat(P("file"), info), 0);
  EXPECT_EQ(info.MTime, 1700000001);
  EXPECT_GT(rtl::fs::DescriptorLimit(), 0);
  EXPECT_EQ(rtl::fs::ErrorText(ENOENT), "No such file or directory");
}

// The one text for an errno that every layer shows, in strerror's wording.
TEST(ErrorText, StrerrorWording) {
  const struct {
    int err;
    const char* text;
  } cases[] = {
      {ENOENT, "No such file or directory"},
      {EACCES, "Permission denied"},
      {EISDIR, "Is a directory"},
      {ENOSPC, "No space left on device"},
      {EFBIG, "File too large"},
      {EIO, "Input/output error"},
      {99999, "Unknown error 99999"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rtl::fs::ErrorText(c.err), c.text);
}

}  // namespace
