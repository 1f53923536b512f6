// Who may do what with the manager and its services. A caller is known by its socket's peer
// credentials (SO_PEERCRED, SO_PEERGROUPS): root and members of the group "kelvadon" may control
// services; every other caller may only query them. Access masks are the Win32 ones; generic
// rights are mapped to the specific rights of the object first.
//
// The check for a service is the one place where its security descriptor will be evaluated;
// until then the descriptor is stored and handed back, and only the caller's class decides.
// Pure functions apart from PeerOf and the account lookups, which read the system's user and
// group tables. Used only on scmd's thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace scm {

// Win32 access rights the manager checks.
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kReadControl = 0x20000;
constexpr uint32_t kWriteDac = 0x40000;
constexpr uint32_t kWriteOwner = 0x80000;
constexpr uint32_t kAccessSystemSecurity = 0x1000000;
constexpr uint32_t kMaximumAllowed = 0x2000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericRead = 0x80000000;

constexpr uint32_t kManagerConnect = 0x1;
constexpr uint32_t kManagerCreateService = 0x2;
constexpr uint32_t kManagerEnumerateService = 0x4;
constexpr uint32_t kManagerLock = 0x8;
constexpr uint32_t kManagerQueryLockStatus = 0x10;
constexpr uint32_t kManagerModifyBootConfig = 0x20;
constexpr uint32_t kManagerAllAccess = 0xF003F;

constexpr uint32_t kServiceQueryConfig = 0x1;
constexpr uint32_t kServiceChangeConfig = 0x2;
constexpr uint32_t kServiceQueryStatus = 0x4;
constexpr uint32_t kServiceEnumerateDependents = 0x8;
constexpr uint32_t kServiceStart = 0x10;
constexpr uint32_t kServiceStop = 0x20;
constexpr uint32_t kServicePauseContinue = 0x40;
constexpr uint32_t kServiceInterrogate = 0x80;
constexpr uint32_t kServiceUserDefinedControl = 0x100;
constexpr uint32_t kServiceAllAccess = 0xF01FF;

constexpr uint32_t kErrorAccessDenied = 5;

struct Peer {
  uid_t uid = 0;
  gid_t gid = 0;
  pid_t pid = 0;
  bool controls = false;  // root or a member of "kelvadon"
};

// The credentials of the process at the other end of a connected Unix socket. False when the
// system does not tell them (the caller is then treated as a stranger).
bool PeerOf(int fd, Peer& peer);

// Generic rights turned into the manager's or a service's specific rights.
uint32_t MapManagerAccess(uint32_t desired);
uint32_t MapServiceAccess(uint32_t desired);

// The rights granted for an open of the manager or of a service (MAXIMUM_ALLOWED: every right
// the caller may have). Returns 0 and sets granted, or kErrorAccessDenied when a right asked for
// is not the caller's. `security` is the service's stored descriptor (opaque, may be empty).
uint32_t CheckManagerAccess(const Peer& peer, uint32_t desired, uint32_t& granted);
uint32_t CheckServiceAccess(const Peer& peer, const std::string& security, uint32_t desired,
                            uint32_t& granted);

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

// The user name of a uid ("uid 1234" when it has none).
std::string UserName(uid_t uid);

}  // namespace scm
