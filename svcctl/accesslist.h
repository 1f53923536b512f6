// The entries of an object's access list (DACL) and audit list (SACL) as an editable list: each
// entry names an account ("DOMAIN\name" or a name), its access mask, its kind and its inheritance
// flags. Every change to an entry or a list is written back to the object at once through the
// security component that owns the list (abstrsec.h); a change whose write fails is undone in the
// list and the exception passes on, so the list keeps showing the object's entries. While the
// list is being filled from the object (Loading) nothing is written. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/advapi32/winsec.h"
#include "rtl/set.h"
#include "svcctl/lists.h"

class TNTAbstractSecurity;
class TAccessList;

enum TAceType {
  actAccessAllowed,
  actAccessDenied,
  actAuditSuccess,
  actAuditFailure,
  actAuditFull,
};

enum TAceFlag { acfObjInherit, acfContainer, acfInheritOnly, acfNoPropagate, acfInherited };
using TAceFlags = rtl::TSet<TAceFlag>;

// The system's flag byte for an entry: the inheritance flags (inherit-only and no-propagate
// exchange their bits: 0x04 here is the system's 0x08 and back), and for audit kinds 0x40 for
// success and 0x80 for failure.
BYTE AceFlagsToByte(TAceFlags flags, TAceType type);
// The flags of a system flag byte (the audit bits are not flags).
TAceFlags AceFlagsFromByte(BYTE flags);
// The kind of a system entry: denied (1), the audit kinds by the success and failure bits of an
// audit entry (2; neither bit reads as allowed), allowed (0). Other types raise ENTException
// "Invalid AceType parameter" (-1).
TAceType AceTypeOf(const ACE_HEADER& header);

// "Invalid AceType parameter" with code -1.
[[noreturn]] void RaiseInvalidAceType();

class TAccessItem : public TDesignItem {
 public:
  // An entry of list; position orders the entries when the access list is written.
  TAccessItem(TAccessList* list, int position);

  TAceType AceType() const { return aceType_; }
  const std::string& UserName() const { return userName_; }
  uint32_t Mask() const { return mask_; }
  TAceFlags Flags() const { return flags_; }
  // Each setter stores a value that differs and writes the list back; when that raises, the old
  // value is back and the exception passes on. The same value writes nothing.
  void SetAceType(TAceType value);
  void SetUserName(const std::string& value);
  void SetMask(uint32_t value);
  void SetFlags(TAceFlags value);

  // The place it received when it was added to its list.
  int Position() const { return position_; }
  TAccessList* AccessList() const { return list_; }
  // The list's path and "[<position>]".
  std::string NamePath() const;

 private:
  friend class TAccessList;
  template <typename T>
  void Change(T& field, const T& value);

  TAccessList* list_;
  int position_;
  TAceType aceType_ = actAccessAllowed;
  std::string userName_;
  uint32_t mask_ = 0;
  TAceFlags flags_;
};

class TAccessList : public TDesignList {
 public:
  explicit TAccessList(TNTAbstractSecurity* security);

  TAccessItem* Items(int index) const {
    return static_cast<TAccessItem*>(TDesignList::Items(index));
  }
  TNTAbstractSecurity* Security() const { return security_; }

  // A new entry at the end, written at once. A kind this list does not hold raises "Invalid
  // AceType parameter" (-1) and adds nothing; a failed write removes the entry again.
  TAccessItem* Add(const std::string& userName, uint32_t mask, TAceType aceType, TAceFlags flags);
  // Removes the entry at index and writes the list; a failed write puts it back at its place.
  // REQUIRES: 0 <= index < Count().
  void Delete(int index) override;
  // Removes every entry and writes the list; a failed write puts them all back.
  void Clear() override;
  void Refresh() override { Reload(); }
  // The owner's list read again from the object (the same list object, refilled).
  virtual TAccessList* Reload() = 0;
  // Writes the list to the object unless it is Loading.
  virtual void Changed() = 0;
  // "<owner's name>.AccessList" or "<owner's name>.SystemAudit".
  virtual std::string NamePath() const = 0;

  // True while the list is filled from the object: changes are not written.
  bool Loading = false;

  // Replaces the entries by those read from the object (built by the caller for this list), with
  // nothing written. Used by the owner's reads.
  void ReplaceItems(std::vector<TAccessItem*> items);
  // A new entry for this list, not yet in it, with the position it will take at the end.
  TAccessItem* NewItem(const std::string& userName, uint32_t mask, TAceType aceType,
                       TAceFlags flags, int position);

 protected:
  // Whether the list holds entries of this kind.
  virtual bool Accepts(TAceType type) const = 0;

 private:
  // Runs Changed; when it raises, undo() puts the list back and the exception passes on.
  template <typename Undo>
  void WriteOrUndo(Undo undo);

  TNTAbstractSecurity* security_;
};

// The access list (DACL): allowed and denied entries.
class TAccessControlList : public TAccessList {
 public:
  using TAccessList::TAccessList;
  TAccessList* Reload() override;
  void Changed() override;
  std::string NamePath() const override;

 protected:
  bool Accepts(TAceType type) const override;
};

// The audit list (SACL): audit entries for success, failure or both.
class TAuditList : public TAccessList {
 public:
  using TAccessList::TAccessList;
  TAccessList* Reload() override;
  void Changed() override;
  std::string NamePath() const override;

 protected:
  bool Accepts(TAceType type) const override;
};
