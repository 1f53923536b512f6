// Start-up, handles, options, ioctls and closing, against real loopback sockets.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/win/module.h"
#include "tests/platform/wsock32/wsock_fixture.h"
#include "tests/support/wait.h"

namespace {

using SocketsTest = WsockTest;

TEST(WsockLoadTest, EveryEntryPointResolvesThroughBothLibraryNames) {
  const char* names[] = {
#define WSK_NAME(name) #name,
      WSK_ENTRY_POINTS(WSK_NAME)
#undef WSK_NAME
  };
  for (const char* dll : {"wsock32.dll", "WS2_32.DLL"}) {
    HMODULE lib = LoadLibraryA(dll);
    ASSERT_NE(lib, nullptr) << dll;
    for (const char* name : names)
      EXPECT_NE(GetProcAddress(lib, name), nullptr) << name;
    EXPECT_EQ(GetProcAddress(lib, "no_such_entry"), nullptr);
  }
}

// Every call that needs a started library, made before WSAStartup and after the last cleanup.
void ExpectNotStarted() {
  const WinsockApi& w = W();
  auto check = [&](bool failed, const char* what) {
    EXPECT_TRUE(failed) << what;
    EXPECT_EQ(w.WSAGetLastError(), WSANOTINITIALISED) << what;
    w.WSASetLastError(0);
  };
  WS_sockaddr_in sin = {};
  int len = sizeof sin;
  char buf[64];
  ULONG arg = 0;
  int on = 1;
  check(w.socket(WS_AF_INET, WS_SOCK_STREAM, 0) == INVALID_SOCKET, "socket");
  check(w.closesocket(0x100) == SOCKET_ERROR, "closesocket");
  check(w.bind(0x100, reinterpret_cast<WS_sockaddr*>(&sin), len) == SOCKET_ERROR, "bind");
  check(w.connect(0x100, reinterpret_cast<WS_sockaddr*>(&sin), len) == SOCKET_ERROR, "connect");
  check(w.listen(0x100, 5) == SOCKET_ERROR, "listen");
  check(w.accept(0x100, nullptr, nullptr) == INVALID_SOCKET, "accept");
  check(w.send(0x100, "x", 1, 0) == SOCKET_ERROR, "send");
  check(w.recv(0x100, buf, 1, 0) == SOCKET_ERROR, "recv");
  check(w.setsockopt(0x100, WS_SOL_SOCKET, WS_SO_KEEPALIVE, reinterpret_cast<char*>(&on), 4) ==
            SOCKET_ERROR,
        "setsockopt");
  check(w.ioctlsocket(0x100, WS_FIONREAD, &arg) == SOCKET_ERROR, "ioctlsocket");
  check(w.WSAAsyncSelect(0x100, kWindow, kSocketMsg, FD_READ) == SOCKET_ERROR, "WSAAsyncSelect");
  check(w.WSAAsyncGetHostByName(kWindow, kLookupMsg, "localhost", buf, sizeof buf) == nullptr,
        "WSAAsyncGetHostByName");
  check(w.WSACancelAsyncRequest(reinterpret_cast<HANDLE>(1)) == SOCKET_ERROR,
        "WSACancelAsyncRequest");
  check(w.gethostbyname("localhost") == nullptr, "gethostbyname");
  check(w.gethostname(buf, sizeof buf) == SOCKET_ERROR, "gethostname");
  check(w.getservbyname("ftp", "tcp") == nullptr, "getservbyname");
  check(w.WSACleanup() == SOCKET_ERROR, "WSACleanup");
  // The byte-order and address-text helpers need no start-up.
  EXPECT_EQ(w.htons(0x1234), 0x3412);
  EXPECT_EQ(w.inet_addr("1.2.3.4"), w.htonl(0x01020304));
}

TEST(WsockStartupTest, CallsNeedAStartedLibrary) {
  W().SetHost(nullptr);
  ExpectNotStarted();
  WSADATA data;
  ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);
  ASSERT_EQ(W().WSAStartup(MAKEWORD(2, 2), &data), 0);
  // Counted: the first cleanup leaves the library started.
  ASSERT_EQ(W().WSACleanup(), 0);
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  // The last cleanup closes what is left.
  ASSERT_EQ(W().WSACleanup(), 0);
  ExpectNotStarted();
  ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(W().closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTSOCK);
  ASSERT_EQ(W().WSACleanup(), 0);
}

