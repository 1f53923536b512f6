#include "svcctl/ntaccounts.h"

#include <charconv>
#include <cstring>

#include "platform/win/win.h"
#include "svcctl/apibind.h"
#include "svcctl/ntstrings.h"
#include "svcctl/osversion.h"
#include "svcctl/secbind.h"
#include "svcctl/sidstore.h"

namespace {

constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
constexpr char kDefaultAuthorityName[] = "NT AUTHORITY";
// The most sub-authorities a SID of ours may have (what AllocateAndInitializeSid takes).
constexpr size_t kMaxSubAuthorities = 8;

// The SID S-1-5-<rid>.
TSidBytes NtAuthoritySid(DWORD rid) {
  TSidBytes sid(12, 0);
  sid[0] = SID_REVISION;
  sid[1] = 1;
  std::memcpy(&sid[2], kNtAuthority, sizeof kNtAuthority);
  std::memcpy(&sid[8], &rid, sizeof rid);  // sub-authorities are little-endian
  return sid;
}

// A copy of a valid SID's bytes.
TSidBytes CopySid(PSID sid) {
  const DWORD length = nt::GetLengthSid(sid);
  const auto* bytes = static_cast<const BYTE*>(sid);
  return TSidBytes(bytes, bytes + length);
}

bool SameSid(PSID sid, const TSidBytes& other) {
  return nt::GetLengthSid(sid) == other.size() && std::memcmp(sid, other.data(), other.size()) == 0;
}

// A decimal number of 32 bits and nothing else.
bool ParseNumber(std::string_view text, DWORD& value) {
  const auto end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && last == end;
}

// "S-1-<authority>-<sub>..." read here: the authority up to 255, one to eight sub-authorities.
bool StringToSidHere(const std::string& text, TSidBytes& sid) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t dash = text.find('-', start);
    parts.push_back(std::string_view(text).substr(start, dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  DWORD revision = 0, authority = 0;
  if (parts.size() < 4 || parts.size() - 3 > kMaxSubAuthorities || parts[0] != "S" ||
      !ParseNumber(parts[1], revision) || revision != SID_REVISION ||
      !ParseNumber(parts[2], authority) || authority > 255)
    return false;
  DWORD sub[kMaxSubAuthorities] = {};
  for (size_t i = 3; i < parts.size(); ++i)
    if (!ParseNumber(parts[i], sub[i - 3])) return false;
  SID_IDENTIFIER_AUTHORITY identifier{{0, 0, 0, 0, 0, static_cast<BYTE>(authority)}};
  PSID made = nullptr;
  if (!nt::AllocateAndInitializeSid(&identifier, static_cast<BYTE>(parts.size() - 3), sub[0],
                                    sub[1], sub[2], sub[3], sub[4], sub[5], sub[6], sub[7], &made))
    return false;
  sid = CopySid(made);
  nt::FreeSid(made);
  return true;
}

bool StringToSidBySystem(const std::string& text, TSidBytes& sid) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0 || static_cast<size_t>(length) > kMaxSidTextLength) return false;
  std::u16string wide(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  PSID made = nullptr;
  if (!nt::ConvertStringSidToSidW(wide.c_str(), &made)) return false;
  const bool fits = *nt::GetSidSubAuthorityCount(made) <= kMaxSubAuthorities;
  if (fits) sid = CopySid(made);
  LocalFree(made);
  return fits;
}

// The text of a valid SID made here: "S-", the revision, the identifier authority (decimal below
// 2^32, else 0x and twelve hex digits) and each sub-authority.
bool SidToStringHere(PSID sid, std::string& text) {
  if (!nt::IsValidSid(sid)) return false;
  const BYTE* value = nt::GetSidIdentifierAuthority(sid)->Value;
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i)
    authority = authority << 8 | value[i];
  char number[32];
  if (authority >> 32)
    snprintf(number, sizeof number, "0x%02X%02X%02X%02X%02X%02X", value[0], value[1], value[2],
             value[3], value[4], value[5]);
  else
    snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(authority));
  text = "S-" + std::to_string(static_cast<const BYTE*>(sid)[0]) + "-" + number;
  const BYTE count = *nt::GetSidSubAuthorityCount(sid);
  for (DWORD i = 0; i < count; ++i)
    text += "-" + std::to_string(*nt::GetSidSubAuthority(sid, i));
  return true;
}

