// The process token: which privileges the process holds and which of them are enabled. One
// process-wide token, built on first use from the effective user: root holds every privilege,
// another user SeChangeNotifyPrivilege, SeShutdownPrivilege, SeUndockPrivilege,
// SeIncreaseWorkingSetPrivilege and SeTimeZonePrivilege (so only root holds SeSecurityPrivilege).
// Only SeChangeNotifyPrivilege starts enabled. The Kw functions are the building blocks of the
// token functions of the security library; OpenProcessToken, GetTokenInformation and CloseHandle
// are the Win32 calls over token handles. All are safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/win/base.h"

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};

constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x1;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x2;
constexpr DWORD SE_PRIVILEGE_REMOVED = 0x4;
constexpr DWORD SE_PRIVILEGE_USED_FOR_ACCESS = 0x80000000;

// A token's privileges: PrivilegeCount entries (the array is longer than it is declared).
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;

// Token rights.
constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
constexpr DWORD TOKEN_ADJUST_SESSIONID = 0x0100;
constexpr DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

enum TOKEN_INFORMATION_CLASS : int { TokenUser = 1, TokenGroups, TokenPrivileges };

inline bool operator==(const LUID& a, const LUID& b) {
  return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

// The LUID of a privilege by its name ("SeShutdownPrivilege"), in any letter case. TRUE on
// success; FALSE with last error 1313 for an unknown name, 87 for null arguments.
BOOL KwLookupPrivilegeValue(const char* name, LUID* luid);

// The name of a privilege by its LUID. TRUE on success; FALSE with last error 1313 when no
// privilege has that LUID.
BOOL KwLookupPrivilegeName(LUID luid, std::string& name);

// The privileges the token holds, in LUID order, with their attributes (SE_PRIVILEGE_ENABLED,
// SE_PRIVILEGE_ENABLED_BY_DEFAULT).
std::vector<LUID_AND_ATTRIBUTES> KwTokenPrivileges();

// Enables (attributes has SE_PRIVILEGE_ENABLED) or disables (it has not) a privilege the token
// holds; SE_PRIVILEGE_REMOVED removes it from the token for good. Returns TRUE with last error 0;
// for a privilege the token does not hold nothing changes and the result is TRUE with last error
// 1300 (ERROR_NOT_ALL_ASSIGNED), as Windows reports it.
BOOL KwAdjustTokenPrivilege(LUID luid, DWORD attributes);

// Builds the token anew from the current effective user, as at start: for a process that has
// changed its user since. Open token handles stay open and see the new token.
void KwResetProcessToken();

// A handle to the process token with the rights asked for (MAXIMUM_ALLOWED: every token right;
// the process may do anything with its own token). process must be GetCurrentProcess(): another
// value fails with 6; a null token argument with 87. The caller closes it with CloseHandle.
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);

// TokenPrivileges: a TOKEN_PRIVILEGES of the privileges held (KwTokenPrivileges). Needs
// TOKEN_QUERY (else 5). *returnLength receives the size needed; a buffer shorter than that fails
// with 122. Any other class fails with 87; a handle that is no open token handle with 6.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         DWORD* returnLength);

// Closes a token handle: TRUE, or FALSE with 6 when the handle is not open.
BOOL CloseHandle(HANDLE handle);

// The rights an open token handle was opened with: TRUE, or FALSE with 6.
BOOL KwTokenAccess(HANDLE token, DWORD* access);
