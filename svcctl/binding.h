// System functions bound at run time by name. A TBindingUnit chooses its library by the system it
// runs on, loads it at its first use (once, under std::call_once), looks up a fixed list of names
// in a fixed order, and hands out their entry points. A missing library or name says nothing until
// a forwarder asks for the entry: RaiseMissing then raises ENTException with code 0,
// 'Cannot load library "<library>" or linked libraries' and the unit's suffix.
//
// Use counting: the unit counts one use for itself while it exists; AddUse and ReleaseUse count
// more. At the last release the library is freed (FreeLibrary; our libraries are never unloaded,
// so an entry taken earlier stays callable) and the library name is cleared.
//
// Threads: every call is safe from any thread; the entries never change once bound.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win/win.h"

class TBindingUnit {
 public:
  // names: the names to look up, in order. library: the DLL name to load on this system, asked at
  // the first use. suffix: added to the missing-library message. appendAOutsideNT: outside the NT
  // family each name is looked up with "A" appended.
  TBindingUnit(std::vector<const char*> names, std::function<std::string()> library,
               std::string suffix = std::string(), bool appendAOutsideNT = false);
  ~TBindingUnit();
  TBindingUnit(const TBindingUnit&) = delete;
  TBindingUnit& operator=(const TBindingUnit&) = delete;

  // The entry point of names[index] (binding the unit first); null when it is missing.
  // REQUIRES: index < the number of names.
  FARPROC Entry(size_t index);
  // The chosen library's DLL name (binding the unit first); empty after the last release.
  std::string Library();
  // Whether LoadLibraryA gave a handle (above 32) at the binding.
  bool Loaded();
  [[noreturn]] void RaiseMissing();

  void AddUse();
  void ReleaseUse();

  // Calls the entry at index as Fn with args, or raises RaiseMissing's exception when there is
  // none. The result and the last error are the function's own.
  template <typename Fn, typename... Args>
  auto Call(size_t index, Args... args) {
    auto fn = reinterpret_cast<Fn>(Entry(index));
    if (!fn) RaiseMissing();
    return fn(args...);
  }

 private:
  void Bind();

  const std::vector<const char*> names_;
  const std::function<std::string()> chooseLibrary_;
  const std::string suffix_;
  const bool appendA_;
  std::once_flag bound_;
  std::mutex mutex_;  // library_, module_ and uses_
  std::string library_;
  HMODULE module_ = nullptr;
  std::vector<FARPROC> entries_;
  int uses_ = 1;
};
