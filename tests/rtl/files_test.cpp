#include "rtl/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "rtl/exception.h"
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

// A file-size limit on this process for one scope, the seam for a disk that fills half-way
// through a write: a write crossing the limit is cut short, the next one fails with EFBIG (the
// signal that would end the process is ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &oldAction_);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    sigaction(SIGXFSZ, &oldAction_, nullptr);
  }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  struct sigaction oldAction_ {};
  bool ok_ = false;
};

std::string ReadAll(const std::string& path) {
  return testsupport::ReadFile(path);
}

// The flags line of /proc/self/fdinfo for the descriptor that has path open; 0 when none has.
long OpenFlagsOf(const std::string& path) {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
    for (std::string key; info >> key;)
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        return std::stol(octal, nullptr, 8);
      }
  }
  return 0;
}

TEST_F(FilesTest, AppendLineToFileHeaderOnlyForANewFile) {
  const std::string path = Path("day.log");
  AppendLineToFile(path, "H1\tH2", "a\tb", "\r\n");
  AppendLineToFile(path, "H1\tH2", "", "\r\n");
  AppendLineToFile(path, "H1\tH2", std::string("c\0d", 3), "\r\n");
  const std::string expected("H1\tH2\r\na\tb\r\n\r\nc\0d\r\n", 19);
  EXPECT_EQ(ReadAll(path), expected);

  // An empty header line writes nothing, not an empty line; an existing empty file gets none.
  AppendLineToFile(Path("plain.log"), "", "x", "\n");
  EXPECT_EQ(ReadAll(Path("plain.log")), "x\n");
  std::ofstream(root_ / "empty.log").close();
  AppendLineToFile(Path("empty.log"), "H", "y", "\r\n");
  EXPECT_EQ(ReadAll(Path("empty.log")), "y\r\n");

  // A long line crosses any buffer whole.
  const std::string longLine(200000, 'L');
  AppendLineToFile(path, "H1\tH2", longLine, "\r\n");
  EXPECT_EQ(ReadAll(path), expected + longLine + "\r\n");
}

// Every failure is an EInOutError with the run-time's text, and leaves no part of the entry.
// Nothing but a plain file is written, and nothing at the name makes the call wait: a FIFO
// without a reader would hold the open, one with a reader would take the entry.
TEST_F(FilesTest, AppendFailuresLeaveNothingBehind) {
  fs::create_directory(root_ / "folder");
  fs::create_symlink(root_ / "file", root_ / "link");
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(Path("read fifo").c_str(), 0600), 0);
  const int reader = open(Path("read fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  struct Case {
    const char* what;
    std::string path;
    std::string text;
    int err;
  } cases[] = {
      {"folder missing", Path("gone/day.log"), "Path not found", ENOENT},
      {"a file in the path", Path("file/day.log"), "Path not found", ENOTDIR},
      {"a folder at the name", Path("folder"), "I/O error 21", EISDIR},
      {"a link at the name", Path("link"), "File access denied", ELOOP},
      {"no name", "", "Path not found", ENOENT},
      {"NUL in the name", Path("file") + '\0' + "x", "Path not found", ENOENT},
      {"a FIFO at the name", Path("fifo"), "I/O error 22", EINVAL},
      {"a FIFO with a reader at the name", Path("read fifo"), "I/O error 22", EINVAL},
      {"a device at the name", "/dev/full", "I/O error 22", EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int form = 0; form < 2; ++form) {
      try {
        if (form == 0)
          AppendToFile(c.path, "H\r\n", "entry\r\n");
        else
          AppendLineToFile(c.path, "H", "entry", "\r\n");
        ADD_FAILURE() << "no exception";
      } catch (const EInOutError& e) {
        EXPECT_STREQ(e.ClassName(), "EInOutError");
        EXPECT_EQ(e.Message, c.text);
        EXPECT_EQ(e.ErrorCode, c.err);
      }
    }
  }
  EXPECT_EQ(ReadAll(Path("file")), "x");
  EXPECT_FALSE(fs::exists(root_ / "gone"));
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "the FIFO's reader got the entry";
  close(reader);
}

// The file-size limit stops a write half-way: the file is cut back to what it held (a file this
// call made is removed, so the next call writes the header again).
TEST_F(FilesTest, AppendCutShortIsCutBack) {
  const std::string path = Path("day.log");
  const std::string entry(40, 'e');
  struct Case {
    const char* what;
    bool existing;  // the file holds "H\r\n" + one entry before the failing call
    rlim_t limit;   // cuts the failing write after a few bytes
  } cases[] = {
      {"new file, cut inside the header", false, 1},
      {"new file, cut inside the line", false, 5},
      {"existing file, cut inside the line", true, 3 + 42 + 10},
      {"existing file, cut inside the line end", true, 3 + 42 + 41},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(path);
    if (c.existing) AppendLineToFile(path, "H", entry, "\r\n");
    const std::string before = c.existing ? ReadAll(path) : "";
    {
      FileSizeLimit limit(c.limit);
      ASSERT_TRUE(limit.ok());
      try {
        AppendLineToFile(path, "H", entry, "\r\n");
        ADD_FAILURE() << "no exception";
      } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message, "Disk full");
        EXPECT_EQ(e.ErrorCode, EFBIG);
      }
    }
    EXPECT_EQ(fs::exists(path), c.existing);
    if (c.existing) {
      EXPECT_EQ(ReadAll(path), before);
    }
    // With room again the entry goes in whole, the header where the file is new.
    AppendLineToFile(path, "H", entry, "\r\n");
    EXPECT_EQ(ReadAll(path), (c.existing ? before : "H\r\n") + entry + "\r\n");
  }
}

