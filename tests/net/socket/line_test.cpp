// Line mode and the synchronous wait of TAsyncSocket, against real peers on loopback. The
// sessions are made the way the collector makes its agent sessions: a TAsyncSocket adopting an
// accepted connection, in line mode with the default line end and limit, linger on for 300 s, and
// released through a posted message when its peer closes.
#include "net/socket/line.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

using testsupport::ClientTo;
using testsupport::Listener;
using testsupport::Rle;

class LineSessions : public ::testing::Test {
 protected:
  struct Session : TAsyncSocket {
    Session(LineSessions* t, int index) : test(t), index(index) {}
    ~Session() override { ++test->released_[index]; }
    LineSessions* test;
    const int index;
  };

  void SetUp() override {
    listener_ = Listener();
    listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) { Adopt(); };
  }

  void TearDown() override {
    // A session a failed test left behind is freed here, outside its handlers.
    for (auto& [index, s] : sessions_)
      if (s) delete s;
    sessions_.clear();
    clients_.clear();
    listener_.reset();
    PumpFor(20);
  }

  void Adopt() {
    const int index = static_cast<int>(sessions_.size());
    auto* s = new Session(this, index);
    sessions_[index] = s;
    s->SetLineMode(true);
    s->OnDataAvailable = [this, s](rtl::TObject*, WORD) { TakePiece(*s); };
    s->OnLineLimitExceeded = [this, s](rtl::TObject*, int length, bool& clearData) {
      Note(s->index, "limit:" + std::to_string(length));
      clearData = clearData_;
    };
    s->OnSessionClosed = [this, s](rtl::TObject*, WORD err) {
      Note(s->index, "closed:" + std::to_string(err));
      sessions_[s->index] = nullptr;
      s->Release();
    };
    if (configure_) configure_(*s);
    s->SetHSocket(listener_->Accept());
    s->LingerTimeout = 300;
    s->SetLingerOption();
  }

  // One handler call: one Receive of readSize_ bytes, noted as it came.
  void TakePiece(Session& s) {
    struct Depth {
      int& d;
      ~Depth() { --d; }
    } depth{depth_[s.index]};
    EXPECT_EQ(++depth.d, 1) << "a handler of the session was re-entered";
    std::string buf(static_cast<size_t>(readSize_), '\0');
    const int n = readPieces_ ? s.Receive(buf.data(), readSize_) : 0;
    if (n > 0) {
      taken_[s.index] += n;
      buf.resize(static_cast<size_t>(n));
      Note(s.index, Rle(buf));
      if (onPiece_) onPiece_(s, buf);
    } else {
      Note(s.index, "(nothing)");
    }
  }

  void Note(int index, const std::string& what) {
    events_[index].push_back(what);
    order_.push_back(std::string(1, static_cast<char>('A' + index)) + ":" + what);
  }

  // Connects one more client and waits until its session has adopted the connection.
  int Connect() {
    const int index = static_cast<int>(clients_.size());
    auto c = ClientTo(listener_->GetSockPort());
    bool connected = false;
    c->OnSessionConnected = [&connected](rtl::TObject*, WORD err) { connected = err == 0; };
    c->OnDataAvailable = [this, index](rtl::TObject*, WORD) {
      echoed_[index] += clients_[index]->ReceiveStr();
    };
    c->Connect();
    clients_.push_back(std::move(c));
    EXPECT_TRUE(PumpUntil([&] { return connected && sessions_.count(index) > 0; }));
    clients_[index]->OnSessionConnected = nullptr;
    return index;
  }

  // Bytes the session's line engine has read from the system. ReadCount counts line bytes twice,
  // once when the engine reads them and once when the handler takes them.
  int64_t EngineRead(int index) {
    Session* s = sessions_[index];
    return s ? s->ReadCount() - taken_[index] : -1;
  }

  // The client sends chunk; returns when the session's line engine has read it, so that the next
  // chunk comes in a read of its own.
  void Feed(int index, const std::string& chunk) {
    sent_[index] += static_cast<int64_t>(chunk.size());
    clients_[index]->SendStr(chunk);
    const int64_t want = sent_[index];
    ASSERT_TRUE(PumpUntil([&] { return EngineRead(index) >= want; }))
        << "the session did not read " << Rle(chunk);
  }

  // Events of session index without the calls that found nothing to take (plain mode has them:
  // the close runs the receive loop once more).
  std::vector<std::string> Taken(int index) {
    std::vector<std::string> out;
    for (const std::string& e : events_[index])
      if (e != "(nothing)") out.push_back(e);
    return out;
  }

  // The client closes; returns when the session has been released.
  void PeerCloses(int index) {
    clients_[index]->Close();
    ASSERT_TRUE(PumpUntil([&] { return released_[index] > 0; })) << "session not released";
    PumpFor(20);
    EXPECT_EQ(released_[index], 1);
  }

  std::unique_ptr<TCustomAsyncSocket> listener_;
  std::vector<std::unique_ptr<TCustomAsyncSocket>> clients_;
  std::map<int, Session*> sessions_;  // null once released
  std::map<int, int> released_;
  std::map<int, int64_t> taken_, sent_;
  std::map<int, std::vector<std::string>> events_;
  std::map<int, std::string> echoed_;
  std::vector<std::string> order_;  // every session's events, tagged A:, B:, ...
  std::map<int, int> depth_;

  // Per test: applied to each new session; read size of each handler call; what
  // OnLineLimitExceeded leaves in ClearData; an action after each piece taken.
  std::function<void(Session&)> configure_;
  int readSize_ = 1 << 17;
  bool readPieces_ = true;
  bool clearData_ = true;
  std::function<void(Session&, const std::string&)> onPiece_;
};

