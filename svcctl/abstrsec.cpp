#include "svcctl/abstrsec.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/win/win.h"
#include "rtl/cp932.h"
#include "svcctl/ntaccounts.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntprivilege.h"
#include "svcctl/ntstrings.h"
#include "svcctl/osversion.h"
#include "svcctl/secbind.h"

namespace {

constexpr char kSecurityPrivilege[] = "SeSecurityPrivilege";
constexpr char kTakeOwnershipPrivilege[] = "SeTakeOwnershipPrivilege";
// The absolute descriptor SetObjectOwner starts from, in bytes.
constexpr size_t kOwnerDescriptorSize = 255;
// The buffer of an ACL's size information, in bytes.
constexpr size_t kAclInformationSize = 255;
// An ACL with no entries: its header alone.
constexpr DWORD kEmptyAclSize = 8;
// What each entry adds to an ACL beside its SID: header and mask.
constexpr DWORD kAceOverhead = 8;
// The control word's offset in a descriptor of either form.
constexpr size_t kControlOffset = 2;

// The parts read one by one when the whole descriptor cannot be, with the control bits each
// one decides.
constexpr struct {
  DWORD part;
  SECURITY_DESCRIPTOR_CONTROL bits;
} kControlParts[] = {
    {kOwnerPart, kOwnerControlBits},
    {kGroupPart, kGroupControlBits},
    {kSaclPart, kSaclControlBits},
    {kDaclPart, kDaclControlBits},
};

// The order GetNamedSecurityInfoA is asked for each part when SetSecurityControl reads.
constexpr DWORD kProbedParts[] = {kGroupPart, kOwnerPart, kSaclPart, kDaclPart};

BYTE* OrNull(std::vector<BYTE>& block) {
  return block.empty() ? nullptr : block.data();
}

// Access denied and privilege not held: what a part that may not be read gives.
bool NotAllowed(const ENTException& e) {
  return e.ErrorCode == static_cast<int32_t>(ERROR_ACCESS_DENIED) ||
         e.ErrorCode == static_cast<int32_t>(ERROR_PRIVILEGE_NOT_HELD);
}

}  // namespace

TNTAbstractSecurity::TNTAbstractSecurity(rtl::TComponent* owner)
    : TNTPersistent(owner),
      accessList_(std::make_unique<TAccessControlList>(this)),
      systemAudit_(std::make_unique<TAuditList>(this)) {}

TNTAbstractSecurity::~TNTAbstractSecurity() = default;

// ---- both forms of the descriptor ----

void TNTAbstractSecurity::FreeDescriptor() {
  selfRelative_.clear();
  absolute_.clear();
  dacl_.clear();
  sacl_.clear();
  owner_.clear();
  group_.clear();
}

PSECURITY_DESCRIPTOR TNTAbstractSecurity::SelfRelative() {
  return OrNull(selfRelative_);
}

PSECURITY_DESCRIPTOR TNTAbstractSecurity::Absolute() {
  return OrNull(absolute_);
}

void TNTAbstractSecurity::MakeSelfRelativeFrom(PSECURITY_DESCRIPTOR absolute) {
  DWORD size = 0;
  nt::MakeSelfRelativeSD(absolute, nullptr, &size);
  if (size == 0) RaiseLastNTError();
  std::vector<BYTE> made(size, 0);
  if (!nt::MakeSelfRelativeSD(absolute, made.data(), &size)) RaiseLastNTError();
  selfRelative_ = std::move(made);
}

void TNTAbstractSecurity::MakeSelfRelative() {
  MakeSelfRelativeFrom(Absolute());
}

void TNTAbstractSecurity::MakeAbsoluteFrom(PSECURITY_DESCRIPTOR selfRelative) {
  DWORD sizes[5] = {};
  nt::MakeAbsoluteSD(selfRelative, nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2],
                     nullptr, &sizes[3], nullptr, &sizes[4]);
  if (sizes[0] == 0) RaiseLastNTError();
  std::vector<BYTE> blocks[5];
  for (int i = 0; i < 5; ++i)
    blocks[i].assign(sizes[i], 0);
  if (!nt::MakeAbsoluteSD(selfRelative, OrNull(blocks[0]), &sizes[0],
                          reinterpret_cast<PACL>(OrNull(blocks[1])), &sizes[1],
                          reinterpret_cast<PACL>(OrNull(blocks[2])), &sizes[2], OrNull(blocks[3]),
                          &sizes[3], OrNull(blocks[4]), &sizes[4]))
    RaiseLastNTError();
  // Moving a vector keeps its memory, so the descriptor's pointers stay right.
  absolute_ = std::move(blocks[0]);
  dacl_ = std::move(blocks[1]);
  sacl_ = std::move(blocks[2]);
  owner_ = std::move(blocks[3]);
  group_ = std::move(blocks[4]);
}

