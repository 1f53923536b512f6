// The security of services by name: the service API's object-security calls behind the
// named-object interface.
#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/internal.h"
#include "platform/advapi32/security.h"

namespace {

constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                        DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;

// A service handle with the manager handle it came from, both closed with the object; the last
// error of a failed open in error.
class NamedService {
 public:
  NamedService(LPCSTR objectName, SE_OBJECT_TYPE type, DWORD access) {
    if (type != SE_SERVICE || !objectName) {
      error_ = ERROR_INVALID_PARAMETER;
      return;
    }
    // "name" or "MACHINE\name", the machine with or without its leading "\\".
    std::string name = objectName;
    if (name.rfind("\\\\", 0) == 0) name.erase(0, 2);
    if (const size_t slash = name.rfind('\\'); slash != std::string::npos) {
      if (!advapi::IsLocalMachine(name.substr(0, slash).c_str())) {
        error_ = RPC_S_SERVER_UNAVAILABLE;
        return;
      }
      name.erase(0, slash + 1);
    }
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager_) service_ = OpenServiceA(manager_, name.c_str(), access);
    if (!service_) error_ = GetLastError();
  }
  ~NamedService() {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }
  NamedService(const NamedService&) = delete;
  NamedService& operator=(const NamedService&) = delete;

  SC_HANDLE handle() const { return service_; }
  DWORD error() const { return error_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
  DWORD error_ = 0;
};

// The rights reading or writing the parts needs.
DWORD ReadAccess(SECURITY_INFORMATION info) {
  DWORD access =
      (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION))
          ? READ_CONTROL
          : 0;
  if (info & SACL_SECURITY_INFORMATION) access |= ACCESS_SYSTEM_SECURITY;
  return access ? access : READ_CONTROL;
}

DWORD WriteAccess(SECURITY_INFORMATION info) {
  DWORD access = 0;
  if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) access |= WRITE_OWNER;
  if (info & DACL_SECURITY_INFORMATION) access |= WRITE_DAC;
  if (info & SACL_SECURITY_INFORMATION) access |= ACCESS_SYSTEM_SECURITY;
  return access;
}

// The group of a self-relative descriptor (the library exports no getter for it).
PSID GroupOf(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR_RELATIVE header;
  std::memcpy(&header, sd, sizeof header);
  return header.Group ? static_cast<BYTE*>(sd) + header.Group : nullptr;
}

}  // namespace

KW_ADVAPI32_API DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                                            PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  // The pointers point into the descriptor: without it they would point nowhere.
  if (!ppSecurityDescriptor && (ppsidOwner || ppsidGroup || ppDacl || ppSacl))
    return ERROR_INVALID_PARAMETER;
  const SECURITY_INFORMATION info = SecurityInfo & kParts;
  NamedService service(pObjectName, ObjectType, ReadAccess(info));
  if (!service.handle()) return service.error();
  DWORD needed = 0;
  if (QueryServiceObjectSecurity(service.handle(), info, nullptr, 0, &needed) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return GetLastError();
  PSECURITY_DESCRIPTOR sd = LocalAlloc(LPTR, needed);
  if (!sd) return GetLastError();
  if (!QueryServiceObjectSecurity(service.handle(), info, sd, needed, &needed)) {
    const DWORD error = GetLastError();
    LocalFree(sd);
    return error;
  }
  BOOL present = FALSE, defaulted = FALSE;
  if (ppsidOwner) GetSecurityDescriptorOwner(sd, ppsidOwner, &defaulted);
  if (ppsidGroup) *ppsidGroup = GroupOf(sd);
  if (ppDacl) GetSecurityDescriptorDacl(sd, &present, ppDacl, &defaulted);
  if (ppSacl) GetSecurityDescriptorSacl(sd, &present, ppSacl, &defaulted);
  if (ppSecurityDescriptor) {
    *ppSecurityDescriptor = sd;
  } else {
    LocalFree(sd);
  }
  SetLastError(ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

KW_ADVAPI32_API DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                                            PSID psidGroup, PACL pDacl, PACL pSacl) {
  const SECURITY_INFORMATION info = SecurityInfo & kParts;
  if (!info || ((info & OWNER_SECURITY_INFORMATION) && !psidOwner) ||
      ((info & GROUP_SECURITY_INFORMATION) && !psidGroup))
    return ERROR_INVALID_PARAMETER;
  SECURITY_DESCRIPTOR absolute;
  InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
  if (info & OWNER_SECURITY_INFORMATION) absolute.Owner = psidOwner;
  if (info & GROUP_SECURITY_INFORMATION) absolute.Group = psidGroup;
  if (info & DACL_SECURITY_INFORMATION) {
    SetSecurityDescriptorDacl(&absolute, TRUE, pDacl, FALSE);
    if (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) absolute.Control |= SE_DACL_PROTECTED;
  }
  if (info & SACL_SECURITY_INFORMATION) {
    SetSecurityDescriptorSacl(&absolute, TRUE, pSacl, FALSE);
    if (SecurityInfo & PROTECTED_SACL_SECURITY_INFORMATION) absolute.Control |= SE_SACL_PROTECTED;
  }
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return GetLastError();
  std::vector<BYTE> relative(size);
  if (!MakeSelfRelativeSD(&absolute, relative.data(), &size)) return GetLastError();
  NamedService service(pObjectName, ObjectType, WriteAccess(info));
  if (!service.handle()) return service.error();
  if (!SetServiceObjectSecurity(service.handle(), info, relative.data())) return GetLastError();
  return ERROR_SUCCESS;
}
