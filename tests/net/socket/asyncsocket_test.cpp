#include "net/socket/asyncsocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"

namespace {

using testsupport::ClientTo;
using testsupport::Listener;
using testsupport::PumpFor;
using testsupport::PumpUntil;

// A socket that counts its destructions, to see when a release really happens.
struct CountedSocket : TCustomAsyncSocket {
  explicit CountedSocket(int* destroyed) : destroyed_(destroyed) {}
  ~CountedSocket() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(AsyncSocket, TcpSessionRunsEveryHandlerOnItsOwnThread) {
  std::vector<DWORD> handlerThreads;
  DWORD socketThread = 0;
  std::string echoed;
  int closedOnServer = 0;
  std::thread t([&] {
    socketThread = GetCurrentThreadId();
    auto note = [&] { handlerThreads.push_back(GetCurrentThreadId()); };
    auto listener = Listener();
    std::unique_ptr<TCustomAsyncSocket> session;
    listener->OnSessionAvailable = [&](rtl::TObject*, WORD err) {
      note();
      ASSERT_EQ(err, 0);
      session = std::make_unique<TCustomAsyncSocket>();
      session->OnDataAvailable = [&](rtl::TObject*, WORD) {
        note();
        std::string s = session->ReceiveStr();
        if (!s.empty()) session->SendStr(s);
      };
      session->OnSessionClosed = [&](rtl::TObject*, WORD) {
        note();
        ++closedOnServer;
      };
      session->SetHSocket(listener->Accept());
      EXPECT_EQ(session->State(), wsConnected);
      EXPECT_EQ(session->PeerAddr(), "127.0.0.1");
    };
    auto client = ClientTo(listener->GetSockPort());
    client->OnSessionConnected = [&](rtl::TObject*, WORD err) {
      note();
      EXPECT_EQ(err, 0);
      client->SendStr("hello");
    };
    client->OnDataAvailable = [&](rtl::TObject*, WORD) {
      note();
      echoed += client->ReceiveStr();
    };
    client->Connect();
    EXPECT_EQ(client->State(), wsConnecting);
    EXPECT_TRUE(PumpUntil([&] { return echoed == "hello"; }));
    client->Close();
    EXPECT_EQ(client->State(), wsClosed);
    EXPECT_TRUE(PumpUntil([&] { return closedOnServer > 0; }));
    PumpFor(50);
  });
  t.join();
  EXPECT_EQ(closedOnServer, 1);
  ASSERT_FALSE(handlerThreads.empty());
  for (DWORD id : handlerThreads)
    EXPECT_EQ(id, socketThread);
}

TEST(AsyncSocket, UdpListenerAnswersADatagram) {
  TCustomAsyncSocket server;
  int connected = -1;
  server.OnSessionConnected = [&](rtl::TObject*, WORD err) { connected = err; };
  server.SetProto("udp");
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.OnDataAvailable = [&](rtl::TObject*, WORD) {
    char buf[1024];
    WS_sockaddr_in from = {};
    int fromLen = sizeof from;
    int n = server.ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n > 0) {
      std::string reply = "re:" + std::string(buf, n);
      server.SendTo(from, fromLen, reply.data(), static_cast<int>(reply.size()));
    }
  };
  server.Listen();
  EXPECT_EQ(server.State(), wsConnected);
  EXPECT_EQ(connected, 0);
  EXPECT_EQ(server.PeerAddr(), "error");   // a datagram socket has no peer...
  EXPECT_EQ(server.State(), wsConnected);  // ...and asking does not close it

  TCustomAsyncSocket client;
  client.SetProto("udp");
  client.SetAddr("127.0.0.1");
  client.SetPort(server.GetSockPort());
  std::string got;
  client.OnDataAvailable = [&](rtl::TObject*, WORD) { got += client.ReceiveStr(); };
  client.Connect();
  EXPECT_EQ(client.State(), wsConnected);
  EXPECT_EQ(client.Send("ping", 4), 4);
  EXPECT_TRUE(PumpUntil([&] { return got == "re:ping"; }));
  client.Close();
  server.Close();
  EXPECT_EQ(server.Proto(), "tcp");  // a closed socket is back at its defaults
}

TEST(AsyncSocket, ErrorsRaiseOrReport) {
  TCustomAsyncSocket s;
  try {
    s.Accept();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "Invalid argument (#10022 in not a listening socket)");
  }
  int reported = 0;
  s.OnError = [&](rtl::TObject*) { ++reported; };
  EXPECT_EQ(s.Accept(), INVALID_SOCKET);
  EXPECT_EQ(s.LastError, 10022);
  s.Connect();  // no port: reported, not raised
  s.SetPort("1");
  s.Connect();  // no address
  EXPECT_EQ(reported, 3);
  s.OnError = nullptr;
  try {
    s.Connect();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "Connect: No IP Address Specified");
  }
}

