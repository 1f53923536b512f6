// The SOCKS 4, 4A and 5 client of TAsyncSocket against a scripted proxy on loopback, and a smoke
// test through microsocks when it is installed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "net/socket/line.h"
#include "platform/win/module.h"
#include "platform/wsock32/host.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/installed_resolver.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"
#include "tests/support/wait.h"

extern char** environ;

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

using testsupport::Listener;
using testsupport::Rle;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s.push_back(static_cast<char>(b));
  return s;
}

std::string Port16(int port) {
  return Bytes({(port >> 8) & 0xFF, port & 0xFF});
}

// A proxy that plays a script on one connection, on its own thread with plain blocking sockets:
// each step reads exactly `read` bytes (all kept for the test to compare), then writes `write`
// (after `pauseMs`, so that a reply can arrive in parts), then closes when `close` is set. After
// the last step it holds the connection until the peer closes or the proxy is destroyed.
class ScriptedProxy {
 public:
  struct Step {
    size_t read = 0;
    std::string write;
    int pauseMs = 0;
    bool close = false;
  };

  explicit ScriptedProxy(std::vector<Step> script) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ADD_FAILURE() << "proxy listener";
      return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }

  ~ScriptedProxy() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
  }

  std::string Port() const { return std::to_string(port_); }
  std::string Received() {
    std::lock_guard<std::mutex> l(mu_);
    return received_;
  }
  bool ScriptDone() const { return done_; }

 private:
  // Waits for fd to be readable, checking stop_ every 50 ms, at most 60 s.
  bool Readable(int fd) {
    for (int waited = 0; waited < 60000 && !stop_; waited += 50) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, 50);
      if (r > 0) return true;
      if (r < 0) return false;
    }
    return false;
  }

  void Run() {
    if (!Readable(listen_)) return;
    int conn = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) return;
    bool open = true;
    for (const Step& step : script_) {
      for (size_t got = 0; got < step.read;) {
        char buf[512];
        if (!Readable(conn)) return Finish(conn);
        ssize_t n = ::recv(conn, buf, std::min(sizeof buf, step.read - got), 0);
        if (n <= 0) return Finish(conn);
        std::lock_guard<std::mutex> l(mu_);
        received_.append(buf, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
      }
      if (step.pauseMs > 0) ::usleep(static_cast<useconds_t>(step.pauseMs) * 1000);
      if (!step.write.empty() && ::send(conn, step.write.data(), step.write.size(), MSG_NOSIGNAL) !=
                                     static_cast<ssize_t>(step.write.size()))
        return Finish(conn);
      if (step.close) {
        open = false;
        break;
      }
    }
    done_ = true;
    // Hold the connection: keep what the peer sends until it closes.
    while (open && Readable(conn)) {
      char buf[512];
      ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> l(mu_);
      received_.append(buf, static_cast<size_t>(n));
    }
    Finish(conn);
  }

  void Finish(int conn) { ::close(conn); }

  std::vector<Step> script_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false}, done_{false};
  std::mutex mu_;
  std::string received_;
};

// A TAsyncSocket going through a proxy, with every notification it gives noted in order.
class SocksTest : public ::testing::Test {
 protected:
  void Start(ScriptedProxy& proxy, const std::string& level, const std::string& addr = "dest.test",
             const std::string& port = "4660") {
    s_ = std::make_unique<TAsyncSocket>();
    s_->OnSocksConnected = [this](rtl::TObject*, WORD e) { Note("socks:" + std::to_string(e)); };
    s_->OnSessionConnected = [this](rtl::TObject*, WORD e) {
      Note("connected:" + std::to_string(e));
    };
    s_->OnSocksError = [this](rtl::TObject*, int e, const std::string& m) {
      Note("error:" + std::to_string(e) + ":" + m);
    };
    s_->OnSocksAuthState = [this](rtl::TObject*, TSocksAuthState st) {
      static const char* const names[] = {"start", "success", "failure", "not-required"};
      Note(std::string("auth:") + names[st]);
    };
    s_->OnSessionClosed = [this](rtl::TObject*, WORD e) {
      Note("closed:" + std::to_string(e));
      closed_ = true;
    };
    s_->OnDataAvailable = [this](rtl::TObject*, WORD) {
      std::string d = s_->ReceiveStr();
      if (!d.empty()) Note("data:" + Rle(d));
    };
    if (configure_) configure_(*s_);
    s_->SetAddr(addr);
    s_->SetPort(port);
    s_->SetSocksServer("127.0.0.1");
    s_->SetSocksPort(proxy.Port());
    s_->SetSocksLevel(level);
    s_->Connect();
  }

