// A wall clock of the test's choosing for code in this process that reads rtl's clock (the
// collector module, the FTP server, the mail client): for results that depend on the day or the
// year, which would change under a test that runs across midnight or New Year. Use on the test's
// thread, with no other thread reading the clock while it is swapped (rtl::SetWallClock).
#pragma once

#include <cstdint>

#include "rtl/datetime.h"

namespace testsupport {

// The wall clock stands at epochSeconds until the object goes.
class ScopedClock {
 public:
  explicit ScopedClock(int64_t epochSeconds)
      : old_(rtl::SetWallClock([epochSeconds] { return epochSeconds * 1000000; })) {}
  ~ScopedClock() { rtl::SetWallClock(old_); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  rtl::WallClock old_;
};

}  // namespace testsupport
