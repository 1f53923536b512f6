// Library state: WSAStartup / WSACleanup, the socket table, the host and the poller.
#include <errno.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/msg/msg.h"
#include "platform/wsock32/internal.h"
#include "platform/wsock32/poller.h"

namespace wsk {

namespace {

// Handles count up from here and are never reused, so a late notification or a stale handle can
// never reach a newer socket.
constexpr SOCKET kFirstHandle = 0x100;

constexpr WORD kHighestVersion = MAKEWORD(2, 2);
constexpr USHORT kMaxUdpDatagram = 65507;  // 65535 - IP header - UDP header
constexpr char kDescription[] = "Kelvadon Sockets 2.2 (IPv4 over POSIX sockets)";
constexpr char kStatus[] = "Running";

// The default host: the message layer of this process.
class MessageHost final : public WskHost {
 public:
  bool Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return PostMessage(hwnd, msg, wParam, lParam) != FALSE;
  }
  bool WindowExists(HWND hwnd) override { return IsWindow(hwnd) != FALSE; }
};

struct State {
  std::mutex mu;      // everything below
  std::mutex lifeMu;  // serialises WSAStartup / WSACleanup, held while the poller stops
  int started = 0;
  SOCKET nextHandle = kFirstHandle;
  // Node-based: a Socket& stays valid while other sockets come and go.
  std::unordered_map<SOCKET, Socket> sockets;
  Poller poller;
  WskHost* host = nullptr;
  MessageHost defaultHost;
};

// Never destroyed: a socket call or the poller may still run while the process exits.
State& S() {
  static State* state = new State;
  return *state;
}

void OnReady(SOCKET handle) {
  std::lock_guard<std::mutex> lock(S().mu);
  Socket* sock;
  if (FindSocket(handle, &sock) == 0) Evaluate(*sock);
}

USHORT MaxSockets() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0x7FFF;
  return static_cast<USHORT>(std::min<rlim_t>(limit.rlim_cur, 0x7FFF));
}

// The version granted for the one asked: 1.0 and 1.1 as asked, 2.0 to 2.2 as asked, anything
// higher as 2.2. Below 1.0 nothing is granted.
bool GrantVersion(WORD requested, WORD* granted) {
  BYTE major = LOBYTE(requested), minor = HIBYTE(requested);
  if (major == 0) return false;
  if (major == 1) {
    *granted = MAKEWORD(1, std::min<BYTE>(minor, 1));
  } else if (major == 2) {
    *granted = MAKEWORD(2, std::min<BYTE>(minor, 2));
  } else {
    *granted = kHighestVersion;
  }
  return true;
}

}  // namespace

std::mutex& Lock() {
  return S().mu;
}

bool Started() {
  return S().started > 0;
}

int FindSocket(SOCKET s, Socket** out) {
  State& st = S();
  if (st.started == 0) return WSANOTINITIALISED;
  auto it = st.sockets.find(s);
  if (it == st.sockets.end()) return WSAENOTSOCK;
  *out = &it->second;
  return 0;
}

SOCKET AddSocket(int fd, Kind kind, Phase phase) {
  State& st = S();
  SOCKET handle = st.nextHandle++;
  Socket& sock = st.sockets[handle];
  sock.handle = handle;
  sock.fd = fd;
  sock.kind = kind;
  sock.phase = phase;
  return handle;
}

void RemoveSocket(SOCKET s) {
  State& st = S();
  auto it = st.sockets.find(s);
  if (it == st.sockets.end()) return;
  if (it->second.polled) st.poller.Remove(it->second.fd);
  // close() may report EINTR, but the descriptor is released either way on Linux.
  close(it->second.fd);
  st.sockets.erase(it);
}

WskHost& Host() {
  State& st = S();
  return st.host ? *st.host : st.defaultHost;
}

bool Watch(Socket& sock, int* err) {
  State& st = S();
  if (!st.poller.Running() && !st.poller.Start(&OnReady)) {
    *err = WsaFromErrno(errno);
    return false;
  }
  if (!st.poller.Add(sock.fd, sock.handle)) {
    *err = WsaFromErrno(errno);
    return false;
  }
  sock.polled = true;
  return true;
}

}  // namespace wsk

using namespace wsk;

extern "C" {

int wsk_WSAStartup(WORD versionRequested, WSADATA* data) {
  State& st = S();
  std::lock_guard<std::mutex> life(st.lifeMu);
  std::lock_guard<std::mutex> lock(st.mu);
  if (data == nullptr) return WSAEFAULT;
  WORD granted;
  if (!GrantVersion(versionRequested, &granted)) return WSAVERNOTSUPPORTED;
  std::memset(data, 0, sizeof *data);
  data->wVersion = granted;
  data->wHighVersion = kHighestVersion;
  data->iMaxSockets = MaxSockets();
  data->iMaxUdpDg = kMaxUdpDatagram;
  data->lpVendorInfo = nullptr;
  std::memcpy(data->szDescription, kDescription, sizeof kDescription);
  std::memcpy(data->szSystemStatus, kStatus, sizeof kStatus);
  ++st.started;
  return 0;
}

int wsk_WSACleanup() {
  State& st = S();
  std::lock_guard<std::mutex> life(st.lifeMu);
  bool stopPoller = false;
  {
    std::lock_guard<std::mutex> lock(st.mu);
    if (st.started == 0) return Fail(WSANOTINITIALISED);
    if (--st.started > 0) return 0;
    // The last cleanup closes what is left, as Winsock does, and ends every notification.
    while (!st.sockets.empty())
      RemoveSocket(st.sockets.begin()->first);
    CancelAllLookups();
    stopPoller = st.poller.Running();
  }
  // Without the lock: the poller thread may be waiting for it in OnReady.
  if (stopPoller) st.poller.Stop();
  return 0;
}

void wsk_WSASetLastError(int error) {
  SetError(error);
}

int wsk_WSAGetLastError() {
  return GetError();
}

void wsk_SetHost(WskHost* host) {
  // Every call into the host happens under the lock, so once it is taken here the previous host
  // is no longer in use.
  std::lock_guard<std::mutex> lock(S().mu);
  S().host = host;
}

}  // extern "C"
