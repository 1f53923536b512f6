// The default host: notifications and lookup results travel through the message layer to a
// hidden window of the calling thread.
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/msg/msg.h"
#include "tests/platform/wsock32/wsock_fixture.h"

namespace {

TEST(WsockMessageHostTest, NotificationsAndLookupsReachAHiddenWindow) {
  W().SetHost(nullptr);
  W().SetResolver(nullptr);
  WSADATA data;
  ASSERT_EQ(W().WSAStartup(MAKEWORD(1, 1), &data), 0);
  std::vector<TMessage> got;
  HWND hwnd = AllocateHWnd([&got](TMessage& m) { got.push_back(m); });
  auto pump = [&got](size_t count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      MsgWait(100);
      ProcessMessages();
    }
  };

  SOCKET s = W().socket(WS_AF_INET, WS_SOCK_DGRAM, 0);
  WS_sockaddr_in sin = Loopback(0);
  ASSERT_EQ(W().bind(s, reinterpret_cast<WS_sockaddr*>(&sin), sizeof sin), 0);
  ASSERT_EQ(W().WSAAsyncSelect(s, hwnd, kSocketMsg, FD_READ | FD_WRITE), 0);
  pump(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, kSocketMsg);
  EXPECT_EQ(got[0].WParam, s);
  EXPECT_EQ(WSAGETSELECTEVENT(got[0].LParam), FD_WRITE);

  alignas(8) char buf[1025];
  HANDLE task = W().WSAAsyncGetHostByName(hwnd, kLookupMsg, "127.0.0.1", buf, sizeof buf);
  ASSERT_NE(task, nullptr);
  pump(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].Msg, kLookupMsg);
  EXPECT_EQ(got[1].WParam, reinterpret_cast<WPARAM>(task));
  EXPECT_EQ(WSAGETASYNCERROR(got[1].LParam), 0);

  // A window that is gone is refused.
  DeallocateHWnd(hwnd);
  EXPECT_EQ(W().WSAAsyncSelect(s, hwnd, kSocketMsg, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(W().WSAAsyncGetHostByName(hwnd, kLookupMsg, "127.0.0.1", buf, sizeof buf), nullptr);
  EXPECT_EQ(W().WSAGetLastError(), WSAEINVAL);
  ASSERT_EQ(W().WSACleanup(), 0);
}

}  // namespace