void TNTAbstractSecurity::MakeAbsolute() {
  if (!selfRelative_.empty()) MakeAbsoluteFrom(SelfRelative());
}

void TNTAbstractSecurity::SetSelfRelative(std::vector<BYTE> descriptor) {
  FreeDescriptor();
  selfRelative_ = std::move(descriptor);
  MakeAbsolute();
}

// ---- reading and writing ----

void TNTAbstractSecurity::ReadSecurity(DWORD parts) {
  if (IsWinNT() && AccessMode == amWinNT)
    ReadNamedSecurity(parts);
  else
    ReadObjectSecurity(parts);
}

void TNTAbstractSecurity::WriteSecurity(DWORD parts) {
  if (IsWinNT() && AccessMode == amWinNT)
    WriteNamedSecurity(parts);
  else
    WriteObjectSecurity(parts);
}

void TNTAbstractSecurity::ReadNamedSecurity(DWORD parts) {
  FreeDescriptor();
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD rc = nt::GetNamedSecurityInfoA(SecurityObjectName.c_str(), GetObjectType(), parts,
                                             &owner, &group, &dacl, &sacl, &descriptor);
  if (rc != 0) RaiseNTErrorCode(rc);
  // The system's block is released on every path; the component keeps copies of its own.
  struct Release {
    PSECURITY_DESCRIPTOR block;
    ~Release() { LocalFree(block); }
  } release{descriptor};
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!nt::GetSecurityDescriptorControl(descriptor, &control, &revision)) RaiseLastNTError();
  if (control & SE_SELF_RELATIVE) {
    MakeAbsoluteFrom(descriptor);
    MakeSelfRelative();
  } else {
    MakeSelfRelativeFrom(descriptor);
    MakeAbsolute();
  }
}

void TNTAbstractSecurity::WriteNamedSecurity(DWORD parts) {
  MakeSelfRelative();
  MakeAbsolute();
  std::string name = SecurityObjectName;
  const DWORD rc = nt::SetNamedSecurityInfoA(name.data(), GetObjectType(), parts, OrNull(owner_),
                                             OrNull(group_), reinterpret_cast<PACL>(OrNull(dacl_)),
                                             reinterpret_cast<PACL>(OrNull(sacl_)));
  if (rc != 0) RaiseNTErrorCode(rc);
}

std::string TNTAbstractSecurity::BuildObjectName(const std::string& machine,
                                                 const std::string& name) {
  if (!machine.empty() && !rtl::SameText(machine, GetLocalComputerName()))
    return machine + "\\" + name;
  return name;
}

template <typename Read>
bool TNTAbstractSecurity::Guarded(Read read) {
  try {
    read();
    return true;
  } catch (...) {
    if (MayAct()) throw;
    return false;
  }
}

// ---- the owner ----

std::string TNTAbstractSecurity::ObjectOwner() {
  std::string result;
  Guarded([&] {
    ReadSecurity(kOwnerPart);
    if (selfRelative_.empty()) return;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!nt::GetSecurityDescriptorOwner(SelfRelative(), &owner, &defaulted)) RaiseLastNTError();
    if (!owner) return;
    std::string domain, name;
    if (!LookupAccountSid(GetMachineName(), owner, domain, name)) RaiseLastNTError();
    result = JoinAccountName(DomainUnlessAuthority(GetMachineName(), domain), name);
  });
  return result;
}

