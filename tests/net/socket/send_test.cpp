// The send queue and receiving of TCustomAsyncSocket against a real peer on loopback.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/socket/asyncsocket.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"
#include "tests/support/wait.h"

namespace {

using testsupport::ProcessCpuSeconds;
using testsupport::PumpFor;
using testsupport::PumpUntil;

using testsupport::ClientTo;
using testsupport::Listener;

TEST(TBufferChunk, WritePeekRemove) {
  TBuffer b(8);
  EXPECT_EQ(b.Write("abcdefghij", 10), 8);  // only what fits
  EXPECT_EQ(b.Write("x", 1), 0);            // full
  int len = 0;
  const char* p = b.Peek(len);
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(p, len), "abcdefgh");
  EXPECT_EQ(b.Remove(3), 3);
  p = b.Peek(len);
  EXPECT_EQ(std::string(p, len), "defgh");
  EXPECT_EQ(b.Remove(100), 5);  // never more than is pending...
  EXPECT_EQ(b.WrCount(), 0);    // ...and an emptied chunk starts over
  EXPECT_EQ(b.RdCount(), 0);
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Write("12345678", 8), 8);  // the whole capacity is usable again
  EXPECT_EQ(TBuffer(0).BufSize(), 1514);
}

// A client connected to an accepted server socket, both plain TCustomAsyncSocket.
class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A test may set up again for a fresh connection: what is waited for below is that one's.
    server_.reset();
    connected_ = false;
    listener_ = Listener();
    listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) {
      server_ = std::make_unique<TCustomAsyncSocket>();
      server_->SetHSocket(listener_->Accept());
    };
    client_ = ClientTo(listener_->GetSockPort());
    client_->OnSessionConnected = [this](rtl::TObject*, WORD err) { connected_ = err == 0; };
    // The FD_WRITE every new connection gets (nothing queued: OnDataSent) passes before a test
    // counts.
    bool firstWrite = false;
    client_->OnDataSent = [&firstWrite](rtl::TObject*, WORD) { firstWrite = true; };
    client_->Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected_ && server_ != nullptr && firstWrite; }));
    client_->OnDataSent = nullptr;
  }

  static void SetBuffer(TCustomAsyncSocket& s, int option, int size) {
    ASSERT_EQ(Winsock::setsockopt(s.HSocket(), WS_SOL_SOCKET, option,
                                  reinterpret_cast<const char*>(&size), sizeof size),
              0);
  }

  std::unique_ptr<TCustomAsyncSocket> listener_, server_, client_;
  bool connected_ = false;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 7 + i / 251) % 251);
  return s;
}

TEST_F(SendTest, SlowReaderGetsEveryByteInOrderAndOneDataSent) {
  // Small system buffers on both sides and a reader that takes 128 bytes per notification: the
  // system refuses most of the data at first, so the queue must resume at each FD_WRITE.
  SetBuffer(*client_, WS_SO_SNDBUF, 4096);
  SetBuffer(*server_, WS_SO_RCVBUF, 4096);
  std::string received;
  int closedErr = -1;
  server_->ComponentOptions = {wsoNoReceiveLoop};
  server_->OnDataAvailable = [&](rtl::TObject*, WORD) {
    char buf[128];
    int n = server_->Receive(buf, sizeof buf);
    if (n > 0) received.append(buf, n);
  };
  server_->OnSessionClosed = [&](rtl::TObject*, WORD err) { closedErr = err; };
  int dataSent = 0;
  long long reported = 0;
  client_->OnSendData = [&](rtl::TObject*, int n) {
    EXPECT_GT(n, 0);
    EXPECT_LE(n, client_->ChunkSize);
    reported += n;
  };
  client_->OnDataSent = [&](rtl::TObject*, WORD err) {
    EXPECT_EQ(err, 0);
    ++dataSent;
  };

  const std::string payload = Pattern(128 * 1024);
  EXPECT_EQ(client_->SendStr(payload), static_cast<int>(payload.size()));
  EXPECT_FALSE(client_->AllSent());
  EXPECT_GT(client_->BufferedByteCount(), 0);
  EXPECT_EQ(dataSent, 0);
  ASSERT_TRUE(PumpUntil([&] { return dataSent > 0; }, 30000));
  EXPECT_EQ(reported, static_cast<long long>(payload.size()));
  EXPECT_EQ(client_->BufferedByteCount(), 0);

  // The sender closes right behind its data: the close still drains everything first, even with
  // one read per notification.
  client_->Close();
  ASSERT_TRUE(PumpUntil([&] { return closedErr != -1; }, 30000));
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload) << "bytes lost or out of order";
  EXPECT_EQ(dataSent, 1);
}

