// A scoped environment variable for tests: set (or removed) for the object's lifetime, then put
// back as it was. The environment is the process's: use it on one thread, with no other thread
// reading the environment meanwhile.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace testsupport {

// Sets (or, with nullopt, removes) an environment variable and restores it on destruction.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      setenv(name_.c_str(), value->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace testsupport