// ---- chunk sequences -> handler calls ----

struct LineCase {
  const char* name;
  std::vector<std::string> chunks;    // each arrives in a read of its own; then the peer closes
  std::vector<std::string> expected;  // pieces taken (Rle form), limit events, the close
  std::string lineEnd = "\r\n";
  int lineLimit = 65536;
  int readSize = 1 << 17;
};

// Test names carry the case's name; the printed parameter is that name too.
void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Run(char c, size_t n) {
  return std::string(n, c);
}

const LineCase kLineCases[] = {
    {"TwoLinesInOneRead", {"ABC\r\nDEF\r\n"}, {"ABC\\r\\n", "DEF\\r\\n", "closed:0"}},
    {"LineInTwoReads", {"AB", "C\r\n"}, {"ABC\\r\\n", "closed:0"}},
    {"LineEndSplitAcrossReads", {"ABC\r", "\nDEF\r\n"}, {"ABC\\r\\n", "DEF\\r\\n", "closed:0"}},
    {"LineEndLfOnly", {"A\r\nB\n"}, {"A\\r\\n", "B\\n", "closed:0"}, "\n"},
    {"LastLineAtClose", {"A\r\nXYZ"}, {"A\\r\\n", "XYZ", "closed:0"}},
    {"LineOfExactlyTheLimit",
     {"0123456789ABCD\r\n"},
     {"0123456789ABCD\\r\\n", "closed:0"},
     "\r\n",
     16},
    {"OverLimitInOneRead",
     {"0123456789ABCDEFGH\r\nnext\r\n"},
     {"limit:20", "next\\r\\n", "closed:0"},
     "\r\n",
     16},
    {"OverLimitAcrossReads",
     {"0123456789AB", "CDEFGHIJ", "KL\r\nnext\r\n"},
     {"limit:20", "next\\r\\n", "closed:0"},
     "\r\n",
     16},
    {"OverLimitLineEndSplitAtTheDrop",
     {"0123456789ABCDEFGHIJ\r", "\nnext\r\n"},
     {"limit:21", "next\\r\\n", "closed:0"},
     "\r\n",
     16},
    {"OverLimitTailIsNoLastLine",
     {"0123456789ABCDEFGHIJ", "KLM"},
     {"limit:20", "closed:0"},
     "\r\n",
     16},
    {"OverLimitAtTheDefaultLimit",
     {Run('x', 40000), Run('x', 30000) + "\r\nnext\r\n"},
     {"limit:70002", "next\\r\\n", "closed:0"}},
    {"LineOfExactly65536Bytes",
     {Run('y', 40000), Run('y', 25534) + "\r\n"},
     {"{y*65534}\\r\\n", "closed:0"}},
    {"HundredByteLineThroughFortyByteBuffer",
     {Run('a', 40) + Run('b', 40) + Run('c', 18) + "\r\n", "next\r\n"},
     {"{a*40}", "{b*40}", "{c*18}\\r\\n", "next\\r\\n", "closed:0"},
     "\r\n",
     65536,
     40},
};