TEST_F(SendTest, SendToAPeerThatResetEndsTheSessionOnce) {
  std::vector<int> closed;
  bool raised = false;
  client_->OnSessionClosed = [&](rtl::TObject*, WORD err) { closed.push_back(err); };
  client_->Pause();  // the reset is met by the next send, not by a notification
  server_->Abort();
  const SOCKET h = client_->HSocket();
  ASSERT_TRUE(PumpUntil([&] {
    char c;
    return Winsock::recv(h, &c, 1, WS_MSG_PEEK) == SOCKET_ERROR &&
           Winsock::WSAGetLastError() != WSAEWOULDBLOCK;
  }));
  try {
    client_->SendStr("after the reset");
  } catch (const ESocketException&) {
    raised = true;
  }
  EXPECT_FALSE(raised);
  EXPECT_EQ(client_->State(), wsClosed);
  client_->Resume();
  EXPECT_TRUE(PumpUntil([&] { return !closed.empty(); }));
  PumpFor(50);  // a second report would come now
  EXPECT_EQ(closed, std::vector<int>{WSAECONNRESET});
}

TEST_F(SendTest, SendWithoutAConnectionFails) {
  TCustomAsyncSocket idle;
  try {
    idle.SendStr("x");
    ADD_FAILURE() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message, "Socket is not connected (#10057 in Send)");
  }
  int reported = 0;
  idle.OnError = [&](rtl::TObject*) { ++reported; };
  EXPECT_EQ(idle.SendStr("x"), -1);
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(idle.LastError, WSAENOTCONN);
}

TEST_F(SendTest, ReceiveStrTakesEverythingPending) {
  std::vector<size_t> pieces;
  std::string got;
  server_->OnDataAvailable = [&](rtl::TObject*, WORD) {
    std::string s = server_->ReceiveStr();
    pieces.push_back(s.size());
    got += s;
  };
  const std::string payload = Pattern(4000);
  client_->SendStr(payload);
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= payload.size(); }));
  EXPECT_EQ(pieces.front(), 4000u);
  EXPECT_TRUE(got == payload);
}

TEST_F(SendTest, DataNobodyReadsIsDiscarded) {
  // Without an OnDataAvailable handler the socket reads and drops, so the notification does not
  // come back forever and the bytes do not reach a handler assigned later. The bytes go in one
  // send, so they arrive at once: none can come after the drain seen below.
  client_->ChunkSize = 8192;
  client_->SendStr(Pattern(5000));
  ULONG pending = 1;
  ASSERT_TRUE(PumpUntil([&] {
    Winsock::ioctlsocket(server_->HSocket(), WS_FIONREAD, &pending);
    return pending == 0;
  }));
  PumpFor(30);
  std::string got;
  server_->OnDataAvailable = [&](rtl::TObject*, WORD) { got += server_->ReceiveStr(); };
  client_->SendStr("tail");
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
  PumpFor(30);
  EXPECT_EQ(got, "tail");
}

// Flush waits in the loop until the queue is sent; it raises when the bytes cannot all go.
TEST_F(SendTest, FlushSendsEverythingOrRaises) {
  const struct {
    const char* name;
    bool peerReads;    // else the peer's notifications are paused: it reads nothing
    bool peerResets;   // the peer aborts its side once the queue is full
    int flushTimeout;  // seconds
  } rows[] = {
      {"a reading peer, no time limit", true, false, 0},
      {"a peer that stops reading", false, false, 1},
      {"a peer that resets the connection", false, true, 600},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    // Small system buffers, so that loopback cannot absorb what is sent (a reader's own buffer
    // stays large: a small window makes each round wait for the peer's acknowledgement).
    SetBuffer(*client_, WS_SO_SNDBUF, 4096);
    if (!row.peerReads) SetBuffer(*server_, WS_SO_RCVBUF, 4096);
    size_t received = 0;
    server_->OnDataAvailable = [&](rtl::TObject*, WORD) {
      received += server_->ReceiveStr().size();
    };
    if (!row.peerReads) server_->Pause();
    const std::string payload = Pattern(1 << 20);
    ASSERT_EQ(client_->SendStr(payload), static_cast<int>(payload.size()));
    ASSERT_GT(client_->BufferedByteCount(), 0) << "the system took everything at once";
    if (row.peerResets) server_->Abort();
    client_->FlushTimeout = row.flushTimeout;
    std::string failure;
    try {
      client_->Flush();
    } catch (const ESocketException& e) {
      failure = e.Message;
    }
    if (row.peerReads) {
      EXPECT_EQ(failure, "");
      EXPECT_EQ(client_->BufferedByteCount(), 0);
      EXPECT_TRUE(PumpUntil([&] { return received == payload.size(); }, 30000));
    } else {
      EXPECT_EQ(failure, "Flush failed: " + std::to_string(client_->BufferedByteCount()) +
                             " bytes not sent");
      EXPECT_GT(client_->BufferedByteCount(), 0);
    }
    client_->Abort();
    server_.reset();
    client_.reset();
    listener_.reset();
    connected_ = false;
  }
}

