// Passwords against shadow fields: hashes of each method the system's crypt knows, and the
// fields that stand for no password or a locked account.
#include "platform/scm/logon.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace scm {
namespace {

// The field the system would store for password with the method of prefix.
std::string Hash(const char* prefix, const std::string& password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting)) return "";
  auto data = std::make_unique<crypt_data>();
  const char* hash = crypt_r(password.c_str(), setting, data.get());
  return hash && hash[0] != '*' ? hash : "";
}

TEST(Logon, APasswordMatchesItsHashAndNothingElse) {
  const std::string password = "pass word 1";
  for (const char* prefix : {"$y$", "$6$", "$5$", "$1$"}) {
    SCOPED_TRACE(prefix);
    const std::string field = Hash(prefix, password);
    ASSERT_FALSE(field.empty());
    EXPECT_TRUE(PasswordMatches(field, password));
    EXPECT_FALSE(PasswordMatches(field, "pass word 2"));
    EXPECT_FALSE(PasswordMatches(field, ""));
    EXPECT_FALSE(PasswordMatches(field, password + std::string("\0x", 2)));
    EXPECT_FALSE(PasswordMatches(field.substr(0, field.size() - 1), password));
    // A locked account keeps its hash behind a "!": the right password no longer logs on.
    EXPECT_FALSE(PasswordMatches("!" + field, password));
    EXPECT_TRUE(PasswordMatches("!" + field, ""));
  }
}

TEST(Logon, FieldsWithoutAHashTakeTheEmptyPasswordOrNothing) {
  const struct {
    const char* field;
    bool empty;  // the empty password logs on
  } cases[] = {
      {"", true},      {"*", true},   {"!", true},
      {"!!", true},    {"*0", false},  // what a failed hash gives back: never taken for one
      {"*LK*", false}, {"x", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PasswordMatches(c.field, ""), c.empty) << c.field;
    EXPECT_FALSE(PasswordMatches(c.field, "anything")) << c.field;
    EXPECT_FALSE(PasswordMatches(c.field, "*0")) << c.field;
  }
}

TEST(Logon, AnAccountWithoutAShadowEntryDoesNotLogOn) {
  std::string reason;
  EXPECT_EQ(CheckLogon("no-such-user-kw", "", &reason), 1069u);
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace scm
