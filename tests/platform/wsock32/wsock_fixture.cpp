#include "tests/platform/wsock32/wsock_fixture.h"

#include <cstdlib>
#include <cstring>

#include "platform/win/module.h"

namespace {

WinsockApi Load() {
  HMODULE lib = LoadLibraryA("wsock32.dll");
  if (lib == nullptr) {
    std::fprintf(stderr, "LoadLibraryA(wsock32.dll) failed: %u\n", GetLastError());
    std::abort();
  }
  auto get = [lib](const char* name) {
    FARPROC p = GetProcAddress(lib, name);
    if (p == nullptr) {
      std::fprintf(stderr, "GetProcAddress(%s) failed: %u\n", name, GetLastError());
      std::abort();
    }
    return p;
  };
  WinsockApi api{};
#define WSK_LOAD(name) api.name = reinterpret_cast<WinsockFn::name>(get(#name));
  WSK_ENTRY_POINTS(WSK_LOAD)
#undef WSK_LOAD
  api.SetHost = reinterpret_cast<WskSetHostFn>(get("SetHost"));
  api.SetResolver = reinterpret_cast<WskSetResolverFn>(get("SetResolver"));
  return api;
}

}  // namespace

const WinsockApi& W() {
  static const WinsockApi api = Load();
  return api;
}

WS_sockaddr_in Loopback(USHORT port) {
  WS_sockaddr_in sin{};
  sin.sin_family = WS_AF_INET;
  sin.sin_port = W().htons(port);
  sin.sin_addr.s_addr = W().htonl(WS_INADDR_LOOPBACK);
  return sin;
}

USHORT PortOf(SOCKET s) {
  WS_sockaddr_in sin{};
  int len = sizeof sin;
  EXPECT_EQ(W().getsockname(s, reinterpret_cast<WS_sockaddr*>(&sin), &len), 0);
  return W().ntohs(sin.sin_port);
}

void WsockTest::SetUp() {
  W().SetHost(&host_);
  WSADATA data;
  ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);
}

void WsockTest::TearDown() {
  EXPECT_EQ(W().WSACleanup(), 0);
  W().SetHost(nullptr);
  W().SetResolver(nullptr);
}

SOCKET WsockTest::Listener(USHORT* port, int backlog) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
  EXPECT_NE(s, INVALID_SOCKET);
  WS_sockaddr_in sin = Loopback(0);
  EXPECT_EQ(W().bind(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0)
      << W().WSAGetLastError();
  EXPECT_EQ(W().listen(s, backlog), 0) << W().WSAGetLastError();
  *port = PortOf(s);
  return s;
}

SOCKET WsockTest::StartConnect(USHORT port) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
  EXPECT_NE(s, INVALID_SOCKET);
  WS_sockaddr_in sin = Loopback(port);
  int rc = W().connect(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin);
  if (rc != 0) {
    EXPECT_EQ(W().WSAGetLastError(), WSAEWOULDBLOCK);
  }
  return s;
}

void WsockTest::Pair(SOCKET* client, SOCKET* server) {
  USHORT port;
  SOCKET listener = Listener(&port);
  Select(listener, FD_ACCEPT);
  *client = StartConnect(port);
  Select(*client, FD_CONNECT);
  auto connected = host_.WaitFor(SocketEvent(*client, FD_CONNECT));
  ASSERT_EQ(connected.size(), 1u);
  ASSERT_EQ(connected[0].Error(), 0);
  ASSERT_EQ(host_.WaitFor(SocketEvent(listener, FD_ACCEPT)).size(), 1u);
  *server = W().accept(listener, nullptr, nullptr);
  ASSERT_NE(*server, INVALID_SOCKET) << W().WSAGetLastError();
  ASSERT_EQ(W().closesocket(listener), 0);
  ASSERT_EQ(W().WSAAsyncSelect(*client, 0, 0, 0), 0);
}

size_t WsockTest::Fill(SOCKET s, int* lastError, size_t chunkSize) {
  std::vector<char> chunk(chunkSize, 'x');
  size_t total = 0;
  // Bounded: loopback buffers hold a few megabytes at most.
  for (int i = 0; i < 10000; ++i) {
    int n = W().send(s, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (n < 0) {
      *lastError = W().WSAGetLastError();
      return total;
    }
    total += n;
    if (static_cast<size_t>(n) < chunk.size()) {
      *lastError = 0;
      return total;
    }
  }
  ADD_FAILURE() << "the peer's buffers never filled";
  *lastError = -1;
  return total;
}

size_t WsockTest::Drain(SOCKET s, size_t expected) {
  std::vector<char> buf(256 * 1024);
  size_t total = 0;
  while (total < expected) {
    size_t reads = host_.Count(SocketEvent(s, FD_READ));
    int n = W().recv(s, buf.data(), static_cast<int>(buf.size()), 0);
    if (n > 0) {
      total += n;
      continue;
    }
    if (n == 0 || W().WSAGetLastError() != WSAEWOULDBLOCK) break;
    // Nothing there yet: the next FD_READ says when there is.
    if (host_.WaitFor(SocketEvent(s, FD_READ), reads + 1).size() <= reads) break;
  }
  return total;
}

void WsockTest::ExpectQuiet(const FakeHost::Match& match, const char* what) {
  size_t before = host_.Count(match);
  auto after = host_.WaitFor(match, before + 1, kQuiet);
  EXPECT_EQ(after.size(), before) << "unexpected " << what;
}
