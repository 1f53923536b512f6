#include "svcctl/sidstore.h"

#include <cstring>

#include "rtl/cp932.h"

void TSidHolder::Assign(const BYTE* sid, DWORD length, std::string domain, std::string name) {
  if (sid && length)
    sid_.assign(sid, sid + length);
  else
    sid_.clear();
  nameKey_ = rtl::UpperCase(domain) + "\\" + rtl::UpperCase(name);
  domain_ = std::move(domain);
  name_ = std::move(name);
}

TSidStore::TSidStore() {
  byName_.OwnsObjects = false;
}

// The name index goes first: it only refers to the holders the SID index frees.
TSidStore::~TSidStore() {
  byName_.Clear();
}

int TSidStore::CompareSid(rtl::TObject* item, const void* key) {
  const auto* a = static_cast<const TSidHolder*>(item);
  const auto* b = static_cast<const TSidHolder*>(key);
  if (a->Length() != b->Length()) return a->Length() < b->Length() ? -1 : 1;
  if (a->Length() == 0) return 0;
  return std::memcmp(a->Sid(), b->Sid(), a->Length());  // compares unsigned bytes
}

int TSidStore::CompareName(rtl::TObject* item, const void* key) {
  return rtl::CompareStr(static_cast<const TSidHolder*>(item)->NameKey(),
                         static_cast<const TSidHolder*>(key)->NameKey());
}

void TSidStore::Add(const BYTE* sid, DWORD length, const std::string& domain,
                    const std::string& name) {
  auto* holder = new TSidHolder;
  holder->Assign(sid, length, domain, name);
  std::lock_guard<std::mutex> lock(mutex_);
  bySid_.AddSorted(holder, CompareSid);
  byName_.AddSorted(holder, CompareName);
}

const BYTE* TSidStore::FindSid(const std::string& name, const std::string& domain) {
  std::lock_guard<std::mutex> lock(mutex_);
  probe_.Assign(nullptr, 0, domain, name);
  int index = 0;
  if (!byName_.Find(&probe_, CompareName, index)) return nullptr;
  return static_cast<TSidHolder*>(byName_.Items(index))->Sid();
}

bool TSidStore::FindName(const BYTE* sid, DWORD length, std::string& domain, std::string& name) {
  domain.clear();
  name.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  probe_.Assign(sid, length, std::string(), std::string());
  int index = 0;
  if (!bySid_.Find(&probe_, CompareSid, index)) return false;
  const auto* holder = static_cast<TSidHolder*>(bySid_.Items(index));
  domain = holder->Domain();
  name = holder->Name();
  return true;
}

TSidStore& SidStore() {
  static TSidStore store;
  return store;
}
