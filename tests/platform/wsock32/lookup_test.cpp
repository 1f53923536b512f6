// Host lookups (asynchronous and blocking), the service and protocol databases, and the
// address-text helpers.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/wsock32/wsock_fixture.h"
#include "tests/support/fake_resolver.h"

namespace {

using testsupport::FakeResolver;

FakeHost::Match LookupDone(HANDLE task) {
  return [task](const Posted& p) {
    return p.msg == kLookupMsg && p.wParam == reinterpret_cast<WPARAM>(task);
  };
}

std::vector<std::string> Texts(char** list) {
  std::vector<std::string> out;
  for (; list && *list; ++list)
    out.emplace_back(*list);
  return out;
}

std::vector<ULONG> Addresses(const WS_hostent* h) {
  std::vector<ULONG> out;
  for (char** p = h->h_addr_list; *p; ++p) {
    ULONG a;
    std::memcpy(&a, *p, 4);
    out.push_back(a);
  }
  return out;
}

class LookupTest : public WsockTest {
 protected:
  void TearDown() override {
    fake_.Open();  // a test that failed half-way must not leave a lookup waiting at the gate
    WsockTest::TearDown();
  }

  // Runs one asynchronous name lookup to its end; returns the done notification.
  Posted LookupName(const char* name, char* buf, int buflen) {
    HANDLE task = W().WSAAsyncGetHostByName(kWindow, kLookupMsg, name, buf, buflen);
    EXPECT_NE(task, nullptr) << W().WSAGetLastError();
    auto done = host_.WaitFor(LookupDone(task));
    EXPECT_EQ(done.size(), 1u) << name;
    return done.empty() ? Posted{} : done[0];
  }

