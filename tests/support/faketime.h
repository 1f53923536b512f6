// A wall clock of a test's choosing for a program under test that has no clock to inject:
// Debian's libfaketime, preloaded into the child process, moves its wall clock by a fixed offset
// while its monotonic clock (timers, time-outs) stays the machine's. Plain functions without
// state; call them from any thread.
#pragma once

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

inline constexpr char kFakeTimeLibrary[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
// What a test that needs a moved clock says when it skips because the library is missing.
inline constexpr char kNoFakeTime[] = "libfaketime is not installed";

inline bool FakeTimeAvailable() {
  return access(kFakeTimeLibrary, R_OK) == 0;
}

// The machine's wall clock in whole seconds since the epoch (not an injected clock).
inline int64_t MachineSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

// The environment to add to a child's own so that its wall clock runs offsetSeconds ahead of the
// machine's (behind when negative). A sanitizer build's program accepts the preloaded library
// before its run-time.
inline std::vector<std::pair<std::string, std::string>> FakeTimeEnv(int64_t offsetSeconds) {
  const char* asan = getenv("ASAN_OPTIONS");
  const std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "";
  return {{"LD_PRELOAD", kFakeTimeLibrary},
          {"FAKETIME", (offsetSeconds < 0 ? "" : "+") + std::to_string(offsetSeconds)},
          {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
          {"ASAN_OPTIONS", options + "verify_asan_link_order=0"}};
}

// The same environment for a child whose wall clock reads epochMicros now.
inline std::vector<std::pair<std::string, std::string>> FakeTimeEnvAt(int64_t epochMicros) {
  return FakeTimeEnv(epochMicros / 1000000 - MachineSeconds());
}

}  // namespace testsupport
