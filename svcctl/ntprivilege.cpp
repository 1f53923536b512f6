#include "svcctl/ntprivilege.h"

#include <vector>

#include "platform/win/win.h"
#include "svcctl/apibind.h"
#include "svcctl/ntexception.h"
#include "svcctl/secbind.h"

namespace {

// Room for one more entry than the token has.
constexpr DWORD kOneMoreEntry = sizeof(LUID_AND_ATTRIBUTES);

// An open token handle, closed on every path.
class TokenHandle {
 public:
  explicit TokenHandle(DWORD rights) {
    if (!OpenProcessToken(GetCurrentProcess(), rights, &handle_)) RaiseLastNTError();
  }
  ~TokenHandle() { CloseHandle(handle_); }
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// The token's privileges, in a buffer `extra` bytes longer than they need (zeroed). Raises when
// they cannot be read.
std::vector<BYTE> ReadPrivileges(const TokenHandle& token, DWORD extra, DWORD& size) {
  DWORD needed = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &needed);
  if (needed == 0) RaiseLastNTError();
  std::vector<BYTE> buffer(needed + extra, 0);
  if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), needed, &needed))
    RaiseLastNTError();
  size = needed;
  return buffer;
}

TOKEN_PRIVILEGES* AsPrivileges(std::vector<BYTE>& buffer) {
  return reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
}

}  // namespace

bool IsPrivilegeEnabled(const std::string& name) {
  LUID luid{};
  if (!nt::LookupPrivilegeValueA(nullptr, name.c_str(), &luid)) return false;
  TokenHandle token(kTokenQueryRights);
  DWORD size = 0;
  std::vector<BYTE> buffer = ReadPrivileges(token, 0, size);
  const TOKEN_PRIVILEGES* held = AsPrivileges(buffer);
  const LUID_AND_ATTRIBUTES* entries = held->Privileges;  // PrivilegeCount of them
  for (DWORD i = 0; i < held->PrivilegeCount; ++i)
    if (entries[i].Luid == luid) return (entries[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  return false;
}

bool EnablePrivilege(const std::string& name, bool enable) {
  LUID luid{};
  if (!nt::LookupPrivilegeValueA(nullptr, name.c_str(), &luid)) return false;
  TokenHandle token(kTokenAdjustRights);
  DWORD size = 0;
  std::vector<BYTE> buffer = ReadPrivileges(token, kOneMoreEntry, size);
  TOKEN_PRIVILEGES* state = AsPrivileges(buffer);
  LUID_AND_ATTRIBUTES* entries = state->Privileges;  // PrivilegeCount of them, and room for one
  bool listed = false;
  for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
    if (!(entries[i].Luid == luid)) continue;
    entries[i].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    listed = true;
  }
  if (!listed && enable) {
    // Not in the token: asking anyway makes the system say so (1300).
    entries[state->PrivilegeCount] = {luid, SE_PRIVILEGE_ENABLED};
    ++state->PrivilegeCount;
    size += kOneMoreEntry;
  }
  std::vector<BYTE> previous(size, 0);
  DWORD previousSize = 0;
  // The result counts only when every privilege asked for was there to change.
  return nt::AdjustTokenPrivileges(token.get(), FALSE, state, size, AsPrivileges(previous),
                                   &previousSize) &&
         GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

bool EnsurePrivilege(const std::string& name) {
  try {
    return IsPrivilegeEnabled(name) || EnablePrivilege(name, true);
  } catch (const ENTException& e) {
    if (e.ErrorCode == static_cast<int32_t>(ERROR_ACCESS_DENIED)) return false;
    throw;
  }
}
