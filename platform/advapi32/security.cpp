// SIDs, access lists and security descriptors in the caller's memory, in the Windows layouts.
// The binary rules (what a valid SID or ACL is, the self-relative layout) are platform/scm's
// secdesc.h, which scmd enforces; here they are applied to the caller's blocks.
#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/internal.h"
#include "platform/advapi32/security.h"
#include "platform/scm/protocol.h"
#include "platform/scm/secdesc.h"

namespace {

constexpr DWORD kMaxSidCountAllocated = 8;  // what AllocateAndInitializeSid takes
constexpr WORD kSettableControl = SE_DACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERIT_REQ |
                                  SE_DACL_AUTO_INHERITED | SE_SACL_AUTO_INHERITED |
                                  SE_DACL_PROTECTED | SE_SACL_PROTECTED;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

const BYTE* Bytes(const void* p) {
  return static_cast<const BYTE*>(p);
}

bool ValidSid(const void* sid) {
  return sid && Bytes(sid)[0] == SID_REVISION && Bytes(sid)[1] <= SID_MAX_SUB_AUTHORITIES;
}

// REQUIRES: ValidSid(sid).
size_t SidLength(const void* sid) {
  return scm::kSidHeaderBytes + 4 * size_t(Bytes(sid)[1]);
}

// The entries' offsets of a valid ACL, from the size its header declares; false for an invalid
// one.
bool AclEntries(const ACL* acl, std::vector<size_t>& offsets) {
  if (!acl) return false;
  return scm::ListAces(Bytes(acl), acl->AclSize, offsets, nullptr) == 0;
}

// The end of the entries of a valid ACL.
size_t AclUsed(const ACL* acl, const std::vector<size_t>& offsets) {
  if (offsets.empty()) return sizeof(ACL);
  const size_t last = offsets.back();
  WORD size;
  std::memcpy(&size, Bytes(acl) + last + 2, sizeof size);
  return last + size;
}

BOOL AddAce(PACL acl, DWORD revision, BYTE type, BYTE flags, DWORD mask, PSID sid) {
  std::vector<size_t> offsets;
  if (!AclEntries(acl, offsets)) return Fail(ERROR_INVALID_ACL);
  if (!ValidSid(sid)) return Fail(ERROR_INVALID_SID);
  if (revision < ACL_REVISION || revision > ACL_REVISION_DS) return Fail(ERROR_REVISION_MISMATCH);
  const size_t at = AclUsed(acl, offsets);
  const size_t size = scm::kAceSidOffset + SidLength(sid);
  if (acl->AceCount == 0xFFFF || acl->AclSize - at < size)
    return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  BYTE* p = reinterpret_cast<BYTE*>(acl) + at;
  p[0] = type;
  p[1] = flags;
  const WORD aceSize = static_cast<WORD>(size);
  std::memcpy(p + 2, &aceSize, sizeof aceSize);
  std::memcpy(p + 4, &mask, sizeof mask);
  std::memcpy(p + scm::kAceSidOffset, sid, SidLength(sid));
  acl->AceCount++;
  if (acl->AclRevision < revision) acl->AclRevision = static_cast<BYTE>(revision);
  return Succeed();
}

// The parts of a descriptor of either form, as pointers into the caller's memory.
struct Parts {
  WORD control = 0;
  void* owner = nullptr;
  void* group = nullptr;
  ACL* sacl = nullptr;
  ACL* dacl = nullptr;
};

// 0 and the parts, or 87 for null, 1305 for another revision, 1338 for a self-relative offset
// outside the descriptor limit.
DWORD ReadParts(PSECURITY_DESCRIPTOR sd, Parts& parts) {
  if (!sd) return ERROR_INVALID_PARAMETER;
  const auto* header = static_cast<const SECURITY_DESCRIPTOR*>(sd);
  if (header->Revision != SECURITY_DESCRIPTOR_REVISION) return ERROR_UNKNOWN_REVISION;
  parts.control = header->Control;
  if (!(header->Control & SE_SELF_RELATIVE)) {
    parts.owner = header->Owner;
    parts.group = header->Group;
    parts.sacl = header->Sacl;
    parts.dacl = header->Dacl;
    return 0;
  }
  SECURITY_DESCRIPTOR_RELATIVE relative;
  std::memcpy(&relative, sd, sizeof relative);
  BYTE* base = static_cast<BYTE*>(sd);
  const DWORD offsets[] = {relative.Owner, relative.Group, relative.Sacl, relative.Dacl};
  for (DWORD o : offsets)
    if (o != 0 && (o < sizeof relative || o >= scm::kMaxSecurityBytes))
      return ERROR_INVALID_SECURITY_DESCR;
  auto at = [&](DWORD o) -> void* { return o ? base + o : nullptr; };
  parts.owner = at(relative.Owner);
  parts.group = at(relative.Group);
  parts.sacl = static_cast<ACL*>(at(relative.Sacl));
  parts.dacl = static_cast<ACL*>(at(relative.Dacl));
  return 0;
}

// An absolute descriptor to change: 0, or the code of why it cannot be.
DWORD Absolute(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR*& out) {
  if (!sd) return ERROR_INVALID_PARAMETER;
  out = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (out->Revision != SECURITY_DESCRIPTOR_REVISION) return ERROR_UNKNOWN_REVISION;
  if (out->Control & SE_SELF_RELATIVE) return ERROR_BAD_DESCRIPTOR_FORMAT;
  return 0;
}

BOOL GetList(PSECURITY_DESCRIPTOR sd, WORD present, WORD defaulted, bool dacl, LPBOOL isPresent,
             PACL* list, LPBOOL isDefaulted) {
  if (!isPresent || !list || !isDefaulted) return Fail(ERROR_INVALID_PARAMETER);
  Parts parts;
  if (DWORD err = ReadParts(sd, parts)) return Fail(err);
  *isPresent = (parts.control & present) ? TRUE : FALSE;
  *list = *isPresent ? (dacl ? parts.dacl : parts.sacl) : nullptr;
  *isDefaulted = (parts.control & defaulted) ? TRUE : FALSE;
  return Succeed();
}

BOOL SetList(PSECURITY_DESCRIPTOR sd, WORD present, WORD defaulted, bool dacl, BOOL isPresent,
             PACL list, BOOL isDefaulted) {
  SECURITY_DESCRIPTOR* a;
  if (DWORD err = Absolute(sd, a)) return Fail(err);
  PACL& slot = dacl ? a->Dacl : a->Sacl;
  a->Control &= static_cast<WORD>(~(present | defaulted));
  slot = nullptr;
  if (isPresent) {
    a->Control |= present;
    if (isDefaulted) a->Control |= defaulted;
    slot = list;
  }
  return Succeed();
}

}  // namespace

