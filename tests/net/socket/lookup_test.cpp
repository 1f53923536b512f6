// Host-name lookups of TCustomAsyncSocket. Names other than "localhost" are answered by a
// resolver installed through the socket library's seam, so no test asks the network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/socket/asyncsocket.h"
#include "platform/win/module.h"
#include "platform/wsock32/host.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/pump.h"
#include "tests/support/wait.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

uint32_t Ip(const char* text) {
  return Winsock::inet_addr(text);
}

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = LoadLibraryA("wsock32.dll");
    ASSERT_NE(lib_, nullptr);
    setResolver_ = reinterpret_cast<WskSetResolverFn>(GetProcAddress(lib_, "SetResolver"));
    ASSERT_NE(setResolver_, nullptr);
    resolver_.names["two.test"] = {"two.test", {}, {Ip("10.0.0.1"), Ip("10.0.0.2")}};
    resolver_.names["slow.test"] = {"slow.test", {}, {Ip("10.9.9.9")}};
    resolver_.addresses[Ip("10.1.2.3")] = {"host.test", {"", "alias.test"}, {Ip("10.1.2.3")}};
    setResolver_(&resolver_);
    s_.OnDnsLookupDone = [this](rtl::TObject*, WORD err) {
      std::string list;
      for (int i = 0; i < s_.DnsResultList().Count(); ++i)
        list += " " + s_.DnsResultList()[i];
      done_.push_back(std::to_string(err) + ":" + s_.DnsResult() + ":" + list);
    };
  }
  void TearDown() override {
    resolver_.Open();
    if (setResolver_) setResolver_(nullptr);
    if (lib_) FreeLibrary(lib_);
  }

  HMODULE lib_ = nullptr;
  WskSetResolverFn setResolver_ = nullptr;
  testsupport::FakeResolver resolver_;
  std::vector<std::string> done_;  // "error:DnsResult: list", one per OnDnsLookupDone
  TCustomAsyncSocket s_;
};

TEST_F(LookupTest, DottedQuadAnswersAtOnce) {
  s_.DnsLookup("10.20.30.40 ");
  EXPECT_EQ(done_, std::vector<std::string>{"0:10.20.30.40: 10.20.30.40"});
}