void TNTAbstractSecurity::SetObjectOwner(const std::string& account) {
  EnsurePrivilege(kTakeOwnershipPrivilege);
  FreeDescriptor();
  std::vector<BYTE> descriptor(kOwnerDescriptorSize, 0);
  if (!nt::InitializeSecurityDescriptor(descriptor.data(), SECURITY_DESCRIPTOR_REVISION))
    RaiseLastNTError();
  TSidBytes sid = LookupAccountName(GetMachineName(), account);
  if (sid.empty()) RaiseLastNTError();
  // The SID stays alive as the owner block for as long as the descriptor points to it.
  if (!nt::SetSecurityDescriptorOwner(descriptor.data(), sid.data(), TRUE)) RaiseLastNTError();
  absolute_ = std::move(descriptor);
  owner_ = std::move(sid);
  MakeSelfRelative();
  WriteSecurity(kOwnerPart);
}

// ---- the lists ----

std::vector<TAccessItem*> TNTAbstractSecurity::ReadEntries(TAccessList& list, PACL acl,
                                                           bool audit) {
  std::vector<TAccessItem*> items;
  try {
    BYTE information[kAclInformationSize] = {};
    if (!nt::GetAclInformation(acl, information, sizeof information, AclSizeInformation))
      RaiseLastNTError();
    const DWORD count = reinterpret_cast<ACL_SIZE_INFORMATION*>(information)->AceCount;
    for (DWORD i = 0; i < count; ++i) {
      void* entry = nullptr;
      if (!nt::GetAce(acl, i, &entry)) RaiseLastNTError();
      auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      if (audit && ace->Header.AceType != SYSTEM_AUDIT_ACE_TYPE) continue;
      const TAceType type = AceTypeOf(ace->Header);
      DWORD mask = 0;
      if (audit)
        mask = AuditMaskFromAce(ace->Mask);
      else if (type == actAccessDenied)
        mask = DeniedMaskFromAce(ace->Mask);
      else if (type == actAccessAllowed)
        mask = AllowedMaskFromAce(ace->Mask);
      else
        RaiseInvalidAceType();
      std::string domain, name;
      if (!LookupAccountSid(GetMachineName(), &ace->SidStart, domain, name)) RaiseLastNTError();
      items.push_back(list.NewItem(
          JoinAccountName(DomainUnlessAuthority(GetMachineName(), domain), name), mask, type,
          AceFlagsFromByte(ace->Header.AceFlags), static_cast<int>(items.size())));
    }
  } catch (...) {
    for (TAccessItem* item : items)
      delete item;
    throw;
  }
  return items;
}

TAccessControlList* TNTAbstractSecurity::AccessList() {
  TAccessControlList& list = *accessList_;
  list.Loading = true;
  const bool read = Guarded([&] {
    ReadSecurity(kDaclPart);
    std::vector<TAccessItem*> items;
    if (!selfRelative_.empty()) {
      BOOL present = FALSE, defaulted = FALSE;
      PACL dacl = nullptr;
      if (!nt::GetSecurityDescriptorDacl(SelfRelative(), &present, &dacl, &defaulted))
        RaiseLastNTError();
      if (present && dacl) items = ReadEntries(list, dacl, false);
    }
    list.ReplaceItems(std::move(items));
  });
  list.Loading = false;
  return read ? &list : nullptr;
}

TAuditList* TNTAbstractSecurity::SystemAudit() {
  TAuditList& list = *systemAudit_;
  list.Loading = true;
  const bool read = Guarded([&] {
    std::vector<TAccessItem*> items;
    // Without the privilege the audit list is not read at all, and shows empty.
    if (!IsWinNT() || EnsurePrivilege(kSecurityPrivilege)) {
      ReadSecurity(kSaclPart);
      if (!selfRelative_.empty()) {
        BOOL present = FALSE, defaulted = FALSE;
        PACL sacl = nullptr;
        if (!nt::GetSecurityDescriptorSacl(SelfRelative(), &present, &sacl, &defaulted))
          RaiseLastNTError();
        if (present && sacl) items = ReadEntries(list, sacl, true);
      }
    }
    list.ReplaceItems(std::move(items));
  });
  list.Loading = false;
  return read ? &list : nullptr;
}

