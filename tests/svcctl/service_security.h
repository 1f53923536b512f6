// A security component over a service of scmd, as the service manager builds it: the descriptor
// is read and written through the service's own handle, opened for each call with ServiceAccess
// and every right the parts asked for need; access masks pass through unchanged. One thread.
#pragma once

#include <string>
#include <vector>

#include "rtl/cp932.h"
#include "svcctl/abstrsec.h"
#include "svcctl/apibind.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntstrings.h"

namespace svcctltest {

constexpr DWORD kServiceAllAccess = 0xF01FF;
constexpr DWORD kReadControlQueryConfig = 0x20001;
constexpr DWORD kAccessSystemSecurity = 0x1000000;
constexpr DWORD kWriteOwner = 0x80000;
constexpr DWORD kWriteDac = 0x40000;

class TServiceSecurity : public TNTAbstractSecurity {
 public:
  using TNTAbstractSecurity::TNTAbstractSecurity;

  void SetServiceName(const std::string& name) {
    serviceName_ = name;
    SecurityObjectName = BuildObjectName(GetMachineName(), name);
  }
  SE_OBJECT_TYPE GetObjectType() const override { return SE_SERVICE; }

  DWORD ServiceAccess = kServiceAllAccess;
  // Counts the object writes, so a test sees that a change wrote nothing.
  int Writes = 0;

 protected:
  void ReadObjectSecurity(DWORD parts) override {
    FreeDescriptor();
    if (rtl::Trim(serviceName_).empty()) return;
    Handles h(*this, ServiceAccess |
                         ((parts & kSaclPart) ? kAccessSystemSecurity : kReadControlQueryConfig));
    DWORD needed = 0;
    nt::QueryServiceObjectSecurity(h.service, parts, nullptr, 0, &needed);
    if (needed == 0) RaiseLastNTError();
    std::vector<BYTE> descriptor(needed, 0);
    if (!nt::QueryServiceObjectSecurity(h.service, parts, descriptor.data(), needed, &needed))
      RaiseLastNTError();
    SetSelfRelative(std::move(descriptor));
  }

  void WriteObjectSecurity(DWORD parts) override {
    ++Writes;
    DWORD access = 0;
    if (parts & (kOwnerPart | kGroupPart)) access |= kWriteOwner;
    if (parts & kDaclPart) access |= kWriteDac;
    if (parts & kSaclPart) access |= kAccessSystemSecurity;
    Handles h(*this, ServiceAccess | access);
    if (!nt::SetServiceObjectSecurity(h.service, parts, SelfRelative())) RaiseLastNTError();
  }

  void WriteNamedSecurity(DWORD parts) override {
    ++Writes;
    TNTAbstractSecurity::WriteNamedSecurity(parts);
  }

  DWORD DeniedMaskFromAce(DWORD mask) override { return mask; }
  DWORD AllowedMaskFromAce(DWORD mask) override { return mask; }
  DWORD AuditMaskFromAce(DWORD mask) override { return mask; }
  DWORD DeniedMaskToAce(DWORD mask) override { return mask; }
  DWORD AllowedMaskToAce(DWORD mask) override { return mask; }
  DWORD AuditMaskToAce(DWORD mask) override { return mask; }

 private:
  // A manager handle of its own and the service, both closed on every path.
  struct Handles {
    Handles(TServiceSecurity& s, DWORD access) {
      manager = nt::OpenSCManagerA(PCharOrNil(s.GetMachineName()), nullptr, 1);
      if (!manager) RaiseLastNTError();
      service = nt::OpenServiceA(manager, s.serviceName_.c_str(), access);
      if (!service) {
        const DWORD error = GetLastError();
        nt::CloseServiceHandle(manager);
        RaiseNTErrorCode(error);
      }
    }
    ~Handles() {
      nt::CloseServiceHandle(service);
      nt::CloseServiceHandle(manager);
    }
    SC_HANDLE manager = nullptr, service = nullptr;
  };

  std::string serviceName_;
};

}  // namespace svcctltest