class LineTable : public LineSessions, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineTable, OneCallPerLine) {
  const LineCase& c = GetParam();
  configure_ = [&c](Session& s) {
    s.LineEnd = c.lineEnd;
    s.LineLimit = c.lineLimit;
  };
  readSize_ = c.readSize;
  const int a = Connect();
  for (const std::string& chunk : c.chunks)
    Feed(a, chunk);
  PeerCloses(a);
  EXPECT_EQ(events_[a], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Chunks, LineTable, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineSessions, OverLimitLineKeptWhenTheHandlerClearsClearData) {
  configure_ = [](Session& s) { s.LineLimit = 16; };
  clearData_ = false;
  const int a = Connect();
  Feed(a, "0123456789ABCDEFGH");
  Feed(a, "IJ\r\nnext\r\n");
  PeerCloses(a);
  // The event comes again on the next read while the line is over the limit.
  EXPECT_EQ(events_[a],
            (std::vector<std::string>{"limit:18", "limit:22", "0123456789ABCDEFGHIJ\\r\\n",
                                      "next\\r\\n", "closed:0"}));
}

TEST_F(LineSessions, HandlerThatPumpsGetsTheRestAfterItReturns) {
  // Session A's handler waits (pumping messages) for session B, as a synchronous mail client
  // does inside the collector's record handler. Meanwhile A's peer sends more lines and closes.
  // B goes on; A's lines come after its handler returns, in order, then one close.
  const int a = Connect();
  const int b = Connect();
  bool bDone = false;
  onPiece_ = [&](Session& s, const std::string& piece) {
    if (s.index == b) bDone = true;
    if (s.index != a || piece != "L1\r\n") return;
    clients_[a]->SendStr("L2\r\nL3\r\n");
    clients_[a]->SendStr("L4");
    clients_[a]->Close();
    clients_[b]->SendStr("other\r\n");
    const int r = s.WaitUntilReady(bDone);
    Note(a, "waited:" + std::to_string(r));
  };
  clients_[a]->SendStr("L1\r\n");
  ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0; }));
  PumpFor(30);
  EXPECT_EQ(order_, (std::vector<std::string>{"A:L1\\r\\n", "B:other\\r\\n", "A:waited:0",
                                              "A:L2\\r\\n", "A:L3\\r\\n", "A:L4", "A:closed:0"}));
  EXPECT_EQ(released_[a], 1);
  PeerCloses(b);
}

TEST_F(LineSessions, SessionClosedByAnotherWhileItsHandlerPumps) {
  // Session B's handler closes session A while A's handler waits: A's close is reported at once,
  // but A is released only after its own handler has returned.
  const int a = Connect();
  const int b = Connect();
  bool bDone = false;
  onPiece_ = [&](Session& s, const std::string& piece) {
    if (s.index == b) {
      sessions_[a]->Close();
      bDone = true;
      return;
    }
    if (piece != "L1\r\n") return;
    clients_[a]->SendStr("L2\r\n");
    clients_[b]->SendStr("close A\r\n");
    const int r = s.WaitUntilReady(bDone);
    Note(a, "waited:" + std::to_string(r) + " released:" + std::to_string(released_[a]));
  };
  clients_[a]->SendStr("L1\r\n");
  ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0; }));
  PumpFor(30);
  EXPECT_EQ(order_, (std::vector<std::string>{"A:L1\\r\\n", "B:close A\\r\\n", "A:closed:0",
                                              "A:waited:0 released:0"}));
  EXPECT_EQ(released_[a], 1);
  PeerCloses(b);
}

