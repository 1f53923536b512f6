// Passwords against shadow fields: hashes of each method the system's crypt knows, the fields
// that stand for no password, and locked accounts; each refusal with the reason scmd logs.
#include "platform/scm/logon.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace scm {
namespace {

constexpr char kWrong[] = "the password is not the account's";
constexpr char kLocked[] = "the account is locked";

// The field the system would store for password with the method of prefix.
std::string Hash(const char* prefix, const std::string& password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting)) return "";
  auto data = std::make_unique<crypt_data>();
  const char* hash = crypt_r(password.c_str(), setting, data.get());
  return hash && hash[0] != '*' ? hash : "";
}

// "0", or "1069: " and the reason.
std::string Verdict(const std::string& field, const std::string& password) {
  std::string reason;
  const uint32_t code = CheckPassword(field, password, &reason);
  return code == 0 ? "0" : std::to_string(code) + ": " + reason;
}

TEST(Logon, APasswordMatchesItsHashAndNothingElse) {
  const std::string password = "pass word 1", wrong = std::string("1069: ") + kWrong;
  for (const char* prefix : {"$y$", "$6$", "$5$", "$1$"}) {
    SCOPED_TRACE(prefix);
    const std::string field = Hash(prefix, password);
    ASSERT_FALSE(field.empty());
    EXPECT_EQ(Verdict(field, password), "0");
    EXPECT_EQ(Verdict(field, "pass word 2"), wrong);
    EXPECT_EQ(Verdict(field, ""), wrong);
    EXPECT_EQ(Verdict(field, password + std::string("\0x", 2)), wrong);
    EXPECT_EQ(Verdict(field.substr(0, field.size() - 1), password), wrong);
    // `passwd -l` keeps the hash behind a "!": neither the password nor the empty one logs on.
    EXPECT_EQ(Verdict("!" + field, password), std::string("1069: ") + kLocked);
    EXPECT_EQ(Verdict("!" + field, ""), std::string("1069: ") + kLocked);
  }
}

TEST(Logon, EachShadowFieldTakesItsPasswordsOnly) {
  const std::string password = "Kw pass 3", hash = Hash("$6$", password);
  ASSERT_FALSE(hash.empty());
  const struct {
    std::string field;
    std::string password;
    uint32_t code;
    const char* reason;  // "" with 0
  } cases[] = {
      {hash, password, 0, ""},
      {hash, "Kw pass 4", 1069, kWrong},
      {hash, "", 1069, kWrong},
      // No password: the empty one only.
      {"", "", 0, ""},
      {"", password, 1069, kWrong},
      {"*", "", 0, ""},  // Debian's nobody
      {"*", password, 1069, kWrong},
      {"!", "", 0, ""},
      {"!", password, 1069, kWrong},
      {"!!", "", 0, ""},
      {"!!", password, 1069, kWrong},
      {"!*", "", 0, ""},
      {"!*", password, 1069, kWrong},
      // Locked: nothing.
      {"!" + hash, password, 1069, kLocked},
      {"!" + hash, "", 1069, kLocked},
      {"!!" + hash, password, 1069, kLocked},
      {"!x", "", 1069, kLocked},
      // No hash a crypt would give back: what a failed hash gives back is never taken for one.
      {"*0", "", 1069, kWrong},
      {"*0", "*0", 1069, kWrong},
      {"*LK*", "", 1069, kWrong},
      {"x", "", 1069, kWrong},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_EQ(CheckPassword(c.field, c.password, &reason), c.code)
        << "field \"" << c.field << "\", password \"" << c.password << "\"";
    if (c.code) {
      EXPECT_EQ(reason, c.reason) << c.field;
    }
  }
}

TEST(Logon, AnAccountWithoutAShadowEntryDoesNotLogOn) {
  std::string reason;
  EXPECT_EQ(CheckLogon("no-such-user-kw", "", &reason), 1069u);
  EXPECT_EQ(reason, "no shadow entry could be read for the account");
}

}  // namespace
}  // namespace scm
