// Accounts and SIDs: account names to SIDs and back through the system (asking the process's SID
// store, sidstore.h, first and storing what the system answers), and SIDs to texts
// ("S-1-5-18") and back. Safe from any thread; the system calls come through the binding units.
#pragma once

#include <string>
#include <vector>

#include "platform/advapi32/winsec.h"

// A SID in the library's own memory: its bytes, empty for none.
using TSidBytes = std::vector<BYTE>;
// The SID to hand to a system call (null for none). Borrowed from sid.
inline PSID SidOf(TSidBytes& sid) {
  return sid.empty() ? nullptr : sid.data();
}

// The longest SID text StringToSid takes, in characters.
constexpr size_t kMaxSidTextLength = 256;
// The name and domain buffers of an account lookup, in bytes.
constexpr DWORD kAccountNameBufferSize = 128;
// The domain buffer of a name lookup, in bytes.
constexpr DWORD kDomainBufferSize = 256;

// The account of a SID on machine ("" for this one): true with its domain and name. A SID that
// maps to no account (1332, or 1789 when a trust fails) reads as its text with an empty domain.
// SYSTEM (S-1-5-18) has no domain. Other failures give false with the system's last error.
bool LookupAccountSid(const std::string& machine, PSID sid, std::string& domain, std::string& name);

// The SID of an account ("name", "DOMAIN\name", or a SID text such as "S-1-5-32-544") on machine;
// empty on failure, with the system's last error (that of the name lookup when the text was no
// SID text either). A SID the system finds is stored under the names the system gives it, which
// are those the store answers later lookups of those names with.
TSidBytes LookupAccountName(const std::string& machine, const std::string& account);

// The domain machine names its authority accounts under (that of S-1-5-1), or "NT AUTHORITY"
// when the lookup fails.
std::string AuthorityName(const std::string& machine);
// domain, or "" when it is machine's authority name.
std::string DomainUnlessAuthority(const std::string& machine, const std::string& domain);

// A SID text to a SID: true with the SID. Fails for a text longer than kMaxSidTextLength
// characters, of a revision other than 1, with more than eight sub-authorities, or with a part
// that is no number in range. From Windows 2000 on the system converts; before, the text is read
// here (an identifier authority up to 255).
bool StringToSid(const std::string& text, TSidBytes& sid);
// A SID to its text: true with the text; false for an invalid SID. On the Windows 2000 family the
// system converts; otherwise the text is made here, in the same form.
bool SidToString(PSID sid, std::string& text);