  void Note(const std::string& e) { events_.push_back(e); }

  // Pumps until `count` events were noted, then a little longer to catch extra ones.
  bool WaitEvents(size_t count) {
    bool ok = PumpUntil([&] { return events_.size() >= count; });
    PumpFor(50);
    return ok;
  }

  std::unique_ptr<TAsyncSocket> s_;
  std::function<void(TAsyncSocket&)> configure_;
  std::vector<std::string> events_;
  bool closed_ = false;
};

// The greeting of a level-5 client without authentication, and a connect request for
// dest.test:4660.
const std::string kHello5 = Bytes({5, 1, 0});
const std::string kRequest5 = Bytes({5, 1, 0, 3, 9}) + "dest.test" + Port16(4660);
const std::string kReply5Ok = Bytes({5, 0, 0, 1, 10, 1, 2, 3, 0x12, 0x34});

struct FailCase {
  std::string name;
  std::string level;
  std::vector<ScriptedProxy::Step> script;
  int code;
  std::string text;
};

std::vector<FailCase> FailCases() {
  std::vector<FailCase> cases = {
      {"MethodRefused",
       "5",
       {{3, Bytes({5, 255})}},
       20003,
       "authentification method not acceptable"},
      {"MethodReplyVersion", "5", {{3, Bytes({4, 0})}}, 20002, "socks version error"},
      {"ConnectReplyVersion",
       "5",
       {{3, Bytes({5, 0})}, {kRequest5.size(), Bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0})}},
       20002,
       "socks version error"},
      {"UnassignedReplyCode",
       "5",
       {{3, Bytes({5, 0})}, {kRequest5.size(), Bytes({5, 9, 0, 1, 0, 0, 0, 0, 0, 0})}},
       20012,
       "unassigned error #9"},
      {"BoundAddressTypeUnknown",
       "5",
       {{3, Bytes({5, 0})}, {kRequest5.size(), Bytes({5, 0, 0, 4}) + std::string(18, '\0')}},
       20011,
       "address type not supported"},
  };
  const char* const texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                               "network unreachable",          "host unreachable",
                               "connection refused",           "time to live expired",
                               "command not supported",        "address type not supported"};
  for (int code = 1; code <= 8; ++code) {
    cases.push_back(
        {"ReplyCode" + std::to_string(code),
         "5",
         {{3, Bytes({5, 0})}, {kRequest5.size(), Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0})}},
         20003 + code,
         texts[code - 1]});
  }
  // Level 4: the request for 127.0.0.1:4660 without a user code is 9 bytes.
  const struct {
    const char* name;
    int first, status, code;
    const char* text;
  } four[] = {
      {"Socks4Rejected", 0, 91, 20016, "request rejected or failed"},
      {"Socks4Refused", 0, 92, 20008, "connection refused"},
      {"Socks4AuthFailed", 0, 93, 20015, "authentification failed"},
      {"Socks4Unassigned", 0, 94, 20012, "unassigned error #94"},
      {"Socks4Version", 4, 90, 20002, "socks version error"},
  };
  for (const auto& f : four)
    cases.push_back(
        {f.name, "4", {{9, Bytes({f.first, f.status, 0, 0, 0, 0, 0, 0})}}, f.code, f.text});
  return cases;
}

void PrintTo(const FailCase& c, std::ostream* os) {
  *os << c.name;
}

class SocksFailures : public SocksTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(SocksFailures, EndWithTheCodeAndClose) {
  const FailCase& c = GetParam();
  ScriptedProxy proxy(c.script);
  Start(proxy, c.level, c.level == "4" ? "127.0.0.1" : "dest.test");
  ASSERT_TRUE(WaitEvents(4));
  const std::string code = std::to_string(c.code);
  EXPECT_EQ(events_, (std::vector<std::string>{"socks:0", "error:" + code + ":" + c.text,
                                               "connected:" + code, "closed:" + code}));
  EXPECT_EQ(s_->State(), wsClosed);
  EXPECT_EQ(s_->SocksServer(), "");  // a close forgets the proxy
}