TEST_F(LineSessions, HandlerThatClosesItsSessionGetsNoLineTwice) {
  onPiece_ = [](Session& s, const std::string& piece) {
    if (piece == "QUIT\r\n") s.Close();
  };
  const int a = Connect();
  clients_[a]->SendStr("HELO\r\nQUIT\r\nlate\r\n");
  ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0; }));
  PumpFor(30);
  // What came behind the line that made the handler close is dropped with the connection.
  EXPECT_EQ(events_[a], (std::vector<std::string>{"HELO\\r\\n", "QUIT\\r\\n", "closed:0"}));
}

TEST_F(LineSessions, LimitHandlerThatClosesTheSession) {
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"line end in the same read", "0123456789ABCDEFGH\r\nnext\r\n"},
      {"no line end yet", "0123456789ABCDEFGH"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    configure_ = [](Session& s) {
      s.LineLimit = 16;
      s.OnLineLimitExceeded = [&s](rtl::TObject*, int, bool&) { s.Close(); };
    };
    const int a = Connect();
    clients_[a]->SendStr(row.bytes);
    ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0; }));
    PumpFor(30);
    EXPECT_EQ(events_[a], std::vector<std::string>{"closed:0"});
  }
}

TEST_F(LineSessions, LineWhoseHandlerRaisedIsNotDeliveredAgain) {
  onPiece_ = [](Session&, const std::string& piece) {
    if (piece == "BAD\r\n") throw rtl::Exception("handler failed");
  };
  const int a = Connect();
  Feed(a, "BAD\r\n");
  Feed(a, "next\r\n");
  PeerCloses(a);
  EXPECT_EQ(events_[a], (std::vector<std::string>{"BAD\\r\\n", "next\\r\\n", "closed:0"}));
}

TEST_F(LineSessions, ReceiveInsideTheHandlerNeverReadsPastItsLine) {
  // A handler that reads until Receive gives nothing must get its own line only, even with the
  // next bytes already waiting in the system.
  std::vector<std::string> lines;
  const int a = Connect();
  sessions_[a]->OnDataAvailable = [&](rtl::TObject*, WORD) {
    Session& s = *sessions_[a];
    if (lines.empty()) clients_[a]->SendStr("J\r\nKL\r\n");  // lands behind the held "HI"
    std::string line;
    char buf[4];
    for (int guard = 0; guard < 100; ++guard) {
      const int n = s.Receive(buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, n);
    }
    EXPECT_EQ(s.ReceiveStr(), "");  // the line is taken: nothing more to hand out
    lines.push_back(Rle(line));
  };
  Feed(a, "ABCDEFG\r\nHI");
  ASSERT_TRUE(PumpUntil([&] { return lines.size() >= 3; }));
  PeerCloses(a);
  EXPECT_EQ(lines, (std::vector<std::string>{"ABCDEFG\\r\\n", "HIJ\\r\\n", "KL\\r\\n"}));
}

TEST_F(LineSessions, SwitchingLineModeOffHandsOutTheRestInOrder) {
  // After two bytes of the first line the handler leaves line mode: the rest of that line and
  // everything behind it follow as plain data.
  readSize_ = 2;
  onPiece_ = [this](Session& s, const std::string&) {
    if (s.LineMode()) {
      s.SetLineMode(false);
      readSize_ = 1 << 17;
    }
  };
  const int a = Connect();
  Feed(a, "HEAD\r\nbody\r\nmore");
  clients_[a]->SendStr("-tail\r\n");
  ASSERT_TRUE(PumpUntil([&] { return Taken(a).size() >= 3; }));
  PeerCloses(a);
  EXPECT_EQ(Taken(a),
            (std::vector<std::string>{"HE", "AD\\r\\nbody\\r\\nmore", "-tail\\r\\n", "closed:0"}));
}

TEST_F(LineSessions, SwitchingLineModeOnDeliversTheHeldLines) {
  // The handler leaves line mode at the first line and takes nothing in plain mode: the bytes
  // stay held, and switching line mode on again delivers them as lines.
  onPiece_ = [this](Session& s, const std::string& piece) {
    if (piece == "CMD\r\n") {
      s.SetLineMode(false);
      readPieces_ = false;
    }
  };
  const int a = Connect();
  Feed(a, "CMD\r\nL1\r\nL2\r\n");
  PumpFor(50);
  readPieces_ = true;
  events_[a].clear();
  sessions_[a]->SetLineMode(true);
  ASSERT_TRUE(PumpUntil([&] { return events_[a].size() >= 2; }));
  PeerCloses(a);
  EXPECT_EQ(events_[a], (std::vector<std::string>{"L1\\r\\n", "L2\\r\\n", "closed:0"}));
}