TEST_F(FilesTest, ReadWholeFile) {
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7);
  std::ofstream(root_ / "big", std::ios::binary) << big;
  std::ofstream(root_ / "empty").close();
  fs::create_directory(root_ / "folder");
  fs::create_symlink(root_ / "big", root_ / "link");
  // Neither kind is waited on (a FIFO without a writer would hold the open) nor read to its end
  // (a device such as /dev/zero has none).
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    int err;
    std::string content;
  } cases[] = {
      {Path("big"), 0, big},
      {Path("link"), 0, big},  // followed
      {Path("empty"), 0, ""},
      {Path("missing"), ENOENT, ""},
      {Path("file/x"), ENOTDIR, ""},
      {Path("folder"), EISDIR, ""},
      {Path("fifo"), EINVAL, ""},
      {"/dev/zero", EINVAL, ""},
      {"", ENOENT, ""},
      {Path("file") + '\0' + "x", ENOENT, ""},
      {"/proc/self/mem", EIO, ""},  // opens, but reading address 0 fails
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(ReadWholeFile(c.path, out), c.err) << c.path;
    EXPECT_TRUE(out == c.content) << c.path << ": " << out.size() << " bytes";
  }
}

TEST_F(FilesTest, AppendFileModesAndDescriptor) {
  const std::string path = Path("debug.log");
  std::ofstream(path, std::ios::binary) << "old\r\n";
  {
    TAppendFile log;
    ASSERT_EQ(log.Open(path, TAppendFile::TOpenMode::Append), 0);
    EXPECT_TRUE(log.IsOpen());
    const long flags = OpenFlagsOf(path);
    EXPECT_NE(flags & O_CLOEXEC, 0) << std::oct << flags;
    EXPECT_NE(flags & O_APPEND, 0) << std::oct << flags;
    EXPECT_EQ(log.WriteLine("a", "\r\n"), 0);
    // Another writer in between: the next line still goes to the end.
    std::ofstream(path, std::ios::binary | std::ios::app) << "other\r\n";
    EXPECT_EQ(log.WriteLine("b", "\r\n"), 0);
    TAppendFile moved = std::move(log);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.WriteLine("lost", "\r\n"), EBADF);
    EXPECT_EQ(moved.WriteLine("c", "\n"), 0);
  }
  EXPECT_EQ(ReadAll(path), "old\r\na\r\nother\r\nb\r\nc\n");
  EXPECT_EQ(OpenFlagsOf(path), 0) << "closed by the destructor";

  TAppendFile log;
  ASSERT_EQ(log.Open(path, TAppendFile::TOpenMode::Overwrite), 0);
  EXPECT_EQ(log.WriteLine("new", "\r\n"), 0);
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(ReadAll(path), "new\r\n");

  // A file that is not there is made; a folder or a missing folder is refused.
  ASSERT_EQ(log.Open(Path("made.log"), TAppendFile::TOpenMode::Append), 0);
  EXPECT_EQ(log.WriteLine("m", ""), 0);
  EXPECT_EQ(ReadAll(Path("made.log")), "m");
  EXPECT_EQ(log.Open(root_.string(), TAppendFile::TOpenMode::Append), EISDIR);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.Open(Path("gone/x.log"), TAppendFile::TOpenMode::Append), ENOENT);
  EXPECT_EQ(log.Open("", TAppendFile::TOpenMode::Append), ENOENT);

  // A full disk is reported to the writer.
  ASSERT_EQ(log.Open("/dev/full", TAppendFile::TOpenMode::Append), 0);
  EXPECT_EQ(log.WriteLine("x", "\n"), ENOSPC);
}

TEST_F(FilesTest, FileReadStream) {
  std::string data(50000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(255 - i % 251);
  std::ofstream(root_ / "data", std::ios::binary) << data;
  fs::create_symlink(root_ / "data", root_ / "link");
  for (const std::string& name : {Path("data"), Path("link")}) {
    TFileReadStream in;
    ASSERT_EQ(in.Open(name), 0) << name;
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(got == data) << name;
    EXPECT_EQ(OpenFlagsOf(Path("data")) & O_CLOEXEC, O_CLOEXEC);
  }
  EXPECT_EQ(OpenFlagsOf(Path("data")), 0) << "closed by the destructor";

  struct Case {
    std::string path;
    int err;
  } refused[] = {{Path("missing"), ENOENT},
                 {root_.string(), EISDIR},
                 {Path("fifo"), EINVAL},
                 {"/dev/zero", EINVAL},
                 {"", ENOENT}};
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const auto& c : refused) {
    TFileReadStream in;
    EXPECT_EQ(in.Open(c.path), c.err) << c.path;
    EXPECT_TRUE(in.fail()) << c.path;
  }

  // A file that opens but cannot be read: the stream goes bad instead of reaching an end.
  TFileReadStream mem;
  ASSERT_EQ(mem.Open("/proc/self/mem"), 0);
  char buf[16];
  mem.read(buf, sizeof buf);
  EXPECT_TRUE(mem.bad());
  EXPECT_FALSE(mem.eof());
}

}  // namespace
}  // namespace rtl
