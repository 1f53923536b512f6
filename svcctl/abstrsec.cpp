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

PACL TNTAbstractSecurity::CurrentAcl(DWORD part) {
  if (selfRelative_.empty()) return nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  const BOOL ok = part == kSaclPart
                      ? nt::GetSecurityDescriptorSacl(SelfRelative(), &present, &acl, &defaulted)
                      : nt::GetSecurityDescriptorDacl(SelfRelative(), &present, &acl, &defaulted);
  if (!ok) RaiseLastNTError();
  return present ? acl : nullptr;
}

template <typename List, typename Fill>
List* TNTAbstractSecurity::ReadList(List& list, Fill fill) {
  list.Loading = true;
  const bool read = Guarded([&] { list.ReplaceItems(fill()); });
  list.Loading = false;
  return read ? &list : nullptr;
}

TAccessControlList* TNTAbstractSecurity::AccessList() {
  return ReadList(*accessList_, [&] {
    ReadSecurity(kDaclPart);
    PACL dacl = CurrentAcl(kDaclPart);
    return dacl ? ReadEntries(*accessList_, dacl, false) : std::vector<TAccessItem*>();
  });
}

TAuditList* TNTAbstractSecurity::SystemAudit() {
  return ReadList(*systemAudit_, [&] {
    // Without the privilege the audit list is not read at all, and shows empty.
    if (IsWinNT() && !EnsurePrivilege(kSecurityPrivilege)) return std::vector<TAccessItem*>();
    ReadSecurity(kSaclPart);
    PACL sacl = CurrentAcl(kSaclPart);
    return sacl ? ReadEntries(*systemAudit_, sacl, true) : std::vector<TAccessItem*>();
  });
}

namespace {

// Sets the flag byte of the ACL's entry at index.
void SetAceFlags(PACL acl, DWORD index, BYTE flags) {
  void* entry = nullptr;
  if (!nt::GetAce(acl, index, &entry)) RaiseLastNTError();
  static_cast<ACE_HEADER*>(entry)->AceFlags = flags;
}

}  // namespace

std::vector<BYTE> TNTAbstractSecurity::NewAcl(const TAccessList& list,
                                              std::vector<TSidBytes>& sids) {
  DWORD size = kEmptyAclSize;
  for (int i = 0; i < list.Count(); ++i) {
    TSidBytes sid = LookupAccountName(GetMachineName(), list.Items(i)->UserName());
    if (sid.empty()) RaiseLastNTError();
    size += nt::GetLengthSid(sid.data()) + kAceOverhead;
    sids.push_back(std::move(sid));
  }
  std::vector<BYTE> block(size, 0);
  if (!nt::InitializeAcl(reinterpret_cast<PACL>(block.data()), size, ACL_REVISION))
    RaiseLastNTError();
  return block;
}

void TNTAbstractSecurity::PutAcl(DWORD part, std::vector<BYTE> block, bool present) {
  auto* acl = reinterpret_cast<PACL>(OrNull(block));
  const BOOL ok = part == kSaclPart
                      ? nt::SetSecurityDescriptorSacl(Absolute(), present, acl, FALSE)
                      : nt::SetSecurityDescriptorDacl(Absolute(), present, acl, FALSE);
  if (!ok) RaiseLastNTError();
  (part == kSaclPart ? sacl_ : dacl_) = std::move(block);  // the old block goes only now
  MakeSelfRelative();
  MakeAbsolute();
  WriteSecurity(part);
}

void TNTAbstractSecurity::WriteAccessList(const TAccessControlList& list) {
  ReadSecurity(kDaclPart);
  if (absolute_.empty()) return;
  std::vector<TSidBytes> sids;
  std::vector<BYTE> block = NewAcl(list, sids);
  auto* dacl = reinterpret_cast<PACL>(block.data());

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
    PSID sid = sids[static_cast<size_t>(i)].data();
    BOOL ok;
    if (item->AceType() == actAccessDenied)
      ok = nt::AddAccessDeniedAce(dacl, ACL_REVISION, DeniedMaskToAce(item->Mask()), sid);
    else if (item->AceType() == actAccessAllowed)
      ok = nt::AddAccessAllowedAce(dacl, ACL_REVISION, AllowedMaskToAce(item->Mask()), sid);
    else
      continue;
    if (!ok) RaiseLastNTError();
    SetAceFlags(dacl, written++, AceFlagsToByte(item->Flags(), item->AceType()));
  }
  PutAcl(kDaclPart, std::move(block), true);
}

void TNTAbstractSecurity::WriteAuditList(const TAuditList& list) {
  ReadSecurity(kSaclPart);
  if (absolute_.empty()) return;
  std::vector<TSidBytes> sids;
  std::vector<BYTE> block = NewAcl(list, sids);
  auto* sacl = reinterpret_cast<PACL>(block.data());
  for (int i = 0; i < list.Count(); ++i) {
    const TAccessItem* item = list.Items(i);
    const TAceType type = item->AceType();
    const bool success = type == actAuditSuccess || type == actAuditFull;
    const bool failure = type == actAuditFailure || type == actAuditFull;
    if (!nt::AddAuditAccessAce(sacl, ACL_REVISION, AuditMaskToAce(item->Mask()),
                               sids[static_cast<size_t>(i)].data(), success, failure))
      RaiseLastNTError();
    SetAceFlags(sacl, static_cast<DWORD>(i), AceFlagsToByte(item->Flags(), type));
  }
  PutAcl(kSaclPart, std::move(block), true);
}

// ---- access control ----

bool TNTAbstractSecurity::ControlAccess() {
  bool result = false;
  Guarded([&] {
    ReadSecurity(kDaclPart);
    result = CurrentAcl(kDaclPart) != nullptr;
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
  PutAcl(kDaclPart, std::move(block), value);
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
  SECURITY_DESCRIPTOR_CONTROL collected = 0;
  try {
    try {
      if (ReadControl(kAllParts, control)) return control;
    } catch (const ENTException& e) {
      if (!NotAllowed(e)) throw;
    }
    // Part by part, keeping the bits of each part that can be read.
    for (const auto& p : kControlParts) {
      try {
        if (ReadControl(p.part, control)) collected |= control & p.bits;
      } catch (const ENTException& e) {
        if (!NotAllowed(e)) throw;
      }
    }
  } catch (...) {
    if (MayAct()) throw;
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
  const DWORD readable = ReadableParts();
  ReadSecurity(readable);
  if (absolute_.empty()) return;
  SECURITY_DESCRIPTOR_CONTROL current = 0;
  DWORD revision = 0;
  if (!nt::GetSecurityDescriptorControl(Absolute(), &current, &revision)) RaiseLastNTError();
  const SECURITY_DESCRIPTOR_CONTROL changed = (current ^ control) & kSettableControlBits;
  DWORD parts = 0;
  if (changed & kDaclSettableBits) parts |= kDaclPart;
  if (changed & kSaclSettableBits) parts |= kSaclPart;
  // A list that could not be read is absent from the descriptor: writing it would remove it.
  parts &= readable;
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