TEST_F(LookupTest, NamesAnswerThroughTheLoop) {
  struct {
    const char* name;
    std::string done;
  } rows[] = {
      {"two.test", "0:10.0.0.1: 10.0.0.1 10.0.0.2"},
      {"unknown.test", "11001::"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    done_.clear();
    s_.DnsLookup(row.name);
    EXPECT_TRUE(done_.empty());  // never inside the call
    ASSERT_TRUE(PumpUntil([&] { return !done_.empty(); }));
    PumpFor(30);
    EXPECT_EQ(done_, std::vector<std::string>{row.done});
  }
}

TEST_F(LookupTest, LocalhostResolves) {
  setResolver_(nullptr);  // the system's resolver
  s_.DnsLookup("localhost");
  ASSERT_TRUE(PumpUntil([&] { return !done_.empty(); }));
  ASSERT_EQ(done_.size(), 1u);
  EXPECT_EQ(done_[0].substr(0, 2), "0:");
  bool loopback = false;
  for (int i = 0; i < s_.DnsResultList().Count(); ++i)
    loopback |= s_.DnsResultList()[i].rfind("127.", 0) == 0;
  EXPECT_TRUE(loopback) << done_[0];
}

TEST_F(LookupTest, SecondLookupReplacesTheFirst) {
  resolver_.gated = "slow.test";
  s_.DnsLookup("slow.test");
  ASSERT_TRUE(resolver_.WaitEntered());
  s_.DnsLookup("two.test");
  ASSERT_TRUE(PumpUntil([&] { return !done_.empty(); }));
  resolver_.Open();  // the first one finishes now; nobody may hear of it
  PumpFor(100);
  EXPECT_EQ(done_, std::vector<std::string>{"0:10.0.0.1: 10.0.0.1 10.0.0.2"});
}

TEST_F(LookupTest, CancelReports10004AndNothingAfter) {
  resolver_.gated = "slow.test";
  s_.DnsLookup("slow.test");
  ASSERT_TRUE(resolver_.WaitEntered());
  s_.CancelDnsLookup();
  EXPECT_EQ(done_, std::vector<std::string>{"10004::"});
  resolver_.Open();
  PumpFor(100);
  EXPECT_EQ(done_.size(), 1u);
  s_.CancelDnsLookup();  // nothing pending: nothing happens
  EXPECT_EQ(done_.size(), 1u);
}

TEST_F(LookupTest, CancelWhileTheAnswerIsAlreadyQueued) {
  // The library has finished and posted its answer, but the loop has not handled it yet: the
  // cancel still ends the lookup with 10004, and the late answer is not reported.
  s_.DnsLookup("two.test");
  MSG m;
  ASSERT_TRUE(testsupport::WaitFor([&] {
    return PeekMessage(&m, s_.WindowHandle(), WM_ASYNCGETHOSTBYNAME, WM_ASYNCGETHOSTBYNAME,
                       PM_NOREMOVE);
  }));
  s_.CancelDnsLookup();
  EXPECT_EQ(done_, std::vector<std::string>{"10004::"});
  PumpFor(50);
  EXPECT_EQ(done_.size(), 1u);
}

TEST_F(LookupTest, DoneMessageOfAnotherLookupIsIgnored) {
  resolver_.gated = "slow.test";
  s_.DnsLookup("slow.test");
  ASSERT_TRUE(resolver_.WaitEntered());
  PostMessage(s_.WindowHandle(), WM_ASYNCGETHOSTBYNAME, 987654, 0);
  PostMessage(s_.WindowHandle(), WM_ASYNCGETHOSTBYADDR, 987654, 0);
  PumpFor(50);
  EXPECT_TRUE(done_.empty());
  resolver_.Open();
  ASSERT_TRUE(PumpUntil([&] { return !done_.empty(); }));
  EXPECT_EQ(done_, std::vector<std::string>{"0:10.9.9.9: 10.9.9.9"});
}

TEST_F(LookupTest, SocketDestroyedWithALookupPending) {
  resolver_.gated = "slow.test";
  int fired = 0;
  {
    TCustomAsyncSocket doomed;
    doomed.OnDnsLookupDone = [&](rtl::TObject*, WORD) { ++fired; };
    doomed.DnsLookup("slow.test");
    ASSERT_TRUE(resolver_.WaitEntered());
  }
  resolver_.Open();  // its answer must not be written into the freed socket
  PumpFor(100);
  EXPECT_EQ(fired, 0);
}

TEST_F(LookupTest, ReverseLookups) {
  s_.ReverseDnsLookup("10.1.2.3");
  EXPECT_TRUE(done_.empty());
  ASSERT_TRUE(PumpUntil([&] { return !done_.empty(); }));
  s_.ReverseDnsLookupSync("10.1.2.3");
  s_.ReverseDnsLookupSync("10.3.2.1");
  // Empty aliases are left out.
  EXPECT_EQ(done_, (std::vector<std::string>{"0:host.test: host.test alias.test",
                                             "0:host.test: host.test alias.test", "11001::"}));
}

TEST_F(LookupTest, EmptyNamesAreRefused) {
  int reported = 0;
  s_.OnError = [&](rtl::TObject*) { ++reported; };
  s_.DnsLookup("");
  s_.ReverseDnsLookup("");
  s_.ReverseDnsLookup(std::string(257, '1'));
  EXPECT_EQ(reported, 3);
  EXPECT_EQ(done_, (std::vector<std::string>{"10022::", "10022::", "10022::"}));
  s_.OnError = nullptr;
  try {
    s_.DnsLookup("");
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "DNS lookup: invalid host name.");
  }
}

}  // namespace