TEST(AsyncSocket, SecondListenerOnAPortGetsAddressInUse) {
  auto first = Listener();
  TCustomAsyncSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(first->GetSockPort());
  try {
    second.Listen();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "Address already in use (#10048 in Bind)");
  }
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.HSocket(), INVALID_SOCKET);  // no half-made listener left behind
}

TEST(AsyncSocket, RefusedConnectReportsThroughSessionConnected) {
  const testsupport::ClosedPort refusing;
  auto c = ClientTo(std::to_string(refusing.Port()));
  int connectErr = -1;
  int closed = 0;
  c->OnSessionConnected = [&](rtl::TObject*, WORD err) { connectErr = err; };
  c->OnSessionClosed = [&](rtl::TObject*, WORD) { ++closed; };
  c->Connect();
  EXPECT_TRUE(PumpUntil([&] { return connectErr != -1 && c->State() == wsClosed; }));
  EXPECT_EQ(connectErr, WSAECONNREFUSED);
  PumpFor(50);
  EXPECT_LE(closed, 1);
}

TEST(AsyncSocket, SendQueueChunksAndOneDataSentFromTheLoop) {
  auto listener = Listener();
  std::unique_ptr<TCustomAsyncSocket> session;
  std::string received;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    session = std::make_unique<TCustomAsyncSocket>();
    session->OnDataAvailable = [&](rtl::TObject*, WORD) { received += session->ReceiveStr(); };
    session->SetHSocket(listener->Accept());
  };
  auto client = ClientTo(listener->GetSockPort());
  bool connected = false;
  client->OnSessionConnected = [&](rtl::TObject*, WORD) { connected = true; };
  // The first FD_WRITE of the connection (nothing queued: OnDataSent) passes before counting.
  int dataSent = 0;
  client->OnDataSent = [&](rtl::TObject*, WORD) { ++dataSent; };
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return connected && session && dataSent == 1; }));
  dataSent = 0;

  std::vector<int> sends;
  client->OnSendData = [&](rtl::TObject*, int n) { sends.push_back(n); };
  std::string payload(3000, 'x');
  for (size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(client->SendStr(payload), 3000);
  EXPECT_EQ(sends, (std::vector<int>{1460, 1460, 80}));
  EXPECT_EQ(dataSent, 0);  // never inside Send
  EXPECT_TRUE(PumpUntil([&] { return received.size() == 3000 && dataSent >= 1; }));
  PumpFor(30);  // a second OnDataSent would come now
  EXPECT_EQ(dataSent, 1);
  EXPECT_EQ(received, payload);
  EXPECT_EQ(client->Send(nullptr, 0), 0);  // zero bytes: still one OnDataSent from the loop
  EXPECT_TRUE(PumpUntil([&] { return dataSent >= 2; }));
  PumpFor(30);
  EXPECT_EQ(dataSent, 2);
}

TEST(AsyncSocket, ReleaseInsideSessionClosedFreesAfterTheHandler) {
  auto listener = Listener();
  int destroyed = 0;
  int closed = 0;
  CountedSocket* session = nullptr;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    session = new CountedSocket(&destroyed);
    session->OnDataAvailable = [&](rtl::TObject*, WORD) { session->ReceiveStr(); };
    session->OnSessionClosed = [&](rtl::TObject*, WORD) {
      ++closed;
      session->Release();
      EXPECT_EQ(destroyed, 0);  // not under its own handler
    };
    session->SetHSocket(listener->Accept());
  };
  auto client = ClientTo(listener->GetSockPort());
  client->OnSessionConnected = [&](rtl::TObject*, WORD) {
    client->SendStr("bye");
    client->Close();
  };
  client->Connect();
  EXPECT_TRUE(PumpUntil([&] { return destroyed == 1; }));
  EXPECT_EQ(closed, 1);
}

TEST(AsyncSocket, ExceptionInAHandlerAbortsUnlessTheHandlerKeepsIt) {
  auto listener = Listener();
  std::unique_ptr<TCustomAsyncSocket> session;
  int peerClosedErr = -1;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    session = std::make_unique<TCustomAsyncSocket>();
    session->OnSessionClosed = [&](rtl::TObject*, WORD err) { peerClosedErr = err; };
    session->OnDataAvailable = [&](rtl::TObject*, WORD) { session->ReceiveStr(); };
    session->SetHSocket(listener->Accept());
  };
  bool kept = true;
  std::string seen;
  auto client = ClientTo(listener->GetSockPort());
  client->OnSessionConnected = [&](rtl::TObject*, WORD) { throw rtl::Exception("boom"); };
  client->OnBgException = [&](rtl::TObject*, const rtl::Exception& e, bool& canClose) {
    seen = e.Message;
    canClose = !kept;
  };
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  PumpFor(30);
  EXPECT_EQ(client->State(), wsConnected);

  // The test message raises inside the socket; this time the handler lets it abort.
  kept = false;
  seen.clear();
  PostMessage(client->WindowHandle(), WM_TRIGGER_EXCEPTION, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return client->State() == wsClosed; }));
  EXPECT_EQ(seen, "Test exception in AsyncSocket");
  // An abort is a reset for the peer.
  EXPECT_TRUE(PumpUntil([&] { return peerClosedErr != -1; }));
  EXPECT_EQ(peerClosedErr, WSAECONNRESET);
}

