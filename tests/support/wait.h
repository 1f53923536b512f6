// Bounded waiting for tests: WaitFor checks a condition until it holds or a time limit passes;
// WaitForThreadToBlock waits until another thread of the process sleeps in a wait;
// ProcessCpuSeconds tells whether a wait spun. Plain functions without state; call them from any
// thread.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace testsupport {

// How long a test waits by default for something that should happen: long enough for a loaded
// machine and a sanitizer build. A wait for a condition returns as soon as it holds, so a
// generous limit costs only the time of a failure.
constexpr int kWaitLimitMs = 60000;

// Polls pred every 20 ms until it holds or timeoutMs pass; returns its last value.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = kWaitLimitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Waits until thread tid of this process sleeps in the kernel (state S in /proc: blocked in a
// wait); true when it did within timeoutMs. For a test that must wake a thread that really waits
// rather than one that has not reached its wait yet.
inline bool WaitForThreadToBlock(pid_t tid, int timeoutMs = kWaitLimitMs) {
  return WaitFor(
      [tid] {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string content;
        std::getline(stat, content);
        const size_t paren = content.rfind(')');
        return paren != std::string::npos && paren + 2 < content.size() &&
               content[paren + 2] == 'S';
      },
      timeoutMs);
}

// The processor time the whole process has used so far, in seconds: a wait that blocks adds
// next to nothing to it, one that spins adds its whole length.
inline double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace testsupport
