// The process-wide cache of account lookups: which SID belongs to which domain and account name.
// The account lookups (ntaccounts.h) ask it first and store every answer the system gives, so
// that an access list naming the same account many times asks the system once. Entries are never
// removed: a SID that FindSid returns stays valid, and belongs to the store, until the process
// ends. Safe from any thread (one lock around each call).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/advapi32/winsec.h"
#include "svcctl/lists.h"

// One cached answer: a copy of the SID's bytes (or none) with its domain and name.
class TSidHolder : public rtl::TObject {
 public:
  // Replaces the holder's copy: the bytes are copied when both sid and length are given.
  void Assign(const BYTE* sid, DWORD length, std::string domain, std::string name);

  // The SID (null when there is none) and its length.
  const BYTE* Sid() const { return sid_.empty() ? nullptr : sid_.data(); }
  DWORD Length() const { return static_cast<DWORD>(sid_.size()); }
  const std::string& Domain() const { return domain_; }
  const std::string& Name() const { return name_; }
  // DOMAIN\NAME with ASCII letters upper-cased (trail bytes of double-byte characters kept).
  const std::string& NameKey() const { return nameKey_; }

 private:
  std::vector<BYTE> sid_;
  std::string domain_;
  std::string name_;
  std::string nameKey_;
};

class TSidStore : public rtl::TObject {
 public:
  TSidStore();
  ~TSidStore() override;

  // Stores a new holder with a copy of the SID in both indexes. An entry equal to one stored
  // already goes before it; nothing is replaced.
  void Add(const BYTE* sid, DWORD length, const std::string& domain, const std::string& name);
  // The SID stored for domain\name (letter case of ASCII letters ignored), or null. The SID is
  // the store's: the caller copies it.
  const BYTE* FindSid(const std::string& name, const std::string& domain);
  // The domain and name stored for the SID: true and both texts, or false and both cleared.
  bool FindName(const BYTE* sid, DWORD length, std::string& domain, std::string& name);

  // Order of the SID index: shorter SIDs first, equal lengths by their bytes as unsigned values.
  static int CompareSid(rtl::TObject* item, const void* key);
  // Order of the name index: the name keys as byte strings.
  static int CompareName(rtl::TObject* item, const void* key);

 private:
  std::mutex mutex_;    // everything below
  TSidHolder probe_;    // the search key of every lookup
  TObjectList bySid_;   // owns the holders
  TObjectList byName_;  // the same holders, not owned
};

// The one store of the process.
TSidStore& SidStore();
