#include "svcctl/binding.h"

#include <cstdint>

#include "svcctl/ntexception.h"
#include "svcctl/osversion.h"

namespace {

// Module handles of 32 or less count as failures, as the system's old loader reported them.
bool Usable(HMODULE module) {
  return reinterpret_cast<uintptr_t>(module) > 32;
}

}  // namespace

TBindingUnit::TBindingUnit(std::vector<const char*> names, std::function<std::string()> library,
                           std::string suffix, bool appendAOutsideNT)
    : names_(std::move(names)),
      chooseLibrary_(std::move(library)),
      suffix_(std::move(suffix)),
      appendA_(appendAOutsideNT),
      entries_(names_.size(), nullptr) {}

TBindingUnit::~TBindingUnit() {
  ReleaseUse();
}

void TBindingUnit::Bind() {
  // What the version tests raise here stays out of the binding: the unit stays unbound.
  std::string library;
  bool outsideNT = false;
  try {
    library = chooseLibrary_();
    outsideNT = appendA_ && !IsWinNT();
  } catch (...) {
  }
  const HMODULE module = library.empty() ? nullptr : LoadLibraryA(library.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  library_ = library;
  module_ = module;
  if (!Usable(module)) return;
  for (size_t i = 0; i < names_.size(); ++i) {
    const std::string name = std::string(names_[i]) + (outsideNT ? "A" : "");
    entries_[i] = GetProcAddress(module, name.c_str());
  }
}

FARPROC TBindingUnit::Entry(size_t index) {
  std::call_once(bound_, [this] { Bind(); });
  std::lock_guard<std::mutex> lock(mutex_);
  return uses_ > 0 ? entries_[index] : nullptr;
}

std::string TBindingUnit::Library() {
  std::call_once(bound_, [this] { Bind(); });
  std::lock_guard<std::mutex> lock(mutex_);
  return library_;
}

bool TBindingUnit::Loaded() {
  std::call_once(bound_, [this] { Bind(); });
  std::lock_guard<std::mutex> lock(mutex_);
  return Usable(module_);
}

void TBindingUnit::RaiseMissing() {
  RaiseNTException("Cannot load library \"" + Library() + "\" or linked libraries" + suffix_, 0);
}

void TBindingUnit::AddUse() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++uses_;
}

void TBindingUnit::ReleaseUse() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (uses_ == 0 || --uses_ > 0) return;
  if (Usable(module_)) FreeLibrary(module_);
  module_ = nullptr;
  library_.clear();
  entries_.assign(entries_.size(), nullptr);
}