TEST(WsockStartupTest, VersionsAndStartupRecord) {
  struct Case {
    WORD asked;
    int result;
    WORD granted;
  } cases[] = {
      {MAKEWORD(1, 1), 0, MAKEWORD(1, 1)},     {MAKEWORD(1, 0), 0, MAKEWORD(1, 0)},
      {MAKEWORD(2, 0), 0, MAKEWORD(2, 0)},     {MAKEWORD(2, 2), 0, MAKEWORD(2, 2)},
      {MAKEWORD(2, 9), 0, MAKEWORD(2, 2)},     {MAKEWORD(3, 0), 0, MAKEWORD(2, 2)},
      {MAKEWORD(0, 9), WSAVERNOTSUPPORTED, 0},
  };
  for (const Case& c : cases) {
    WSADATA data;
    std::memset(&data, 0x55, sizeof data);
    ASSERT_EQ(W().WSAStartup(c.asked, &data), c.result) << std::hex << c.asked;
    if (c.result != 0) continue;
    EXPECT_EQ(data.wVersion, c.granted) << std::hex << c.asked;
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    EXPECT_GT(data.iMaxSockets, 0);
    EXPECT_GT(data.iMaxUdpDg, 0);
    EXPECT_GT(std::strlen(data.szDescription), 0u);
    EXPECT_LE(std::strlen(data.szDescription), static_cast<size_t>(WSADESCRIPTION_LEN));
    ASSERT_EQ(W().WSACleanup(), 0);
  }
  EXPECT_EQ(W().WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
  EXPECT_EQ(W().WSACleanup(), SOCKET_ERROR);
}

TEST_F(SocketsTest, HandlesAreNeverReused) {
  std::set<SOCKET> seen;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 50; ++i) {
      SOCKET s = W().socket(WS_AF_INET, i % 2 ? WS_SOCK_STREAM : WS_SOCK_DGRAM, 0);
      ASSERT_NE(s, INVALID_SOCKET);
      EXPECT_NE(s, 0u);
      EXPECT_TRUE(seen.insert(s).second) << "handle " << s << " came back";
      ASSERT_EQ(W().closesocket(s), 0);
      EXPECT_EQ(W().closesocket(s), SOCKET_ERROR);
      EXPECT_EQ(W().WSAGetLastError(), WSAENOTSOCK);
    }
    // Not even across a restart of the library.
    ASSERT_EQ(W().WSACleanup(), 0);
    WSADATA data;
    ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);
  }
}

