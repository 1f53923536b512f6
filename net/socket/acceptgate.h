// Accepting within the process's descriptors. A listener whose accepts go through a TAcceptGate
// never takes so many connections that the process can no longer open the files it must write
// (the day files, the event file, a transfer's file): every accepted connection takes its
// descriptors from one budget per process and gives them back when it ends. When the budget has
// no room, or the system refuses an accept for want of descriptors or memory (WSAEMFILE,
// WSAENOBUFS), the gate pauses its listener: the listener is not registered, so no notification
// comes back at once and nothing spins; the connections wait in the system's queue, none is
// accepted and dropped; the gate tries again after kAcceptRetryMs, or at once when one of its
// connections ends. A pause is reported once, however many accepts failed during it, and however
// often the listener took a connection in between (as each that ends lets one more in): it ends
// once no accept has been refused for PauseQuietMs.
//
// Ownership and threads: the budget is one object per process, safe from any thread. A gate is a
// component (owned like any other) that borrows its listener and forgets it when the listener is
// destroyed; every call of a gate belongs to the listener's thread, whose message loop runs the
// gate's timer.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/socket/asyncsocket.h"

// Descriptors that no accepted connection may take: what the programs open while connections are
// held and must not fail for want of a descriptor — the record and event day files, the mail
// connections and a report's attachment, the start of the restart helper, host lookups. (Each FTP
// session takes the descriptors of its transfers itself; see ftplimits.h.)
constexpr int kReservedDescriptors = 16;

// A paused listener tries again after this long, or sooner when one of its connections ends.
constexpr uint32_t kAcceptRetryMs = 1000;

// A pause ends once no accept has been refused for this long (while connections wait, the retry
// is refused every kAcceptRetryMs); the next refusal starts a new pause, reported again.
constexpr uint32_t kAcceptPauseQuietMs = 10 * 1000;

// The backlog of a listener that must take bursts of connections. The system cuts it to its own
// ceiling (net.core.somaxconn). With a short queue, a burst of agents overflows it: their connects
// wait for SYN retransmissions, and a connection made through a SYN cookie whose data was lost is
// reset after the agent has sent its record and closed.
constexpr int kLargestListenBacklog = 0x7fffffff;

// The descriptors that accepted connections may hold at once.
class TDescriptorBudget {
 public:
  // A budget of total descriptors (at least 1).
  explicit TDescriptorBudget(int64_t total);
  TDescriptorBudget(const TDescriptorBudget&) = delete;
  TDescriptorBudget& operator=(const TDescriptorBudget&) = delete;

  // The process's budget: the soft descriptor limit as it is at each call, less the descriptors
  // open when the budget was first asked for and less kReservedDescriptors. It follows the limit,
  // so a limit lowered while the process runs (prlimit) still leaves the reserve to the files;
  // reading it costs one system call. A process with so few descriptors that nothing is left
  // still takes one connection at a time.
  static TDescriptorBudget& Process();

  int64_t Total() const;
  // Negative while connections hold more than a lowered limit leaves them.
  int64_t Available() const { return Total() - used_.load(); }
  // Takes n descriptors when that many are free; false, with nothing taken, otherwise.
  bool Take(int n);
  // Gives back n descriptors taken before.
  void Give(int n);

 private:
  // The process's: the limit at each call less held (the descriptors not for connections).
  struct TFollowLimit {};
  TDescriptorBudget(TFollowLimit, int64_t held);

  const int64_t total_;      // a fixed budget's total
  const int64_t held_ = -1;  // the process's: what the limit is reduced by; -1 when fixed
  std::atomic<int64_t> used_{0};
};

class TAcceptGate : public rtl::TComponent {
 public:
  // REQUIRES: Listener is not null. Budget: null for the process's (measured when first used).
  TAcceptGate(rtl::TComponent* Owner, TCustomAsyncSocket* Listener,
              TDescriptorBudget* Budget = nullptr);
  ~TAcceptGate() override;

  // Accepts one waiting connection; called from the listener's OnSessionAvailable. Returns the
  // handle (to be adopted with SetHSocket) with one descriptor taken from the budget: the caller
  // gives it back through SessionEnded when the connection ends, and closes the handle and calls
  // SessionEnded itself when it cannot adopt it. Otherwise INVALID_SOCKET and Error: the accept's
  // error code when it is to be reported — the failure that starts a pause (WSAEMFILE also when
  // the budget has no room), or a failure that pauses nothing (the peer gave up before the
  // accept) — else 0. After a failure Paused() tells which of the two it was.
  SOCKET Accept(int& Error);
  // One of the gate's connections has ended: Descriptors go back to the budget, and a paused
  // listener is tried again at once.
  void SessionEnded(int Descriptors = 1);
  // Forgets a pause without resuming the listener (it is being closed, or was closed).
  void Reset();

  bool Paused() const { return paused_; }
  TDescriptorBudget& Budget() const;

  // How long a pause lasts after its last refused accept (tests shorten it).
  DWORD PauseQuietMs = kAcceptPauseQuietMs;

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 private:
  void Pause(int Cause, int& Error);
  void Resume();

  TCustomAsyncSocket* listener_;
  TDescriptorBudget* budget_;
  HWND window_ = 0;
  bool paused_ = false;   // the listener is deregistered until the timer or a session's end
  bool refused_ = false;  // an accept was refused, at lastRefusal_ (GetTickCount)
  DWORD lastRefusal_ = 0;
};
