// The process token: a table of privileges with their fixed LUIDs, and the process-wide list of
// held privileges.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "platform/win/sysinfo.h"
#include "platform/win/token.h"
#include "rtl/cp932.h"

namespace {

struct Privilege {
  const char* name;
  DWORD luid;      // LowPart; HighPart is 0 for every privilege
  bool userHolds;  // held by a token of a user other than root
};

// The privileges and their LUIDs, in LUID order.
constexpr Privilege kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2, false},
    {"SeAssignPrimaryTokenPrivilege", 3, false},
    {"SeLockMemoryPrivilege", 4, false},
    {"SeIncreaseQuotaPrivilege", 5, false},
    {"SeMachineAccountPrivilege", 6, false},
    {"SeTcbPrivilege", 7, false},
    {"SeSecurityPrivilege", 8, false},
    {"SeTakeOwnershipPrivilege", 9, false},
    {"SeLoadDriverPrivilege", 10, false},
    {"SeSystemProfilePrivilege", 11, false},
    {"SeSystemtimePrivilege", 12, false},
    {"SeProfileSingleProcessPrivilege", 13, false},
    {"SeIncreaseBasePriorityPrivilege", 14, false},
    {"SeCreatePagefilePrivilege", 15, false},
    {"SeCreatePermanentPrivilege", 16, false},
    {"SeBackupPrivilege", 17, false},
    {"SeRestorePrivilege", 18, false},
    {"SeShutdownPrivilege", 19, true},
    {"SeDebugPrivilege", 20, false},
    {"SeAuditPrivilege", 21, false},
    {"SeSystemEnvironmentPrivilege", 22, false},
    {"SeChangeNotifyPrivilege", 23, true},
    {"SeRemoteShutdownPrivilege", 24, false},
    {"SeUndockPrivilege", 25, true},
    {"SeSyncAgentPrivilege", 26, false},
    {"SeEnableDelegationPrivilege", 27, false},
    {"SeManageVolumePrivilege", 28, false},
    {"SeImpersonatePrivilege", 29, false},
    {"SeCreateGlobalPrivilege", 30, false},
    {"SeTrustedCredManAccessPrivilege", 31, false},
    {"SeRelabelPrivilege", 32, false},
    {"SeIncreaseWorkingSetPrivilege", 33, true},
    {"SeTimeZonePrivilege", 34, true},
    {"SeCreateSymbolicLinkPrivilege", 35, false},
    {"SeDelegateSessionUserImpersonatePrivilege", 36, false},
};

constexpr DWORD kChangeNotify = 23;
constexpr DWORD kMaximumAllowed = 0x02000000;

std::mutex tokenLock;
std::optional<std::vector<LUID_AND_ATTRIBUTES>> token;  // guarded by tokenLock
// Open token handles and their rights; values count up in steps of 4 and are never reused.
std::map<uintptr_t, DWORD> handles;  // guarded by tokenLock
uintptr_t lastHandle = 0x7000;       // guarded by tokenLock

std::vector<LUID_AND_ATTRIBUTES> BuildToken() {
  const bool root = geteuid() == 0;
  std::vector<LUID_AND_ATTRIBUTES> held;
  for (const Privilege& p : kPrivileges) {
    if (!root && !p.userHolds) continue;
    const DWORD attributes =
        p.luid == kChangeNotify ? SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED : 0;
    held.push_back({{p.luid, 0}, attributes});
  }
  return held;
}

// REQUIRES: tokenLock held.
std::vector<LUID_AND_ATTRIBUTES>& Token() {
  if (!token) token = BuildToken();
  return *token;
}

}  // namespace

BOOL KwLookupPrivilegeValue(const char* name, LUID* luid) {
  if (!name || !luid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (const Privilege& p : kPrivileges) {
    if (rtl::SameText(p.name, name)) {
      *luid = {p.luid, 0};
      return TRUE;
    }
  }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return FALSE;
}

BOOL KwLookupPrivilegeName(LUID luid, std::string& name) {
  for (const Privilege& p : kPrivileges) {
    if (luid == LUID{p.luid, 0}) {
      name = p.name;
      return TRUE;
    }
  }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return FALSE;
}

std::vector<LUID_AND_ATTRIBUTES> KwTokenPrivileges() {
  std::lock_guard<std::mutex> lock(tokenLock);
  return Token();
}

BOOL KwAdjustTokenPrivilege(LUID luid, DWORD attributes) {
  std::lock_guard<std::mutex> lock(tokenLock);
  auto& held = Token();
  auto it = std::find_if(held.begin(), held.end(),
                         [&](const LUID_AND_ATTRIBUTES& e) { return e.Luid == luid; });
  if (it == held.end()) {
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
  }
  if (attributes & SE_PRIVILEGE_REMOVED) {
    held.erase(it);
  } else if (attributes & SE_PRIVILEGE_ENABLED) {
    it->Attributes |= SE_PRIVILEGE_ENABLED;
  } else {
    it->Attributes &= ~SE_PRIVILEGE_ENABLED;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void KwResetProcessToken() {
  std::lock_guard<std::mutex> lock(tokenLock);
  token = BuildToken();
}

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* handle) {
  if (!handle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const DWORD access = (desiredAccess & kMaximumAllowed) ? TOKEN_ALL_ACCESS : desiredAccess;
  std::lock_guard<std::mutex> lock(tokenLock);
  lastHandle += 4;
  handles[lastHandle] = access;
  *handle = reinterpret_cast<HANDLE>(lastHandle);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL KwTokenAccess(HANDLE handle, DWORD* access) {
  std::lock_guard<std::mutex> lock(tokenLock);
  auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (access) *access = it->second;
  return TRUE;
}

BOOL GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                         DWORD length, DWORD* returnLength) {
  DWORD access = 0;
  if (!KwTokenAccess(handle, &access)) return FALSE;
  if (infoClass != TokenPrivileges || !returnLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(access & TOKEN_QUERY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const std::vector<LUID_AND_ATTRIBUTES> held = KwTokenPrivileges();
  const size_t needed =
      offsetof(TOKEN_PRIVILEGES, Privileges) + held.size() * sizeof(LUID_AND_ATTRIBUTES);
  *returnLength = static_cast<DWORD>(needed);
  if (!info || length < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = static_cast<unsigned char*>(info);
  const DWORD count = static_cast<DWORD>(held.size());
  std::memcpy(out, &count, sizeof count);
  if (!held.empty())
    std::memcpy(out + offsetof(TOKEN_PRIVILEGES, Privileges), held.data(),
                held.size() * sizeof(LUID_AND_ATTRIBUTES));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(tokenLock);
  if (handles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