TEST_F(SocketsTest, SocketRefusesOtherFamiliesAndTypes) {
  constexpr int kInet6 = 23;  // AF_INET6 in Winsock
  EXPECT_EQ(W().socket(kInet6, WS_SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(W().WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(W().socket(WS_AF_INET, 5, 0), INVALID_SOCKET);
  EXPECT_EQ(W().WSAGetLastError(), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(W().socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_UDP), INVALID_SOCKET);
  EXPECT_EQ(W().WSAGetLastError(), WSAEPROTONOSUPPORT);
}

TEST_F(SocketsTest, CallsOnWrongStatesGiveWinsockCodes) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  char buf[4];
  WS_sockaddr_in sin{};
  int len = sizeof sin;
  EXPECT_EQ(W().listen(s, 5), SOCKET_ERROR) << "listen before bind";
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().accept(s, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().send(s, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTCONN);
  EXPECT_EQ(W().recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTCONN);
  EXPECT_EQ(W().getsockname(s, reinterpret_cast<WS_sockaddr*>(&sin), &len), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().getpeername(s, reinterpret_cast<WS_sockaddr*>(&sin), &len), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTCONN);
  EXPECT_EQ(W().shutdown(s, SD_SEND), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTCONN);
  len = 8;
  EXPECT_EQ(W().bind(s, reinterpret_cast<WS_sockaddr*>(&sin), len), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
  sin.sin_family = 23;
  EXPECT_EQ(W().bind(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(W().send(s, "x", 1, 0x40), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEOPNOTSUPP);
}

TEST_F(SocketsTest, ConnectedPairExchangesDataAndNamesBothEnds) {
  SOCKET client, server;
  Pair(&client, &server);
  WS_sockaddr_in mine{}, theirs{};
  int len = sizeof mine;
  ASSERT_EQ(W().getsockname(client, reinterpret_cast<WS_sockaddr*>(&mine), &len), 0);
  len = sizeof theirs;
  ASSERT_EQ(W().getpeername(server, reinterpret_cast<WS_sockaddr*>(&theirs), &len), 0);
  EXPECT_EQ(len, static_cast<int>(sizeof theirs));
  EXPECT_EQ(mine.sin_port, theirs.sin_port);
  EXPECT_STREQ(W().inet_ntoa(theirs.sin_addr), "127.0.0.1");
  WS_sockaddr_in small{};
  len = 8;
  EXPECT_EQ(W().getpeername(server, reinterpret_cast<WS_sockaddr*>(&small), &len), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
}

// Options: Winsock numbers in, the same meaning read back.
struct OptionCase {
  const char* name;
  int type;
  int level, option;
  int set;       // value written
  int expected;  // value read back; -1: at least `set`
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  *os << c.name;
}

class OptionTest : public WsockTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, SetThenGet) {
  const OptionCase& c = GetParam();
  SOCKET s = W().socket(WS_AF_INET, c.type, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_EQ(W().setsockopt(s, c.level, c.option, reinterpret_cast<const char*>(&c.set), 4), 0)
      << W().WSAGetLastError();
  int value = -12345, len = sizeof value;
  ASSERT_EQ(W().getsockopt(s, c.level, c.option, reinterpret_cast<char*>(&value), &len), 0)
      << W().WSAGetLastError();
  EXPECT_EQ(len, 4);
  if (c.expected == -1) {
    EXPECT_GE(value, c.set);
  } else {
    EXPECT_EQ(value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Winsock, OptionTest,
    ::testing::Values(
        OptionCase{"ReuseAddrOn", WS_SOCK_DGRAM, WS_SOL_SOCKET, WS_SO_REUSEADDR, 1, 1},
        OptionCase{"KeepAliveOn", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_KEEPALIVE, 1, 1},
        OptionCase{"KeepAliveOff", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_KEEPALIVE, 0, 0},
        OptionCase{"Broadcast", WS_SOCK_DGRAM, WS_SOL_SOCKET, WS_SO_BROADCAST, 1, 1},
        OptionCase{"OobInline", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_OOBINLINE, 1, 1},
        OptionCase{"SendBuffer", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_SNDBUF, 65536, -1},
        OptionCase{"ReceiveBuffer", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_RCVBUF, 65536, -1},
        OptionCase{"NoDelay", WS_SOCK_STREAM, WS_IPPROTO_TCP, WS_TCP_NODELAY, 1, 1},
        OptionCase{"MulticastTtl", WS_SOCK_DGRAM, WS_IPPROTO_IP, WS_IP_MULTICAST_TTL, 5, 5},
        OptionCase{"MulticastLoopOff", WS_SOCK_DGRAM, WS_IPPROTO_IP, WS_IP_MULTICAST_LOOP, 0, 0},
        OptionCase{"Ttl", WS_SOCK_DGRAM, WS_IPPROTO_IP, WS_IP_TTL, 33, 33},
        OptionCase{"DontLinger", WS_SOCK_STREAM, WS_SOL_SOCKET, WS_SO_DONTLINGER, 1, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(SocketsTest, OptionsThatAreOnlyRead) {
  SOCKET stream = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  SOCKET dgram = W().socket(WS_AF_INET, WS_SOCK_DGRAM, 0);
  int value = -1, len = sizeof value;
  ASSERT_EQ(
      W().getsockopt(stream, WS_SOL_SOCKET, WS_SO_TYPE, reinterpret_cast<char*>(&value), &len), 0);
  EXPECT_EQ(value, WS_SOCK_STREAM);
  ASSERT_EQ(W().getsockopt(dgram, WS_SOL_SOCKET, WS_SO_TYPE, reinterpret_cast<char*>(&value), &len),
            0);
  EXPECT_EQ(value, WS_SOCK_DGRAM);
  ASSERT_EQ(
      W().getsockopt(stream, WS_SOL_SOCKET, WS_SO_ERROR, reinterpret_cast<char*>(&value), &len), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(W().setsockopt(stream, WS_SOL_SOCKET, WS_SO_TYPE, reinterpret_cast<char*>(&value), 4),
            SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOPROTOOPT);

  // Unknown options and levels, and too small a value.
  struct {
    int level, option;
  } unknown[] = {{WS_SOL_SOCKET, 0x7777}, {WS_IPPROTO_TCP, 2}, {0x1234, WS_SO_REUSEADDR}};
  for (auto u : unknown) {
    len = sizeof value;
    EXPECT_EQ(W().setsockopt(stream, u.level, u.option, reinterpret_cast<char*>(&value), 4),
              SOCKET_ERROR);
    EXPECT_EQ(W().WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(W().getsockopt(stream, u.level, u.option, reinterpret_cast<char*>(&value), &len),
              SOCKET_ERROR);
    EXPECT_EQ(W().WSAGetLastError(), WSAENOPROTOOPT);
  }
  len = 2;
  EXPECT_EQ(
      W().getsockopt(stream, WS_SOL_SOCKET, WS_SO_KEEPALIVE, reinterpret_cast<char*>(&value), &len),
      SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(
      W().setsockopt(stream, WS_SOL_SOCKET, WS_SO_KEEPALIVE, reinterpret_cast<char*>(&value), 2),
      SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);
}

TEST_F(SocketsTest, MulticastInterfaceTakesAnAddress) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_DGRAM, 0);
  WS_in_addr in{W().inet_addr("127.0.0.1")};
  ASSERT_EQ(
      W().setsockopt(s, WS_IPPROTO_IP, WS_IP_MULTICAST_IF, reinterpret_cast<char*>(&in), sizeof in),
      0)
      << W().WSAGetLastError();
  WS_in_addr out{0};
  int len = sizeof out;
  ASSERT_EQ(
      W().getsockopt(s, WS_IPPROTO_IP, WS_IP_MULTICAST_IF, reinterpret_cast<char*>(&out), &len), 0);
  EXPECT_EQ(out.s_addr, in.s_addr);
}

TEST_F(SocketsTest, StreamBindReusesAddressDatagramBindDoesNot) {
  for (int type : {WS_SOCK_STREAM, WS_SOCK_DGRAM}) {
    SOCKET s = W().socket(WS_AF_INET, type, 0);
    WS_sockaddr_in sin = Loopback(0);
    ASSERT_EQ(W().bind(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0);
    int value = -1, len = sizeof value;
    ASSERT_EQ(
        W().getsockopt(s, WS_SOL_SOCKET, WS_SO_REUSEADDR, reinterpret_cast<char*>(&value), &len),
        0);
    EXPECT_EQ(value != 0, type == WS_SOCK_STREAM) << "type " << type;
  }
}

TEST_F(SocketsTest, LingerIsKeptAndReportedBack) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  for (WS_linger l : {WS_linger{1, 300}, WS_linger{1, 0}, WS_linger{0, 0}}) {
    ASSERT_EQ(W().setsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&l), sizeof l),
              0);
    WS_linger out{9, 9};
    int len = sizeof out;
    ASSERT_EQ(W().getsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&out), &len),
              0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(out.l_onoff, l.l_onoff);
    EXPECT_EQ(out.l_linger, l.l_linger);
  }
}

// A connection whose peer does not read, a full send buffer, and linger (on, 300): closesocket
// returns without waiting for the peer, and the kernel still delivers every byte and a FIN.
TEST_F(SocketsTest, CloseWithPositiveLingerReturnsAtOnceAndStillDeliversEverything) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_CLOSE);
  int lastError;
  size_t sent = Fill(client, &lastError);
  ASSERT_GT(sent, 0u);
  WS_linger l{1, 300};
  ASSERT_EQ(
      W().setsockopt(client, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&l), sizeof l),
      0);

  // Were the kernel given the 300 s, close() would sit there until the peer read everything.
  auto result = std::make_shared<std::promise<int>>();
  std::future<int> closing = result->get_future();
  std::thread([result, client] { result->set_value(W().closesocket(client)); }).detach();
  if (closing.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    // The blocked call holds the library; nothing after it could run.
    ADD_FAILURE() << "closesocket blocked";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  EXPECT_EQ(closing.get(), 0);

  EXPECT_EQ(Drain(server, sent), sent);
  auto closed = host_.WaitFor(SocketEvent(server, FD_CLOSE));
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].Error(), 0) << "a graceful close, not a reset";
}

// The TIME_WAIT entries of `port` in /proc/net/tcp (state 06).
int TimeWaitCount(USHORT port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char local[16];
  std::snprintf(local, sizeof local, ":%04X ", port);
  int n = 0;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, localAddr, remoteAddr, state;
    fields >> slot >> localAddr >> remoteAddr >> state;
    if ((localAddr + " ").find(local) != std::string::npos && state == "06") ++n;
  }
  return n;
}

TEST_F(SocketsTest, RestartedListenerRebindsPastTimeWaitButNotPastALiveListener) {
  USHORT port;
  SOCKET listener = Listener(&port);
  Select(listener, FD_ACCEPT);
  SOCKET client = StartConnect(port);
  ASSERT_EQ(host_.WaitFor(SocketEvent(listener, FD_ACCEPT)).size(), 1u);
  SOCKET server = W().accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  Select(client, FD_CLOSE);
  // The server closes first, so its side of the connection ends in TIME_WAIT.
  ASSERT_EQ(W().closesocket(server), 0);
  ASSERT_EQ(host_.WaitFor(SocketEvent(client, FD_CLOSE)).size(), 1u);
  ASSERT_EQ(W().closesocket(client), 0);
  ASSERT_EQ(W().closesocket(listener), 0);
  if (!testsupport::WaitFor([&] { return TimeWaitCount(port) > 0; }))
    GTEST_SKIP() << "this system shows no TIME_WAIT entries";

  SOCKET again = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  WS_sockaddr_in sin = Loopback(port);
  ASSERT_EQ(W().bind(again, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0)
      << W().WSAGetLastError();
  ASSERT_EQ(W().listen(again, 5), 0);

  SOCKET second = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  EXPECT_EQ(W().bind(second, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEADDRINUSE);
}

TEST_F(SocketsTest, ChildProcessesInheritNoSocket) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ);  // the poller's descriptors exist too
  SOCKET dgram = W().socket(WS_AF_INET, WS_SOCK_DGRAM, 0);
  ASSERT_NE(dgram, INVALID_SOCKET);

  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    execl("/bin/sh", "sh", "-c", "ls -l /proc/self/fd/", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string listing;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    listing.append(buf, n);
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << listing;
  EXPECT_NE(listing.find("/proc/"), std::string::npos) << listing;  // ls saw its own fds
  EXPECT_EQ(listing.find("socket:"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("eventpoll"), std::string::npos) << listing;
}

TEST_F(SocketsTest, IoctlsReportPendingBytesAndRefuseBlockingMode) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ);
  ASSERT_EQ(W().send(client, "12345", 5, 0), 5);
  ASSERT_EQ(host_.WaitFor(SocketEvent(server, FD_READ)).size(), 1u);
  ULONG pending = 0;
  ASSERT_EQ(W().ioctlsocket(server, WS_FIONREAD, &pending), 0);
  EXPECT_EQ(pending, 5u);
  ULONG atMark = 0;
  ASSERT_EQ(W().ioctlsocket(server, WS_SIOCATMARK, &atMark), 0);
  EXPECT_EQ(atMark, 1u) << "no urgent data waits";

  ULONG mode = 1;
  EXPECT_EQ(W().ioctlsocket(server, WS_FIONBIO, &mode), 0);
  mode = 0;
  EXPECT_EQ(W().ioctlsocket(server, WS_FIONBIO, &mode), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL) << "blocking mode under WSAAsyncSelect";
  EXPECT_EQ(W().ioctlsocket(server, 0x12345, &mode), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().ioctlsocket(server, WS_FIONREAD, nullptr), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);

  // The same through WSAIoctl.
  ULONG outValue = 0;
  DWORD returned = 0;
  ASSERT_EQ(W().WSAIoctl(server, static_cast<DWORD>(WS_FIONREAD), nullptr, 0, &outValue,
                         sizeof outValue, &returned, nullptr, nullptr),
            0);
  EXPECT_EQ(outValue, 5u);
  EXPECT_EQ(returned, sizeof outValue);
}

TEST_F(SocketsTest, KeepAliveValuesSwitchKeepAliveAndReceiveAllIsRefused) {
  SOCKET client, server;
  Pair(&client, &server);
  auto keepAlive = [&] {
    int value = -1, len = sizeof value;
    EXPECT_EQ(W().getsockopt(client, WS_SOL_SOCKET, WS_SO_KEEPALIVE,
                             reinterpret_cast<char*>(&value), &len),
              0);
    return value;
  };
  char out[12];
  DWORD returned = 99;
  tcp_keepalive on{1, 30000, 1000};
  ASSERT_EQ(W().WSAIoctl(client, SIO_KEEPALIVE_VALS, &on, sizeof on, out, sizeof out, &returned,
                         nullptr, nullptr),
            0)
      << W().WSAGetLastError();
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(keepAlive(), 1);
  tcp_keepalive off{0, 30000, 1000};
  ASSERT_EQ(W().WSAIoctl(client, SIO_KEEPALIVE_VALS, &off, sizeof off, out, sizeof out, &returned,
                         nullptr, nullptr),
            0);
  EXPECT_EQ(keepAlive(), 0);
  EXPECT_EQ(W().WSAIoctl(client, SIO_KEEPALIVE_VALS, &on, 8, out, sizeof out, &returned, nullptr,
                         nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEFAULT);

  ULONG one = 1;
  EXPECT_EQ(
      W().WSAIoctl(client, SIO_RCVALL, &one, sizeof one, nullptr, 0, &returned, nullptr, nullptr),
      SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEOPNOTSUPP);
  EXPECT_EQ(W().WSAIoctl(client, 0x98000099, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
}

TEST_F(SocketsTest, TheLastErrorBelongsToTheCallingThread) {
  W().WSASetLastError(WSAEINTR);
  std::thread([] {
    EXPECT_EQ(W().WSAGetLastError(), 0);
    EXPECT_EQ(W().closesocket(0x1), SOCKET_ERROR);
    EXPECT_EQ(W().WSAGetLastError(), WSAENOTSOCK);
  }).join();
  EXPECT_EQ(W().WSAGetLastError(), WSAEINTR);
}

}  // namespace
