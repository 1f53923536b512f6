// The security functions of the security library under their Win32 names: SIDs, access lists,
// security descriptors in both forms, the security of services by name, accounts and privileges.
// Layouts are the Windows ones (winsec.h); each function reports as its Windows namesake does,
// through its result (a BOOL and the last error, or a Win32 code for the named-object calls).
//
// Memory: a block the library hands out is the caller's. SIDs from AllocateAndInitializeSid are
// freed with FreeSid; texts and SIDs from the string conversions and the descriptors from
// GetNamedSecurityInfoA with LocalFree. Pointers the Get calls return point into the caller's own
// descriptor or ACL and live as long as it does.
//
// Validation: a SID is valid with revision 1 and at most 15 sub-authorities; an ACL with revision
// 2 to 4, a size that is a multiple of 4 and entries that lie inside it; the library reads no
// further into a SID or ACL than those fields allow. Every function is safe from any thread.
#pragma once

#include "platform/advapi32/winsec.h"

// ---- SIDs ----

// A new SID of nSubAuthorityCount (1 to 8) sub-authorities, freed with FreeSid. FALSE with 87 for
// null arguments or another count.
KW_ADVAPI32_API BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                              BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                              DWORD nSubAuthority1, DWORD nSubAuthority2,
                                              DWORD nSubAuthority3, DWORD nSubAuthority4,
                                              DWORD nSubAuthority5, DWORD nSubAuthority6,
                                              DWORD nSubAuthority7, PSID* pSid);
// Frees a SID of AllocateAndInitializeSid; returns null.
KW_ADVAPI32_API LPVOID FreeSid(PSID pSid);
KW_ADVAPI32_API BOOL IsValidSid(PSID pSid);
// 8 + 4 · the sub-authority count of a valid SID; 0 with 1337 for another.
KW_ADVAPI32_API DWORD GetLengthSid(PSID pSid);
// TRUE when both SIDs are valid and the same; FALSE (last error 0) when they differ, FALSE with
// 1337 when one is not valid.
KW_ADVAPI32_API BOOL EqualSid(PSID pSid1, PSID pSid2);
// Pointers into a valid SID; null with 1337 for another SID, with 87 for a sub-authority index
// past its count.
KW_ADVAPI32_API PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid);
KW_ADVAPI32_API PUCHAR GetSidSubAuthorityCount(PSID pSid);
KW_ADVAPI32_API PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);
// "S-1-5-18" and back ("S-" or "s-", decimal parts, an authority of 2^32 and above in "0x" hex).
// The result is freed with LocalFree. FALSE with 1337 for an invalid SID or text, 87 for null.
KW_ADVAPI32_API BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);
KW_ADVAPI32_API BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);

// ---- Access lists ----

// An empty ACL of nAclLength bytes (8 to 65535; rounded down to a multiple of 4). FALSE with 122
// for a shorter length, 87 for a longer one or a revision other than 2 to 4.
KW_ADVAPI32_API BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
// Appends an entry with the SID after the last one. FALSE with 1336 for an invalid ACL, 1337 for
// an invalid SID, 1306 for a revision other than 2 to 4, 1344 when the entry does not fit. The
// ACL's revision rises to the entry's.
KW_ADVAPI32_API BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask,
                                         PSID pSid);
KW_ADVAPI32_API BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask,
                                        PSID pSid);
// An audit entry, its flags 0x40 for success and 0x80 for failure.
KW_ADVAPI32_API BOOL AddAuditAccessAce(PACL pAcl, DWORD dwAceRevision, DWORD dwAccessMask,
                                       PSID pSid, BOOL bAuditSuccess, BOOL bAuditFailure);
// A pointer to entry dwAceIndex. FALSE with 1336 for an invalid ACL, 87 for an index past the
// last entry.
KW_ADVAPI32_API BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce);
// ACL_REVISION_INFORMATION or ACL_SIZE_INFORMATION. FALSE with 1336, 122 for a short buffer, 87
// for another class.
KW_ADVAPI32_API BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                                       DWORD nAclInformationLength,
                                       ACL_INFORMATION_CLASS dwAclInformationClass);

// ---- Security descriptors ----

// An absolute descriptor of revision 1 with no parts. FALSE with 1305 for another revision.
KW_ADVAPI32_API BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  DWORD dwRevision);
// The control word and revision, of either form. FALSE with 1305 for a revision other than 1.
KW_ADVAPI32_API BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  PSECURITY_DESCRIPTOR_CONTROL pControl,
                                                  LPDWORD lpdwRevision);
