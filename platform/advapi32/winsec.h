// The types of the security functions: SIDs, access lists and their entries, security
// descriptors, accounts and token privileges, with the Win32 names, layouts and values. Types
// only: the functions live in the security library, and their users bind them by name
// (GetProcAddress), so this header declares none of them.
#pragma once

#include "platform/advapi32/winsvc.h"
#include "platform/win/token.h"

using LPBOOL = BOOL*;
using PDWORD = DWORD*;
using PUCHAR = unsigned char*;
using PLUID = LUID*;

// A SID's identifier authority: six bytes, most significant first.
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

enum SID_NAME_USE : int {
  SidTypeUser = 1,
  SidTypeGroup,
  SidTypeDomain,
  SidTypeAlias,
  SidTypeWellKnownGroup,
  SidTypeDeletedAccount,
  SidTypeInvalid,
  SidTypeUnknown,
  SidTypeComputer,
};
using PSID_NAME_USE = SID_NAME_USE*;

// An access list's header; its entries follow it.
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
using PACL = ACL*;
constexpr DWORD ACL_REVISION = 2;

struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
constexpr BYTE ACCESS_DENIED_ACE_TYPE = 1;
constexpr BYTE SYSTEM_AUDIT_ACE_TYPE = 2;
constexpr BYTE SUCCESSFUL_ACCESS_ACE_FLAG = 0x40;
constexpr BYTE FAILED_ACCESS_ACE_FLAG = 0x80;

// Allowed, denied and audit entries share this layout: the SID starts at SidStart.
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  DWORD Mask;
  DWORD SidStart;
};

enum ACL_INFORMATION_CLASS : int { AclRevisionInformation = 1, AclSizeInformation };
struct ACL_SIZE_INFORMATION {
  DWORD AceCount;
  DWORD AclBytesInUse;
  DWORD AclBytesFree;
};

using SECURITY_DESCRIPTOR_CONTROL = WORD;
using PSECURITY_DESCRIPTOR_CONTROL = SECURITY_DESCRIPTOR_CONTROL*;
constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_OWNER_DEFAULTED = 0x0001;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_GROUP_DEFAULTED = 0x0002;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PRESENT = 0x0004;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_DEFAULTED = 0x0008;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PRESENT = 0x0010;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_DEFAULTED = 0x0020;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PROTECTED = 0x1000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PROTECTED = 0x2000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SELF_RELATIVE = 0x8000;

// The objects GetNamedSecurityInfoA and SetNamedSecurityInfoA address.
enum SE_OBJECT_TYPE : int {
  SE_UNKNOWN_OBJECT_TYPE = 0,
  SE_FILE_OBJECT,
  SE_SERVICE,
  SE_PRINTER,
  SE_REGISTRY_KEY,
  SE_LMSHARE,
  SE_KERNEL_OBJECT,
  SE_WINDOW_OBJECT,
};

// A token's privileges: PrivilegeCount entries (the array is longer than it is declared).
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;
