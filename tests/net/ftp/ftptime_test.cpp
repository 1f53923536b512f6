// Wire time texts, zone conversion per instant, file times, numbers, sizes and MD5 digests.
#include "net/ftp/ftptime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "net/ftp/ftpmd5.h"
#include "rtl/exception.h"
#include "rtl/fs.h"
#include "tests/net/ftp/ftp_fixture.h"

namespace {

using testsupport::TempDir;

TEST(FtpTime, WireTextRoundTrip) {
  const rtl::TDateTime dt = rtl::EncodeDate(2008, 3, 5) + rtl::EncodeTime(7, 8, 9, 10);
  EXPECT_EQ(DateTimeToMdtm(dt), "20080305070809.010");
  EXPECT_EQ(PadNumber(7, 3), "007");
  EXPECT_EQ(PadNumber(12345, 2), "12345");
  // Each text parsed, and what it gives: a date-time (printed back), 0 or -1.
  struct Case {
    const char* text;
    const char* back;  // DateTimeToMdtm of the result, when it is a date-time
    double special;    // else the value
  } cases[] = {
      {"20080305070809", "20080305070809.000", 0},
      {"20080305070809.010", "20080305070809.010", 0},
      {"20080305070809x999", "20080305070809.999", 0},  // character 15 may be anything
      {"20500101000000", "20500101000000.000", 0},
      {"20000229235959", "20000229235959.000", 0},
      {"2008030507080", nullptr, 0},    // 13 characters
      {"20081305070809", nullptr, 0},   // month 13
      {"20080005070809", nullptr, 0},   // month 0
      {"20080132070809", nullptr, 0},   // day 32
      {"20080231070809", nullptr, -1},  // 31 February
      {"20010229000000", nullptr, -1},  // not a leap year
      {"20080305250809", nullptr, -1},  // hour 25
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const rtl::TDateTime v = MdtmToDateTime(c.text);
    if (c.back)
      EXPECT_EQ(DateTimeToMdtm(v), c.back);
    else
      EXPECT_EQ(v, c.special);
  }
  // A minute part that is not a number reads as 0.
  EXPECT_EQ(DateTimeToMdtm(MdtmToDateTime("2008030507x809")), "20080305070009.000");
}

TEST(FtpTime, NumbersAndZoneOffsets) {
  struct Num {
    const char* text;
    int64_t value;
  } numbers[] = {
      {"  123abc", 123},
      {"-5", 0},
      {"", 0},
      {"   ", 0},
      {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"18446744073709551617", 1},  // wraps at 64 bits
  };
  for (const Num& n : numbers) {
    SCOPED_TRACE(n.text);
    EXPECT_EQ(DigitsToInt64(n.text), n.value);
  }
  struct Zone {
    const char* text;
    int32_t value;
  } zones[] = {
      {"+540", 540}, {"-060", -60}, {"  -120 x", -120}, {"+-30", 30},
      {"-", 0},      {"", 0},       {"--45", -45},      {"0", 0},
  };
  for (const Zone& z : zones) {
    SCOPED_TRACE(z.text);
    EXPECT_EQ(ParseZoneOffset(z.text), z.value);
  }
}

// Runs with TZ set to one zone and restores the old one afterwards.
class FtpTimeZone : public ::testing::Test {
 protected:
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void UseZone(const char* tz) {
    if (!savedTaken_) {
      if (const char* old = getenv("TZ")) saved_ = old;
      savedTaken_ = true;
    }
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
  bool savedTaken_ = false;
};

TEST_F(FtpTimeZone, LocalToUtcUsesTheOffsetOfThatInstant) {
  struct Case {
    const char* zone;
    const char* local;  // wire text of a local time
    const char* utc;    // the same instant in UTC
  } cases[] = {
      {"Asia/Tokyo", "20240115120000", "20240115030000.000"},
      {"Asia/Tokyo", "20240701120000", "20240701030000.000"},
      {"Asia/Tokyo", "20000101000000.250", "19991231150000.250"},
      {"Europe/Berlin", "20240115120000", "20240115110000.000"},  // winter: +1
      {"Europe/Berlin", "20240701120000", "20240701100000.000"},  // summer: +2
      {"Europe/Berlin", "20241027013000", "20241026233000.000"},  // the day summer time ends
      {"Europe/Berlin", "20241028013000", "20241028003000.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.local);
    UseZone(c.zone);
    EXPECT_EQ(DateTimeToMdtm(LocalToUtc(MdtmToDateTime(c.local))), c.utc);
  }
  UseZone("Asia/Tokyo");
  EXPECT_EQ(LocalBiasMinutes(), -540);
  UseZone("Europe/Berlin");
  const int32_t bias = LocalBiasMinutes();
  EXPECT_TRUE(bias == -60 || bias == -120) << bias;
}

TEST_F(FtpTimeZone, FileTimesAreSetAndReadInWholeSecondsPerInstant) {
  TempDir dir;
  const std::string file = dir.Write("f.txt", "x");
  UseZone("Europe/Berlin");
  // MFMT-style: the text is UTC, set without conversion, read back as UTC.
  ASSERT_TRUE(SetFileTimeRaw(file, MdtmToDateTime("20240701100001.900")));
  EXPECT_EQ(FileUtcTimeText(file), "20240701100001.000");
  // MDTM-style local times: a summer and a winter date, each converted with its own offset, and
  // an odd second kept (no 2-second rounding).
  ASSERT_TRUE(SetFileDateLocal(file, MdtmToDateTime("20240701120003")));
  EXPECT_EQ(FileUtcTimeText(file), "20240701100003.000");
  ASSERT_TRUE(SetFileDateLocal(file, MdtmToDateTime("20240115120003")));
  EXPECT_EQ(FileUtcTimeText(file), "20240115110003.000");
  UseZone("Asia/Tokyo");
  ASSERT_TRUE(SetFileDateLocal(file, MdtmToDateTime("20240115120003")));
  EXPECT_EQ(FileUtcTimeText(file), "20240115030003.000");
  EXPECT_EQ(FileAgeOfPath(file), 1705287603);
  EXPECT_EQ(FileAgeOfPath(file + "/"), -1);
}

// Which names count as files, folders or nothing, for the size, age, existence and time setters.
TEST(FtpFiles, OnlyPlainFilesAndFoldersAreSeen) {
  TempDir dir;
  const std::string file = dir.Write("file.bin", std::string(1234, 'z'));
  const std::string folder = dir.File("folder");
  std::filesystem::create_directory(folder);
  const std::string link = dir.File("link");
  std::filesystem::create_symlink(file, link);
  const std::string missing = dir.File("missing");
  struct Case {
    std::string path;
    int64_t size;
    bool exists;
    bool aged;
  } cases[] = {
      {file, 1234, true, true}, {folder, -1, true, false},   {folder + "/", -1, true, false},
      {link, -1, false, false}, {missing, -1, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileSizeOf(c.path), c.size);
    EXPECT_EQ(PathExists(c.path), c.exists);
    EXPECT_EQ(FileAgeOfPath(c.path) >= 0, c.aged);
    EXPECT_EQ(FileUtcTimeText(c.path).empty(), !c.aged);
    EXPECT_EQ(SetFileTimeRaw(c.path, MdtmToDateTime("20200101000000")), c.aged);
  }
  // Setting a time through the link changes nothing on its target.
  EXPECT_FALSE(SetFileTimeRaw(link, MdtmToDateTime("20300101000000")));
  EXPECT_EQ(FileUtcTimeText(file), "20200101000000.000");
}

TEST(FtpMd5, DigestsOfTextsAndFiles) {
  EXPECT_EQ(StrMD5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(StrMD5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
  // Block boundaries: a buffer fed in 16384-byte pieces, files read in 102400-byte blocks.
  TempDir dir;
  for (size_t size : {size_t{0}, size_t{1}, kFtpMd5BlockSize, kFtpFileMd5ReadSize,
                      kFtpFileMd5ReadSize + 1, 3 * kFtpFileMd5ReadSize - 7}) {
    SCOPED_TRACE(size);
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>((i * 131 + 7) % 251);
    const std::string file = dir.Write("f" + std::to_string(size), data);
    const std::string expected = HexUpper(rtl::Md5(data));
    EXPECT_EQ(BufferMD5Hex(data.data(), data.size()), expected);
    EXPECT_EQ(FileMD5Hex(file), expected);
  }
  const std::string secret = dir.Write("secret", "s");
  std::filesystem::create_symlink(secret, dir.File("link"));
  ASSERT_EQ(std::system(("mkfifo " + ftptest::ShellQuote(dir.File("fifo"))).c_str()), 0);
  // A missing file, a link (never followed) and a FIFO (never waited on) all fail at once.
  for (const char* name : {"missing", "link", "fifo"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(FileMD5Hex(dir.File(name)), rtl::EInOutError);
  }
}

}  // namespace
