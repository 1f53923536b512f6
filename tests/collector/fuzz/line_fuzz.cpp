// Fuzz target for the line splitter of the socket layer, used the way the collector uses it: a
// TAsyncSocket in line mode adopting an accepted loopback connection, whose handler takes each
// line in pieces. The input chooses the line limit (small, so that over-long lines come up often),
// the size of the handler's pieces, how the bytes are cut into reads and whether the peer ends
// with a close or a reset. What the handler gets is compared with a plain statement of the rule:
// lines end at CR LF; a line whose text is longer than the limit is dropped whole, with one limit
// event, however it was cut; what is left without a line end when the peer goes is the last line
// (unless it is over the limit). A hang (a read that is never handed out) aborts too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "net/socket/line.h"
#include "tests/support/pump.h"
#include "tests/support/socket_loopback.h"

namespace {

using testsupport::PumpUntil;

constexpr DWORD kPatienceMs = 5000;

[[noreturn]] void Broken(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "line_fuzz: %s %s\n", what, testsupport::Rle(detail).c_str());
  std::abort();
}

// What a session's handlers saw.
struct Seen {
  std::vector<std::string> lines;  // each line as the handler took it, line end included
  std::string current;             // pieces of the line being taken
  int limitEvents = 0;
  int64_t taken = 0;  // bytes the handler took (ReadCount counts them as well)
  int depth = 0;
  bool closed = false;
};

struct Session : TAsyncSocket {
  Seen seen;
};

class Harness {
 public:
  Harness() : listener_(testsupport::Listener<TAsyncSocket>()) {
    listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) { Adopt(); };
    port_ = std::stoi(listener_->GetSockPort());
  }

  void Run(FuzzedDataProvider& in) {
    limit_ = in.ConsumeIntegralInRange<int>(1, 24);
    piece_ = in.ConsumeIntegralInRange<int>(1, 8);
    const bool reset = in.ConsumeBool();

    session_ = nullptr;
    int fd = Connect();
    if (!PumpUntil([&] { return session_ != nullptr; }, kPatienceMs)) Broken("no accept");
    Session* s = session_;

    std::string stream;
    while (in.remaining_bytes() > 0) {
      const std::string chunk = in.ConsumeRandomLengthString(64);
      if (chunk.empty()) continue;
      stream += chunk;
      SendAll(fd, chunk);
      // Each chunk comes in a read of its own: the next goes once the engine has read this one.
      const int64_t want = static_cast<int64_t>(stream.size());
      if (!PumpUntil([&] { return s->ReadCount() - s->seen.taken >= want; }, kPatienceMs))
        Broken("bytes not read", stream);
    }
    if (reset) {
      linger l{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(fd);
    if (!PumpUntil([&] { return s->seen.closed; }, kPatienceMs)) Broken("no close", stream);
    Check(stream, s->seen);
    // The session is released through a posted message; it goes before the next input.
    ProcessMessages();
  }

 private:
  void Adopt() {
    auto* s = new Session;
    session_ = s;
    s->SetLineMode(true);
    s->LineLimit = limit_;
    s->OnDataAvailable = [this, s](rtl::TObject*, WORD) { Take(*s); };
    s->OnLineLimitExceeded = [s](rtl::TObject*, int, bool&) { ++s->seen.limitEvents; };
    s->OnSessionClosed = [s](rtl::TObject*, WORD) {
      s->seen.closed = true;
      s->Release();
    };
    s->SetHSocket(listener_->Accept());
  }

  void Take(Session& s) {
    if (++s.seen.depth != 1) Broken("handler re-entered");
    if (s.seen.closed) Broken("a line after the close");
    std::string buf(static_cast<size_t>(piece_), '\0');
    const int n = s.Receive(buf.data(), piece_);
    if (n > 0) {
      s.seen.taken += n;
      s.seen.current.append(buf.data(), static_cast<size_t>(n));
      if (s.RcvdCount() == 0) {
        s.seen.lines.push_back(s.seen.current);
        s.seen.current.clear();
      }
    }
    --s.seen.depth;
  }

  int Connect() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Broken("connect failed");
    return fd;
  }

  static void SendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) Broken("send failed");
      off += static_cast<size_t>(n);
    }
  }

  void Check(const std::string& stream, const Seen& seen) const {
    std::vector<std::string> lines;
    int limitEvents = 0;
    size_t pos = 0;
    for (size_t end; (end = stream.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
      if (end - pos > static_cast<size_t>(limit_))
        ++limitEvents;
      else
        lines.push_back(stream.substr(pos, end + 2 - pos));
    }
    const std::string rest = stream.substr(pos);
    if (!rest.empty()) {
      // A CR at the very end may begin a line end: it does not count against the limit.
      const size_t text = rest.size() - (rest.back() == '\r' ? 1 : 0);
      if (text > static_cast<size_t>(limit_))
        ++limitEvents;
      else
        lines.push_back(rest);
    }
    if (!seen.current.empty()) Broken("a line taken in part", seen.current);
    if (seen.lines != lines) {
      std::string got, want;
      for (const auto& l : seen.lines)
        got += "[" + testsupport::Rle(l) + "]";
      for (const auto& l : lines)
        want += "[" + testsupport::Rle(l) + "]";
      std::fprintf(stderr, "limit %d, pieces of %d\n got: %s\nwant: %s\n", limit_, piece_,
                   got.c_str(), want.c_str());
      Broken("lines differ for", stream);
    }
    if (seen.limitEvents != limitEvents) Broken("wrong number of limit events for", stream);
  }

  std::unique_ptr<TAsyncSocket> listener_;
  int port_ = 0;
  int limit_ = 16;
  int piece_ = 1;
  Session* session_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness;  // one listener for the whole run
  FuzzedDataProvider in(data, size);
  harness->Run(in);
  return 0;
}
