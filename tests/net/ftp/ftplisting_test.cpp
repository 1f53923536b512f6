// Listing lines and folder scans: the Unix-style and facts lines of known entries (times in a
// named zone), wildcard matching, and what a scan of a real folder shows.
#include "net/ftp/ftplisting.h"

#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/net/ftp/ftp_fixture.h"

namespace {

namespace fs = std::filesystem;

// Seconds since the epoch of a UTC date and time.
int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return static_cast<int64_t>(timegm(&t));
}

// Sets TZ for the test and restores it after.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      had_ = true;
      old_ = old;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TFtpDirEntry Entry(const std::string& name, bool dir, bool readOnly, int64_t size, int64_t mtime) {
  TFtpDirEntry e;
  e.Name = name;
  e.Directory = dir;
  e.ReadOnly = readOnly;
  e.Size = size;
  e.MTime = mtime;
  e.CTime = mtime - 3600;
  return e;
}

TEST(FtpListing, UnixLinesInTokyoTime) {
  ZoneGuard tokyo("Asia/Tokyo");
  // 15:30 UTC on the last day of 2023 is 00:30 on 1 January 2024 in Tokyo.
  const int64_t newYear = Utc(2023, 12, 31, 15, 30, 0);
  struct Case {
    const char* what;
    TFtpDirEntry entry;
    int currentYear;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"this year: hour and minute", Entry("report.txt", false, false, 2048, newYear), 2024,
       "-rw-rw-rw-   1 ftp      ftp         2048 Jan 01 00:30 report.txt"},
      {"another year: the year", Entry("report.txt", false, false, 2048, newYear), 2025,
       "-rw-rw-rw-   1 ftp      ftp         2048 Jan 01  2024 report.txt"},
      {"a file of 2050", Entry("future.dat", false, false, 1, Utc(2050, 7, 9, 3, 0, 0)), 2024,
       "-rw-rw-rw-   1 ftp      ftp            1 Jul 09  2050 future.dat"},
      {"read-only program", Entry("SETUP.EXE", false, true, 12345678901, newYear), 2024,
       "-r-xr-xr-x   1 ftp      ftp  12345678901 Jan 01 00:30 SETUP.EXE"},
      {"writable batch file", Entry("run.bat", false, false, 0, newYear), 2024,
       "-rwxrwxrwx   1 ftp      ftp            0 Jan 01 00:30 run.bat"},
      {"a folder", Entry("sub", true, false, 0, newYear), 2024,
       "drw-rw-rw-   1 ftp      ftp            0 Jan 01 00:30 sub"},
      {"a read-only folder", Entry("locked", true, true, 0, newYear), 2024,
       "dr--r--r--   1 ftp      ftp            0 Jan 01 00:30 locked"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(FtpUnixLine(k.entry, k.currentYear), k.line);
  }
  ZoneGuard utc("UTC");
  EXPECT_EQ(FtpUnixLine(Entry("report.txt", false, false, 2048, newYear), 2024),
            "-rw-rw-rw-   1 ftp      ftp         2048 Dec 31  2023 report.txt");
}

TEST(FtpListing, FactsLinesAreInUtc) {
  ZoneGuard tokyo("Asia/Tokyo");
  const int64_t t = Utc(2024, 3, 5, 7, 8, 9);
  struct Case {
    TFtpDirEntry entry;
    std::string line;
  };
  const std::vector<Case> cases = {
      {Entry("a.txt", false, false, 42, t),
       "size=42;type=file;perm=fdrwa;create=20240305060809;modify=20240305070809; a.txt"},
      {Entry("ro.txt", false, true, 7, t),
       "size=7;type=file;perm=rw;create=20240305060809;modify=20240305070809; ro.txt"},
      {Entry(".", true, false, 0, t),
       "size=0;type=cdir;perm=fdelcmp;create=20240305060809;modify=20240305070809; ."},
      {Entry("..", true, false, 0, t),
       "size=0;type=pdir;perm=fdelcmp;create=20240305060809;modify=20240305070809; .."},
      {Entry("sub", true, false, 0, t),
       "size=0;type=dir;perm=fdelcmp;create=20240305060809;modify=20240305070809; sub"},
  };
  for (const Case& k : cases)
    EXPECT_EQ(FtpFactsLine(k.entry), k.line);
}

TEST(FtpListing, WildcardsMatchCharactersAndFoldOnlyAsciiLetters) {
  struct Case {
    std::string pattern;
    std::string name;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"*.*", "noextension", true},
      {"*", ".", true},
      {"*.txt", "A.TXT", true},
      {"*.txt", ".", false},
      {"*.txt", "a.txt.bak", false},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"?.txt", "ab.txt", false},
      // A double-byte character is one character for "?".
      {"?.txt", "\x83\x41.txt", true},
      // Its trail byte is not a letter: "ア" (83 41) is not "ヂ" (83 61).
      {"\x83\x41*", "\x83\x61.txt", false},
      {"\x83\x41*", "\x83\x41.txt", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.pattern + " / " + k.name);
    EXPECT_EQ(FtpNameMatches(k.pattern, k.name), k.matches);
  }
}

std::vector<std::string> Names(const std::vector<TFtpDirEntry>& entries) {
  std::vector<std::string> names;
  for (const TFtpDirEntry& e : entries)
    names.push_back(e.Name);
  return names;
}

TEST(FtpListing, ScanShowsFoldersAndPlainFilesOnly) {
  testsupport::TempDir dir;
  dir.Write("b.txt", "bb");
  dir.Write("a.TXT", "a");
  dir.Write(".hidden", "h");
  dir.Write("sub/inner.txt", "i");
  fs::create_symlink("/etc/passwd", dir.File("link"));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  chmod(dir.File("b.txt").c_str(), 0444);

  std::vector<TFtpDirEntry> root;
  ASSERT_EQ(ScanFtpFolder(dir.path(), "", false, true, root), 0);
  EXPECT_EQ(Names(root), (std::vector<std::string>{".", "a.TXT", "b.txt", "sub"}));
  EXPECT_TRUE(root[0].Directory);
  EXPECT_FALSE(root[1].ReadOnly);
  EXPECT_TRUE(root[2].ReadOnly);
  EXPECT_EQ(root[2].Size, 2);
  EXPECT_TRUE(root[3].Directory);

  std::vector<TFtpDirEntry> all;
  ASSERT_EQ(ScanFtpFolder(dir.path(), "", true, false, all), 0);
  EXPECT_EQ(Names(all), (std::vector<std::string>{".", "..", ".hidden", "a.TXT", "b.txt", "sub"}));

  std::vector<TFtpDirEntry> texts;
  ASSERT_EQ(ScanFtpFolder(dir.path(), "*.txt", false, false, texts), 0);
  EXPECT_EQ(Names(texts), (std::vector<std::string>{"a.TXT", "b.txt"}));

  std::vector<TFtpDirEntry> none;
  EXPECT_NE(ScanFtpFolder(dir.File("missing"), "", false, false, none), 0);
}

}  // namespace