INSTANTIATE_TEST_SUITE_P(Replies, SocksFailures, ::testing::ValuesIn(FailCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(SocksTest, Level5ReplyInPiecesWithDataBehindIt) {
  ScriptedProxy proxy({{3, Bytes({5}), 0},
                       {0, Bytes({0}), 100},
                       {kRequest5.size(), kReply5Ok.substr(0, 3)},
                       {0, kReply5Ok.substr(3, 4), 100},
                       {0, kReply5Ok.substr(7) + "hello", 100}});
  Start(proxy, "5");
  ASSERT_TRUE(WaitEvents(3));
  EXPECT_EQ(events_, (std::vector<std::string>{"socks:0", "connected:0", "data:hello"}));
  EXPECT_EQ(proxy.Received(), kHello5 + kRequest5);
  EXPECT_EQ(s_->BoundAddr(), "10.1.2.3");
  EXPECT_EQ(s_->BoundPort(), "4660");
  EXPECT_EQ(s_->SendStr("ping"), 4);
  ASSERT_TRUE(PumpUntil([&] { return proxy.Received().size() == 3 + kRequest5.size() + 4; }));
  EXPECT_EQ(proxy.Received().substr(3 + kRequest5.size()), "ping");
}

TEST_F(SocksTest, LinesRightBehindTheReplyInLineMode) {
  ScriptedProxy proxy({{3, Bytes({5, 0})}, {kRequest5.size(), kReply5Ok + "L1\r\nL2\r\n"}});
  configure_ = [](TAsyncSocket& s) { s.SetLineMode(true); };
  Start(proxy, "5");
  ASSERT_TRUE(WaitEvents(4));
  EXPECT_EQ(events_,
            (std::vector<std::string>{"socks:0", "connected:0", "data:L1\\r\\n", "data:L2\\r\\n"}));
}

TEST_F(SocksTest, UserAndPassword) {
  struct {
    const char* name;
    std::string methodReply;
    std::vector<std::string> events;
  } rows[] = {
      {"accepted", Bytes({5, 2}), {"socks:0", "auth:start", "auth:success", "connected:0"}},
      {"not required", Bytes({5, 0}), {"socks:0", "auth:not-required", "connected:0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    events_.clear();
    const std::string hello = Bytes({5, 1, 2});
    const std::string auth = Bytes({1, 4}) + "user" + Bytes({6}) + "secret";
    std::vector<ScriptedProxy::Step> script = {{3, row.methodReply}};
    if (row.methodReply[1] == 2) script.push_back({auth.size(), Bytes({1, 0})});
    // A bound address given as a name.
    script.push_back({kRequest5.size(), Bytes({5, 0, 0, 3, 5}) + "proxy" + Port16(99)});
    ScriptedProxy proxy(script);
    configure_ = [](TAsyncSocket& s) {
      s.SocksAuthentication = socksAuthenticateUsercode;
      s.SocksUsercode = "user";
      s.SocksPassword = "secret";
    };
    Start(proxy, "5");
    ASSERT_TRUE(WaitEvents(row.events.size()));
    EXPECT_EQ(events_, row.events);
    EXPECT_EQ(proxy.Received(), hello + (row.methodReply[1] == 2 ? auth : "") + kRequest5);
    EXPECT_EQ(s_->BoundAddr(), "proxy");
    EXPECT_EQ(s_->BoundPort(), "99");
    s_.reset();
  }
}

TEST_F(SocksTest, AuthenticationRefused) {
  const std::string auth = Bytes({1, 1}) + "u" + Bytes({1}) + "p";
  ScriptedProxy proxy({{3, Bytes({5, 2})}, {auth.size(), Bytes({1, 1})}});
  configure_ = [](TAsyncSocket& s) {
    s.SocksAuthentication = socksAuthenticateUsercode;
    s.SocksUsercode = "u";
    s.SocksPassword = "p";
  };
  Start(proxy, "5");
  ASSERT_TRUE(WaitEvents(5));
  EXPECT_EQ(events_, (std::vector<std::string>{"socks:0", "auth:start",
                                               "error:20015:socks authentication failed",
                                               "connected:20015", "closed:20015"}));
}

TEST_F(SocksTest, ProxyClosingDuringAuthenticationReportsTheFailure) {
  const std::string auth = Bytes({1, 1}) + "u" + Bytes({1}) + "p";
  ScriptedProxy proxy({{3, Bytes({5, 2})}, {auth.size(), "", 0, true}});
  configure_ = [](TAsyncSocket& s) {
    s.SocksAuthentication = socksAuthenticateUsercode;
    s.SocksUsercode = "u";
    s.SocksPassword = "p";
  };
  Start(proxy, "5");
  ASSERT_TRUE(PumpUntil([&] { return closed_; }));
  PumpFor(50);
  ASSERT_GE(events_.size(), 3u);
  EXPECT_EQ(events_[1], "auth:start");
  EXPECT_EQ(events_[2], "auth:failure");
  EXPECT_EQ(events_.back().substr(0, 7), "closed:");
  EXPECT_EQ(s_->State(), wsClosed);
}

TEST_F(SocksTest, Level4And4ARequests) {
  struct {
    const char* level;
    const char* stored;
    std::string addr;
    std::string request;
  } rows[] = {
      {"4", "4", "127.0.0.1", Bytes({4, 1, 0x12, 0x34, 127, 0, 0, 1}) + "bob" + Bytes({0})},
      {"4a", "4A", "dest.test",
       Bytes({4, 1, 0x12, 0x34, 0, 0, 0, 1}) + "bob" + Bytes({0}) + "dest.test" + Bytes({0})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.level);
    events_.clear();
    // Data right behind the reply is delivered as for level 5.
    ScriptedProxy proxy({{row.request.size(), Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "hi"}});
    configure_ = [](TAsyncSocket& s) { s.SocksUsercode = "bob"; };
    Start(proxy, row.level, row.addr);
    ASSERT_TRUE(WaitEvents(3));
    EXPECT_EQ(events_, (std::vector<std::string>{"socks:0", "connected:0", "data:hi"}));
    EXPECT_EQ(proxy.Received(), row.request);
    EXPECT_EQ(s_->SocksLevel(), row.stored);
    s_.reset();
  }
}

// Knows no name at all.
TEST_F(SocksTest, Level4DestinationThatDoesNotResolve) {
  // Level 4 resolves the destination itself; the names come from a resolver that knows none.
  testsupport::FakeResolver none;  // knows no name
  const testsupport::InstalledResolver installed(&none);
  ASSERT_TRUE(installed.Installed());
  ScriptedProxy proxy({});
  Start(proxy, "4", "nowhere.test");
  const bool ended = WaitEvents(4);
  ASSERT_TRUE(ended);
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "socks:0",
                         "error:20017:ESocketException Winsock Resolve Host: Cannot convert host "
                         "address 'nowhere.test' - Host not found (#11001)",
                         "connected:20017", "closed:20017"}));
  EXPECT_EQ(proxy.Received(), "");
}

TEST_F(SocksTest, DomainNameOf255BytesAndNoLonger) {
  const std::string longest(255, 'n');
  const std::string request = Bytes({5, 1, 0, 3, 255}) + longest + Port16(4660);
  {
    ScriptedProxy proxy(
        {{3, Bytes({5, 0})}, {request.size(), Bytes({5, 0, 0, 3, 255}) + longest + Port16(1)}});
    Start(proxy, "5", longest);
    ASSERT_TRUE(WaitEvents(2));
    EXPECT_EQ(events_, (std::vector<std::string>{"socks:0", "connected:0"}));
    EXPECT_EQ(proxy.Received(), kHello5 + request);
    EXPECT_EQ(s_->BoundAddr(), longest);
    s_.reset();
  }
  events_.clear();
  ScriptedProxy proxy({{3, Bytes({5, 0})}});
  Start(proxy, "5", longest + "n");
  ASSERT_TRUE(WaitEvents(4));
  EXPECT_EQ(events_[1].substr(0, 12), "error:20013:");
  EXPECT_EQ(events_[2], "connected:20013");
  EXPECT_EQ(events_[3], "closed:20013");
  EXPECT_EQ(proxy.Received(), kHello5);  // no request went out
}

TEST_F(SocksTest, CloseForgetsTheProxy) {
  ScriptedProxy proxy({{3, Bytes({5, 0})}, {kRequest5.size(), kReply5Ok}});
  Start(proxy, "5");
  ASSERT_TRUE(WaitEvents(2));
  s_->Close();
  EXPECT_EQ(s_->SocksServer(), "");
  EXPECT_EQ(s_->SocksPort(), "");
  EXPECT_EQ(s_->SocksLevel(), "5");

  // The next Connect goes straight to its destination.
  auto direct = Listener();
  bool accepted = false;
  direct->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    accepted = true;
    SOCKET h = direct->Accept();
    if (h != INVALID_SOCKET) Winsock::closesocket(h);
  };
  events_.clear();
  s_->SetAddr("127.0.0.1");
  s_->SetPort(direct->GetSockPort());
  s_->Connect();
  ASSERT_TRUE(PumpUntil([&] { return accepted && !events_.empty(); }));
  EXPECT_EQ(events_.front(), "connected:0");
}