// Sets the bits of interest to those in ControlBitsToSet, of either form. Only the inheritance
// bits (0x3F00) may be set this way: FALSE with 87 for any other bit of interest.
KW_ADVAPI32_API BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet);
// The parts, of either form: a pointer to the owner SID (null when none), or the list's
// presence, pointer (null for a null list) and defaulted flag. FALSE with 1305 for another
// revision, 1338 for a self-relative part outside the descriptor's reach.
KW_ADVAPI32_API BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                PSID* pOwner, LPBOOL lpbOwnerDefaulted);
KW_ADVAPI32_API BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               LPBOOL lpbDaclPresent, PACL* pDacl,
                                               LPBOOL lpbDaclDefaulted);
KW_ADVAPI32_API BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               LPBOOL lpbSaclPresent, PACL* pSacl,
                                               LPBOOL lpbSaclDefaulted);
// Set a part of an absolute descriptor (the pointer is kept, not copied): FALSE with 1305 for
// another revision, 1361 for a self-relative descriptor. A list that is not present clears its
// present and defaulted bits.
KW_ADVAPI32_API BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                PSID pOwner, BOOL bOwnerDefaulted);
KW_ADVAPI32_API BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted);
KW_ADVAPI32_API BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               BOOL bSaclPresent, PACL pSacl, BOOL bSaclDefaulted);
// The absolute descriptor in self-relative form (SACL, DACL, owner, group). *lpdwBufferLength
// holds the buffer's size and receives the size needed: FALSE with 122 when it is too small,
// 1361 for a descriptor that is self-relative already, 1336/1337 for an invalid part.
KW_ADVAPI32_API BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                                        LPDWORD lpdwBufferLength);
// The self-relative descriptor in absolute form, each part copied into its own buffer. Each
// size holds its buffer's size and receives the size needed (0 for an absent part): FALSE with
// 122 when any is too small, 1361 for a descriptor that is not self-relative, 1336-1338 for one
// that does not read.
KW_ADVAPI32_API BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSD,
                                    PSECURITY_DESCRIPTOR pAbsoluteSD, LPDWORD lpdwAbsoluteSDSize,
                                    PACL pDacl, LPDWORD lpdwDaclSize, PACL pSacl,
                                    LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize,
                                    PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize);

// ---- Security of services by name ----

// The parts SecurityInfo names of the service pObjectName ("name", or "MACHINE\name" with this
// computer's name, with or without a leading "\\"): a self-relative descriptor (freed with
// LocalFree) and pointers into it. Returns 0 or a Win32 code: 87 for another object type or
// pointers asked without the descriptor, 1722 for another machine, 1314 for the SACL without
// SeSecurityPrivilege enabled, and what OpenServiceA and QueryServiceObjectSecurity give.
KW_ADVAPI32_API DWORD GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                            SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                                            PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
// Sets the parts SecurityInfo names (a null DACL given with DACL_SECURITY_INFORMATION is a null
// DACL: no access control); PROTECTED_DACL/SACL_SECURITY_INFORMATION mark the list protected.
// Returns 0 or a Win32 code as GetNamedSecurityInfoA and SetServiceObjectSecurity give.
KW_ADVAPI32_API DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                            SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                                            PSID psidGroup, PACL pDacl, PACL pSacl);

// ---- Accounts ----

// The SID, domain and kind of an account ("name" or "DOMAIN\name"; accounts as platform/scm's
// accounts.h maps them). cbSid and cchReferencedDomainName hold the buffers' sizes; when either
// is too small both receive the sizes needed (the domain's with its NUL) and the call fails with
// 122; on success they receive the SID's size and the domain's length. FALSE with 1332 for a name
// that maps to no account, 1722 for another machine, 87 for null arguments.
KW_ADVAPI32_API BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid,
                                        LPDWORD cbSid, LPSTR ReferencedDomainName,
                                        LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);
// The name, domain and kind of a SID, with the same buffer rules. FALSE with 1337 for an invalid
// SID, 1332 for one that maps to no account.
KW_ADVAPI32_API BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                                       PSID_NAME_USE peUse);

// ---- Privileges ----

// A privilege's LUID by its name and back (the buffer rule of LookupAccountSidA). FALSE with 1313
// for an unknown privilege, 1722 for another machine.
KW_ADVAPI32_API BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
KW_ADVAPI32_API BOOL LookupPrivilegeNameA(LPCSTR lpSystemName, PLUID lpLuid, LPSTR lpName,
                                          LPDWORD cchName);
// Enables or disables the privileges of NewState in the process token (or disables all). TRUE
// with last error 0, or 1300 when the token does not hold one of them (the others are still
// changed). PreviousState receives the former state of the privileges that changed (122 with
// *ReturnLength when BufferLength is too small, and nothing changes). FALSE with 6 for a handle
// that is no token handle, 5 without TOKEN_ADJUST_PRIVILEGES (and TOKEN_QUERY for PreviousState).
KW_ADVAPI32_API BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                           PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);