namespace {

// The SIDs of a list's accounts, in list order, and the size of an ACL holding them all. Raises
// the lookup's error for an account that does not resolve.
std::vector<TSidBytes> ListSids(const TAccessList& list, const std::string& machine, DWORD& size) {
  std::vector<TSidBytes> sids;
  size = kEmptyAclSize;
  for (int i = 0; i < list.Count(); ++i) {
    TSidBytes sid = LookupAccountName(machine, list.Items(i)->UserName());
    if (sid.empty()) RaiseLastNTError();
    size += nt::GetLengthSid(sid.data()) + kAceOverhead;
    sids.push_back(std::move(sid));
  }
  return sids;
}

// Sets the flag byte of the ACL's entry at index.
void SetAceFlags(PACL acl, DWORD index, BYTE flags) {
  void* entry = nullptr;
  if (!nt::GetAce(acl, index, &entry)) RaiseLastNTError();
  static_cast<ACE_HEADER*>(entry)->AceFlags = flags;
}

}  // namespace

void TNTAbstractSecurity::WriteAccessList(const TAccessControlList& list) {
  ReadSecurity(kDaclPart);
  if (absolute_.empty()) return;
  DWORD size = 0;
  std::vector<TSidBytes> sids = ListSids(list, GetMachineName(), size);
  std::vector<BYTE> block(size, 0);
  auto* dacl = reinterpret_cast<PACL>(block.data());
  if (!nt::InitializeAcl(dacl, size, ACL_REVISION)) RaiseLastNTError();

  // Entries set here before inherited ones; denied before allowed; else as they were added.
  std::vector<int> order(static_cast<size_t>(list.Count()));
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = static_cast<int>(i);
  auto rank = [&](int i) {
    const TAccessItem* item = list.Items(i);
    return std::make_tuple(item->Flags().Contains(acfInherited), item->AceType() != actAccessDenied,
                           item->Position());
  };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return rank(a) < rank(b); });

  DWORD written = 0;
  for (int i : order) {
    const TAccessItem* item = list.Items(i);
    BOOL ok;
    if (item->AceType() == actAccessDenied)
      ok = nt::AddAccessDeniedAce(dacl, ACL_REVISION, DeniedMaskToAce(item->Mask()),
                                  sids[static_cast<size_t>(i)].data());
    else if (item->AceType() == actAccessAllowed)
      ok = nt::AddAccessAllowedAce(dacl, ACL_REVISION, AllowedMaskToAce(item->Mask()),
                                   sids[static_cast<size_t>(i)].data());
    else
      continue;
    if (!ok) RaiseLastNTError();
    SetAceFlags(dacl, written++, AceFlagsToByte(item->Flags(), item->AceType()));
  }
  if (!nt::SetSecurityDescriptorDacl(Absolute(), TRUE, dacl, FALSE)) RaiseLastNTError();
  dacl_ = std::move(block);
  MakeSelfRelative();
  MakeAbsolute();
  WriteSecurity(kDaclPart);
}

void TNTAbstractSecurity::WriteAuditList(const TAuditList& list) {
  ReadSecurity(kSaclPart);
  if (absolute_.empty()) return;
  DWORD size = 0;
  std::vector<TSidBytes> sids = ListSids(list, GetMachineName(), size);
  std::vector<BYTE> block(size, 0);
  auto* sacl = reinterpret_cast<PACL>(block.data());
  if (!nt::InitializeAcl(sacl, size, ACL_REVISION)) RaiseLastNTError();
  DWORD written = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const TAccessItem* item = list.Items(i);
    const TAceType type = item->AceType();
    const bool success = type == actAuditSuccess || type == actAuditFull;
    const bool failure = type == actAuditFailure || type == actAuditFull;
    if (!nt::AddAuditAccessAce(sacl, ACL_REVISION, AuditMaskToAce(item->Mask()),
                               sids[static_cast<size_t>(i)].data(), success, failure))
      RaiseLastNTError();
    SetAceFlags(sacl, written++, AceFlagsToByte(item->Flags(), type));
  }
  if (!nt::SetSecurityDescriptorSacl(Absolute(), TRUE, sacl, FALSE)) RaiseLastNTError();
  sacl_ = std::move(block);
  MakeSelfRelative();
  MakeAbsolute();
  WriteSecurity(kSaclPart);
}

// ---- access control ----