  // Outlives TearDown, which puts the system resolver back.
  FakeResolver fake_;
  alignas(8) char buf_[1025];
};

TEST_F(LookupTest, LocalhostAndDottedQuadResolveIntoTheCallersBuffer) {
  struct Case {
    const char* name;
    ULONG address;
  } cases[] = {{"localhost", W().inet_addr("127.0.0.1")},
               {"10.1.2.3", W().inet_addr("10.1.2.3")},
               {"255.255.255.255", 0xFFFFFFFF}};
  for (const Case& c : cases) {
    std::memset(buf_, 0, sizeof buf_);
    Posted done = LookupName(c.name, buf_, sizeof buf_);
    ASSERT_EQ(WSAGETASYNCERROR(done.lParam), 0) << c.name;
    EXPECT_EQ(done.hwnd, kWindow);
    auto* h = reinterpret_cast<WS_hostent*>(buf_);
    EXPECT_EQ(h->h_addrtype, WS_AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_name, nullptr);
    EXPECT_GT(std::strlen(h->h_name), 0u);
    ASSERT_FALSE(Addresses(h).empty()) << c.name;
    EXPECT_EQ(Addresses(h)[0], c.address) << c.name;
    // Everything the entry points to lies inside the buffer, within the length reported.
    size_t used = WSAGETASYNCBUFLEN(done.lParam);
    EXPECT_GE(used, sizeof(WS_hostent));
    EXPECT_LE(used, sizeof buf_);
    EXPECT_GE(h->h_name, buf_);
    EXPECT_LT(h->h_name + std::strlen(h->h_name), buf_ + used);
    EXPECT_GE(h->h_addr_list[0], buf_);
    EXPECT_LE(h->h_addr_list[0] + 4, buf_ + used);
  }
}

TEST_F(LookupTest, ResolverSeamAnswersNamesAddressesAndFailures) {
  ULONG a1 = W().inet_addr("192.0.2.1"), a2 = W().inet_addr("192.0.2.2");
  fake_.names["collector.example"] = {"collector.example", {"alias1", "alias2"}, {a1, a2}};
  fake_.addresses[a1] = {"host-one.example", {"one"}, {a1}};
  W().SetResolver(&fake_);

  Posted done = LookupName("collector.example", buf_, sizeof buf_);
  ASSERT_EQ(WSAGETASYNCERROR(done.lParam), 0);
  auto* h = reinterpret_cast<WS_hostent*>(buf_);
  EXPECT_STREQ(h->h_name, "collector.example");
  EXPECT_EQ(Texts(h->h_aliases), (std::vector<std::string>{"alias1", "alias2"}));
  EXPECT_EQ(Addresses(h), (std::vector<ULONG>{a1, a2}));

  done = LookupName("nowhere.example", buf_, sizeof buf_);
  EXPECT_EQ(WSAGETASYNCERROR(done.lParam), WSAHOST_NOT_FOUND);

  HANDLE task = W().WSAAsyncGetHostByAddr(kWindow, kLookupMsg, reinterpret_cast<char*>(&a1), 4,
                                          WS_AF_INET, buf_, sizeof buf_);
  ASSERT_NE(task, nullptr);
  auto byAddr = host_.WaitFor(LookupDone(task));
  ASSERT_EQ(byAddr.size(), 1u);
  ASSERT_EQ(WSAGETASYNCERROR(byAddr[0].lParam), 0);
  EXPECT_STREQ(h->h_name, "host-one.example");
  EXPECT_EQ(Texts(h->h_aliases), (std::vector<std::string>{"one"}));

  task = W().WSAAsyncGetHostByAddr(kWindow, kLookupMsg, reinterpret_cast<char*>(&a2), 4, WS_AF_INET,
                                   buf_, sizeof buf_);
  byAddr = host_.WaitFor(LookupDone(task));
  ASSERT_EQ(byAddr.size(), 1u);
  EXPECT_EQ(WSAGETASYNCERROR(byAddr[0].lParam), WSAHOST_NOT_FOUND);

  // The blocking forms ask the same resolver.
  WS_hostent* blocking = W().gethostbyname("collector.example");
  ASSERT_NE(blocking, nullptr);
  EXPECT_EQ(Addresses(blocking), (std::vector<ULONG>{a1, a2}));
  EXPECT_EQ(W().gethostbyname("nowhere.example"), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSAHOST_NOT_FOUND);
  blocking = W().gethostbyaddr(reinterpret_cast<char*>(&a1), 4, WS_AF_INET);
  ASSERT_NE(blocking, nullptr);
  EXPECT_STREQ(blocking->h_name, "host-one.example");
  EXPECT_EQ(W().gethostbyaddr(reinterpret_cast<char*>(&a1), 4, 23), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST_F(LookupTest, TooSmallABufferReportsTheLengthNeededAndWritesNothing) {
  fake_.names["big.example"] = {
      "big.example", {"a-rather-long-alias.example"}, {W().inet_addr("192.0.2.7")}};
  W().SetResolver(&fake_);
  alignas(8) char small[40];
  std::memset(small, 0x5A, sizeof small);
  Posted done = LookupName("big.example", small, sizeof small);
  EXPECT_EQ(WSAGETASYNCERROR(done.lParam), WSAENOBUFS);
  WORD needed = WSAGETASYNCBUFLEN(done.lParam);
  EXPECT_GT(needed, sizeof small);
  for (char c : small)
    ASSERT_EQ(c, 0x5A) << "the buffer was written";

  std::vector<uint64_t> exact((needed + 7) / 8);
  done = LookupName("big.example", reinterpret_cast<char*>(exact.data()), needed);
  EXPECT_EQ(WSAGETASYNCERROR(done.lParam), 0);
  EXPECT_EQ(WSAGETASYNCBUFLEN(done.lParam), needed);
  EXPECT_STREQ(reinterpret_cast<WS_hostent*>(exact.data())->h_name, "big.example");
}

TEST_F(LookupTest, CancelledLookupNeverWritesNorPosts) {
  fake_.gated = "slow.example";
  fake_.names["slow.example"] = {"slow.example", {}, {W().inet_addr("192.0.2.9")}};
  W().SetResolver(&fake_);
  std::memset(buf_, 0x5A, sizeof buf_);
  HANDLE task = W().WSAAsyncGetHostByName(kWindow, kLookupMsg, "slow.example", buf_, sizeof buf_);
  ASSERT_NE(task, nullptr);
  ASSERT_TRUE(fake_.WaitEntered());
  ASSERT_EQ(W().WSACancelAsyncRequest(task), 0);
  fake_.Open();
  // Returns once the cancelled lookup has finished with the resolver.
  W().SetResolver(nullptr);
  EXPECT_EQ(host_.Count(LookupDone(task)), 0u);
  for (char c : buf_)
    ASSERT_EQ(c, 0x5A) << "the buffer was written after the cancel";
  EXPECT_EQ(W().WSACancelAsyncRequest(task), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
}

TEST_F(LookupTest, HandlesAreNonZeroUniqueAndDieWithTheirLookup) {
  fake_.names["a.example"] = {"a.example", {}, {W().inet_addr("192.0.2.1")}};
  W().SetResolver(&fake_);
  std::vector<HANDLE> seen;
  for (int i = 0; i < 5; ++i) {
    HANDLE task = W().WSAAsyncGetHostByName(kWindow, kLookupMsg, "a.example", buf_, sizeof buf_);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), task), 0);
    seen.push_back(task);
    ASSERT_EQ(host_.WaitFor(LookupDone(task)).size(), 1u);
    // A finished lookup can no longer be cancelled.
    EXPECT_EQ(W().WSACancelAsyncRequest(task), SOCKET_ERROR);
    EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  }
  EXPECT_EQ(
      W().WSAAsyncGetHostByName(FakeHost::kGoneWindow, kLookupMsg, "a.example", buf_, sizeof buf_),
      nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().WSAAsyncGetHostByName(kWindow, kLookupMsg, "a.example", nullptr, 10), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
}

TEST_F(LookupTest, LastCleanupDropsPendingLookups) {
  fake_.gated = "slow.example";
  fake_.names["slow.example"] = {"slow.example", {}, {W().inet_addr("192.0.2.9")}};
  W().SetResolver(&fake_);
  std::memset(buf_, 0x5A, sizeof buf_);
  HANDLE task = W().WSAAsyncGetHostByName(kWindow, kLookupMsg, "slow.example", buf_, sizeof buf_);
  ASSERT_NE(task, nullptr);
  ASSERT_TRUE(fake_.WaitEntered());
  ASSERT_EQ(W().WSACleanup(), 0);
  fake_.Open();
  W().SetResolver(nullptr);
  EXPECT_EQ(host_.Count(LookupDone(task)), 0u);
  for (char c : buf_)
    ASSERT_EQ(c, 0x5A);
  WSADATA data;
  ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);  // for TearDown
}

TEST_F(LookupTest, BlockingDatabaseCalls) {
  WS_hostent* h = W().gethostbyname("localhost");
  ASSERT_NE(h, nullptr) << W().WSAGetLastError();
  EXPECT_EQ(h->h_addrtype, WS_AF_INET);
  EXPECT_EQ(Addresses(h)[0], W().inet_addr("127.0.0.1"));

  WS_servent* se = W().getservbyname("ftp", "tcp");
  ASSERT_NE(se, nullptr) << W().WSAGetLastError();
  EXPECT_STREQ(se->s_name, "ftp");
  EXPECT_STREQ(se->s_proto, "tcp");
  EXPECT_EQ(W().ntohs(static_cast<USHORT>(se->s_port)), 21);
  EXPECT_EQ(W().getservbyname("no-such-service", nullptr), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSANO_DATA);

  WS_protoent* pe = W().getprotobyname("udp");
  ASSERT_NE(pe, nullptr);
  EXPECT_EQ(pe->p_proto, 17);
  EXPECT_EQ(W().getprotobyname("no-such-protocol"), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSANO_DATA);

  char name[256];
  ASSERT_EQ(W().gethostname(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  char tiny[1];
  EXPECT_EQ(W().gethostname(tiny, sizeof tiny), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
}

TEST(WsockTextTest, InetAddrAcceptsWhatWinsockAccepts) {
  struct Case {
    const char* text;
    ULONG hostOrder;  // WS_INADDR_NONE: refused
  } cases[] = {
      {"127.0.0.1", 0x7F000001},
      {"1.2.3.4", 0x01020304},
      {"0.0.0.0", 0},
      {"255.255.255.255", 0xFFFFFFFF},
      {"1.2.3.4 ", 0x01020304},
      {"10.1", 0x0A000001},
      {"10.1.2", 0x0A010002},
      {"0x7f.1", 0x7F000001},
      {"010.0.0.1", 0x08000001},
      {"3232235777", 0xC0A80101},
      {"", WS_INADDR_NONE},
      {"256.1.1.1", WS_INADDR_NONE},
      {"1.2.3.4.5", WS_INADDR_NONE},
      {".1.2.3", WS_INADDR_NONE},
      {"1.2.3.", WS_INADDR_NONE},
      {"1.2.3.4x", WS_INADDR_NONE},
      {"09.1.1.1", WS_INADDR_NONE},
      {"host.example", WS_INADDR_NONE},
      {" 1.2.3.4", WS_INADDR_NONE},
      {"1.2.65536", WS_INADDR_NONE},
  };
  for (const Case& c : cases) {
    ULONG expected = c.hostOrder == WS_INADDR_NONE ? WS_INADDR_NONE : W().htonl(c.hostOrder);
    EXPECT_EQ(W().inet_addr(c.text), expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(W().inet_addr(nullptr), WS_INADDR_NONE);
}

TEST(WsockTextTest, ByteOrderAndDottedText) {
  EXPECT_EQ(W().htons(0x0102), 0x0201);
  EXPECT_EQ(W().ntohs(0x0102), 0x0201);
  EXPECT_EQ(W().htonl(0x01020304), 0x04030201u);
  WS_in_addr a{W().htonl(0xC0A80001)};
  EXPECT_STREQ(W().inet_ntoa(a), "192.168.0.1");
  a.s_addr = 0xFFFFFFFF;
  EXPECT_STREQ(W().inet_ntoa(a), "255.255.255.255");
}

}  // namespace
