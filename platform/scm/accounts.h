// Accounts as SIDs. Linux users and groups are accounts of this machine, named under the computer
// name: the machine's SID is S-1-5-21-a-b-c (a, b, c from /etc/machine-id), a user's SID is the
// machine's SID with the relative id 1000 + 2·uid, a group's with 1001 + 2·gid; root is SYSTEM
// (S-1-5-18). The well-known accounts are named under "NT AUTHORITY" (SYSTEM, Authenticated
// Users, ...), "BUILTIN" (Administrators, Users, ...) and "" (Everyone, CREATOR OWNER, ...).
// Also the accounts services run under, by their configured start names.
//
// The lookups read the system's user and group tables at each call; the machine's SID is read
// once per process. Every function is safe from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/scm/secdesc.h"

namespace scm {

// SID_NAME_USE values.
constexpr int kSidTypeUser = 1;
constexpr int kSidTypeDomain = 3;
constexpr int kSidTypeAlias = 4;
constexpr int kSidTypeWellKnownGroup = 5;

constexpr uint32_t kErrorNoneMapped = 1332;

// Where the machine's SID comes from.
constexpr char kMachineIdFile[] = "/etc/machine-id";

// The machine SID for a machine-id text: 32 hex digits (a line end may follow), whose first 24 are
// read as three 32-bit numbers. Any other text gives the fixed S-1-5-21-1-1-1.
Sid MachineSidFromId(std::string_view machineId);
// This machine's SID, from kMachineIdFile (read on the first call).
const Sid& MachineSid();

// The SID of a user or group id; none when its relative id would not fit in 32 bits.
std::optional<Sid> UserSid(uint32_t uid);
std::optional<Sid> GroupSid(uint32_t gid);

// The computer name the accounts are named under (GetComputerNameA's).
std::string ComputerName();

struct AccountName {
  Sid sid;
  std::string domain;
  std::string name;
  int use = kSidTypeUser;
};

// An account by name: "name" or "domain\name"; well-known names and domains in any letter case,
// Linux names as they are (a user before a group of the same name). Returns 0, or 1332 when the
// name maps to no account.
uint32_t LookupAccountByName(std::string_view account, AccountName& out);
// The account of a SID. Returns 0, or 1332 when the SID maps to no account, or to a name that
// would map back to another SID (a group named like a user): such a SID shows as its text.
uint32_t LookupAccountBySid(const Sid& sid, AccountName& out);

// The account a service runs under, from its configured start name: "" and "LocalSystem" (with
// or without a domain part such as ".\" or "NT AUTHORITY\") stand for the manager's own account;
// any other name is a user of the system.
struct Account {
  bool self = true;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string user;
  std::string home;
};
// False when the name is not a user of the system.
bool ResolveAccount(const std::string& startName, Account& account);
// True when both start names resolve to one account: scmd's own, or one user with one group.
bool SameAccount(const std::string& a, const std::string& b);

// The password field of the user's entry in the system's shadow table (readable by root only).
// False when the user has none or the table cannot be read.
bool ShadowPassword(const std::string& user, std::string& field);

// The user name of a uid ("uid 1234" when it has none).
std::string UserName(uid_t uid);

}  // namespace scm
