// Socket calls: socket, bind, listen, accept, connect, send/recv, shutdown, closesocket and the
// address queries. Each call translates its arguments, makes one non-blocking system call under
// the library lock, and re-enables the notifications that Winsock re-enables after that call.
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/wsock32/internal.h"

namespace wsk {
namespace {

static_assert(sizeof(sockaddr_in) == sizeof(WS_sockaddr_in));
static_assert(SD_RECEIVE == SHUT_RD && SD_SEND == SHUT_WR && SD_BOTH == SHUT_RDWR);

int FailErrno(int err) {
  return Fail(WsaFromErrno(err));
}

// An IPv4 address from the caller: 0 or the WSA code.
int ReadAddr(const WS_sockaddr* name, int namelen, sockaddr_in* out) {
  if (name == nullptr || namelen < static_cast<int>(sizeof(WS_sockaddr_in))) return WSAEFAULT;
  std::memcpy(out, name, sizeof *out);
  if (out->sin_family != AF_INET) return WSAEAFNOSUPPORT;
  return 0;
}

// Checks an optional output address before the call, so that a bad buffer fails before anything
// happens on the socket.
int CheckAddrOut(const WS_sockaddr* addr, const int* addrlen) {
  if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(sockaddr_in))))
    return WSAEFAULT;
  return 0;
}

void WriteAddr(const sockaddr_in& sin, WS_sockaddr* addr, int* addrlen) {
  if (addr == nullptr) return;
  std::memcpy(addr, &sin, sizeof sin);
  *addrlen = sizeof sin;
}

// send/recv flags: the Windows bits have the Linux values; anything else is refused.
int TranslateFlags(int flags, int* out) {
  if (flags & ~(WS_MSG_OOB | WS_MSG_PEEK | WS_MSG_DONTROUTE)) return WSAEOPNOTSUPP;
  static_assert(WS_MSG_OOB == MSG_OOB && WS_MSG_PEEK == MSG_PEEK &&
                WS_MSG_DONTROUTE == MSG_DONTROUTE);
  *out = flags;
  return 0;
}

int CheckBuffer(const char* buf, int len) {
  if (len < 0) return WSAEINVAL;
  if (buf == nullptr && len > 0) return WSAEFAULT;
  return 0;
}

bool IsBound(int fd) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return false;
  return sin.sin_port != 0 || sin.sin_addr.s_addr != 0;
}

// One receive. Datagrams that did not fit report WSAEMSGSIZE with the buffer filled, as Winsock
// does; a stream never truncates. Re-enables FD_READ (and FD_OOB for an urgent receive).
int Receive(Socket& sock, char* buf, int len, int flags, WS_sockaddr* from, int* fromlen) {
  int lflags;
  if (int err = TranslateFlags(flags, &lflags)) return Fail(err);
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  if (int err = CheckAddrOut(from, fromlen)) return Fail(err);

  sockaddr_in peer{};
  iovec iov{buf, static_cast<size_t>(len)};
  msghdr mh{};
  mh.msg_name = &peer;
  mh.msg_namelen = sizeof peer;
  mh.msg_iov = &iov;
  mh.msg_iovlen = 1;
  ssize_t n = recvmsg(sock.fd, &mh, lflags);
  int saved = errno;

  sock.readArmed = true;
  if (flags & WS_MSG_OOB) sock.oobArmed = true;
  if (n < 0 && saved == ECONNRESET) sock.peerReset = true;
  Evaluate(sock);

  if (n < 0) return FailErrno(saved);
  if (sock.kind != Kind::Stream) {
    if (mh.msg_namelen >= sizeof peer) WriteAddr(peer, from, fromlen);
    if (mh.msg_flags & MSG_TRUNC) return Fail(WSAEMSGSIZE);
  }
  return static_cast<int>(n);
}

