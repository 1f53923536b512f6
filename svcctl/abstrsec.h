// The security of one system object as a component: its owner, its access list (DACL) and its
// audit list (SACL), the lists as editable entries naming accounts (accesslist.h). A subclass
// says what the object is and how its descriptor is read and written (the service manager guards
// a service). Every change is written to the object at once, each write starting from a fresh
// read of the part it changes.
//
// The component owns its descriptor in two forms, a self-relative copy and an absolute form of
// five blocks (descriptor, DACL, SACL, owner, group); each read replaces both, and a new block is
// built before the old one goes. Failures raise ENTException with the system's code. Reads of
// the properties swallow their failures while the component is designed or loaded (MayAct);
// writes never do. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/advapi32/winsec.h"
#include "svcctl/accesslist.h"
#include "svcctl/ntaccounts.h"
#include "svcctl/ntpersistent.h"

enum TAccessMode { amWin95, amWinNT };

// Security information: the parts of a descriptor.
constexpr DWORD kOwnerPart = 1;
constexpr DWORD kGroupPart = 2;
constexpr DWORD kDaclPart = 4;
constexpr DWORD kSaclPart = 8;
constexpr DWORD kAllParts = 15;

// The control bits of each part, and those a caller may set (inheritance and protection).
constexpr SECURITY_DESCRIPTOR_CONTROL kOwnerControlBits = 0x0001;
constexpr SECURITY_DESCRIPTOR_CONTROL kGroupControlBits = 0x0002;
constexpr SECURITY_DESCRIPTOR_CONTROL kSaclControlBits = 0x2A30;
constexpr SECURITY_DESCRIPTOR_CONTROL kDaclControlBits = 0x150C;
constexpr SECURITY_DESCRIPTOR_CONTROL kSettableControlBits = 0x3F00;
constexpr SECURITY_DESCRIPTOR_CONTROL kDaclSettableBits = 0x1500;
constexpr SECURITY_DESCRIPTOR_CONTROL kSaclSettableBits = 0x2A00;

class TNTAbstractSecurity : public TNTPersistent {
 public:
  explicit TNTAbstractSecurity(rtl::TComponent* owner = nullptr);
  ~TNTAbstractSecurity() override;

  // The object type of the named-object calls.
  virtual SE_OBJECT_TYPE GetObjectType() const = 0;

  // The owner's account ("DOMAIN\name", the domain left out when it is the authority's), or ""
  // when the descriptor has none.
  std::string ObjectOwner();
  // Makes account the object's owner (the descriptor written holds the owner only).
  virtual void SetObjectOwner(const std::string& account);

  // The access list read from the object (its earlier entries are freed). Null when the read
  // fails while the component may not act.
  TAccessControlList* AccessList();
  // The audit list read from the object; empty when SeSecurityPrivilege cannot be enabled.
  TAuditList* SystemAudit();

  // True when the object has a DACL that is present and not null. Setting True gives the object
  // an empty DACL (no one has access); False removes it (no access control).
  bool ControlAccess();
  void SetControlAccess(bool value);

  // The descriptor's control word (parts that cannot be read, for lack of access or privilege,
  // left out).
  virtual SECURITY_DESCRIPTOR_CONTROL GetSecurityControl();
  // Sets the inheritance and protection bits (kSettableControlBits) of the word and writes the
  // lists whose bits changed, of those that could be read (a caller without SeSecurityPrivilege
  // leaves the audit list and its bits alone).
  virtual void SetSecurityControl(SECURITY_DESCRIPTOR_CONTROL control);

  TAccessMode AccessMode = amWin95;

  // Reads or writes the parts named (kOwnerPart...): by name on the NT family with amWinNT, else
  // through the subclass.
  void ReadSecurity(DWORD parts);
  void WriteSecurity(DWORD parts);

  // machine + "\" + name for another machine, else the name alone.
  static std::string BuildObjectName(const std::string& machine, const std::string& name);

  // Writes the list to the object as its DACL or SACL (the lists' change notifications).
  void WriteAccessList(const TAccessControlList& list);
  void WriteAuditList(const TAuditList& list);

 protected:
  virtual void ReadNamedSecurity(DWORD parts);
  // Fills the descriptor from the object (SetSelfRelative) for the parts named.
  virtual void ReadObjectSecurity(DWORD parts) = 0;
  virtual void WriteNamedSecurity(DWORD parts);
  // Writes SelfRelative() to the object for the parts named.
  virtual void WriteObjectSecurity(DWORD parts) = 0;

  // The subclass's meaning of access masks, read from and written to entries.
  virtual DWORD DeniedMaskFromAce(DWORD mask) = 0;
  virtual DWORD AllowedMaskFromAce(DWORD mask) = 0;
  virtual DWORD AuditMaskFromAce(DWORD mask) = 0;
  virtual DWORD DeniedMaskToAce(DWORD mask) = 0;
  virtual DWORD AllowedMaskToAce(DWORD mask) = 0;
  virtual DWORD AuditMaskToAce(DWORD mask) = 0;

  // The object's name for the named-object calls; the subclass sets it.
  std::string SecurityObjectName;

  // Frees both forms of the descriptor.
  void FreeDescriptor();
  // Takes a self-relative descriptor of the object as the component's (both forms). Raises when
  // it does not read.
  void SetSelfRelative(std::vector<BYTE> descriptor);
  // The self-relative copy, or null when there is none.
  PSECURITY_DESCRIPTOR SelfRelative();
  // The absolute form, or null when there is none.
  PSECURITY_DESCRIPTOR Absolute();

 private:
  // The self-relative copy from the absolute form, and the absolute form from that copy.
  void MakeSelfRelative();
  void MakeAbsolute();
  // The absolute form from any self-relative descriptor.
  void MakeAbsoluteFrom(PSECURITY_DESCRIPTOR selfRelative);
  // The self-relative copy from any absolute descriptor.
  void MakeSelfRelativeFrom(PSECURITY_DESCRIPTOR absolute);
  // Reads the parts and returns the absolute form's control word: false when no descriptor came
  // back.
  bool ReadControl(DWORD parts, SECURITY_DESCRIPTOR_CONTROL& control);
  // The parts GetNamedSecurityInfoA can read of the object.
  DWORD ReadableParts();
  // The DACL or SACL of the self-relative copy: null when there is no copy, no list or a null
  // list.
  PACL CurrentAcl(DWORD part);
  // Refills list under its Loading flag with the entries fill() reads: the list, or null when
  // the read failed while the component may not act.
  template <typename List, typename Fill>
  List* ReadList(List& list, Fill fill);
  // An empty ACL with room for an entry of each of list's accounts, whose SIDs go to sids in
  // list order. Raises the lookup's error for an account that does not resolve.
  std::vector<BYTE> NewAcl(const TAccessList& list, std::vector<TSidBytes>& sids);
  // Makes block the absolute form's DACL or SACL (present or not), then both forms anew, and
  // writes the part.
  void PutAcl(DWORD part, std::vector<BYTE> block, bool present);
  // Entries of a list read from the object, built for list: the allowed and denied entries of
  // the DACL, or the audit entries of the SACL.
  std::vector<TAccessItem*> ReadEntries(TAccessList& list, PACL acl, bool audit);
  // Runs read; its exception passes on only when the component may act.
  template <typename Read>
  bool Guarded(Read read);

  std::unique_ptr<TAccessControlList> accessList_;
  std::unique_ptr<TAuditList> systemAudit_;
  std::vector<BYTE> selfRelative_;
  // The absolute form: the descriptor and the blocks its parts point to.
  std::vector<BYTE> absolute_, dacl_, sacl_, owner_, group_;
};