TEST(AsyncSocket, ForeignAndPausedNotificationsAreIgnored) {
  auto listener = Listener();
  int accepts = 0;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    ++accepts;
    SOCKET h = listener->Accept();
    if (h != INVALID_SOCKET) Winsock::closesocket(h);
  };
  // A notification for another handle, and one for the invalid handle, do nothing.
  PostMessage(listener->WindowHandle(), WM_ASYNCSELECT, listener->HSocket() + 1,
              WSAMAKESELECTREPLY(FD_ACCEPT, 0));
  PostMessage(listener->WindowHandle(), WM_ASYNCSELECT, INVALID_SOCKET,
              WSAMAKESELECTREPLY(FD_ACCEPT, 0));
  PumpFor(30);
  EXPECT_EQ(accepts, 0);
  listener->Pause();
  auto client = ClientTo(listener->GetSockPort());
  client->Connect();
  PumpFor(100);
  EXPECT_EQ(accepts, 0);
  listener->Resume();
  EXPECT_TRUE(PumpUntil([&] { return accepts == 1; }));
}

TEST(AsyncSocket, OwnNotificationsWaitWhileItsHandlerPumps) {
  // The handler of one socket pumps messages while its peer sends more and closes: the socket's
  // own events come after the handler returns, in order; its close comes once, last.
  auto listener = Listener();
  auto client = ClientTo(listener->GetSockPort());
  std::unique_ptr<TCustomAsyncSocket> session;
  std::vector<std::string> events;
  int depth = 0;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    session = std::make_unique<TCustomAsyncSocket>();
    session->OnDataAvailable = [&](rtl::TObject*, WORD) {
      EXPECT_EQ(depth, 0) << "re-entered";
      ++depth;
      events.push_back("data:" + session->ReceiveStr());
      if (events.size() == 1) {
        client->SendStr("two");
        client->Close();
        PumpFor(150);  // the peer's bytes and its close arrive while this handler runs
        events.push_back("handler-end");
      }
      --depth;
    };
    session->OnSessionClosed = [&](rtl::TObject*, WORD) { events.push_back("closed"); };
    session->SetHSocket(listener->Accept());
  };
  bool connected = false;
  client->OnSessionConnected = [&](rtl::TObject*, WORD) { connected = true; };
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return connected && session; }));
  client->SendStr("one");
  ASSERT_TRUE(PumpUntil([&] { return !events.empty() && events.back() == "closed"; }));
  // Empty reads (a stale FD_READ, the drain before the close) carry no data and are left out.
  std::vector<std::string> real;
  for (auto& e : events)
    if (e != "data:") real.push_back(e);
  EXPECT_EQ(real, (std::vector<std::string>{"data:one", "handler-end", "data:two", "closed"}));
}

// An adopted connection (an accepted one) takes the no-delay option as a connecting one does.
TEST(AsyncSocket, AdoptedConnectionTakesTcpNoDelay) {
  auto listener = Listener();
  std::vector<std::unique_ptr<TCustomAsyncSocket>> sessions;
  listener->OnSessionAvailable = [&](rtl::TObject*, WORD) {
    auto session = std::make_unique<TCustomAsyncSocket>();
    if (sessions.size() == 1) session->ComponentOptions.Include(wsoTcpNoDelay);
    session->SetHSocket(listener->Accept());
    sessions.push_back(std::move(session));
  };
  auto plain = ClientTo(listener->GetSockPort());
  plain->Connect();
  ASSERT_TRUE(PumpUntil([&] { return sessions.size() == 1; }));
  auto quick = ClientTo(listener->GetSockPort());
  quick->Connect();
  ASSERT_TRUE(PumpUntil([&] { return sessions.size() == 2; }));
  for (int i = 0; i < 2; ++i) {
    int on = -1, len = sizeof on;
    ASSERT_EQ(Winsock::getsockopt(sessions[i]->HSocket(), WS_IPPROTO_TCP, WS_TCP_NODELAY,
                                  reinterpret_cast<char*>(&on), &len),
              0);
    EXPECT_EQ(on != 0, i == 1) << "session " << i;
  }
}

}  // namespace
