// Logging on the account a service runs under, as the platform does at each start: the password
// given with the account is checked against the user's entry in the system's shadow table, hashed
// with crypt_r and compared in constant time. The check costs what the entry's hash method makes
// it cost (milliseconds for yescrypt or SHA-512), and nothing more: no delay after a failure.
// The buffers the check fills (the entry, the hash) are wiped before it returns.
// Pure functions apart from the table lookup; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace scm {

// 0 when password logs on an account whose shadow password field is field, else 1069
// (ERROR_SERVICE_LOGON_FAILED) with *reason saying why, never with the password:
// - a field without a hash ("", "*", or one or more "!" alone or before "*": no password) takes
//   the empty password only;
// - "!" before a hash is a locked account (as `passwd -l` leaves it), which never logs on;
// - any other field is a hash that crypt_r must give back for the password.
// A password with a NUL byte in it never matches (the hash would see only what comes before it).
uint32_t CheckPassword(const std::string& field, const std::string& password, std::string* reason);

// CheckPassword against the user's shadow entry; 1069 also when that entry cannot be read.
uint32_t CheckLogon(const std::string& user, const std::string& password, std::string* reason);

}  // namespace scm