struct EditCase {
  const char* name;
  std::vector<std::string> chunks;
  bool echo;
  std::string line;    // delivered (Rle form)
  std::string echoed;  // what the peer got back
};

void PrintTo(const EditCase& c, std::ostream* os) {
  *os << c.name;
}

class LineEditTable : public LineSessions, public ::testing::WithParamInterface<EditCase> {};

TEST_P(LineEditTable, EditsAndEchoes) {
  const EditCase& c = GetParam();
  configure_ = [&c](Session& s) {
    s.LineEdit = true;
    s.LineEcho = c.echo;
  };
  const int a = Connect();
  for (const std::string& chunk : c.chunks)
    Feed(a, chunk);
  ASSERT_TRUE(PumpUntil([&] { return echoed_[a].size() >= c.echoed.size(); }));
  PeerCloses(a);
  EXPECT_EQ(events_[a], (std::vector<std::string>{c.line, "closed:0"}));
  EXPECT_EQ(Rle(echoed_[a]), Rle(c.echoed));
}

const EditCase kEditCases[] = {
    {"Backspace", {"AB\bC\r\n"}, false, "AC\\r\\n", ""},
    {"BackspaceEchoed", {"AB\bC\r\n"}, true, "AC\\r\\n", "AB\b \bC\r\n"},
    {"BackspaceErasesAnEarlierRead", {"AB", "\bC\r\n"}, false, "AC\\r\\n", ""},
    {"BackspaceAtTheStartDoesNothing", {"\bA\r\n"}, true, "A\\r\\n", "A\r\n"},
    {"TabToTheNextMultipleOfEight", {"AB\tC\r\n"}, true, "AB      C\\r\\n", "AB      C\r\n"},
    {"TabGrowsTheLine", {"\t\t\t\tX\r\n"}, false, "{ *32}X\\r\\n", ""},
};

INSTANTIATE_TEST_SUITE_P(Edits, LineEditTable, ::testing::ValuesIn(kEditCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineSessions, SendLineAddsTheLineEnd) {
  const int a = Connect();
  Session& s = *sessions_[a];
  EXPECT_EQ(s.SendLine("abcdef"), 8);
  EXPECT_EQ(s.SendLine(""), 0);
  s.LineEnd = "\n";
  EXPECT_EQ(s.SendLine("x"), 2);
  s.LineEnd = "";
  EXPECT_EQ(s.SendLine("raw"), 3);  // goes out now, not with some later send
  ASSERT_TRUE(PumpUntil([&] { return echoed_[a].size() >= 13; }));
  PumpFor(30);
  EXPECT_EQ(echoed_[a], "abcdef\r\nx\nraw");
  PeerCloses(a);
}

// ---- the synchronous wait ----

TEST(SyncSocket, WaitUntilReadyEndsByFlagTimeoutOrQuit) {
  TAsyncSocket s;
  bool done = false;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) done = true;
  });
  SetTimer(w, 1, 50);
  EXPECT_EQ(s.WaitUntilReady(done), 0);
  EXPECT_TRUE(done);
  KillTimer(w, 1);
  DeallocateHWnd(w);

  bool never = false;
  s.Timeout = 100;
  EXPECT_EQ(s.WaitUntilReady(never), 12001);

  s.Timeout = 0;
  PostQuitMessage(0);
  EXPECT_EQ(s.WaitUntilReady(never), 12001);
  EXPECT_TRUE(QuitPending());  // left for the loop that owns it
  MSG m;
  while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
  }

  int calls = 0;
  EXPECT_EQ(s.Synchronize(
                [&] {
                  ++calls;
                  done = true;
                },
                done),
            0);
  EXPECT_EQ(calls, 1);
}

}  // namespace
