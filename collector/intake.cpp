// Record intake over TCP and the discovery reply over UDP.
#include <algorithm>
#include <cstring>

#include "collector/dayfiles.h"
#include "collector/engine.h"

namespace {

constexpr char kDiscoveryQuestion[] = "Are You Kelvadon Manager?";
constexpr char kDiscoveryAnswer[] = "Yes I am Kelvadon Manager.";
constexpr int kDatagramSize = 1024;

}  // namespace

void TCollectorEngine::NetSocketSessionAvailable(rtl::TObject* Sender, WORD ErrCode) {
  // The accept comes first: a pause for want of descriptors makes nothing, and is written once.
  int error = 0;
  const SOCKET handle = NetSocketGate->Accept(error);
  if (handle == INVALID_SOCKET) {
    if (error != 0)
      host_.HandlerFailed("NetSocketSessionAvailable", "ESocketException",
                          SocketErrorText(error, "Accept"));
    return;
  }
  TAsyncSocket* client = nullptr;
  try {
    client = new TAsyncSocket(this);
    LastClient = client;
    ClientList.push_back(client);
    // One record per line; line end CR LF and the 65536-byte limit are the socket's defaults.
    client->SetLineMode(true);
    // One read of lines per notification: a flooding agent's next lines wait behind the other
    // agents' messages instead of holding the thread (nothing is lost; they come next).
    client->ComponentOptions.Include(wsoNoReceiveLoop);
    client->OnDataAvailable = [this](rtl::TObject* s, WORD e) { ClientDataAvailable(s, e); };
    client->OnSessionClosed = [this](rtl::TObject* s, WORD e) { ClientSessionClosed(s, e); };
    client->OnLineLimitExceeded = [this](rtl::TObject* s, int n, bool& clear) {
      ClientLineLimitExceeded(s, n, clear);
    };
    client->SetHSocket(handle);
    client->LingerTimeout = 300;
    client->SetLingerOption();
  } catch (const rtl::Exception& E) {
    host_.HandlerFailed("NetSocketSessionAvailable", E.ClassName(), E.Message);
    // A socket that never got its connection would never close: it goes at once (unless its
    // close was already handled).
    if (!client) {
      Winsock::closesocket(handle);
      NetSocketGate->SessionEnded();
    } else if (client->HSocket() == INVALID_SOCKET &&
               std::find(ClientList.begin(), ClientList.end(), client) != ClientList.end()) {
      ReleaseClient(client);
    }
  }
}

void TCollectorEngine::ReleaseClient(TAsyncSocket* Client) {
  const auto it = std::find(ClientList.begin(), ClientList.end(), Client);
  if (it != ClientList.end()) {
    ClientList.erase(it);
    NetSocketGate->SessionEnded();
  }
  if (LastClient == Client) LastClient = nullptr;
  // Freed once the notification under way has returned, never under it.
  Client->Release();
}

void TCollectorEngine::ClientDataAvailable(rtl::TObject* Sender, WORD ErrCode) {
  Guarded("ClientDataAvailable", [&] {
    auto* client = static_cast<TAsyncSocket*>(Sender);
    // The whole line at once (up to the line limit): a long record stays one record. A line that
    // fits the usual size is taken on the stack, a longer one in a buffer of its own.
    const int size = std::max(client->RcvdCount(), kDatagramSize);
    char onStack[kDatagramSize];
    std::string large;
    char* buffer = onStack;
    if (size > kDatagramSize) {
      large.resize(static_cast<size_t>(size));
      buffer = large.data();
    }
    int n = client->Receive(buffer, size);
    if (n <= 0) return;
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r'))
      --n;
    // An embedded NUL ends the record.
    const auto* nul = static_cast<const char*>(std::memchr(buffer, '\0', static_cast<size_t>(n)));
    if (nul) n = static_cast<int>(nul - buffer);
    EventWrite(collector::kCodeRecord, std::string(buffer, static_cast<size_t>(n)));
  });
}

void TCollectorEngine::ClientLineLimitExceeded(rtl::TObject* Sender, int RcvdLength,
                                               bool& ClearData) {
  // ClearData stays true: the line is dropped whole, through its line end.
  auto* client = static_cast<TAsyncSocket*>(Sender);
  host_.LineDropped("ClientDataAvailable", "ESocketException",
                    "line over " + std::to_string(client->LineLimit) + " bytes dropped");
}

void TCollectorEngine::ClientSessionClosed(rtl::TObject* Sender, WORD ErrCode) {
  Guarded("ClientSessionClosed", [&] { ReleaseClient(static_cast<TAsyncSocket*>(Sender)); });
}

void TCollectorEngine::NetBroadCastDataAvailable(rtl::TObject* Sender, WORD ErrCode) {
  Guarded("NetBroadCastDataAvailable", [&] {
    char buf[kDatagramSize];
    WS_sockaddr_in from = {};
    int fromLen = sizeof from;
    int n = NetBroadCast->ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n < 0) return;
    if (SenderFilter != 0 && SenderFilter != from.sin_addr.s_addr) return;
    // The text is compared up to a NUL.
    std::string text(buf, static_cast<size_t>(n));
    text.resize(std::min(text.size(), text.find('\0')));
    if (text != kDiscoveryQuestion) return;
    NetBroadCast->SendTo(from, fromLen, kDiscoveryAnswer, sizeof kDiscoveryAnswer - 1);
  });
}