// ---- SIDs ----

KW_ADVAPI32_API BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                              BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                              DWORD nSubAuthority1, DWORD nSubAuthority2,
                                              DWORD nSubAuthority3, DWORD nSubAuthority4,
                                              DWORD nSubAuthority5, DWORD nSubAuthority6,
                                              DWORD nSubAuthority7, PSID* pSid) {
  if (!pIdentifierAuthority || !pSid || nSubAuthorityCount == 0 ||
      nSubAuthorityCount > kMaxSidCountAllocated)
    return Fail(ERROR_INVALID_PARAMETER);
  const DWORD sub[] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                       nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  const size_t size = scm::kSidHeaderBytes + 4 * size_t(nSubAuthorityCount);
  auto* p = static_cast<BYTE*>(LocalAlloc(LPTR, size));
  if (!p) return FALSE;
  p[0] = SID_REVISION;
  p[1] = nSubAuthorityCount;
  std::memcpy(p + 2, pIdentifierAuthority->Value, 6);
  std::memcpy(p + scm::kSidHeaderBytes, sub, 4 * size_t(nSubAuthorityCount));
  *pSid = p;
  return Succeed();
}

KW_ADVAPI32_API LPVOID FreeSid(PSID pSid) {
  return LocalFree(pSid);
}

KW_ADVAPI32_API BOOL IsValidSid(PSID pSid) {
  return ValidSid(pSid) ? Succeed() : Fail(ERROR_INVALID_SID);
}

