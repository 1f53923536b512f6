// WSAAsyncSelect notifications over real loopback connections, recorded by the fake host.
#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "tests/platform/wsock32/wsock_fixture.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace {

using AsyncSelectTest = WsockTest;

TEST_F(AsyncSelectTest, AcceptIsPostedOnceUntilAcceptThenAgainWhilePending) {
  USHORT port;
  SOCKET listener = Listener(&port);
  Select(listener, FD_ACCEPT | FD_CLOSE);
  SOCKET clients[3];
  for (SOCKET& c : clients) {
    c = StartConnect(port);
    Select(c, FD_CONNECT);
  }
  for (SOCKET c : clients)
    ASSERT_EQ(host_.WaitFor(SocketEvent(c, FD_CONNECT)).size(), 1u);

  auto accepts = SocketEvent(listener, FD_ACCEPT);
  ASSERT_EQ(host_.WaitFor(accepts).size(), 1u);
  ExpectQuiet(accepts, "second FD_ACCEPT before accept");

  for (size_t i = 1; i <= 3; ++i) {
    WS_sockaddr_in peer{};
    int len = sizeof peer;
    SOCKET s = W().accept(listener, reinterpret_cast<WS_sockaddr*>(&peer), &len);
    ASSERT_NE(s, INVALID_SOCKET) << W().WSAGetLastError();
    EXPECT_EQ(len, static_cast<int>(sizeof peer));
    EXPECT_EQ(peer.sin_addr.s_addr, W().htonl(WS_INADDR_LOOPBACK));
    if (i < 3) {
      EXPECT_EQ(host_.WaitFor(accepts, i + 1).size(), i + 1) << "after accept " << i;
    }
  }
  ExpectQuiet(accepts, "FD_ACCEPT with nothing pending");
  EXPECT_EQ(W().accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(W().WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(host_.Count(SocketEvent(listener, FD_CLOSE)), 0u);
}

TEST_F(AsyncSelectTest, ReadIsNotRepeatedWithoutRecvAndComesBackWhileDataRemains) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_CLOSE);
  auto reads = SocketEvent(server, FD_READ);

  ASSERT_EQ(W().send(client, "abc", 3, 0), 3);
  ASSERT_EQ(host_.WaitFor(reads).size(), 1u);
  ASSERT_EQ(W().send(client, "def", 3, 0), 3);
  ExpectQuiet(reads, "FD_READ without a recv in between");

  char buf[16];
  ASSERT_EQ(W().recv(server, buf, 2, 0), 2);
  EXPECT_EQ(host_.WaitFor(reads, 2).size(), 2u) << "data remains after a partial recv";
  // 4 bytes are left once both sends have arrived (on a loaded machine the second may still be
  // on its way).
  ULONG pending = 0;
  EXPECT_TRUE(testsupport::WaitFor([&] {
    return W().ioctlsocket(server, WS_FIONREAD, &pending) == 0 && pending == 4;
  })) << pending;
  ASSERT_EQ(W().recv(server, buf, sizeof buf, 0), 4);
  EXPECT_EQ(std::string(buf, 4), "cdef");
  ExpectQuiet(reads, "FD_READ after everything was read");
}

// FD_WRITE comes at registration, then again only after a send that would block or was short,
// once the peer has read enough to make room.
class WriteTest : public WsockTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WriteTest, WriteComesAtRegistrationAndAfterTheBufferDrains) {
  bool wantShort = GetParam();
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_CLOSE);
  Select(client, FD_WRITE | FD_CLOSE);
  auto writes = SocketEvent(client, FD_WRITE);
  ASSERT_EQ(host_.WaitFor(writes).size(), 1u);

  ASSERT_EQ(W().send(client, "x", 1, 0), 1);
  ExpectQuiet(writes, "FD_WRITE after a send that took everything");

  int lastError = -1;
  size_t sent = 1;
  if (wantShort) {
    // One send far larger than the socket buffers takes only part of it.
    sent += Fill(client, &lastError, 32 * 1024 * 1024);
    ASSERT_EQ(lastError, 0) << "expected a short send";
  } else {
    sent += Fill(client, &lastError);
    for (int i = 0; i < 100 && lastError == 0; ++i)
      sent += Fill(client, &lastError);
    ASSERT_EQ(lastError, WSAEWOULDBLOCK);
  }
  EXPECT_EQ(Drain(server, sent), sent);
  EXPECT_EQ(host_.WaitFor(writes, 2).size(), 2u) << "FD_WRITE once the buffer drained";
}

