// The security binding unit and its forwarders.
#include "svcctl/secbind.h"

#include "svcctl/osversion.h"

namespace nt {
namespace {

enum SecurityEntry : size_t {
  kGetFileSecurityA,
  kMakeAbsoluteSD,
  kGetSecurityDescriptorOwner,
  kGetSecurityDescriptorControl,
  kSetSecurityDescriptorControl,
  kSetSecurityDescriptorOwner,
  kSetFileSecurityA,
  kSetNamedSecurityInfoA,
  kGetNamedSecurityInfoA,
  kGetSecurityDescriptorDacl,
  kGetLengthSid,
  kInitializeAcl,
  kAddAccessDeniedAce,
  kAddAccessAllowedAce,
  kAddAuditAccessAce,
  kGetAce,
  kSetSecurityDescriptorDacl,
  kGetAclInformation,
  kSetSecurityDescriptorSacl,
  kGetSecurityDescriptorSacl,
  kMakeSelfRelativeSD,
  kInitializeSecurityDescriptor,
  kLsaOpenPolicy,
  kLsaEnumerateTrustedDomains,
  kLsaClose,
  kLsaFreeMemory,
  kLsaQueryInformationPolicy,
  kLsaSetInformationPolicy,
  kLsaNtStatusToWinError,
  kLsaLookupSids,
  kLsaLookupNames,
  kLsaEnumerateAccountsWithUserRight,
  kLsaEnumerateAccountRights,
  kLsaEnumeratePrivilegesOfAccount,
  kLsaAddAccountRights,
  kLsaRemoveAccountRights,
  kRegGetKeySecurity,
  kRegSetKeySecurity,
  kLookupPrivilegeDisplayNameW,
  kAllocateAndInitializeSid,
  kFreeSid,
  kIsValidSid,
  kGetSidIdentifierAuthority,
  kGetSidSubAuthorityCount,
  kGetSidSubAuthority,
  kAdjustTokenPrivileges,
};

}  // namespace

TBindingUnit& SecurityUnit() {
  static TBindingUnit unit(
      {
          "GetFileSecurityA",
          "MakeAbsoluteSD",
          "GetSecurityDescriptorOwner",
          "GetSecurityDescriptorControl",
          "SetSecurityDescriptorControl",
          "SetSecurityDescriptorOwner",
          "SetFileSecurityA",
          "SetNamedSecurityInfoA",
          "GetNamedSecurityInfoA",
          "GetSecurityDescriptorDacl",
          "GetLengthSid",
          "InitializeAcl",
          "AddAccessDeniedAce",
          "AddAccessAllowedAce",
          "AddAuditAccessAce",
          "GetAce",
          "SetSecurityDescriptorDacl",
          "GetAclInformation",
          "SetSecurityDescriptorSacl",
          "GetSecurityDescriptorSacl",
          "MakeSelfRelativeSD",
          "InitializeSecurityDescriptor",
          "LsaOpenPolicy",
          "LsaEnumerateTrustedDomains",
          "LsaClose",
          "LsaFreeMemory",
          "LsaQueryInformationPolicy",
          "LsaSetInformationPolicy",
          "LsaNtStatusToWinError",
          "LsaLookupSids",
          "LsaLookupNames",
          "LsaEnumerateAccountsWithUserRight",
          "LsaEnumerateAccountRights",
          "LsaEnumeratePrivilegesOfAccount",
          "LsaAddAccountRights",
          "LsaRemoveAccountRights",
          "RegGetKeySecurity",
          "RegSetKeySecurity",
          "LookupPrivilegeDisplayNameW",
          "AllocateAndInitializeSid",
          "FreeSid",
          "IsValidSid",
          "GetSidIdentifierAuthority",
          "GetSidSubAuthorityCount",
          "GetSidSubAuthority",
          "AdjustTokenPrivileges",
      },
      [] { return std::string(IsWinNT() ? "advapi32.dll" : "radmin32.dll"); });
  return unit;
}

// ---- forwarders ----

BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSD, PSECURITY_DESCRIPTOR pAbsoluteSD,
                    LPDWORD lpdwAbsoluteSDSize, PACL pDacl, LPDWORD lpdwDaclSize, PACL pSacl,
                    LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize, PSID pPrimaryGroup,
                    LPDWORD lpdwPrimaryGroupSize) {
  return SecurityUnit().Call<decltype(&MakeAbsoluteSD)>(
      kMakeAbsoluteSD, pSelfRelativeSD, pAbsoluteSD, lpdwAbsoluteSDSize, pDacl, lpdwDaclSize, pSacl,
      lpdwSaclSize, pOwner, lpdwOwnerSize, pPrimaryGroup, lpdwPrimaryGroupSize);
}

BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision) {
  return SecurityUnit().Call<decltype(&GetSecurityDescriptorControl)>(
      kGetSecurityDescriptorControl, pSecurityDescriptor, pControl, lpdwRevision);
}

BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
  return SecurityUnit().Call<decltype(&SetSecurityDescriptorControl)>(
      kSetSecurityDescriptorControl, pSecurityDescriptor, ControlBitsOfInterest, ControlBitsToSet);
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                LPBOOL lpbOwnerDefaulted) {
  return SecurityUnit().Call<decltype(&GetSecurityDescriptorOwner)>(
      kGetSecurityDescriptorOwner, pSecurityDescriptor, pOwner, lpbOwnerDefaulted);
}

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted) {
  return SecurityUnit().Call<decltype(&SetSecurityDescriptorOwner)>(
      kSetSecurityDescriptorOwner, pSecurityDescriptor, pOwner, bOwnerDefaulted);
}

DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID* ppsidGroup,
                            PACL* ppDacl, PACL* ppSacl,
                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  return SecurityUnit().Call<decltype(&GetNamedSecurityInfoA)>(
      kGetNamedSecurityInfoA, pObjectName, ObjectType, SecurityInfo, ppsidOwner, ppsidGroup, ppDacl,
      ppSacl, ppSecurityDescriptor);
}

DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl) {
  return SecurityUnit().Call<decltype(&SetNamedSecurityInfoA)>(kSetNamedSecurityInfoA, pObjectName,
                                                               ObjectType, SecurityInfo, psidOwner,
                                                               psidGroup, pDacl, pSacl);
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                               PACL* pDacl, LPBOOL lpbDaclDefaulted) {
  return SecurityUnit().Call<decltype(&GetSecurityDescriptorDacl)>(
      kGetSecurityDescriptorDacl, pSecurityDescriptor, lpbDaclPresent, pDacl, lpbDaclDefaulted);
}

DWORD GetLengthSid(PSID pSid) {
  return SecurityUnit().Call<decltype(&GetLengthSid)>(kGetLengthSid, pSid);
}

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  return SecurityUnit().Call<decltype(&InitializeAcl)>(kInitializeAcl, pAcl, nAclLength,
                                                       dwAclRevision);
}

BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  return SecurityUnit().Call<decltype(&AddAccessDeniedAce)>(kAddAccessDeniedAce, pAcl,
                                                            dwAceRevision, AccessMask, pSid);
}

BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  return SecurityUnit().Call<decltype(&AddAccessAllowedAce)>(kAddAccessAllowedAce, pAcl,
                                                             dwAceRevision, AccessMask, pSid);
}

BOOL AddAuditAccessAce(PACL pAcl, DWORD dwAceRevision, DWORD dwAccessMask, PSID pSid,
                       BOOL bAuditSuccess, BOOL bAuditFailure) {
  return SecurityUnit().Call<decltype(&AddAuditAccessAce)>(
      kAddAuditAccessAce, pAcl, dwAceRevision, dwAccessMask, pSid, bAuditSuccess, bAuditFailure);
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
  return SecurityUnit().Call<decltype(&GetAce)>(kGetAce, pAcl, dwAceIndex, pAce);
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted) {
  return SecurityUnit().Call<decltype(&SetSecurityDescriptorDacl)>(
      kSetSecurityDescriptorDacl, pSecurityDescriptor, bDaclPresent, pDacl, bDaclDefaulted);
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
  return SecurityUnit().Call<decltype(&GetAclInformation)>(
      kGetAclInformation, pAcl, pAclInformation, nAclInformationLength, dwAclInformationClass);
}

BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bSaclPresent,
                               PACL pSacl, BOOL bSaclDefaulted) {
  return SecurityUnit().Call<decltype(&SetSecurityDescriptorSacl)>(
      kSetSecurityDescriptorSacl, pSecurityDescriptor, bSaclPresent, pSacl, bSaclDefaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbSaclPresent,
                               PACL* pSacl, LPBOOL lpbSaclDefaulted) {
  return SecurityUnit().Call<decltype(&GetSecurityDescriptorSacl)>(
      kGetSecurityDescriptorSacl, pSecurityDescriptor, lpbSaclPresent, pSacl, lpbSaclDefaulted);
}

BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                        LPDWORD lpdwBufferLength) {
  return SecurityUnit().Call<decltype(&MakeSelfRelativeSD)>(
      kMakeSelfRelativeSD, pAbsoluteSecurityDescriptor, pSelfRelativeSecurityDescriptor,
      lpdwBufferLength);
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  return SecurityUnit().Call<decltype(&InitializeSecurityDescriptor)>(
      kInitializeSecurityDescriptor, pSecurityDescriptor, dwRevision);
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid) {
  return SecurityUnit().Call<decltype(&AllocateAndInitializeSid)>(
      kAllocateAndInitializeSid, pIdentifierAuthority, nSubAuthorityCount, nSubAuthority0,
      nSubAuthority1, nSubAuthority2, nSubAuthority3, nSubAuthority4, nSubAuthority5,
      nSubAuthority6, nSubAuthority7, pSid);
}

LPVOID FreeSid(PSID pSid) {
  return SecurityUnit().Call<decltype(&FreeSid)>(kFreeSid, pSid);
}

BOOL IsValidSid(PSID pSid) {
  return SecurityUnit().Call<decltype(&IsValidSid)>(kIsValidSid, pSid);
}

PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid) {
  return SecurityUnit().Call<decltype(&GetSidIdentifierAuthority)>(kGetSidIdentifierAuthority,
                                                                   pSid);
}

PUCHAR GetSidSubAuthorityCount(PSID pSid) {
  return SecurityUnit().Call<decltype(&GetSidSubAuthorityCount)>(kGetSidSubAuthorityCount, pSid);
}

PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  return SecurityUnit().Call<decltype(&GetSidSubAuthority)>(kGetSidSubAuthority, pSid,
                                                            nSubAuthority);
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  return SecurityUnit().Call<decltype(&AdjustTokenPrivileges)>(
      kAdjustTokenPrivileges, TokenHandle, DisableAllPrivileges, NewState, BufferLength,
      PreviousState, ReturnLength);
}

}  // namespace nt
