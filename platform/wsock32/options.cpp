// Socket options and ioctls: Winsock's numbers and value layouts translated to Linux's.
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>

#include "platform/wsock32/internal.h"

namespace wsk {
namespace {

enum class Value {
  Int,       // 32-bit integer (BOOL options too) on both sides
  Bytes,     // passed through unchanged (addresses, ip_mreq, IP options)
  Millis,    // Windows DWORD milliseconds, Linux timeval
  DontFrag,  // Windows BOOL, Linux IP_MTU_DISCOVER
  ReadOnly,  // getsockopt only, Int
  Linger,    // kept by the library (see Socket::lingerOnOff)
  DontLinger,
  Error,  // SO_ERROR, translated to a WSA code
  Type,   // SO_TYPE
};

struct Option {
  int level, name;    // Windows
  int llevel, lname;  // Linux
  Value value;
};

// Every option the library knows; anything else is WSAENOPROTOOPT.
constexpr Option kOptions[] = {
    {WS_SOL_SOCKET, WS_SO_DEBUG, SOL_SOCKET, SO_DEBUG, Value::Int},
    {WS_SOL_SOCKET, WS_SO_ACCEPTCONN, SOL_SOCKET, SO_ACCEPTCONN, Value::ReadOnly},
    {WS_SOL_SOCKET, WS_SO_REUSEADDR, SOL_SOCKET, SO_REUSEADDR, Value::Int},
    {WS_SOL_SOCKET, WS_SO_KEEPALIVE, SOL_SOCKET, SO_KEEPALIVE, Value::Int},
    {WS_SOL_SOCKET, WS_SO_DONTROUTE, SOL_SOCKET, SO_DONTROUTE, Value::Int},
    {WS_SOL_SOCKET, WS_SO_BROADCAST, SOL_SOCKET, SO_BROADCAST, Value::Int},
    {WS_SOL_SOCKET, WS_SO_LINGER, SOL_SOCKET, SO_LINGER, Value::Linger},
    {WS_SOL_SOCKET, WS_SO_DONTLINGER, SOL_SOCKET, SO_LINGER, Value::DontLinger},
    {WS_SOL_SOCKET, WS_SO_OOBINLINE, SOL_SOCKET, SO_OOBINLINE, Value::Int},
    {WS_SOL_SOCKET, WS_SO_SNDBUF, SOL_SOCKET, SO_SNDBUF, Value::Int},
    {WS_SOL_SOCKET, WS_SO_RCVBUF, SOL_SOCKET, SO_RCVBUF, Value::Int},
    {WS_SOL_SOCKET, WS_SO_SNDLOWAT, SOL_SOCKET, SO_SNDLOWAT, Value::Int},
    {WS_SOL_SOCKET, WS_SO_RCVLOWAT, SOL_SOCKET, SO_RCVLOWAT, Value::Int},
    {WS_SOL_SOCKET, WS_SO_SNDTIMEO, SOL_SOCKET, SO_SNDTIMEO, Value::Millis},
    {WS_SOL_SOCKET, WS_SO_RCVTIMEO, SOL_SOCKET, SO_RCVTIMEO, Value::Millis},
    {WS_SOL_SOCKET, WS_SO_ERROR, SOL_SOCKET, SO_ERROR, Value::Error},
    {WS_SOL_SOCKET, WS_SO_TYPE, SOL_SOCKET, SO_TYPE, Value::Type},
    {WS_IPPROTO_TCP, WS_TCP_NODELAY, IPPROTO_TCP, TCP_NODELAY, Value::Int},
    {WS_IPPROTO_IP, WS_IP_OPTIONS, IPPROTO_IP, IP_OPTIONS, Value::Bytes},
    {WS_IPPROTO_IP, WS_IP_MULTICAST_IF, IPPROTO_IP, IP_MULTICAST_IF, Value::Bytes},
    {WS_IPPROTO_IP, WS_IP_MULTICAST_TTL, IPPROTO_IP, IP_MULTICAST_TTL, Value::Int},
    {WS_IPPROTO_IP, WS_IP_MULTICAST_LOOP, IPPROTO_IP, IP_MULTICAST_LOOP, Value::Int},
    {WS_IPPROTO_IP, WS_IP_ADD_MEMBERSHIP, IPPROTO_IP, IP_ADD_MEMBERSHIP, Value::Bytes},
    {WS_IPPROTO_IP, WS_IP_DROP_MEMBERSHIP, IPPROTO_IP, IP_DROP_MEMBERSHIP, Value::Bytes},
    {WS_IPPROTO_IP, WS_IP_TTL, IPPROTO_IP, IP_TTL, Value::Int},
    {WS_IPPROTO_IP, WS_IP_TOS, IPPROTO_IP, IP_TOS, Value::Int},
    {WS_IPPROTO_IP, WS_IP_DONTFRAGMENT, IPPROTO_IP, IP_MTU_DISCOVER, Value::DontFrag},
};

const Option* FindOption(int level, int name) {
  for (const Option& o : kOptions)
    if (o.level == level && o.name == name) return &o;
  return nullptr;
}

int FailErrno(int err) {
  return Fail(WsaFromErrno(err));
}

int ReadInt(const char* optval, int optlen, int* out) {
  if (optval == nullptr || optlen < static_cast<int>(sizeof(int))) return WSAEFAULT;
  std::memcpy(out, optval, sizeof *out);
  return 0;
}

// Puts the linger the application asked for into effect: only an abortive close reaches the
// kernel, since a kernel linger time would make close() block.
int ApplyLinger(Socket& sock, uint16_t onoff, uint16_t seconds) {
  linger l{};
  l.l_onoff = onoff != 0 && seconds == 0;
  l.l_linger = 0;
  if (setsockopt(sock.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return FailErrno(errno);
  sock.lingerOnOff = onoff != 0;
  sock.lingerTime = seconds;
  return 0;
}

int SetOption(Socket& sock, const Option& o, const char* optval, int optlen) {
  int v;
  switch (o.value) {
    case Value::Linger: {
      if (optval == nullptr || optlen < static_cast<int>(sizeof(WS_linger))) return Fail(WSAEFAULT);
      WS_linger wl;
      std::memcpy(&wl, optval, sizeof wl);
      return ApplyLinger(sock, wl.l_onoff, wl.l_linger);
    }
    case Value::DontLinger:
      if (int err = ReadInt(optval, optlen, &v)) return Fail(err);
      return ApplyLinger(sock, v == 0, sock.lingerTime);
    case Value::Bytes:
      if (optval == nullptr || optlen < 0) return Fail(WSAEFAULT);
      if (setsockopt(sock.fd, o.llevel, o.lname, optval, static_cast<socklen_t>(optlen)) != 0)
        return FailErrno(errno);
      return 0;
    case Value::Millis: {
      if (int err = ReadInt(optval, optlen, &v)) return Fail(err);
      timeval tv{};
      tv.tv_sec = static_cast<unsigned>(v) / 1000;
      tv.tv_usec = (static_cast<unsigned>(v) % 1000) * 1000;
      if (setsockopt(sock.fd, o.llevel, o.lname, &tv, sizeof tv) != 0) return FailErrno(errno);
      return 0;
    }
    case Value::DontFrag:
      if (int err = ReadInt(optval, optlen, &v)) return Fail(err);
      v = v ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
      break;
    case Value::Int:
      if (int err = ReadInt(optval, optlen, &v)) return Fail(err);
      break;
    case Value::ReadOnly:
    case Value::Error:
    case Value::Type:
      return Fail(WSAENOPROTOOPT);
  }
  if (setsockopt(sock.fd, o.llevel, o.lname, &v, sizeof v) != 0) return FailErrno(errno);
  return 0;
}

int WriteOut(char* optval, int* optlen, const void* value, int size) {
  std::memcpy(optval, value, static_cast<size_t>(size));
  *optlen = size;
  return 0;
}

int GetOption(Socket& sock, const Option& o, char* optval, int* optlen) {
  if (optval == nullptr || optlen == nullptr) return Fail(WSAEFAULT);
  if (o.value == Value::Bytes) {
    if (*optlen < 0) return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*optlen);
    if (getsockopt(sock.fd, o.llevel, o.lname, optval, &len) != 0) return FailErrno(errno);
    *optlen = static_cast<int>(len);
    return 0;
  }
  int need = o.value == Value::Linger ? sizeof(WS_linger) : sizeof(int);
  if (*optlen < need) return Fail(WSAEFAULT);
  int v = 0;
  socklen_t len = sizeof v;
  switch (o.value) {
    case Value::Linger: {
      WS_linger wl{sock.lingerOnOff, sock.lingerTime};
      return WriteOut(optval, optlen, &wl, sizeof wl);
    }
    case Value::DontLinger:
      v = sock.lingerOnOff == 0;
      return WriteOut(optval, optlen, &v, sizeof v);
    case Value::Type:
      v = sock.kind == Kind::Stream     ? WS_SOCK_STREAM
          : sock.kind == Kind::Datagram ? WS_SOCK_DGRAM
                                        : WS_SOCK_RAW;
      return WriteOut(optval, optlen, &v, sizeof v);
    case Value::Error:
      // A connect that failed at once keeps its error until FD_CONNECT reports it.
      if (sock.connectErrno != 0) {
        v = WsaFromErrno(sock.connectErrno);
        return WriteOut(optval, optlen, &v, sizeof v);
      }
      if (getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &v, &len) != 0) return FailErrno(errno);
      // Reading clears the kernel's error; a connect still in progress keeps it for FD_CONNECT.
      if (sock.phase == Phase::Connecting && v != 0) sock.connectErrno = v;
      v = WsaFromErrno(v);
      return WriteOut(optval, optlen, &v, sizeof v);
    case Value::Millis: {
      timeval tv{};
      socklen_t tlen = sizeof tv;
      if (getsockopt(sock.fd, o.llevel, o.lname, &tv, &tlen) != 0) return FailErrno(errno);
      v = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
      return WriteOut(optval, optlen, &v, sizeof v);
    }
    case Value::DontFrag:
      if (getsockopt(sock.fd, o.llevel, o.lname, &v, &len) != 0) return FailErrno(errno);
      v = v == IP_PMTUDISC_DO;
      return WriteOut(optval, optlen, &v, sizeof v);
    case Value::Int:
    case Value::ReadOnly:
    case Value::Bytes:
      break;
  }
  if (getsockopt(sock.fd, o.llevel, o.lname, &v, &len) != 0) return FailErrno(errno);
  return WriteOut(optval, optlen, &v, sizeof v);
}

// SIO_KEEPALIVE_VALS: on/off, idle time and probe interval in ms (rounded up to whole seconds,
// at least one).
int SetKeepAliveValues(Socket& sock, const tcp_keepalive& k) {
  int on = k.onoff != 0;
  if (setsockopt(sock.fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return FailErrno(errno);
  if (!on) return 0;
  auto seconds = [](ULONG ms) { return ms < 1000 ? 1 : static_cast<int>((ms + 999ull) / 1000); };
  int idle = seconds(k.keepalivetime), interval = seconds(k.keepaliveinterval);
  if (setsockopt(sock.fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
      setsockopt(sock.fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0)
    return FailErrno(errno);
  return 0;
}

// The three ioctls of Winsock 1.1. value is the ULONG argument.
int Ioctl(Socket& sock, LONG cmd, ULONG* value) {
  switch (cmd) {
    case WS_FIONBIO:
      // Every socket is non-blocking underneath and stays so: blocking calls would hold the
      // library's lock. Winsock refuses blocking mode while WSAAsyncSelect is in force.
      if (*value != 0) return 0;
      return Fail(sock.mask != 0 ? WSAEINVAL : WSAEOPNOTSUPP);
    case WS_FIONREAD: {
      int n = 0;
      if (ioctl(sock.fd, FIONREAD, &n) != 0) return FailErrno(errno);
      *value = static_cast<ULONG>(n);
      return 0;
    }
    case WS_SIOCATMARK: {
      // Winsock's answer is TRUE while no urgent data waits to be read.
      pollfd p{sock.fd, POLLPRI, 0};
      if (poll(&p, 1, 0) < 0) return FailErrno(errno);
      *value = (p.revents & POLLPRI) ? 0 : 1;
      return 0;
    }
    default:
      return Fail(WSAEINVAL);
  }
}

}  // namespace
}  // namespace wsk

using namespace wsk;

extern "C" {

int wsk_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  const Option* o = FindOption(level, optname);
  if (o == nullptr) return Fail(WSAENOPROTOOPT);
  return SetOption(*sock, *o, optval, optlen);
}

int wsk_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  const Option* o = FindOption(level, optname);
  if (o == nullptr) return Fail(WSAENOPROTOOPT);
  return GetOption(*sock, *o, optval, optlen);
}

int wsk_ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (argp == nullptr) return Fail(WSAEFAULT);
  return Ioctl(*sock, cmd, argp);
}

int wsk_WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen,
                 DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
                 LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (overlapped != nullptr || completion != nullptr) return Fail(WSAEOPNOTSUPP);
  if (bytesReturned != nullptr) *bytesReturned = 0;
  switch (code) {
    case SIO_KEEPALIVE_VALS: {
      if (in == nullptr || inLen < sizeof(tcp_keepalive)) return Fail(WSAEFAULT);
      tcp_keepalive k;
      std::memcpy(&k, in, sizeof k);
      return SetKeepAliveValues(*sock, k);
    }
    case SIO_RCVALL:
      // Capturing every packet of an interface needs a raw socket mode Linux does not offer
      // this way.
      return Fail(WSAEOPNOTSUPP);
    case static_cast<DWORD>(WS_FIONBIO): {
      if (in == nullptr || inLen < sizeof(ULONG)) return Fail(WSAEFAULT);
      ULONG v;
      std::memcpy(&v, in, sizeof v);
      return Ioctl(*sock, WS_FIONBIO, &v);
    }
    case static_cast<DWORD>(WS_FIONREAD):
    case static_cast<DWORD>(WS_SIOCATMARK): {
      if (out == nullptr || outLen < sizeof(ULONG)) return Fail(WSAEFAULT);
      ULONG v = 0;
      if (int rc = Ioctl(*sock, static_cast<LONG>(code), &v)) return rc;
      std::memcpy(out, &v, sizeof v);
      if (bytesReturned != nullptr) *bytesReturned = sizeof v;
      return 0;
    }
    default:
      return Fail(WSAEINVAL);
  }
}

}  // extern "C"