INSTANTIATE_TEST_SUITE_P(ShortOrWouldBlock, WriteTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Short" : "WouldBlock"; });

// The peer sends data and then closes gracefully (FIN) or abortively (RST).
struct CloseCase {
  const char* name;
  bool abortive;
  WORD error;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
  *os << c.name;
}

class CloseTest : public WsockTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, CloseComesOnceAfterTheDataWasRead) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_WRITE | FD_CLOSE);
  auto reads = SocketEvent(server, FD_READ);
  auto closes = SocketEvent(server, FD_CLOSE);

  ASSERT_EQ(W().send(client, "hello", 5, 0), 5);
  ASSERT_EQ(host_.WaitFor(reads).size(), 1u);
  if (GetParam().abortive) {
    WS_linger hard{1, 0};
    ASSERT_EQ(W().setsockopt(client, WS_SOL_SOCKET, WS_SO_LINGER,
                             reinterpret_cast<const char*>(&hard), sizeof hard),
              0);
  }
  ASSERT_EQ(W().closesocket(client), 0);
  ExpectQuiet(closes, "FD_CLOSE while data is unread");

  char buf[16];
  ASSERT_EQ(W().recv(server, buf, sizeof buf, 0), 5);
  auto closed = host_.WaitFor(closes);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].Error(), GetParam().error);

  // Reading again (0 bytes or the reset) does not bring a second FD_CLOSE, nor another FD_READ.
  size_t readsBefore = host_.Count(reads);
  W().recv(server, buf, sizeof buf, 0);
  ExpectQuiet(closes, "second FD_CLOSE");
  EXPECT_EQ(host_.Count(reads), readsBefore);

  // FD_CLOSE is the last word of the connection: the order was READ ... CLOSE.
  auto all = host_.All();
  auto last = std::find_if(all.rbegin(), all.rend(), [&](const Posted& p) {
    return p.wParam == server && p.Event() != FD_WRITE;
  });
  ASSERT_NE(last, all.rend());
  EXPECT_EQ(last->Event(), FD_CLOSE);
}

INSTANTIATE_TEST_SUITE_P(PeerClose, CloseTest,
                         ::testing::Values(CloseCase{"Fin", false, 0},
                                           CloseCase{"Reset", true, WSAECONNRESET}),
                         [](const auto& info) { return info.param.name; });

TEST_F(AsyncSelectTest, CloseWithoutDataComesAtOnce) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_CLOSE);
  ASSERT_EQ(W().shutdown(client, SD_SEND), 0);
  auto closed = host_.WaitFor(SocketEvent(server, FD_CLOSE));
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].Error(), 0);
  EXPECT_EQ(host_.Count(SocketEvent(server, FD_READ)), 0u);
  // Half-closed: the server side can still answer, and the client still receives.
  Select(client, FD_READ);
  ASSERT_EQ(W().send(server, "bye", 3, 0), 3);
  ASSERT_EQ(host_.WaitFor(SocketEvent(client, FD_READ)).size(), 1u);
  // A send after our own shutdown is "shut down", not a reset.
  EXPECT_EQ(W().send(client, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAESHUTDOWN);
}

TEST_F(AsyncSelectTest, RefusedConnectGivesConnectErrorAndNothingElse) {
  // A port where nothing listens: bound by a socket that never listens, held until the end, so
  // that no other program can listen there meanwhile.
  const testsupport::ClosedPort closed;
  ASSERT_NE(closed.Port(), 0);
  const USHORT port = static_cast<USHORT>(closed.Port());

  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  Select(s, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
  WS_sockaddr_in sin = Loopback(port);
  int rc = W().connect(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin);
  ASSERT_EQ(rc, SOCKET_ERROR);
  ASSERT_EQ(W().WSAGetLastError(), WSAEWOULDBLOCK);

  auto connects = host_.WaitFor(SocketEvent(s, FD_CONNECT));
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0].Error(), WSAECONNREFUSED);
  ExpectQuiet(AnyOf(s), "notification after the failed connect");
  EXPECT_EQ(host_.Count(AnyOf(s)), 1u);
}

TEST_F(AsyncSelectTest, ConnectedClientGetsConnectThenWrite) {
  USHORT port;
  SOCKET listener = Listener(&port);
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  Select(s, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
  WS_sockaddr_in sin = Loopback(port);
  W().connect(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin);
  ASSERT_EQ(host_.WaitFor(SocketEvent(s, FD_WRITE)).size(), 1u);
  auto all = host_.WaitFor(AnyOf(s), 2);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].Event(), FD_CONNECT);
  EXPECT_EQ(all[0].Error(), 0);
  EXPECT_EQ(all[1].Event(), FD_WRITE);
  EXPECT_EQ(all[0].hwnd, kWindow);
  ExpectQuiet(AnyOf(s), "more notifications for an idle connection");
  W().closesocket(listener);
}

