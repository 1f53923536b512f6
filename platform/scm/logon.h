// Logging on the account a service runs under, as the platform does at each start: the password
// given with the account is checked against the user's entry in the system's shadow table, hashed
// with crypt_r and compared in constant time. The check costs what the entry's hash method makes
// it cost (milliseconds for yescrypt or SHA-512), and nothing more: no delay after a failure.
// Pure functions apart from the table lookup; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scm {

// True when password is the one the shadow password field stands for. A field that is empty, "*"
// or starts with "!" (no password, or a locked one) takes the empty password only; any other
// field is a hash that crypt_r must give back for the password. A password with a NUL byte in it
// never matches (the hash would see only what comes before it).
bool PasswordMatches(std::string_view field, std::string_view password);

// 0 when password logs the user on. 1069 (ERROR_SERVICE_LOGON_FAILED) when it does not, or when
// the user's shadow entry cannot be read; *reason then says which, never with the password.
uint32_t CheckLogon(const std::string& user, const std::string& password, std::string* reason);

}  // namespace scm