KW_ADVAPI32_API DWORD GetLengthSid(PSID pSid) {
  if (!ValidSid(pSid)) {
    SetLastError(ERROR_INVALID_SID);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(SidLength(pSid));
}

KW_ADVAPI32_API BOOL EqualSid(PSID pSid1, PSID pSid2) {
  if (!ValidSid(pSid1) || !ValidSid(pSid2)) return Fail(ERROR_INVALID_SID);
  SetLastError(ERROR_SUCCESS);
  return SidLength(pSid1) == SidLength(pSid2) && std::memcmp(pSid1, pSid2, SidLength(pSid1)) == 0
             ? TRUE
             : FALSE;
}

KW_ADVAPI32_API PSID_IDENTIFIER_AUTHORITY GetSidIdentifierAuthority(PSID pSid) {
  if (!ValidSid(pSid)) {
    SetLastError(ERROR_INVALID_SID);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return &static_cast<SID*>(pSid)->IdentifierAuthority;
}

KW_ADVAPI32_API PUCHAR GetSidSubAuthorityCount(PSID pSid) {
  if (!ValidSid(pSid)) {
    SetLastError(ERROR_INVALID_SID);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return &static_cast<SID*>(pSid)->SubAuthorityCount;
}

KW_ADVAPI32_API PDWORD GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  if (!ValidSid(pSid)) {
    SetLastError(ERROR_INVALID_SID);
    return nullptr;
  }
  if (nSubAuthority >= Bytes(pSid)[1]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<PDWORD>(static_cast<BYTE*>(pSid) + scm::kSidHeaderBytes +
                                  4 * size_t(nSubAuthority));
}

KW_ADVAPI32_API BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
  if (!Sid || !StringSid) return Fail(ERROR_INVALID_PARAMETER);
  scm::Sid sid;
  if (!ValidSid(Sid) || scm::ReadSid(Bytes(Sid), SidLength(Sid), sid) != 0)
    return Fail(ERROR_INVALID_SID);
  const std::string text = scm::SidText(sid);
  auto* out = static_cast<WCHAR*>(LocalAlloc(LPTR, (text.size() + 1) * sizeof(WCHAR)));
  if (!out) return FALSE;
  for (size_t i = 0; i < text.size(); ++i)
    out[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
  *StringSid = out;
  return Succeed();
}

KW_ADVAPI32_API BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
  if (!StringSid || !Sid) return Fail(ERROR_INVALID_PARAMETER);
  // A SID text is short; anything longer, or outside ASCII, is no SID.
  constexpr size_t kMaxText = 256;
  std::string text;
  for (const WCHAR* p = StringSid; *p; ++p) {
    if (*p > 0x7F || text.size() >= kMaxText) return Fail(ERROR_INVALID_SID);
    text.push_back(static_cast<char>(*p));
  }
  scm::Sid sid;
  if (!scm::ParseSidText(text, sid)) return Fail(ERROR_INVALID_SID);
  std::string bytes;
  scm::AppendSid(bytes, sid);
  void* out = LocalAlloc(LMEM_FIXED, bytes.size());
  if (!out) return FALSE;
  std::memcpy(out, bytes.data(), bytes.size());
  *Sid = out;
  return Succeed();
}

// ---- Access lists ----

KW_ADVAPI32_API BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  if (!pAcl) return Fail(ERROR_INVALID_PARAMETER);
  if (nAclLength < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (nAclLength > scm::kMaxAclBytes || dwAclRevision < ACL_REVISION ||
      dwAclRevision > ACL_REVISION_DS)
    return Fail(ERROR_INVALID_PARAMETER);
  pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
  pAcl->Sbz1 = 0;
  pAcl->AclSize = static_cast<WORD>(nAclLength & ~DWORD(3));
  pAcl->AceCount = 0;
  pAcl->Sbz2 = 0;
  return Succeed();
}

KW_ADVAPI32_API BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask,
                                         PSID pSid) {
  return AddAce(pAcl, dwAceRevision, ACCESS_ALLOWED_ACE_TYPE, 0, AccessMask, pSid);
}

KW_ADVAPI32_API BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask,
                                        PSID pSid) {
  return AddAce(pAcl, dwAceRevision, ACCESS_DENIED_ACE_TYPE, 0, AccessMask, pSid);
}