TEST_F(AsyncSelectTest, NothingBeforeConnectOrListen) {
  SOCKET fresh = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  SOCKET bound = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  WS_sockaddr_in sin = Loopback(0);
  ASSERT_EQ(W().bind(bound, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0);
  Select(fresh, FD_ALL_EVENTS);
  Select(bound, FD_ALL_EVENTS);
  ExpectQuiet([](const Posted&) { return true; }, "notification for an idle socket");

  // Listening without a caller still says nothing.
  ASSERT_EQ(W().listen(bound, 5), 0);
  ExpectQuiet(AnyOf(bound), "notification for a listener nobody called");
}

TEST_F(AsyncSelectTest, MaskZeroCancelsAndANewMaskReplacesTheOld) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ);
  ASSERT_EQ(W().WSAAsyncSelect(server, kWindow, kSocketMsg, 0), 0);
  ASSERT_EQ(W().send(client, "abc", 3, 0), 3);
  ExpectQuiet(AnyOf(server), "notification after cancelling");

  // The data that arrived meanwhile is reported by the next registration, on its message.
  constexpr UINT kOtherMsg = 2000;
  ASSERT_EQ(W().WSAAsyncSelect(server, kWindow + 1, kOtherMsg, FD_READ), 0);
  auto reads = host_.WaitFor([&](const Posted& p) {
    return p.msg == kOtherMsg && p.wParam == server && p.Event() == FD_READ;
  });
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].hwnd, kWindow + 1);
  // A mask without FD_WRITE gives no FD_WRITE.
  EXPECT_EQ(host_.Count([&](const Posted& p) { return p.Event() == FD_WRITE; }), 0u);
}

TEST_F(AsyncSelectTest, ClosedSocketIsNeverNotified) {
  SOCKET client, server;
  Pair(&client, &server);
  Select(server, FD_READ | FD_CLOSE);
  ASSERT_EQ(W().closesocket(server), 0);
  ASSERT_EQ(W().send(client, "abc", 3, 0), 3);
  W().closesocket(client);
  ExpectQuiet(AnyOf(server), "notification for a closed socket");
  for (const Posted& p : host_.All())
    EXPECT_NE(p.wParam, INVALID_SOCKET);
  EXPECT_EQ(W().WSAAsyncSelect(server, kWindow, kSocketMsg, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(AsyncSelectTest, RegistrationChecksItsArguments) {
  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  EXPECT_EQ(W().WSAAsyncSelect(s, FakeHost::kGoneWindow, kSocketMsg, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().WSAAsyncSelect(s, kWindow, kSocketMsg, 0x100), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
}

TEST_F(AsyncSelectTest, DatagramSocketGetsWriteAtOnceAndReadPerRecv) {
  SOCKET a = W().socket(WS_AF_INET, WS_SOCK_DGRAM, WS_IPPROTO_UDP);
  SOCKET b = W().socket(WS_AF_INET, WS_SOCK_DGRAM, WS_IPPROTO_UDP);
  WS_sockaddr_in sin = Loopback(0);
  ASSERT_EQ(W().bind(b, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0);
  WS_sockaddr_in to = Loopback(PortOf(b));
  // The mask the socket layer uses for datagram endpoints.
  Select(b, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
  ASSERT_EQ(host_.WaitFor(SocketEvent(b, FD_WRITE)).size(), 1u);

  for (const char* text : {"one", "two"})
    ASSERT_EQ(W().sendto(a, text, 3, 0, reinterpret_cast<WS_sockaddr*>(&to), sizeof to), 3);
  auto reads = SocketEvent(b, FD_READ);
  ASSERT_EQ(host_.WaitFor(reads).size(), 1u);
  ExpectQuiet(reads, "FD_READ without recvfrom");

  char buf[2];
  WS_sockaddr_in from{};
  int fromlen = sizeof from;
  // A datagram larger than the buffer: the start of it and WSAEMSGSIZE.
  EXPECT_EQ(W().recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<WS_sockaddr*>(&from), &fromlen),
            SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buf, 2), "on");
  EXPECT_EQ(from.sin_port, W().htons(PortOf(a)));
  EXPECT_EQ(host_.WaitFor(reads, 2).size(), 2u) << "the second datagram is still there";
  char big[16];
  EXPECT_EQ(W().recvfrom(b, big, sizeof big, 0, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(big, 3), "two");
  ExpectQuiet(reads, "FD_READ with nothing left");
  EXPECT_EQ(host_.Count([&](const Posted& p) {
    return p.wParam == b && (p.Event() == FD_ACCEPT || p.Event() == FD_CLOSE);
  }),
            0u);
}

}  // namespace