TEST_F(SocksTest, SettingsOnlyWhileClosed) {
  TAsyncSocket s;
  try {
    s.SetSocksLevel("6");
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "Invalid socks level. Must be 4, 4A or 5.");
  }
  s.SetSocksServer("  127.0.0.1 ");
  EXPECT_EQ(s.SocksServer(), "127.0.0.1");
  ScriptedProxy proxy({});
  s.SetSocksPort(proxy.Port());
  s.SetAddr("dest.test");
  s.SetPort("1");
  s.Connect();
  const struct {
    std::function<void()> set;
    const char* text;
  } rows[] = {
      {[&] { s.SetSocksLevel("4"); }, "Can't change socks level if not closed"},
      {[&] { s.SetSocksPort("1"); }, "Can't change socks port if not closed"},
      {[&] { s.SetSocksServer("x"); }, "Can't change socks server if not closed"},
      {[&] { s.Listen(); }, "Listening is not supported thru socks server"},
  };
  for (const auto& row : rows) {
    try {
      row.set();
      ADD_FAILURE() << row.text;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message, row.text);
    }
  }
  s.Abort();
}

// ---- through microsocks ----

constexpr const char* kMicrosocks = "/usr/bin/microsocks";

// microsocks on 127.0.0.1 with a free port, stopped when this goes away.
class Microsocks {
 public:
  explicit Microsocks(std::vector<std::string> extra) {
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = testsupport::FreePort();
      std::vector<std::string> args = {kMicrosocks, "-i", "127.0.0.1", "-p", std::to_string(port_)};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      pid_t pid = 0;
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      int rc = posix_spawn(&pid, kMicrosocks, &actions, nullptr, argv.data(), environ);
      posix_spawn_file_actions_destroy(&actions);
      if (rc != 0) return;
      pid_ = pid;
      if (!WaitListening()) Stop();
    }
  }
  ~Microsocks() { Stop(); }
  bool Running() const { return pid_ > 0; }
  std::string Port() const { return std::to_string(port_); }

 private:
  // Up to 60 s for the port to accept; false when the process ended or never listened.
  bool WaitListening() {
    bool ended = false;
    const bool listening = testsupport::WaitFor([&] {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        ended = true;
        return true;
      }
      int fd = testsupport::ConnectTcp(port_);
      if (fd >= 0) ::close(fd);
      return fd >= 0;
    });
    return listening && !ended;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    if (!testsupport::WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 2000)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = 0;
  }

  pid_t pid_ = 0;
  int port_ = 0;
};