// One send; a send that would block or was short re-enables FD_WRITE.
int Send(Socket& sock, const char* buf, int len, int flags, const sockaddr_in* to) {
  int lflags;
  if (int err = TranslateFlags(flags, &lflags)) return Fail(err);
  if (int err = CheckBuffer(buf, len)) return Fail(err);
  // Linux answers EPIPE for a stream that never connected; Winsock says "not connected".
  if (sock.kind == Kind::Stream && sock.phase != Phase::Connected &&
      sock.phase != Phase::Connecting)
    return Fail(WSAENOTCONN);
  ssize_t n = sendto(sock.fd, buf, static_cast<size_t>(len), lflags | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(to), to ? sizeof *to : 0);
  int saved = errno;
  if (n < 0) {
    if (saved == EAGAIN) {
      sock.writeArmed = true;
      Evaluate(sock);
    }
    // A send after our own shutdown(SD_SEND) is Winsock's "shut down", not a reset.
    if (saved == EPIPE && sock.shutSend) saved = ESHUTDOWN;
    return FailErrno(saved);
  }
  if (n < len) {
    sock.writeArmed = true;
    Evaluate(sock);
  }
  return static_cast<int>(n);
}

bool ConnectFailsLater(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT;
}

}  // namespace
}  // namespace wsk

using namespace wsk;