KW_ADVAPI32_API BOOL AddAuditAccessAce(PACL pAcl, DWORD dwAceRevision, DWORD dwAccessMask,
                                       PSID pSid, BOOL bAuditSuccess, BOOL bAuditFailure) {
  const BYTE flags = static_cast<BYTE>((bAuditSuccess ? SUCCESSFUL_ACCESS_ACE_FLAG : 0) |
                                       (bAuditFailure ? FAILED_ACCESS_ACE_FLAG : 0));
  return AddAce(pAcl, dwAceRevision, SYSTEM_AUDIT_ACE_TYPE, flags, dwAccessMask, pSid);
}

KW_ADVAPI32_API BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
  std::vector<size_t> offsets;
  if (!AclEntries(pAcl, offsets)) return Fail(ERROR_INVALID_ACL);
  if (!pAce || dwAceIndex >= offsets.size()) return Fail(ERROR_INVALID_PARAMETER);
  *pAce = reinterpret_cast<BYTE*>(pAcl) + offsets[dwAceIndex];
  return Succeed();
}

KW_ADVAPI32_API BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                                       DWORD nAclInformationLength,
                                       ACL_INFORMATION_CLASS dwAclInformationClass) {
  std::vector<size_t> offsets;
  if (!AclEntries(pAcl, offsets)) return Fail(ERROR_INVALID_ACL);
  if (!pAclInformation) return Fail(ERROR_INVALID_PARAMETER);
  if (dwAclInformationClass == AclRevisionInformation) {
    if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION))
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    const ACL_REVISION_INFORMATION info{pAcl->AclRevision};
    std::memcpy(pAclInformation, &info, sizeof info);
    return Succeed();
  }
  if (dwAclInformationClass == AclSizeInformation) {
    if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION))
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    const DWORD used = static_cast<DWORD>(AclUsed(pAcl, offsets));
    const ACL_SIZE_INFORMATION info{static_cast<DWORD>(offsets.size()), used, pAcl->AclSize - used};
    std::memcpy(pAclInformation, &info, sizeof info);
    return Succeed();
  }
  return Fail(ERROR_INVALID_PARAMETER);
}

// ---- Security descriptors ----

KW_ADVAPI32_API BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  DWORD dwRevision) {
  if (!pSecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  SECURITY_DESCRIPTOR empty{};
  empty.Revision = SECURITY_DESCRIPTOR_REVISION;
  std::memcpy(pSecurityDescriptor, &empty, sizeof empty);
  return Succeed();
}

KW_ADVAPI32_API BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  PSECURITY_DESCRIPTOR_CONTROL pControl,
                                                  LPDWORD lpdwRevision) {
  if (!pSecurityDescriptor || !pControl || !lpdwRevision) return Fail(ERROR_INVALID_PARAMETER);
  const auto* header = static_cast<const SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  *lpdwRevision = header->Revision;
  if (header->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  *pControl = header->Control;
  return Succeed();
}

KW_ADVAPI32_API BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
  if (!pSecurityDescriptor || (ControlBitsOfInterest & ~kSettableControl) ||
      (ControlBitsToSet & ~kSettableControl))
    return Fail(ERROR_INVALID_PARAMETER);
  auto* header = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (header->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  header->Control = static_cast<WORD>((header->Control & ~ControlBitsOfInterest) |
                                      (ControlBitsToSet & ControlBitsOfInterest));
  return Succeed();
}

KW_ADVAPI32_API BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                PSID* pOwner, LPBOOL lpbOwnerDefaulted) {
  if (!pOwner || !lpbOwnerDefaulted) return Fail(ERROR_INVALID_PARAMETER);
  Parts parts;
  if (DWORD err = ReadParts(pSecurityDescriptor, parts)) return Fail(err);
  *pOwner = parts.owner;
  *lpbOwnerDefaulted = (parts.control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
  return Succeed();
}

KW_ADVAPI32_API BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               LPBOOL lpbDaclPresent, PACL* pDacl,
                                               LPBOOL lpbDaclDefaulted) {
  return GetList(pSecurityDescriptor, SE_DACL_PRESENT, SE_DACL_DEFAULTED, true, lpbDaclPresent,
                 pDacl, lpbDaclDefaulted);
}

