// The accept gate: a listener that runs out of descriptors (in its budget, or in the system) stops
// asking, reports the pause once, keeps the connections waiting in the system's queue and takes
// them once descriptors are free again.
#include "net/socket/acceptgate.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "rtl/fs.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

// A blocking connect to 127.0.0.1 completes while the connection waits in the listener's queue.
using testsupport::ConnectTcp;

// A listener whose every notification asks its gate for one connection, as the collector does.
class GatedListener {
 public:
  explicit GatedListener(TDescriptorBudget& budget)
      : listener_(testsupport::Listener()), gate_(nullptr, listener_.get(), &budget) {
    listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) {
      ++asked;
      int error = 0;
      const SOCKET h = gate_.Accept(error);
      if (h != INVALID_SOCKET) {
        accepted.push_back(h);
        ++total;
      }
      if (error != 0) reports.push_back(error);
    };
  }
  ~GatedListener() {
    while (!accepted.empty())
      EndOne();
  }

  int Port() const { return std::stoi(listener_->GetSockPort()); }
  TCustomAsyncSocket& Listener() { return *listener_; }
  TAcceptGate& Gate() { return gate_; }
  // Closes the oldest accepted connection and tells the gate.
  void EndOne() {
    Winsock::closesocket(accepted.front());
    accepted.erase(accepted.begin());
    gate_.SessionEnded();
  }

  int asked = 0;                 // notifications handled
  int total = 0;                 // connections accepted in all
  std::vector<SOCKET> accepted;  // connections held
  std::vector<int> reports;      // errors the gate asked to report

 private:
  std::unique_ptr<TCustomAsyncSocket> listener_;
  TAcceptGate gate_;
};

// Retries of a paused gate while ms pass: one a second, and one more for a retry under way.
int RetriesWithin(DWORD ms) {
  return static_cast<int>(ms / kAcceptRetryMs) + 1;
}

// Pumps for at least ms; returns how long it really took (a loaded machine takes longer).
DWORD PumpAtLeast(DWORD ms) {
  const DWORD start = GetTickCount();
  PumpFor(ms);
  return TickElapsed(start, GetTickCount());
}

TEST(AcceptGate, AFullBudgetHoldsConnectionsBackAndEachPauseIsReportedOnce) {
  TDescriptorBudget budget(2);
  GatedListener l(budget);
  // Well above the retry's second, so that a retry late on a loaded machine is still the same
  // pause.
  constexpr DWORD kQuietMs = 3 * kAcceptRetryMs;
  l.Gate().PauseQuietMs = kQuietMs;
  std::vector<int> clients;
  for (int i = 0; i < 5; ++i)
    clients.push_back(ConnectTcp(l.Port()));
  ASSERT_TRUE(PumpUntil([&] { return l.Gate().Paused(); }));
  EXPECT_EQ(l.accepted.size(), 2u);
  EXPECT_EQ(budget.Available(), 0);

  // Paused, the listener is not asked again and again: one retry a second, each failing the
  // same way, and still one report.
  const int asked = l.asked;
  EXPECT_LE(l.asked - asked, RetriesWithin(PumpAtLeast(2500)));
  EXPECT_EQ(l.accepted.size(), 2u);
  EXPECT_EQ(l.reports, std::vector<int>{WSAEMFILE});

  // A connection that ends lets the next one in at once (before the retry is due), and every
  // waiting connection is taken in the end; running out again on the way is the same pause.
  l.EndOne();
  EXPECT_FALSE(l.Gate().Paused()) << "the ended connection did not resume the listener at once";
  ASSERT_TRUE(PumpUntil([&] { return l.accepted.size() == 2 && l.Gate().Paused(); }));
  while (l.total < 5) {
    l.EndOne();
    ASSERT_TRUE(PumpUntil([&] { return l.accepted.size() == 2 || l.total == 5; }));
  }
  EXPECT_EQ(l.reports, std::vector<int>{WSAEMFILE});
  EXPECT_EQ(budget.Available(), 0);

  // Once nothing has been refused for a while the pause is over: the next refusal is reported.
  PumpFor(kQuietMs + 200);
  clients.push_back(ConnectTcp(l.Port()));
  ASSERT_TRUE(PumpUntil([&] { return l.reports.size() == 2; }));
  EXPECT_EQ(l.reports, (std::vector<int>{WSAEMFILE, WSAEMFILE}));
  l.EndOne();
  EXPECT_TRUE(PumpUntil([&] { return l.total == 6; }));
  for (int fd : clients)
    close(fd);
}

