// Privileges of the process token: whether one is enabled, enabling or disabling it, and making
// sure it is enabled. Token and lookup failures raise ENTException with the system's text. Safe
// from any thread (the token is the process's: a change is seen by every thread).
#pragma once

#include <string>

// The token rights each call opens the token with.
constexpr unsigned kTokenQueryRights = 0x20008;   // TOKEN_QUERY, READ_CONTROL
constexpr unsigned kTokenAdjustRights = 0x400E8;  // TOKEN_QUERY, TOKEN_ADJUST_PRIVILEGES,
                                                  // _GROUPS, _DEFAULT, WRITE_DAC

// True when the token holds the privilege ("SeSecurityPrivilege") and it is enabled; false for a
// privilege it lacks or an unknown name. Raises when the token cannot be opened or read.
bool IsPrivilegeEnabled(const std::string& name);
// Enables or disables the privilege: true only when the token holds it and the change was made
// (false when the token lacks it, or for an unknown name). Raises when the token cannot be opened
// or read.
bool EnablePrivilege(const std::string& name, bool enable);
// Enables the privilege unless it is enabled: true when it is enabled afterwards. Access denied
// (5) gives false; other failures raise.
bool EnsurePrivilege(const std::string& name);
