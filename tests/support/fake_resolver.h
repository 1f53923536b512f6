// A stand-in for the socket library's resolver (tests above platform/wsock32): names and
// addresses answered from tables, and one name whose lookup waits at a gate until the test opens
// it. Fill the tables before installing it; the library calls it from its lookup threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "platform/wsock32/host.h"
#include "platform/wsock32/winsock.h"

namespace testsupport {

// Answers from the tables (WSAHOST_NOT_FOUND for what is not in them); a lookup of `gated` waits
// until Open() (at most 120 s).
class FakeResolver : public WskResolver {
 public:
  std::map<std::string, WskHostEntry> names;
  std::map<uint32_t, WskHostEntry> addresses;
  std::string gated;

  int ByName(const std::string& name, WskHostEntry& entry) override {
    if (!gated.empty() && name == gated) Gate();
    auto it = names.find(name);
    if (it == names.end()) return WSAHOST_NOT_FOUND;
    entry = it->second;
    return 0;
  }
  int ByAddr(uint32_t address, WskHostEntry& entry) override {
    auto it = addresses.find(address);
    if (it == addresses.end()) return WSAHOST_NOT_FOUND;
    entry = it->second;
    return 0;
  }

  // True once a gated lookup is waiting (false after 60 s).
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(60), [this] { return entered_; });
  }
  // Lets gated lookups through, now and from now on.
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  void Gate() {
    std::unique_lock<std::mutex> lock(mu_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(120), [this] { return open_; });
  }

  std::mutex mu_;
  std::condition_variable cv_;
  bool entered_ = false, open_ = false;
};

}  // namespace testsupport
