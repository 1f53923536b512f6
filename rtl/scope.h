// Small scope guards. Header-only; safe on any thread for its own flag.
#pragma once

namespace rtl {

// Sets a flag for the length of a scope, exceptions included, and gives it back the value it had
// (so a nested scope leaves it set).
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = old_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  const bool old_;
};

}  // namespace rtl