extern "C" {

SOCKET wsk_socket(int af, int type, int protocol) {
  std::lock_guard<std::mutex> lock(Lock());
  if (!Started()) {
    SetError(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  if (af != WS_AF_INET) {
    SetError(WSAEAFNOSUPPORT);
    return INVALID_SOCKET;
  }
  Kind kind;
  int ltype;
  switch (type) {
    case WS_SOCK_STREAM:
      kind = Kind::Stream;
      ltype = SOCK_STREAM;
      break;
    case WS_SOCK_DGRAM:
      kind = Kind::Datagram;
      ltype = SOCK_DGRAM;
      break;
    case WS_SOCK_RAW:
      kind = Kind::Raw;
      ltype = SOCK_RAW;
      break;
    default:
      SetError(WSAESOCKTNOSUPPORT);
      return INVALID_SOCKET;
  }
  int fd = ::socket(AF_INET, ltype | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    SetError(WsaFromErrno(errno));
    return INVALID_SOCKET;
  }
  return AddSocket(fd, kind, Phase::Fresh);
}

int wsk_closesocket(SOCKET s) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  // Dropping the socket from the table ends its registration under the same lock that every
  // notification is posted under: nothing is posted for it after this returns. The kernel holds
  // no positive linger time, so close() returns at once and a graceful close finishes in the
  // background; linger (on, 0) makes it an abortive close.
  RemoveSocket(s);
  return 0;
}

int wsk_bind(SOCKET s, const WS_sockaddr* name, int namelen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  sockaddr_in sin;
  if (int err = ReadAddr(name, namelen, &sin)) return Fail(err);
  if (sock->kind == Kind::Stream) {
    // A restarted server must rebind its port while old connections sit in TIME_WAIT; a second
    // live listener on the port is still refused by the kernel.
    int on = 1;
    if (setsockopt(sock->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
      return FailErrno(errno);
  }
  if (::bind(sock->fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0)
    return FailErrno(errno);
  return 0;
}

int wsk_listen(SOCKET s, int backlog) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (sock->kind != Kind::Stream) return Fail(WSAEOPNOTSUPP);
  if (sock->phase == Phase::Connecting || sock->phase == Phase::Connected) return Fail(WSAEISCONN);
  // Winsock refuses an unbound socket where Linux would pick a port.
  if (!IsBound(sock->fd)) return Fail(WSAEINVAL);
  if (::listen(sock->fd, backlog < 0 ? 0 : backlog) != 0) return FailErrno(errno);
  sock->phase = Phase::Listening;
  sock->acceptArmed = true;
  Evaluate(*sock);
  return 0;
}

SOCKET wsk_accept(SOCKET s, WS_sockaddr* addr, int* addrlen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  int err = FindSocket(s, &sock);
  if (err == 0) err = CheckAddrOut(addr, addrlen);
  if (err == 0 && sock->kind != Kind::Stream) err = WSAEOPNOTSUPP;
  if (err == 0 && sock->phase != Phase::Listening) err = WSAEINVAL;
  if (err != 0) {
    SetError(err);
    return INVALID_SOCKET;
  }
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd =
      accept4(sock->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int saved = errno;
  SOCKET handle = INVALID_SOCKET;
  if (fd >= 0) handle = AddSocket(fd, Kind::Stream, Phase::Connected);
  // accept re-enables FD_ACCEPT: posted again at once when more connections are queued.
  sock->acceptArmed = true;
  Evaluate(*sock);
  if (fd < 0) {
    SetError(WsaFromErrno(saved));
    return INVALID_SOCKET;
  }
  WriteAddr(peer, addr, addrlen);
  return handle;
}

int wsk_connect(SOCKET s, const WS_sockaddr* name, int namelen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  sockaddr_in sin;
  if (int err = ReadAddr(name, namelen, &sin)) return Fail(err);
  if (sock->kind == Kind::Stream) {
    if (sock->phase == Phase::Listening) return Fail(WSAEINVAL);
    if (sin.sin_addr.s_addr == 0 || sin.sin_port == 0) return Fail(WSAEADDRNOTAVAIL);
  }
  int rc = ::connect(sock->fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  int saved = errno;
  if (sock->kind != Kind::Stream) return rc == 0 ? 0 : FailErrno(saved);

  if (rc == 0 || saved == EINPROGRESS || ConnectFailsLater(saved)) {
    // Winsock reports the outcome of a non-blocking connect through FD_CONNECT only, even when
    // the system already knows it (a refused loopback connect can fail at once).
    sock->phase = Phase::Connecting;
    sock->connectErrno = rc == 0 || saved == EINPROGRESS ? 0 : saved;
    sock->connectPosted = false;
    sock->closePosted = false;
    sock->peerReset = false;
    sock->shutSend = false;
    Evaluate(*sock);
    return rc == 0 ? 0 : Fail(WSAEWOULDBLOCK);
  }
  return FailErrno(saved);
}

int wsk_send(SOCKET s, const char* buf, int len, int flags) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  return Send(*sock, buf, len, flags, nullptr);
}

int wsk_sendto(SOCKET s, const char* buf, int len, int flags, const WS_sockaddr* to, int tolen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  // A connected stream ignores the destination, as Winsock does.
  if (to == nullptr || sock->kind == Kind::Stream) return Send(*sock, buf, len, flags, nullptr);
  sockaddr_in sin;
  if (int err = ReadAddr(to, tolen, &sin)) return Fail(err);
  return Send(*sock, buf, len, flags, &sin);
}

int wsk_recv(SOCKET s, char* buf, int len, int flags) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  return Receive(*sock, buf, len, flags, nullptr, nullptr);
}

int wsk_recvfrom(SOCKET s, char* buf, int len, int flags, WS_sockaddr* from, int* fromlen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  return Receive(*sock, buf, len, flags, from, fromlen);
}

int wsk_shutdown(SOCKET s, int how) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
  if (sock->kind == Kind::Stream && sock->phase != Phase::Connected) return Fail(WSAENOTCONN);
  if (::shutdown(sock->fd, how) != 0) return FailErrno(errno);
  if (how != SD_RECEIVE) sock->shutSend = true;
  return 0;
}

int wsk_getsockname(SOCKET s, WS_sockaddr* name, int* namelen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (name == nullptr) return Fail(WSAEFAULT);
  if (int err = CheckAddrOut(name, namelen)) return Fail(err);
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getsockname(sock->fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return FailErrno(errno);
  // Winsock knows no name for a socket that is neither bound nor connected.
  if (sin.sin_port == 0 && sin.sin_addr.s_addr == 0) return Fail(WSAEINVAL);
  WriteAddr(sin, name, namelen);
  return 0;
}

int wsk_getpeername(SOCKET s, WS_sockaddr* name, int* namelen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (name == nullptr) return Fail(WSAEFAULT);
  if (int err = CheckAddrOut(name, namelen)) return Fail(err);
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (getpeername(sock->fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return FailErrno(errno);
  WriteAddr(sin, name, namelen);
  return 0;
}

}  // extern "C"