KW_ADVAPI32_API BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               LPBOOL lpbSaclPresent, PACL* pSacl,
                                               LPBOOL lpbSaclDefaulted) {
  return GetList(pSecurityDescriptor, SE_SACL_PRESENT, SE_SACL_DEFAULTED, false, lpbSaclPresent,
                 pSacl, lpbSaclDefaulted);
}

KW_ADVAPI32_API BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                PSID pOwner, BOOL bOwnerDefaulted) {
  SECURITY_DESCRIPTOR* a;
  if (DWORD err = Absolute(pSecurityDescriptor, a)) return Fail(err);
  a->Owner = pOwner;
  a->Control = static_cast<WORD>(bOwnerDefaulted ? (a->Control | SE_OWNER_DEFAULTED)
                                                 : (a->Control & ~SE_OWNER_DEFAULTED));
  return Succeed();
}

KW_ADVAPI32_API BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted) {
  return SetList(pSecurityDescriptor, SE_DACL_PRESENT, SE_DACL_DEFAULTED, true, bDaclPresent, pDacl,
                 bDaclDefaulted);
}

KW_ADVAPI32_API BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                               BOOL bSaclPresent, PACL pSacl, BOOL bSaclDefaulted) {
  return SetList(pSecurityDescriptor, SE_SACL_PRESENT, SE_SACL_DEFAULTED, false, bSaclPresent,
                 pSacl, bSaclDefaulted);
}

KW_ADVAPI32_API BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                                        LPDWORD lpdwBufferLength) {
  if (!pAbsoluteSecurityDescriptor || !lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
  const auto* a = static_cast<const SECURITY_DESCRIPTOR*>(pAbsoluteSecurityDescriptor);
  if (a->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  if (a->Control & SE_SELF_RELATIVE) return Fail(ERROR_BAD_DESCRIPTOR_FORMAT);
  // The parts in the order they are laid out, each as its bytes.
  std::string body;
  DWORD offsets[4] = {};  // owner, group, SACL, DACL
  std::vector<size_t> entries;
  auto list = [&](const ACL* acl, WORD present, DWORD& offset) -> DWORD {
    if (!(a->Control & present) || !acl) return 0;
    if (!AclEntries(acl, entries)) return ERROR_INVALID_ACL;
    offset = static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR_RELATIVE) + body.size());
    body.append(reinterpret_cast<const char*>(acl), acl->AclSize);
    return 0;
  };
  auto sid = [&](const void* s, DWORD& offset) -> DWORD {
    if (!s) return 0;
    if (!ValidSid(s)) return ERROR_INVALID_SID;
    offset = static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR_RELATIVE) + body.size());
    body.append(static_cast<const char*>(s), SidLength(s));
    return 0;
  };
  if (DWORD err = list(a->Sacl, SE_SACL_PRESENT, offsets[2])) return Fail(err);
  if (DWORD err = list(a->Dacl, SE_DACL_PRESENT, offsets[3])) return Fail(err);
  if (DWORD err = sid(a->Owner, offsets[0])) return Fail(err);
  if (DWORD err = sid(a->Group, offsets[1])) return Fail(err);
  const size_t total = sizeof(SECURITY_DESCRIPTOR_RELATIVE) + body.size();
  if (!pSelfRelativeSecurityDescriptor || *lpdwBufferLength < total) {
    *lpdwBufferLength = static_cast<DWORD>(total);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  const SECURITY_DESCRIPTOR_RELATIVE header{SECURITY_DESCRIPTOR_REVISION,
                                            0,
                                            static_cast<WORD>(a->Control | SE_SELF_RELATIVE),
                                            offsets[0],
                                            offsets[1],
                                            offsets[2],
                                            offsets[3]};
  auto* out = static_cast<BYTE*>(pSelfRelativeSecurityDescriptor);
  std::memcpy(out, &header, sizeof header);
  std::memcpy(out + sizeof header, body.data(), body.size());
  return Succeed();
}

