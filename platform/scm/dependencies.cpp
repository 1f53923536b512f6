// Dependencies between services: the order a start takes, the wait of a service for the ones it
// depends on, the stop they forbid and the cycles a change may not make. Group entries (a leading
// "+") are kept in the configuration, but no groups are built: a start that needs one fails.
#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "platform/scm/daemon.h"
#include "platform/win/win.h"

namespace scm {

namespace {

constexpr char kGroupMark = '+';

// A service that has finished its start: its dependents may start.
bool Runs(uint32_t state) {
  return state == kServiceRunning || state == kServicePaused || state == kServicePausePending ||
         state == kServiceContinuePending;
}

}  // namespace

uint32_t Daemon::DependencyOrder(const Service& s, std::vector<Service*>& order) {
  const char* name = s.record.config.name.c_str();
  // Depth first. `path` holds the services on the way down from s: meeting one of them again is
  // a cycle, which ends the walk.
  std::set<const Service*> path, done;
  std::function<uint32_t(const Service&)> visit = [&](const Service& at) -> uint32_t {
    path.insert(&at);
    for (const std::string& dep : at.record.config.dependencies) {
      Service* d = dep.empty() || dep[0] == kGroupMark ? nullptr : Find(dep);
      if (!d || d->marked) {
        Log("%s: not started: the dependency %s does not exist or is marked for deletion", name,
            dep.c_str());
        return ERROR_SERVICE_DEPENDENCY_DELETED;
      }
      if (path.count(d)) {
        Log("%s: not started: its dependencies lead back to %s", name, dep.c_str());
        return ERROR_SERVICE_DEPENDENCY_FAIL;
      }
      if (done.count(d)) continue;
      if (d->record.config.startType == kDisabled && d->status.currentState == kServiceStopped) {
        Log("%s: not started: the dependency %s is disabled", name, dep.c_str());
        return ERROR_SERVICE_DEPENDENCY_FAIL;
      }
      if (uint32_t err = visit(*d)) return err;
      done.insert(d);
      order.push_back(d);
    }
    path.erase(&at);
    return 0;
  };
  return visit(s);
}

uint32_t Daemon::Launch(Service& s, std::vector<std::string> args, uint64_t waiter) {
  std::vector<std::string> keys;
  bool ready = true;
  for (const std::string& dep : s.record.config.dependencies) {
    keys.push_back(NameKey(dep));
    const Service* d = Find(dep);
    const uint32_t state = d ? d->status.currentState : kServiceStopped;
    if (state == kServiceStopped || state == kServiceStopPending) {
      Log("%s: not started: the dependency %s is stopped or stopping", s.record.config.name.c_str(),
          dep.c_str());
      return ERROR_SERVICE_DEPENDENCY_FAIL;
    }
    ready = ready && Runs(state);
  }
  if (ready) return Spawn(s, std::move(args), waiter);
  s.awaiting = true;
  s.awaitedKeys = std::move(keys);
  s.status = ServiceStatus{};
  s.status.serviceType = s.record.config.serviceType;
  s.status.currentState = kServiceStartPending;
  s.startWaiter = waiter;
  s.startArgs = std::move(args);
  s.startDeadline = NowMs() + int64_t(options_.startTimeoutSec) * 1000;
  s.actionAt = 0;
  Log("%s: waits for its dependencies", s.record.config.name.c_str());
  LogStatus(s);
  return 0;
}

void Daemon::AdvanceDependents() {
  // Each step may change what the others wait for, and may remove a service: the scan starts
  // again after every step.
  for (bool moved = true; moved;) {
    moved = false;
    for (auto& [key, entry] : services_) {
      Service& s = *entry;
      if (!s.awaiting) continue;
      bool ready = true, failed = false;
      for (const std::string& k : s.awaitedKeys) {
        auto it = services_.find(k);
        const uint32_t state =
            it == services_.end() ? kServiceStopped : it->second->status.currentState;
        failed = failed || state == kServiceStopped || state == kServiceStopPending;
        ready = ready && Runs(state);
      }
      if (failed) {
        Log("%s: not started: a dependency stopped or failed to start",
            s.record.config.name.c_str());
        FailAwaiting(s, ERROR_SERVICE_DEPENDENCY_FAIL);
      } else if (ready) {
        s.awaiting = false;
        s.awaitedKeys.clear();
        const uint64_t waiter = std::exchange(s.startWaiter, 0);
        if (uint32_t err = Spawn(s, std::exchange(s.startArgs, {}), waiter)) {
          s.startWaiter = waiter;
          FailAwaiting(s, err);
        }
      } else {
        continue;
      }
      moved = true;
      break;
    }
  }
}

void Daemon::FailAwaiting(Service& s, uint32_t error) {
  s.awaiting = false;
  s.awaitedKeys.clear();
  s.startArgs.clear();
  EndStart(s, error);
  MaybeRemove(s);
}

bool Daemon::HasActiveDependents(const Service& s) const {
  const std::string key = NameKey(s.record.config.name);
  for (const auto& [k, other] : services_) {
    if (other.get() == &s || other->status.currentState == kServiceStopped) continue;
    for (const std::string& dep : other->record.config.dependencies)
      if (NameKey(dep) == key) return true;
  }
  return false;
}

uint32_t Daemon::CheckCycle(const ServiceConfig& config) const {
  const std::string self = NameKey(config.name);
  std::set<std::string> seen;
  std::vector<std::string> next;
  for (const std::string& dep : config.dependencies)
    next.push_back(NameKey(dep));
  while (!next.empty()) {
    const std::string key = std::move(next.back());
    next.pop_back();
    if (key == self) return ERROR_CIRCULAR_DEPENDENCY;
    if (!seen.insert(key).second) continue;
    auto it = services_.find(key);
    if (it == services_.end()) continue;  // a group, or a service not installed (yet)
    for (const std::string& dep : it->second->record.config.dependencies)
      next.push_back(NameKey(dep));
  }
  return 0;
}

}  // namespace scm
