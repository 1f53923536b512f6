// Line mode and the synchronous wait of TAsyncSocket, against real peers on loopback. The
// sessions are made the way the collector makes its agent sessions: a TAsyncSocket adopting an
// accepted connection, in line mode with the default line end and limit, linger on for 300 s, and
// released through a posted message when its peer closes.
#include "net/socket/line.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"
#include "tests/support/wait.h"

namespace {

using testsupport::ProcessCpuSeconds;
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

// ---- lines a handler does not take ----

// Call by call, how much the handler takes of what it is offered (0: nothing); calls beyond the
// list take everything.
struct DeclineCase {
  const char* name;
  std::vector<int> takes;
  std::vector<std::string> expected;  // what was taken, in Rle form
};

void PrintTo(const DeclineCase& c, std::ostream* os) {
  *os << c.name;
}

const DeclineCase kDeclineCases[] = {
    {"FirstLineDeclinedOnce", {0}, {"ABC\\r\\n", "DEF\\r\\n"}},
    {"DeclinedAfterTwoBytes", {2, 0}, {"AB", "C\\r\\n", "DEF\\r\\n"}},
    {"SecondLineDeclinedOnce", {5, 0}, {"ABC\\r\\n", "DEF\\r\\n"}},
};

class DeclineTable : public LineSessions, public ::testing::WithParamInterface<DeclineCase> {};

TEST_P(DeclineTable, DeclinedLineComesAgainAndNothingIsLost) {
  const DeclineCase& c = GetParam();
  size_t call = 0;
  std::vector<std::string> taken;
  const int a = Connect();
  sessions_[a]->OnDataAvailable = [&](rtl::TObject* sender, WORD) {
    auto& s = *static_cast<Session*>(sender);
    const int size = call < c.takes.size() ? c.takes[call] : 1 << 17;
    ++call;
    if (size == 0) return;
    std::string buf(static_cast<size_t>(size), '\0');
    const int n = s.Receive(buf.data(), size);
    if (n > 0) taken.push_back(Rle(buf.substr(0, static_cast<size_t>(n))));
  };
  clients_[a]->SendStr("ABC\r\nDEF\r\n");  // one read: DEF is held behind ABC
  ASSERT_TRUE(PumpUntil([&] { return taken.size() >= c.expected.size(); }, 30000));
  PeerCloses(a);
  EXPECT_EQ(taken, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Calls, DeclineTable, ::testing::ValuesIn(kDeclineCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Ends of a wait from outside the handler. The handler declines every line, unless told to take
// (or in plain mode, where it takes whatever is there); the first line "ABC" waits, and "XYZ"
// arrives behind it, unread. Another window's timer then switches line mode off, or pauses and
// later resumes the session: what the system holds, and what the peer sends afterwards, follows.
TEST_F(LineSessions, AWaitEndedFromOutsideResumesReading) {
  const struct {
    const char* name;
    bool pause;          // else line mode is switched off
    std::string behind;  // what the system held behind the waiting line, as it is taken
    std::vector<std::string> afterTheWait;
  } rows[] = {
      {"line mode switched off",
       false,
       "XYZ",
       {"switch", "ABC\\r\\n", "XYZ", "later\\r\\n", "closed:0"}},
      {"paused and resumed",
       true,
       "XYZ\\r\\n",
       {"pause", "resume", "ABC\\r\\n", "XYZ\\r\\n", "later\\r\\n", "closed:0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const int a = Connect();
    Session& s = *sessions_[a];
    bool take = false;
    s.OnDataAvailable = [&, a](rtl::TObject* sender, WORD) {
      auto& session = *static_cast<Session*>(sender);
      if (session.LineMode() && !take) {
        Note(a, "offered:" + std::to_string(session.RcvdCount()));
        return;
      }
      std::string buf(1 << 17, '\0');
      const int n = session.Receive(buf.data(), static_cast<int>(buf.size()));
      if (n > 0) Note(a, Rle(buf.substr(0, static_cast<size_t>(n))));
    };
    Feed(a, "ABC\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !events_[a].empty(); }));
    clients_[a]->SendStr(row.pause ? "XYZ\r\n" : "XYZ");  // (a line in line mode)
    // The notification of these bytes is spent on the waiting line, which is offered again.
    const size_t offers = events_[a].size();
    ASSERT_TRUE(PumpUntil([&] {
      ULONG pending = 0;
      Winsock::ioctlsocket(s.HSocket(), WS_FIONREAD, &pending);
      return pending > 0 && events_[a].size() >= offers + 2;
    }));
    HWND other = AllocateHWnd([&](TMessage& m) {
      if (m.Msg != WM_TIMER) return;
      KillTimer(other, m.WParam);
      if (!row.pause) {
        Note(a, "switch");
        s.SetLineMode(false);
      } else if (m.WParam == 1) {
        Note(a, "pause");
        s.Pause();
        take = true;
        SetTimer(other, 2, 3 * kLineRetryMs);  // nothing is offered meanwhile
      } else {
        Note(a, "resume");
        s.Resume();
      }
    });
    SetTimer(other, 1, 10);
    const auto& events = events_[a];
    ASSERT_TRUE(PumpUntil([&] {
      return std::find(events.begin(), events.end(), row.behind) != events.end();
    })) << "the bytes behind the waiting line were not read";
    clients_[a]->SendStr("later\r\n");
    ASSERT_TRUE(PumpUntil([&] { return events_[a].back() == "later\\r\\n"; }));
    DeallocateHWnd(other);
    PeerCloses(a);
    const auto wait = std::find(events.begin(), events.end(), row.afterTheWait[0]);
    ASSERT_NE(wait, events.end());
    for (auto e = events.begin(); e != wait; ++e)
      EXPECT_EQ(*e, "offered:5");
    EXPECT_EQ(std::vector<std::string>(wait, events.end()), row.afterTheWait);
  }
}

// Resident memory of this process, in KiB.
long ResidentKiB() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST_F(LineSessions, HandlerThatNeverTakesItsLineHoldsThePeerBackAtNoCost) {
  // The peer is a plain blocking socket on a thread of its own, so that what it sends is never
  // in this process's memory: it sends 10 MB of lines while the handler takes none.
  readPieces_ = false;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::stoi(listener_->GetSockPort())));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  ASSERT_TRUE(PumpUntil([&] { return sessions_.count(0) > 0; }, 30000));

  constexpr size_t kTotal = 10 << 20;
  std::atomic<size_t> sent{0};
  std::atomic<bool> ready{false}, stop{false}, blocked{false};
  std::thread peer([&] {
    std::string chunk;
    while (chunk.size() < 64 * 1024)
      chunk += "a line of an agent that nobody takes\r\n";
    ready = true;
    while (!stop && sent < kTotal) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 100) == 0) {
        blocked = true;  // the system's buffers are full: the session reads nothing
        continue;
      }
      const ssize_t n = send(fd, chunk.data(), std::min(chunk.size(), kTotal - sent), MSG_DONTWAIT);
      if (n > 0) sent += static_cast<size_t>(n);
    }
  });
  ASSERT_TRUE(PumpUntil([&] { return ready.load(); }, 30000));
  const long residentBefore = ResidentKiB();  // with the peer's thread and buffer made
  ASSERT_TRUE(PumpUntil([&] { return !events_[0].empty() && (blocked || sent >= kTotal); }, 60000));

  const double cpuBefore = ProcessCpuSeconds();
  PumpFor(2000);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const long grown = ResidentKiB() - residentBefore;
  stop = true;
  peer.join();
  close(fd);

  EXPECT_LT(cpu, 0.1) << "seconds of processor time while the line waited";
  EXPECT_LT(grown, 4 * 1024) << "KiB grown while the peer sent " << sent << " bytes";
  EXPECT_LT(EngineRead(0), 256 * 1024) << "bytes read from the system while the line waited";
  // The line is offered again, each time to a handler that takes nothing.
  EXPECT_GE(events_[0].size(), 2u);
  for (const std::string& e : events_[0])
    EXPECT_EQ(e, "(nothing)");
}

TEST_F(LineSessions, HeldLinesAreOfferedOnceInOrderAtTheClose) {
  // The peer sends "ABC\r\nDE\r\nF" in one piece; the handler declines the first line (after
  // taking "A", in some rows), so it waits with the rest held behind it. At the close each held
  // line is offered exactly once more, in order, then the tail; what is declined then is dropped.
  // This side closes right after the first offer; when the peer closes (a plain socket), its data
  // and its close are both there before the session reads anything. Either way nothing but the
  // close offers the lines again.
  const struct {
    const char* name;
    bool closedHere;   // this side closes; else the peer
    int takeFirst;     // bytes taken at the first offer
    bool takeAtClose;  // the handler takes what the close offers
    std::vector<std::string> expected;
  } rows[] = {
      {"closed here, nothing taken",
       true,
       0,
       false,
       {"offered:5", "close", "offered:5", "offered:4", "offered:1", "closed:0"}},
      {"closed here, A taken first",
       true,
       1,
       false,
       {"A", "offered:4", "close", "offered:4", "offered:4", "offered:1", "closed:0"}},
      {"closed here, taken at the close",
       true,
       0,
       true,
       {"offered:5", "close", "ABC\\r\\n", "DE\\r\\n", "F", "closed:0"}},
      {"closed by the peer, nothing taken",
       false,
       0,
       false,
       {"offered:5", "offered:5", "offered:4", "offered:1", "closed:0"}},
      {"closed by the peer, A taken first",
       false,
       1,
       false,
       {"A", "offered:4", "offered:4", "offered:4", "offered:1", "closed:0"}},
  };
  const int port = std::stoi(listener_->GetSockPort());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const int a = static_cast<int>(sessions_.size());
    bool closing = false;
    configure_ = [&](Session& s) {
      s.OnDataAvailable = [&](rtl::TObject* sender, WORD) {
        auto& session = *static_cast<Session*>(sender);
        const bool first = events_[a].empty();
        if (first && row.takeFirst > 0) {
          std::string buf(static_cast<size_t>(row.takeFirst), '\0');
          buf.resize(static_cast<size_t>(std::max(0, session.Receive(buf.data(), row.takeFirst))));
          Note(a, Rle(buf));
        } else if (closing && row.takeAtClose) {
          Note(a, Rle(session.ReceiveStr()));
        } else {
          Note(a, "offered:" + std::to_string(session.RcvdCount()));
        }
      };
    };
    const int peer = testsupport::ConnectTcp(port);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(testsupport::SendAll(peer, "ABC\r\nDE\r\nF"));
    if (row.closedHere) {
      ASSERT_TRUE(PumpUntil([&] { return events_[a].size() >= (row.takeFirst > 0 ? 2u : 1u); }));
      Note(a, "close");
      closing = true;
      sessions_[a]->Close();
    } else {
      // The session is not made before the test pumps: once the peer's close has been
      // acknowledged, the session's first read takes everything and meets the close.
      ASSERT_EQ(shutdown(peer, SHUT_WR), 0);
      ASSERT_TRUE(testsupport::WaitFor([&] {
        tcp_info info{};
        socklen_t len = sizeof info;
        return getsockopt(peer, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
               info.tcpi_state == TCP_FIN_WAIT2;
      }));
    }
    ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0; }));
    PumpFor(20);
    close(peer);
    EXPECT_EQ(events_[a], row.expected);
    EXPECT_EQ(released_[a], 1);
  }
}

