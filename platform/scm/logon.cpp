// The shadow field's rules and the hash comparison (libcrypt).
#include "platform/scm/logon.h"

#include <crypt.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "platform/scm/accounts.h"
#include "platform/scm/secret.h"
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

bool HashMatches(const std::string& field, const std::string& password) {
  auto data = std::make_unique<crypt_data>();  // zeroed, as a first use of it must be
  const char* hash = crypt_r(password.c_str(), field.c_str(), data.get());
  // A failed hash is a text starting with "*", which no stored field may equal.
  const bool same = hash && hash[0] != '*' && SameBytes(hash, field);
  explicit_bzero(data.get(), sizeof *data);
  return same;
}

uint32_t Refused(std::string* reason, const char* why) {
  *reason = why;
  return ERROR_SERVICE_LOGON_FAILED;
}

}  // namespace

uint32_t CheckPassword(const std::string& field, const std::string& password, std::string* reason) {
  constexpr char kWrong[] = "the password is not the account's";
  if (password.find('\0') != std::string::npos) return Refused(reason, kWrong);
  const size_t locks = std::min(field.find_first_not_of('!'), field.size());
  const std::string_view rest = std::string_view(field).substr(locks);
  if (rest.empty() || rest == "*") return password.empty() ? 0 : Refused(reason, kWrong);
  if (locks > 0) return Refused(reason, "the account is locked");
  return HashMatches(field, password) ? 0 : Refused(reason, kWrong);
}

uint32_t CheckLogon(const std::string& user, const std::string& password, std::string* reason) {
  std::string field;
  const WipeAtExit wipe(field);
  if (!ShadowPassword(user, field))
    return Refused(reason, "no shadow entry could be read for the account");
  return CheckPassword(field, password, reason);
}

}  // namespace scm
