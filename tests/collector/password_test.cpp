#include "collector/password.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/mail/base64.h"
#include "rtl/crypto.h"
#include "rtl/files.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s += static_cast<char>(v);
  return s;
}

std::string AllControlBytes() {
  std::string s;
  for (int c = 0; c < 0x20; ++c)
    s += static_cast<char>(c);
  return s;
}

std::string EveryByte() {
  std::string s;
  for (int c = 0; c < 256; ++c)
    s += static_cast<char>(c);
  return s;
}

struct Password {
  const char* what;
  std::string value;
};

// Passwords as users type them: ASCII, Shift-JIS (with trail bytes that are "\" and "|"),
// control bytes including NUL, and every byte value.
const std::vector<Password>& Passwords() {
  static const std::vector<Password> kPasswords = {
      {"one byte", "a"},
      {"ascii", "pass word!"},
      {"two bytes", "ab"},
      {"shift-jis", "\x83\x5C\x83\x7C\x93\xFA\x96\x7B\x8C\xEA"},  // ソ|日本語
      {"control bytes", AllControlBytes()},
      {"nul inside", Bytes({'a', 0, 'b'})},
      {"every byte", EveryByte()},
      {"long", std::string(1000, 'x')},
  };
  return kPasswords;
}

size_t Base64Length(size_t n) {
  return (n + 2) / 3 * 4;
}

TEST(StoredPassword, RoundTripsAndShape) {
  for (const Password& p : Passwords()) {
    SCOPED_TRACE(p.what);
    const std::string stored = EncryptSetting(p.value, kSettingPassphrase);
    EXPECT_EQ(stored.size(), Base64Length(Base64Length(p.value.size())));
    EXPECT_EQ(stored.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(DecryptSetting(stored, kSettingPassphrase), p.value);
    // Fixed key and initial vector: the same value is always stored the same way.
    EXPECT_EQ(EncryptSetting(p.value, kSettingPassphrase), stored);
  }
  EXPECT_EQ(EncryptSetting("a", kSettingPassphrase).size(), 8u);
  EXPECT_EQ(net::mail::Base64Decode(EncryptSetting("a", kSettingPassphrase)).size(), 4u);
}

TEST(StoredPassword, EmptyStaysEmpty) {
  EXPECT_EQ(EncryptSetting("", kSettingPassphrase), "");
  EXPECT_EQ(DecryptSetting("", kSettingPassphrase), "");
}

TEST(StoredPassword, CorruptTextGivesEmptyOrOtherBytesNeverAnError) {
  const std::string stored = EncryptSetting("secret", kSettingPassphrase);
  struct Case {
    const char* what;
    std::string text;
    bool empty;
  } cases[] = {
      {"5 characters", "QUJDR", true},
      {"stored text cut by one", stored.substr(0, stored.size() - 1), true},
      {"stored text plus a line end", stored + "\r\n", true},
      {"1 character", "Q", true},
      {"valid length, not made here", "QUJDRA==", false},      // inner "ABCD"
      {"valid length, not Base64 inside", "ISEhIQ==", false},  // inner "!!!!"
      {"valid length, odd characters", "\x83\x5C\x83\x5C\x83\x5C\x83\x5C", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string plain;
    ASSERT_NO_THROW(plain = DecryptSetting(c.text, kSettingPassphrase));
    EXPECT_EQ(plain.empty(), c.empty);
  }
  // Another passphrase deciphers to other bytes of the same length.
  const std::string other = DecryptSetting(stored, "mvqk");
  EXPECT_EQ(other.size(), 6u);
  EXPECT_NE(other, "secret");
}

// Runs a command line through the shell with stdout into a file; returns that output without
// its final line end, and whether the command exited with 0.
class StoredPasswordProcess : public ::testing::Test {
 protected:
  static std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  bool Run(const std::vector<std::string>& args, std::vector<std::string>& lines) {
    std::string cmd;
    for (const auto& a : args)
      cmd += Quote(a) + " ";
    const fs::path out = dir_ / "out";
    cmd += "</dev/null >" + Quote(out.string()) + " 2>" + Quote((dir_ / "err").string());
    const bool ok = std::system(cmd.c_str()) == 0;
    std::ifstream f(out);
    lines.clear();
    for (std::string line; std::getline(f, line);)
      lines.push_back(line);
    if (!ok) {
      std::ifstream e(dir_ / "err");
      std::stringstream s;
      s << e.rdbuf();
      ADD_FAILURE() << cmd << "\n" << s.str();
    }
    return ok;
  }

  testsupport::TempDir tmp_{"kw_password_test"};
  fs::path dir_ = tmp_.path();
};

// What one program stores, the other reads: a second process stores and reads through its own
// objects.
TEST_F(StoredPasswordProcess, StoredTextCrossesProcesses) {
  const std::string tool = rtl::ProgramDir() + "collector_password_tool";
  ASSERT_TRUE(fs::exists(tool)) << tool;
  for (const Password& p : Passwords()) {
    SCOPED_TRACE(p.what);
    std::vector<std::string> lines;
    ASSERT_TRUE(Run({tool, "encrypt", rtl::HexLower(p.value)}, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], EncryptSetting(p.value, kSettingPassphrase));
    EXPECT_EQ(DecryptSetting(lines[0], kSettingPassphrase), p.value);

    ASSERT_TRUE(Run({tool, "decrypt", EncryptSetting(p.value, kSettingPassphrase)}, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], rtl::HexLower(p.value));
  }
}

// An independent computation of the stored values: libcrypto's bare Blowfish block from Python,
// with its own CFB-8 loop and Base64.
TEST_F(StoredPasswordProcess, AgreesWithIndependentComputation) {
  const std::string python = "/usr/bin/python3";
  if (!fs::exists(python)) GTEST_SKIP() << "no " << python;
  std::vector<std::string> args = {python, std::string(COLLECTOR_TEST_DIR) + "/stored_password.py",
                                   kSettingPassphrase};
  for (const Password& p : Passwords())
    args.push_back(rtl::HexLower(p.value));
  std::vector<std::string> lines;
  ASSERT_TRUE(Run(args, lines));
  ASSERT_EQ(lines.size(), Passwords().size());
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(Passwords()[i].what);
    EXPECT_EQ(EncryptSetting(Passwords()[i].value, kSettingPassphrase), lines[i]);
  }
}

}  // namespace