TEST_F(LineSessions, WaitForCloseInsideAHandlerEndsWhenThePeerCloses) {
  // The handler of "WAIT" waits for the peer's close; a timer meanwhile makes the peer send one
  // more line and close. The wait ends, and the line and the close come after the handler.
  const int a = Connect();
  bool timedOut = false;
  HWND peerWindow = AllocateHWnd([&](TMessage& m) {
    if (m.Msg != WM_TIMER) return;
    KillTimer(peerWindow, m.WParam);
    if (m.WParam == 1) {
      clients_[a]->SendStr("late\r\n");
      clients_[a]->Close();
    } else {
      timedOut = true;  // ends a wait that never ends, so that the test fails instead of hanging
      PostQuitMessage(0);
    }
  });
  onPiece_ = [&](Session& s, const std::string& piece) {
    if (piece != "WAIT\r\n") return;
    SetTimer(peerWindow, 1, 50);
    SetTimer(peerWindow, 2, 60000);
    s.WaitForClose();
    Note(a, "waited:" + std::to_string(s.LastError));
    KillTimer(peerWindow, 2);
  };
  clients_[a]->SendStr("WAIT\r\n");
  ASSERT_TRUE(PumpUntil([&] { return released_[a] > 0 || timedOut; }, 90000));
  DeallocateHWnd(peerWindow);
  EXPECT_FALSE(timedOut);
  MSG m;
  while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(events_[a],
            (std::vector<std::string>{"WAIT\\r\\n", "waited:0", "late\\r\\n", "closed:0"}));
  EXPECT_EQ(released_[a], 1);
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
