// The session ceiling and the pause in accepting when the process runs out of descriptors. These
// need a small descriptor limit: CTest runs them under `prlimit --nofile=128`; with a larger
// limit they are skipped.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <vector>

#include "rtl/fs.h"
#include "tests/net/ftp/ftp_fixture.h"
#include "tests/support/pump.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

using ftptest::RawClient;
using ftptest::ServerFixture;

constexpr int64_t kLimit = 128;

TEST(FtpDescriptorLimits, CeilingBelowTheLimitAndAcceptPausedWhenExhausted) {
  if (rtl::fs::DescriptorLimit() != kLimit) GTEST_SKIP() << "runs under prlimit --nofile=128";
  ServerFixture fx;
  // The ceiling keeps one descriptor of the budget for the refusal; the budget keeps the reserve.
  const int64_t budget = fx.Server().AcceptGate()->Budget().Total();
  EXPECT_LE(budget, kLimit - kReservedDescriptors);
  const int ceiling = fx.Server().SessionCeiling();
  ASSERT_EQ(ceiling, (budget - 1) / kFtpDescriptorsPerSession);
  // Without MaxClients the ceiling turns the next session away, as MaxClients would.
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < ceiling; ++i) {
    clients.push_back(std::make_unique<RawClient>(fx.Port()));
    ASSERT_EQ(clients.back()->ReadLine(), "220 FTP Server ready.") << i;
  }
  {
    RawClient over(fx.Port());
    EXPECT_EQ(over.ReadLine(), "421 Too many users connected.");
    EXPECT_TRUE(over.WaitClosed());
  }
  clients.clear();
  ASSERT_TRUE(ftptest::PumpUntilNoClients(fx.Server()));

  // A connection waits in the backlog while every descriptor is taken: the server stops asking
  // to accept it (instead of failing over and over) and takes it once descriptors are free.
  // The listener is held while the client connects, so that the connection is still waiting
  // when the descriptors run out.
  std::vector<WORD> paused;
  fx.Server().OnAcceptPaused = [&](rtl::TObject*, WORD error) { paused.push_back(error); };
  fx.Server().ServerSocket()->Pause();
  RawClient waiting(fx.Port());
  std::vector<std::unique_ptr<std::ifstream>> hog;
  while (true) {
    auto f = std::make_unique<std::ifstream>("/dev/null");
    if (!f->is_open()) break;
    hog.push_back(std::move(f));
    ASSERT_LT(hog.size(), 1000u);
  }
  fx.Server().ServerSocket()->Resume();
  EXPECT_TRUE(PumpUntil([&] { return fx.Server().ServerSocket()->Paused(); }));
  PumpFor(1500);  // the retry fails the same way: still one pause, told once
  EXPECT_EQ(fx.Server().ClientCount(), 0);
  EXPECT_EQ(paused, std::vector<WORD>{WSAEMFILE});
  hog.clear();
  EXPECT_EQ(waiting.ReadLine(), "220 FTP Server ready.");
  EXPECT_FALSE(fx.Server().ServerSocket()->Paused());
}

}  // namespace