bool TNTAbstractSecurity::ControlAccess() {
  bool result = false;
  Guarded([&] {
    ReadSecurity(kDaclPart);
    if (selfRelative_.empty()) return;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!nt::GetSecurityDescriptorDacl(SelfRelative(), &present, &dacl, &defaulted))
      RaiseLastNTError();
    result = present && dacl;
  });
  return result;
}

void TNTAbstractSecurity::SetControlAccess(bool value) {
  if (value == ControlAccess()) return;
  ReadSecurity(kDaclPart);
  if (absolute_.empty()) return;
  std::vector<BYTE> block;
  if (value) {
    block.assign(kEmptyAclSize, 0);
    if (!nt::InitializeAcl(reinterpret_cast<PACL>(block.data()), kEmptyAclSize, ACL_REVISION))
      RaiseLastNTError();
  }
  if (!nt::SetSecurityDescriptorDacl(Absolute(), value, reinterpret_cast<PACL>(OrNull(block)),
                                     FALSE))
    RaiseLastNTError();
  dacl_ = std::move(block);
  MakeSelfRelative();
  MakeAbsolute();
  WriteSecurity(kDaclPart);
}

// ---- the control word ----

bool TNTAbstractSecurity::ReadControl(DWORD parts, SECURITY_DESCRIPTOR_CONTROL& control) {
  ReadSecurity(parts);
  if (absolute_.empty()) return false;
  DWORD revision = 0;
  if (!nt::GetSecurityDescriptorControl(Absolute(), &control, &revision)) RaiseLastNTError();
  return true;
}

SECURITY_DESCRIPTOR_CONTROL TNTAbstractSecurity::GetSecurityControl() {
  if (IsWinNT()) EnsurePrivilege(kSecurityPrivilege);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  try {
    if (ReadControl(kAllParts, control)) return control;
  } catch (const ENTException& e) {
    if (!NotAllowed(e) && MayAct()) throw;
    if (!NotAllowed(e)) return 0;
  }
  // Part by part, keeping the bits of each part that can be read.
  SECURITY_DESCRIPTOR_CONTROL collected = 0;
  for (const auto& p : kControlParts) {
    try {
      if (ReadControl(p.part, control)) collected |= control & p.bits;
    } catch (const ENTException& e) {
      if (NotAllowed(e)) continue;
      if (MayAct()) throw;
      return collected;
    } catch (...) {
      if (MayAct()) throw;
      return collected;
    }
  }
  return collected;
}

DWORD TNTAbstractSecurity::ReadableParts() {
  if (!IsWinNT()) return kAllParts;
  DWORD parts = 0;
  if (SecurityObjectName.empty()) return parts;
  for (DWORD part : kProbedParts) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (nt::GetNamedSecurityInfoA(SecurityObjectName.c_str(), GetObjectType(), part, nullptr,
                                  nullptr, nullptr, nullptr, &descriptor) == 0)
      parts |= part;
    LocalFree(descriptor);
  }
  return parts;
}

void TNTAbstractSecurity::SetSecurityControl(SECURITY_DESCRIPTOR_CONTROL control) {
  ReadSecurity(ReadableParts());
  if (absolute_.empty()) return;
  SECURITY_DESCRIPTOR_CONTROL current = 0;
  DWORD revision = 0;
  if (!nt::GetSecurityDescriptorControl(Absolute(), &current, &revision)) RaiseLastNTError();
  const SECURITY_DESCRIPTOR_CONTROL changed = (current ^ control) & kSettableControlBits;
  DWORD parts = 0;
  if (changed & kDaclSettableBits) parts |= kDaclPart;
  if (changed & kSaclSettableBits) parts |= kSaclPart;
  if (parts == 0) return;
  if (IsWin2000OrLater()) {
    if (!nt::SetSecurityDescriptorControl(Absolute(), kSettableControlBits,
                                          control & kSettableControlBits))
      RaiseLastNTError();
  } else {
    const SECURITY_DESCRIPTOR_CONTROL word =
        (control & kSettableControlBits) | (current & ~kSettableControlBits & 0xFFFF);
    std::memcpy(absolute_.data() + kControlOffset, &word, sizeof word);
  }
  // What is written is the self-relative copy: it must carry the new word.
  MakeSelfRelative();
  WriteObjectSecurity(parts);
}
