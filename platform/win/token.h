// The process token: which privileges the process holds and which of them are enabled. One
// process-wide token, built on first use from the effective user: root holds every privilege,
// another user SeChangeNotifyPrivilege, SeShutdownPrivilege, SeUndockPrivilege,
// SeIncreaseWorkingSetPrivilege and SeTimeZonePrivilege. Only SeChangeNotifyPrivilege starts
// enabled. These are the building blocks of the token functions of the security library; all are
// safe from any thread.
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
// changed its user since.
void KwResetProcessToken();
