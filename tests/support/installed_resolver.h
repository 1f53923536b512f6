// A resolver installed in the socket library for the length of a scope (tests above
// platform/wsock32, which reach the library by name through platform/win): the library is loaded,
// the resolver given to it, and at the end of the scope taken back out, also when an assertion
// ends the test early, so the library never keeps a resolver that has gone.
#pragma once

#include "platform/win/module.h"
#include "platform/wsock32/host.h"

namespace testsupport {

class InstalledResolver {
 public:
  // resolver is borrowed: it must outlive this object.
  explicit InstalledResolver(WskResolver* resolver) {
    lib_ = LoadLibraryA("wsock32.dll");
    if (lib_) set_ = reinterpret_cast<WskSetResolverFn>(GetProcAddress(lib_, "SetResolver"));
    if (set_) set_(resolver);
  }
  ~InstalledResolver() {
    if (set_) set_(nullptr);
    if (lib_) FreeLibrary(lib_);
  }
  InstalledResolver(const InstalledResolver&) = delete;
  InstalledResolver& operator=(const InstalledResolver&) = delete;

  // False when the library or its entry point could not be found (nothing was installed).
  bool Installed() const { return set_ != nullptr; }

 private:
  HMODULE lib_ = nullptr;
  WskSetResolverFn set_ = nullptr;
};

}  // namespace testsupport