TEST(SocksMicrosocks, LineExchangeThroughTheProxy) {
  if (::access(kMicrosocks, X_OK) != 0) GTEST_SKIP() << "microsocks is not installed";
  struct {
    const char* name;
    std::vector<std::string> args;
    bool auth;
  } rows[] = {
      {"no authentication", {}, false},
      {"user and password", {"-u", "kel", "-P", "vadon"}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Microsocks proxy(row.args);
    ASSERT_TRUE(proxy.Running()) << "microsocks did not start";

    // The destination: answers each line with "echo:" + the line.
    auto listener = Listener();
    std::unique_ptr<TAsyncSocket> session;
    listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
      session = std::make_unique<TAsyncSocket>();
      session->SetLineMode(true);
      session->OnDataAvailable = [&](rtl::TObject*, WORD) {
        std::string line = session->ReceiveStr();
        if (line.size() > 2) session->SendLine("echo:" + line.substr(0, line.size() - 2));
      };
      session->SetHSocket(listener->Accept());
    };

    TAsyncSocket client;
    client.SetLineMode(true);
    std::vector<std::string> events;
    client.OnSessionConnected = [&](rtl::TObject*, WORD e) {
      events.push_back("connected:" + std::to_string(e));
      if (e == 0) client.SendLine("ping");
    };
    client.OnSocksAuthState = [&](rtl::TObject*, TSocksAuthState st) {
      events.push_back("auth:" + std::to_string(st));
    };
    client.OnDataAvailable = [&](rtl::TObject*, WORD) {
      events.push_back("line:" + Rle(client.ReceiveStr()));
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(listener->GetSockPort());
    client.SetSocksServer("127.0.0.1");
    client.SetSocksPort(proxy.Port());
    if (row.auth) {
      client.SocksAuthentication = socksAuthenticateUsercode;
      client.SocksUsercode = "kel";
      client.SocksPassword = "vadon";
    }
    client.Connect();
    ASSERT_TRUE(
        PumpUntil([&] { return !events.empty() && events.back().substr(0, 5) == "line:"; }));
    std::vector<std::string> expected;
    if (row.auth) expected = {"auth:0", "auth:1"};
    expected.push_back("connected:0");
    expected.push_back("line:echo:ping\\r\\n");
    EXPECT_EQ(events, expected);
    client.Close();
  }
}

}  // namespace
