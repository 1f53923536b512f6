// The security functions of the library (security descriptors, access lists, SIDs, the local
// security authority, token privileges), bound by name in one unit (binding.h): "advapi32.dll" on
// the NT family, else "radmin32.dll". The forwarders in namespace nt are the functions the library
// calls; each returns its entry's result and last error untouched, or raises ENTException
// (code 0, 'Cannot load library "<library>" or linked libraries') when the entry is missing. Safe
// from any thread.
#pragma once

#include "platform/advapi32/winsec.h"
#include "svcctl/binding.h"

namespace nt {

TBindingUnit& SecurityUnit();

BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSD, PSECURITY_DESCRIPTOR pAbsoluteSD,
                    LPDWORD lpdwAbsoluteSDSize, PACL pDacl, LPDWORD lpdwDaclSize, PACL pSacl,
                    LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize, PSID pPrimaryGroup,
                    LPDWORD lpdwPrimaryGroupSize);
BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision);
BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                LPBOOL lpbOwnerDefaulted);
BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted);
DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID* ppsidGroup,
                            PACL* ppDacl, PACL* ppSacl, PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner, PSID psidGroup,
                            PACL pDacl, PACL pSacl);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                               PACL* pDacl, LPBOOL lpbDaclDefaulted);
DWORD GetLengthSid(PSID pSid);
BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid);
BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid);
BOOL AddAuditAccessAce(PACL pAcl, DWORD dwAceRevision, DWORD dwAccessMask, PSID pSid,
                       BOOL bAuditSuccess, BOOL bAuditFailure);
BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted);
BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass);
BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bSaclPresent,
                               PACL pSacl, BOOL bSaclDefaulted);
BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbSaclPresent,
                               PACL* pSacl, LPBOOL lpbSaclDefaulted);
BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                        LPDWORD lpdwBufferLength);
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid);
LPVOID FreeSid(PSID pSid);
BOOL IsValidSid(PSID pSid);
PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid);
PUCHAR GetSidSubAuthorityCount(PSID pSid);
PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);

}  // namespace nt
