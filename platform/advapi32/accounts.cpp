// Accounts by name and by SID (platform/scm's accounts.h maps them), and the privileges of the
// process token (platform/win's token.h holds it).
#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/internal.h"
#include "platform/advapi32/security.h"
#include "platform/scm/accounts.h"

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Whether text and its NUL fit a buffer of *cch characters (a null buffer holds nothing).
bool FitsText(const std::string& text, LPSTR buffer, LPDWORD cch) {
  return buffer && *cch > text.size();
}

// Copies text and its NUL; *cch receives its length. REQUIRES: FitsText.
void PutText(const std::string& text, LPSTR buffer, LPDWORD cch) {
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *cch = static_cast<DWORD>(text.size());
}

// Hands out an account: the SID (or the name) and the domain, all or none. When a buffer is short
// every size receives what is needed (texts with their NUL) and the result is 122.
BOOL GiveAccount(const scm::AccountName& a, PSID sid, LPDWORD cbSid, LPSTR name, LPDWORD cchName,
                 LPSTR domain, LPDWORD cchDomain, PSID_NAME_USE use) {
  std::string sidBytes;
  scm::AppendSid(sidBytes, a.sid);
  const bool sidFits = cbSid ? sid && *cbSid >= sidBytes.size() : true;
  const bool nameFits = cchName ? FitsText(a.name, name, cchName) : true;
  if (!sidFits || !nameFits || !FitsText(a.domain, domain, cchDomain)) {
    if (cbSid) *cbSid = static_cast<DWORD>(sidBytes.size());
    if (cchName) *cchName = static_cast<DWORD>(a.name.size() + 1);
    *cchDomain = static_cast<DWORD>(a.domain.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (cbSid) {
    std::memcpy(sid, sidBytes.data(), sidBytes.size());
    *cbSid = static_cast<DWORD>(sidBytes.size());
  }
  if (cchName) PutText(a.name, name, cchName);
  PutText(a.domain, domain, cchDomain);
  *use = static_cast<SID_NAME_USE>(a.use);
  return Succeed();
}

}  // namespace

// ---- Accounts ----

KW_ADVAPI32_API BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid,
                                        LPDWORD cbSid, LPSTR ReferencedDomainName,
                                        LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
  if (!lpAccountName || !cbSid || !cchReferencedDomainName || !peUse)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!advapi::IsLocalMachine(lpSystemName)) return Fail(RPC_S_SERVER_UNAVAILABLE);
  scm::AccountName a;
  if (uint32_t err = scm::LookupAccountByName(lpAccountName, a)) return Fail(err);
  return GiveAccount(a, Sid, cbSid, nullptr, nullptr, ReferencedDomainName, cchReferencedDomainName,
                     peUse);
}

KW_ADVAPI32_API BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                                       PSID_NAME_USE peUse) {
  if (!cchName || !cchReferencedDomainName || !peUse) return Fail(ERROR_INVALID_PARAMETER);
  if (!advapi::IsLocalMachine(lpSystemName)) return Fail(RPC_S_SERVER_UNAVAILABLE);
  if (!IsValidSid(Sid)) return Fail(ERROR_INVALID_SID);
  scm::Sid sid;
  if (scm::ReadSid(static_cast<const uint8_t*>(Sid), GetLengthSid(Sid), sid) != 0)
    return Fail(ERROR_INVALID_SID);
  scm::AccountName a;
  if (uint32_t err = scm::LookupAccountBySid(sid, a)) return Fail(err);
  return GiveAccount(a, nullptr, nullptr, Name, cchName, ReferencedDomainName,
                     cchReferencedDomainName, peUse);
}

// ---- Privileges ----

KW_ADVAPI32_API BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (!advapi::IsLocalMachine(lpSystemName)) return Fail(RPC_S_SERVER_UNAVAILABLE);
  if (!KwLookupPrivilegeValue(lpName, lpLuid)) return FALSE;
  return Succeed();
}

KW_ADVAPI32_API BOOL LookupPrivilegeNameA(LPCSTR lpSystemName, PLUID lpLuid, LPSTR lpName,
                                          LPDWORD cchName) {
  if (!lpLuid || !cchName) return Fail(ERROR_INVALID_PARAMETER);
  if (!advapi::IsLocalMachine(lpSystemName)) return Fail(RPC_S_SERVER_UNAVAILABLE);
  std::string name;
  if (!KwLookupPrivilegeName(*lpLuid, name)) return FALSE;
  if (!FitsText(name, lpName, cchName)) {
    *cchName = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  PutText(name, lpName, cchName);
  return Succeed();
}

KW_ADVAPI32_API BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  DWORD access = 0;
  if (!KwTokenAccess(TokenHandle, &access)) return FALSE;
  if (!(access & TOKEN_ADJUST_PRIVILEGES) || (PreviousState && !(access & TOKEN_QUERY)))
    return Fail(ERROR_ACCESS_DENIED);
  if ((!DisableAllPrivileges && !NewState) || (PreviousState && !ReturnLength))
    return Fail(ERROR_INVALID_PARAMETER);

  // What to change: each held privilege whose state the request changes, with its old state.
  const std::vector<LUID_AND_ATTRIBUTES> held = KwTokenPrivileges();
  auto find = [&](const LUID& luid) -> const LUID_AND_ATTRIBUTES* {
    for (const auto& e : held)
      if (e.Luid == luid) return &e;
    return nullptr;
  };
  std::vector<LUID_AND_ATTRIBUTES> changes, before;
  bool notAll = false;
  if (DisableAllPrivileges) {
    for (const auto& e : held) {
      if (!(e.Attributes & SE_PRIVILEGE_ENABLED)) continue;
      changes.push_back({e.Luid, 0});
      before.push_back(e);
    }
  } else {
    // The entries follow the count; the array is longer than it is declared.
    const auto* entries =
        reinterpret_cast<const BYTE*>(NewState) + offsetof(TOKEN_PRIVILEGES, Privileges);
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      LUID_AND_ATTRIBUTES asked;
      std::memcpy(&asked, entries + i * sizeof asked, sizeof asked);
      const LUID_AND_ATTRIBUTES* now = find(asked.Luid);
      if (!now) {
        notAll = true;
        continue;
      }
      const bool remove = (asked.Attributes & SE_PRIVILEGE_REMOVED) != 0;
      const bool enable = (asked.Attributes & SE_PRIVILEGE_ENABLED) != 0;
      if (!remove && enable == ((now->Attributes & SE_PRIVILEGE_ENABLED) != 0)) continue;
      changes.push_back(
          {asked.Luid, asked.Attributes & (SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_REMOVED)});
      before.push_back(*now);
    }
  }
  if (PreviousState) {
    const size_t need =
        offsetof(TOKEN_PRIVILEGES, Privileges) + before.size() * sizeof(LUID_AND_ATTRIBUTES);
    *ReturnLength = static_cast<DWORD>(need);
    if (BufferLength < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* out = reinterpret_cast<BYTE*>(PreviousState);
    const DWORD count = static_cast<DWORD>(before.size());
    std::memcpy(out, &count, sizeof count);
    if (!before.empty())
      std::memcpy(out + offsetof(TOKEN_PRIVILEGES, Privileges), before.data(),
                  before.size() * sizeof(LUID_AND_ATTRIBUTES));
  }
  for (const auto& c : changes)
    KwAdjustTokenPrivilege(c.Luid, c.Attributes);
  SetLastError(notAll ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
  return TRUE;
}
