// The shadow field's rules and the hash comparison (libcrypt).
#include "platform/scm/logon.h"

#include <crypt.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "platform/scm/accounts.h"
#include "platform/win/win.h"

namespace scm {

namespace {

// Looks at every byte of the longer text whatever the bytes before it were.
bool SameBytes(std::string_view a, std::string_view b) {
  size_t diff = a.size() ^ b.size();
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    diff |= x ^ y;
  }
  return diff == 0;
}

}  // namespace

bool PasswordMatches(std::string_view field, std::string_view password) {
  if (password.find('\0') != std::string_view::npos) return false;
  if (field.empty() || field == "*" || field.front() == '!') return password.empty();
  const std::string phrase(password), setting(field);
  auto data = std::make_unique<crypt_data>();  // zeroed, as a first use of it must be
  const char* hash = crypt_r(phrase.c_str(), setting.c_str(), data.get());
  // A failed hash is a text starting with "*", which no stored field may equal.
  const bool same = hash && hash[0] != '*' && SameBytes(hash, field);
  explicit_bzero(data.get(), sizeof *data);
  return same;
}

uint32_t CheckLogon(const std::string& user, const std::string& password, std::string* reason) {
  std::string field;
  if (!ShadowPassword(user, field)) {
    *reason = "no shadow entry could be read for the account";
    return ERROR_SERVICE_LOGON_FAILED;
  }
  if (!PasswordMatches(field, password)) {
    *reason = "the password is not the account's";
    return ERROR_SERVICE_LOGON_FAILED;
  }
  return 0;
}

}  // namespace scm
