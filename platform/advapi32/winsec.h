// The types of the security functions: SIDs, access lists and their entries, security
// descriptors, accounts and token privileges, with the Win32 names, layouts and values. Types
// only: the functions live in the security library (security.h declares them for what links it);
// the service-control library binds them by name (GetProcAddress), so it includes this header
// alone.
#pragma once

#include "platform/advapi32/winsvc.h"
#include "platform/win/token.h"

using LPBOOL = BOOL*;
using PDWORD = DWORD*;
using PUCHAR = unsigned char*;
using PLUID = LUID*;

// Errors of the security functions that the core's table does not name.
constexpr DWORD ERROR_UNKNOWN_REVISION = 1305;
constexpr DWORD ERROR_REVISION_MISMATCH = 1306;
constexpr DWORD ERROR_INVALID_OWNER = 1307;
constexpr DWORD ERROR_ALLOTTED_SPACE_EXCEEDED = 1344;
constexpr DWORD ERROR_BAD_DESCRIPTOR_FORMAT = 1361;

// A SID's identifier authority: six bytes, most significant first.
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;

// A SID: SubAuthorityCount sub-authorities (at most SID_MAX_SUB_AUTHORITIES) follow the header.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};
constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;

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
constexpr DWORD ACL_REVISION_DS = 4;

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
struct ACL_REVISION_INFORMATION {
  DWORD AclRevision;
};
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
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_AUTO_INHERIT_REQ = 0x0100;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_AUTO_INHERIT_REQ = 0x0200;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_AUTO_INHERITED = 0x0400;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_AUTO_INHERITED = 0x0800;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PROTECTED = 0x1000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PROTECTED = 0x2000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SELF_RELATIVE = 0x8000;

// A descriptor in absolute form: its parts are pointers to blocks of their own.
struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};
constexpr DWORD SECURITY_DESCRIPTOR_MIN_LENGTH = sizeof(SECURITY_DESCRIPTOR);
// The same header in self-relative form (SE_SELF_RELATIVE): offsets from its start, 0 for an
// absent part, and the parts after it in one block.
struct SECURITY_DESCRIPTOR_RELATIVE {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  DWORD Owner;
  DWORD Group;
  DWORD Sacl;
  DWORD Dacl;
};

// Security information bits beyond the four parts: whether a DACL or SACL set by name is
// protected from inheritance.
constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;
constexpr SECURITY_INFORMATION PROTECTED_SACL_SECURITY_INFORMATION = 0x40000000;
constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;
constexpr SECURITY_INFORMATION UNPROTECTED_SACL_SECURITY_INFORMATION = 0x10000000;

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
