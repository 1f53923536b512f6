// Test support for the socket library: its entry points loaded the way callers load them
// (LoadLibraryA("wsock32.dll") + GetProcAddress), and a fixture that starts the library with the
// fake host of tests/support (which records every notification) and cleans up after each test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/wsock32/host.h"
#include "platform/wsock32/winsock.h"
#include "tests/support/fake_host.h"

// clang-format off
#define WSK_ENTRY_POINTS(X)                                                                    \
  X(WSAStartup) X(WSACleanup) X(WSASetLastError) X(WSAGetLastError) X(WSACancelAsyncRequest)   \
  X(WSAAsyncGetHostByName) X(WSAAsyncGetHostByAddr) X(WSAAsyncSelect) X(getservbyname)         \
  X(getprotobyname) X(gethostbyname) X(gethostbyaddr) X(gethostname) X(socket) X(shutdown)     \
  X(setsockopt) X(getsockopt) X(sendto) X(send) X(ntohs) X(listen) X(ioctlsocket)              \
  X(WSAIoctl) X(inet_ntoa) X(inet_addr) X(htons) X(htonl) X(getsockname) X(getpeername)        \
  X(connect) X(closesocket) X(bind) X(accept) X(recv) X(recvfrom)
// clang-format on

// Every entry point, resolved once per process.
struct WinsockApi {
#define WSK_MEMBER(name) WinsockFn::name name;
  WSK_ENTRY_POINTS(WSK_MEMBER)
#undef WSK_MEMBER
  WskSetHostFn SetHost;
  WskSetResolverFn SetResolver;
};
const WinsockApi& W();

using testsupport::AnyOf;
using testsupport::FakeHost;
using testsupport::kLookupMsg;
using testsupport::kSocketMsg;
using testsupport::kWindow;
using testsupport::Posted;
using testsupport::SocketEvent;

// How long a test waits to be sure that a notification does not come.
constexpr std::chrono::milliseconds kQuiet{300};

class WsockTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A stream socket listening on 127.0.0.1 with a free port (written to *port).
  SOCKET Listener(USHORT* port, int backlog = 5);
  // A stream socket whose non-blocking connect to 127.0.0.1:port has started.
  SOCKET StartConnect(USHORT port);
  // A connected pair: the client's side and the accepted side. No registrations remain.
  void Pair(SOCKET* client, SOCKET* server);
  void Select(SOCKET s, LONG events) {
    ASSERT_EQ(W().WSAAsyncSelect(s, kWindow, kSocketMsg, events), 0) << W().WSAGetLastError();
  }
  // Sends chunks of `chunk` bytes until the socket refuses (would block) or takes only part of
  // one. Returns the bytes sent and the last result's error code (0 for a short send).
  size_t Fill(SOCKET s, int* lastError, size_t chunk = 256 * 1024);
  // Receives everything the peer has sent, up to `expected` bytes, waiting for FD_READ posts.
  size_t Drain(SOCKET s, size_t expected);
  void ExpectQuiet(const FakeHost::Match& match, const char* what);

  FakeHost host_;
};

WS_sockaddr_in Loopback(USHORT port);
USHORT PortOf(SOCKET s);