// Flush's wait ends, and raises with the count of bytes not sent, when the thread's loop is
// ending (a quit is pending: the wait must not turn into a spin) or when an abort, called
// directly or made by the socket for a handler's exception, discards the queue it waited for.
// The peer reads nothing until a guard timer lets it, 30 s later: a Flush that waits through
// its end gets everything sent and returns normally.
TEST_F(SendTest, FlushEndsByAQuitOrAnAbort) {
  enum Ending { kQuit, kAbort, kHandlerException };
  const struct {
    const char* name;
    Ending ending;
    int flushTimeout;  // seconds
  } rows[] = {
      {"a quit pending, FlushTimeout 2", kQuit, 2},
      {"a quit pending, no time limit", kQuit, 0},
      {"an abort from a timer", kAbort, 0},
      {"an abort for a handler's exception", kHandlerException, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    SetBuffer(*client_, WS_SO_SNDBUF, 4096);
    SetBuffer(*server_, WS_SO_RCVBUF, 4096);
    server_->OnDataAvailable = [&](rtl::TObject*, WORD) { server_->ReceiveStr(); };
    server_->Pause();
    ASSERT_EQ(client_->SendStr(Pattern(1 << 20)), 1 << 20);
    ASSERT_GT(client_->BufferedByteCount(), 0) << "the system took everything at once";
    client_->FlushTimeout = row.flushTimeout;

    int unsent = -1;  // what the abort discarded, or what the queue still holds
    client_->OnBgException = [&](rtl::TObject*, const rtl::Exception&, bool&) {
      unsent = client_->BufferedByteCount();
    };
    HWND timers = AllocateHWnd([&](TMessage& m) {
      if (m.Msg != WM_TIMER) return;
      KillTimer(timers, m.WParam);
      if (m.WParam == 2) {
        server_->Resume();  // the guard: the wait would never end otherwise
      } else if (row.ending == kAbort) {
        unsent = client_->BufferedByteCount();
        client_->Abort();
      } else {
        PostMessage(client_->WindowHandle(), WM_TRIGGER_EXCEPTION, 0, 0);
      }
    });
    SetTimer(timers, 2, 30000);
    if (row.ending == kQuit)
      PostQuitMessage(0);
    else
      SetTimer(timers, 1, 50);
    const double cpuBefore = ProcessCpuSeconds();
    std::string failure;
    try {
      client_->Flush();
    } catch (const ESocketException& e) {
      failure = e.Message;
    }
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    KillTimer(timers, 1);
    KillTimer(timers, 2);
    DeallocateHWnd(timers);
    if (row.ending == kQuit) {
      EXPECT_TRUE(QuitPending());  // left for the loop that owns it
      MSG m;
      while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
      }
      EXPECT_LT(cpu, 0.2) << "seconds of processor time in Flush";
      unsent = client_->BufferedByteCount();
    }
    EXPECT_GT(unsent, 0);
    EXPECT_EQ(failure, "Flush failed: " + std::to_string(unsent) + " bytes not sent");
    client_->Abort();
    server_.reset();
    client_.reset();
    listener_.reset();
    connected_ = false;
  }
}

TEST(SendToDatagram, DataSentFollowsFromTheLoop) {
  TCustomAsyncSocket server;
  server.SetProto("udp");
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  std::string got;
  server.OnDataAvailable = [&](rtl::TObject*, WORD) { got += server.ReceiveStr(); };
  server.Listen();

  TCustomAsyncSocket client;
  client.SetProto("udp");
  client.SetAddr("127.0.0.1");
  client.SetPort("9");  // unused: SendTo names its own destination
  // The FD_WRITE at registration (nothing queued: OnDataSent) passes before the test counts.
  int dataSent = 0;
  client.OnDataSent = [&](rtl::TObject*, WORD) { ++dataSent; };
  client.Connect();
  ASSERT_EQ(client.State(), wsConnected);
  ASSERT_TRUE(PumpUntil([&] { return dataSent == 1; }));
  dataSent = 0;
  std::vector<int> sends;
  client.OnSendData = [&](rtl::TObject*, int n) { sends.push_back(n); };
  WS_sockaddr_in to = {};
  to.sin_family = WS_AF_INET;
  to.sin_port = Winsock::htons(static_cast<USHORT>(std::stoi(server.GetSockPort())));
  to.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
  EXPECT_EQ(client.SendTo(to, sizeof to, "datagram", 8), 8);
  EXPECT_EQ(sends, std::vector<int>{8});
  EXPECT_EQ(dataSent, 0);  // never inside the call
  ASSERT_TRUE(PumpUntil([&] { return got == "datagram" && dataSent > 0; }));
  EXPECT_EQ(dataSent, 1);
}

}  // namespace
