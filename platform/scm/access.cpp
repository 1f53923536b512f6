// Access by caller class for the manager, and by descriptor for services.
#include "platform/scm/access.h"

namespace scm {

namespace {

constexpr uint32_t kGenericBits = kGenericRead | kGenericWrite | kGenericExecute | kGenericAll;

// What a caller that is no admin may do with the manager.
constexpr uint32_t kManagerQueryRights =
    kManagerConnect | kManagerEnumerateService | kManagerQueryLockStatus | kReadControl;

// Checks an asked mask against what is allowed. asked holds no MAXIMUM_ALLOWED.
uint32_t Grant(uint32_t asked, bool maximum, uint32_t allowed, uint32_t& granted) {
  if (asked & ~allowed) return kErrorAccessDenied;
  if (maximum && (asked | allowed) == 0) return kErrorAccessDenied;
  granted = maximum ? (asked | allowed) : asked;
  return 0;
}

}  // namespace

const GenericMapping kManagerMapping = {
    kReadControl | kManagerEnumerateService | kManagerQueryLockStatus,
    kReadControl | kManagerCreateService | kManagerModifyBootConfig,
    kReadControl | kManagerConnect | kManagerLock,
    kManagerAllAccess,
};

const GenericMapping kServiceMapping = {
    kReadControl | kServiceQueryConfig | kServiceQueryStatus | kServiceInterrogate |
        kServiceEnumerateDependents,
    kReadControl | kServiceChangeConfig,
    kReadControl | kServiceStart | kServiceStop | kServicePauseContinue |
        kServiceUserDefinedControl,
    kServiceAllAccess,
};

uint32_t MapGeneric(uint32_t mask, const GenericMapping& m) {
  uint32_t out = mask & ~kGenericBits;
  if (mask & kGenericRead) out |= m.read;
  if (mask & kGenericWrite) out |= m.write;
  if (mask & kGenericExecute) out |= m.execute;
  if (mask & kGenericAll) out |= m.all;
  return out;
}

uint32_t MapManagerAccess(uint32_t desired) {
  return MapGeneric(desired, kManagerMapping);
}

uint32_t MapServiceAccess(uint32_t desired) {
  return MapGeneric(desired, kServiceMapping);
}

uint32_t CheckManagerAccess(const Caller& caller, uint32_t desired, uint32_t& granted) {
  const uint32_t mapped = MapManagerAccess(desired);
  const bool maximum = (mapped & kMaximumAllowed) != 0;
  const uint32_t asked = mapped & ~kMaximumAllowed;
  if ((asked & kAccessSystemSecurity) && !caller.root) return kErrorPrivilegeNotHeld;
  const uint32_t allowed = caller.admin ? kManagerAllAccess : kManagerQueryRights;
  const uint32_t rc = Grant(asked & ~kAccessSystemSecurity, maximum, allowed, granted);
  if (rc == 0) granted |= kManagerConnect | (asked & kAccessSystemSecurity);
  return rc;
}

Descriptor DefaultServiceDescriptor() {
  Descriptor d;
  d.control = kSelfRelative | kDaclPresent;
  d.owner = SystemSid();
  d.group = SystemSid();
  Acl dacl;
  dacl.aces.push_back(Ace{kAccessAllowedAce, 0, kServiceAllAccess, SystemSid()});
  dacl.aces.push_back(Ace{kAccessAllowedAce, 0, kServiceAllAccess, AdministratorsSid()});
  dacl.aces.push_back(Ace{kAccessAllowedAce, 0, kServiceQueryRights, AuthenticatedUsersSid()});
  d.dacl = std::move(dacl);
  return d;
}

Descriptor MapServiceDescriptor(const Descriptor& descriptor) {
  Descriptor d = descriptor;
  for (auto* acl : {&d.dacl, &d.sacl}) {
    if (!*acl) continue;
    for (Ace& ace : (*acl)->aces)
      ace.mask = MapServiceAccess(ace.mask);
  }
  return d;
}

uint32_t CheckServiceAccess(const Caller& caller, const Descriptor& descriptor, uint32_t desired,
                            uint32_t& granted) {
  const uint32_t mapped = MapServiceAccess(desired);
  const bool maximum = (mapped & kMaximumAllowed) != 0;
  const uint32_t asked = mapped & ~kMaximumAllowed;
  if ((asked & kAccessSystemSecurity) && !caller.root) return kErrorPrivilegeNotHeld;
  if (caller.root) return Grant(asked, maximum, asked | kServiceAllAccess, granted);

  uint32_t allowed = 0, denied = 0;
  if (descriptor.owner && caller.Has(*descriptor.owner)) allowed |= kReadControl | kWriteDac;
  if (!(descriptor.control & kDaclPresent) || !descriptor.dacl) {
    allowed |= kServiceAllAccess;
  } else {
    for (const Ace& ace : descriptor.dacl->aces) {
      if ((ace.flags & kInheritOnlyAce) || !caller.Has(ace.sid)) continue;
      const uint32_t m = MapServiceAccess(ace.mask) & ~(kAccessSystemSecurity | kMaximumAllowed);
      if (ace.type == kAccessAllowedAce) allowed |= m & ~denied;
      if (ace.type == kAccessDeniedAce) denied |= m & ~allowed;
    }
  }
  return Grant(asked, maximum, allowed, granted);
}

uint32_t CheckNewOwner(const Caller& caller, const Sid& sid) {
  if (caller.root) return 0;
  if (caller.user && sid == *caller.user) return 0;
  if (caller.admin && sid == AdministratorsSid()) return 0;
  return kErrorInvalidOwner;
}

}  // namespace scm