bool SidToStringBySystem(PSID sid, std::string& text) {
  LPWSTR wide = nullptr;
  if (!nt::ConvertSidToStringSidW(sid, &wide)) return false;
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string converted(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, -1, converted.data(), length, nullptr, nullptr);
  LocalFree(wide);
  if (length <= 0) return false;
  converted.pop_back();  // the NUL
  text = std::move(converted);
  return true;
}

}  // namespace

bool LookupAccountSid(const std::string& machine, PSID sid, std::string& domain,
                      std::string& name) {
  const DWORD length = nt::GetLengthSid(sid);
  if (length && SidStore().FindName(static_cast<const BYTE*>(sid), length, domain, name))
    return true;
  char nameBuffer[kAccountNameBufferSize] = {};
  char domainBuffer[kAccountNameBufferSize] = {};
  DWORD nameSize = sizeof nameBuffer, domainSize = sizeof domainBuffer;
  SID_NAME_USE use{};
  if (!nt::LookupAccountSidA(PCharOrNil(machine), sid, nameBuffer, &nameSize, domainBuffer,
                             &domainSize, &use)) {
    const DWORD error = GetLastError();
    if (error != ERROR_NONE_MAPPED && error != ERROR_TRUSTED_RELATIONSHIP_FAILURE) {
      SetLastError(error);
      return false;
    }
    domain.clear();
    return SidToString(sid, name);
  }
  name = nameBuffer;
  domain = domainBuffer;
  SetLastError(0);
  if (SameSid(sid, NtAuthoritySid(18))) domain.clear();
  SidStore().Add(static_cast<const BYTE*>(sid), length, domain, name);
  return true;
}

TSidBytes LookupAccountName(const std::string& machine, const std::string& account) {
  std::string domain, name;
  SplitAccountName(account, domain, name);
  if (const BYTE* cached = SidStore().FindSid(name, domain))
    return CopySid(const_cast<BYTE*>(cached));

  char domainBuffer[kDomainBufferSize];
  DWORD sidSize = 0, domainSize = sizeof domainBuffer;
  SID_NAME_USE use{};
  TSidBytes sid;
  // The first call learns the SID's size.
  nt::LookupAccountNameA(PCharOrNil(machine), account.c_str(), nullptr, &sidSize, domainBuffer,
                         &domainSize, &use);
  DWORD error = GetLastError();
  if (sidSize > 0) {
    sid.assign(sidSize, 0);
    domainSize = sizeof domainBuffer;
    if (!nt::LookupAccountNameA(PCharOrNil(machine), account.c_str(), sid.data(), &sidSize,
                                domainBuffer, &domainSize, &use)) {
      error = GetLastError();
      sid.clear();
    }
  }
  if (sid.empty()) {
    // SID texts ("S-1-5-32-544") name accounts too.
    if (error == ERROR_NONE_MAPPED && StringToSid(account, sid)) return sid;
    SetLastError(error);
    return sid;
  }
  // The store learns the SID with the names the system gives it (an account asked for as "root"
  // is stored as SYSTEM), so that a SID always reads back as the system reads it.
  std::string storedDomain, storedName;
  LookupAccountSid(machine, sid.data(), storedDomain, storedName);
  SetLastError(0);
  return sid;
}

std::string AuthorityName(const std::string& machine) {
  TSidBytes dialup = NtAuthoritySid(1);
  std::string domain, name;
  if (!LookupAccountSid(machine, SidOf(dialup), domain, name)) return kDefaultAuthorityName;
  return domain;
}

std::string DomainUnlessAuthority(const std::string& machine, const std::string& domain) {
  return domain == AuthorityName(machine) ? std::string() : domain;
}

bool StringToSid(const std::string& text, TSidBytes& sid) {
  if (text.size() > kMaxSidTextLength) return false;
  if (IsWin2000OrLater()) return StringToSidBySystem(text, sid);
  return text.find("S-") != std::string::npos && StringToSidHere(text, sid);
}

bool SidToString(PSID sid, std::string& text) {
  if (IsWin2000Family()) return SidToStringBySystem(sid, text);
  return SidToStringHere(sid, text);
}