KW_ADVAPI32_API BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSD,
                                    PSECURITY_DESCRIPTOR pAbsoluteSD, LPDWORD lpdwAbsoluteSDSize,
                                    PACL pDacl, LPDWORD lpdwDaclSize, PACL pSacl,
                                    LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize,
                                    PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize) {
  if (!pSelfRelativeSD || !lpdwAbsoluteSDSize || !lpdwDaclSize || !lpdwSaclSize || !lpdwOwnerSize ||
      !lpdwPrimaryGroupSize)
    return Fail(ERROR_INVALID_PARAMETER);
  const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(pSelfRelativeSD);
  if (header->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  if (!(header->Control & SE_SELF_RELATIVE)) return Fail(ERROR_BAD_DESCRIPTOR_FORMAT);
  // The descriptor must read as a whole within the length its parts declare.
  const size_t length = advapi::SelfRelativeLength(pSelfRelativeSD);
  if (!length) return Fail(ERROR_INVALID_SECURITY_DESCR);
  Parts parts;
  if (DWORD err = ReadParts(pSelfRelativeSD, parts)) return Fail(err);
  const BYTE* base = Bytes(pSelfRelativeSD);
  std::vector<size_t> entries;
  auto aclSize = [&](const ACL* acl, WORD present, DWORD& size) -> DWORD {
    size = 0;
    if (!acl || !(parts.control & present)) return 0;
    const size_t left = length - size_t(Bytes(acl) - base);
    if (left < sizeof(ACL) || scm::ListAces(Bytes(acl), left, entries, nullptr) != 0)
      return ERROR_INVALID_ACL;
    size = acl->AclSize;
    return 0;
  };
  auto sidSize = [&](const void* sid, DWORD& size) -> DWORD {
    size = 0;
    if (!sid) return 0;
    if (!ValidSid(sid) || SidLength(sid) > length - size_t(Bytes(sid) - base))
      return ERROR_INVALID_SID;
    size = static_cast<DWORD>(SidLength(sid));
    return 0;
  };
  DWORD need[5] = {sizeof(SECURITY_DESCRIPTOR)};  // descriptor, DACL, SACL, owner, group
  if (DWORD err = aclSize(parts.dacl, SE_DACL_PRESENT, need[1])) return Fail(err);
  if (DWORD err = aclSize(parts.sacl, SE_SACL_PRESENT, need[2])) return Fail(err);
  if (DWORD err = sidSize(parts.owner, need[3])) return Fail(err);
  if (DWORD err = sidSize(parts.group, need[4])) return Fail(err);
  LPDWORD sizes[5] = {lpdwAbsoluteSDSize, lpdwDaclSize, lpdwSaclSize, lpdwOwnerSize,
                      lpdwPrimaryGroupSize};
  void* blocks[5] = {pAbsoluteSD, pDacl, pSacl, pOwner, pPrimaryGroup};
  bool fits = true;
  for (size_t i = 0; i < 5; ++i)
    if (need[i] && (*sizes[i] < need[i] || !blocks[i])) fits = false;
  for (size_t i = 0; i < 5; ++i)
    *sizes[i] = need[i];
  if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const void* from[5] = {nullptr, parts.dacl, parts.sacl, parts.owner, parts.group};
  for (size_t i = 1; i < 5; ++i)
    if (need[i]) std::memcpy(blocks[i], from[i], need[i]);
  SECURITY_DESCRIPTOR a{};
  a.Revision = SECURITY_DESCRIPTOR_REVISION;
  a.Control = static_cast<WORD>(parts.control & ~SE_SELF_RELATIVE);
  a.Dacl = need[1] ? pDacl : nullptr;
  a.Sacl = need[2] ? pSacl : nullptr;
  a.Owner = need[3] ? pOwner : nullptr;
  a.Group = need[4] ? pPrimaryGroup : nullptr;
  std::memcpy(pAbsoluteSD, &a, sizeof a);
  return Succeed();
}
