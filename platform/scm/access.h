// Who may do what with the manager and its services. The manager is guarded by the caller's class:
// root and members of the group "kelvadon" may do everything, everyone else may connect,
// enumerate and query. A service is guarded by its security descriptor, checked as the Windows
// service control manager checks it (see CheckServiceAccess), with root holding every right.
// Access masks are the Win32 ones; generic rights are mapped to the object's specific rights
// first.
//
// Pure functions over values; safe from any thread.
#pragma once

#include <cstdint>

#include "platform/scm/caller.h"
#include "platform/scm/secdesc.h"

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
// What the default descriptor gives Authenticated Users: querying.
constexpr uint32_t kServiceQueryRights = kServiceQueryConfig | kServiceQueryStatus |
                                         kServiceEnumerateDependents | kServiceInterrogate |
                                         kReadControl;

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidOwner = 1307;
constexpr uint32_t kErrorPrivilegeNotHeld = 1314;

// What each generic right stands for on an object.
struct GenericMapping {
  uint32_t read;
  uint32_t write;
  uint32_t execute;
  uint32_t all;
};
extern const GenericMapping kManagerMapping;
extern const GenericMapping kServiceMapping;

// The mask with its generic bits replaced by the specific rights they stand for.
uint32_t MapGeneric(uint32_t mask, const GenericMapping& mapping);
uint32_t MapManagerAccess(uint32_t desired);
uint32_t MapServiceAccess(uint32_t desired);

// The rights granted for an open of the manager (MAXIMUM_ALLOWED: every right the caller may
// have). Returns 0 and sets granted, or 5 when a right asked for is not the caller's, 1314 for
// ACCESS_SYSTEM_SECURITY asked by another caller than root.
uint32_t CheckManagerAccess(const Caller& caller, uint32_t desired, uint32_t& granted);

// The descriptor of a new service: owner and group SYSTEM; a DACL that gives SYSTEM and
// Administrators every right and Authenticated Users kServiceQueryRights.
Descriptor DefaultServiceDescriptor();

// The descriptor with the generic bits of every entry's mask mapped to the service rights, as it
// is stored.
Descriptor MapServiceDescriptor(const Descriptor& descriptor);

// The rights granted for an open of a service guarded by descriptor. Root gets every right asked
// for. Anyone else: the owner holds READ_CONTROL and WRITE_DAC; a null or absent DACL grants
// every service right; else the DACL's entries that name one of the caller's SIDs are taken in
// order (inherit-only entries skipped, generic bits mapped): an allowed entry grants its rights
// not yet denied, a denied entry denies its rights not yet granted. ACCESS_SYSTEM_SECURITY is
// root's alone (1314 for anyone else); every other right asked for and not granted gives 5.
// MAXIMUM_ALLOWED asks for every right the caller has (5 when there is none).
uint32_t CheckServiceAccess(const Caller& caller, const Descriptor& descriptor, uint32_t desired,
                            uint32_t& granted);

// Whether the caller may make sid a service's owner: root any SID; anyone else its own user SID,
// and an admin also Administrators. Returns 0 or 1307.
uint32_t CheckNewOwner(const Caller& caller, const Sid& sid);

}  // namespace scm