// The system itself refuses the accept (EMFILE): the gate pauses in the same way, and the waiting
// connections are taken once descriptors are free. The process's descriptors are used up under a
// lowered limit, restored at the end.
TEST(AcceptGate, ASystemRefusalPausesUntilDescriptorsAreFree) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  TDescriptorBudget budget(1000);
  GatedListener l(budget);
  // One connection first, taken and ended while descriptors are plenty (the sanitizers' checks
  // need descriptors the first time they see a path, and there will be none later).
  const int first = ConnectTcp(l.Port());
  ASSERT_TRUE(PumpUntil([&] { return l.accepted.size() == 1; }));
  l.EndOne();
  close(first);
  // The listener is held while the clients connect, so that their connections are still waiting
  // when the descriptors run out.
  l.Listener().Pause();
  std::vector<int> clients;
  for (int i = 0; i < 3; ++i)
    clients.push_back(ConnectTcp(l.Port()));

  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(rtl::fs::OpenDescriptorCount() + 16);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> hog;
  for (int fd; (fd = dup(0)) >= 0;)
    hog.push_back(fd);

  l.Listener().Resume();
  ASSERT_TRUE(PumpUntil([&] { return l.Gate().Paused(); }));
  // The first connection, the notification after the resume, and the retries.
  EXPECT_LE(l.asked, 2 + RetriesWithin(PumpAtLeast(2500)));
  EXPECT_TRUE(l.accepted.empty());
  EXPECT_EQ(l.reports, std::vector<int>{WSAEMFILE});
  EXPECT_EQ(budget.Available(), 1000);

  for (int fd : hog)
    close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(PumpUntil([&] { return l.total == 4; }));
  EXPECT_FALSE(l.Gate().Paused());
  for (int fd : clients)
    close(fd);
}

TEST(AcceptGate, ABudgetNeverGoesBelowOneOrAboveItsTotal) {
  TDescriptorBudget none(-5);
  EXPECT_EQ(none.Total(), 1);
  EXPECT_TRUE(none.Take(1));
  EXPECT_FALSE(none.Take(1));
  none.Give(1);
  TDescriptorBudget b(10);
  EXPECT_TRUE(b.Take(4));
  EXPECT_FALSE(b.Take(7));
  EXPECT_EQ(b.Available(), 6);
  // The process's budget leaves the reserve and what is open already.
  EXPECT_LE(TDescriptorBudget::Process().Total(),
            rtl::fs::DescriptorLimit() - kReservedDescriptors);
}

// The process's budget follows the limit as it is now: a limit lowered while the process runs
// (by prlimit, say) shrinks it by as much, so connections cannot take the reserve the files need.
TEST(AcceptGate, TheProcessBudgetFollowsTheLimit) {
  TDescriptorBudget& budget = TDescriptorBudget::Process();
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int64_t total = budget.Total();
  ASSERT_GT(total, 100);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(rtl::fs::DescriptorLimit() - 100);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  EXPECT_EQ(budget.Total(), total - 100);
  EXPECT_FALSE(budget.Take(static_cast<int>(total - 99)));
  EXPECT_TRUE(budget.Take(static_cast<int>(total - 100)));
  budget.Give(static_cast<int>(total - 100));
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(budget.Total(), total);
}

}  // namespace
