// Windows Sockets 1.1 as the socket layer sees it: the types, constants and error codes of the
// Windows headers, and one function-pointer type per entry point of libwsock32.so, which callers
// load by the DLL names "wsock32.dll" / "ws2_32.dll" (platform/win's LoadLibraryA) and resolve by
// the Windows entry names (GetProcAddress adds the library's "wsk_" prefix).
//
// Names that a Linux header also defines carry the prefix WS_ (WS_SOL_SOCKET, WS_hostent,
// WS_sockaddr_in...), so this header never collides with the system's own socket headers; names
// only Windows has keep their Windows spelling (SOCKET, WSADATA, FD_READ, WSAEWOULDBLOCK...).
// Layouts are those of 64-bit Windows. Nothing here allocates or owns anything.
#pragma once

#include <cstdint>

#include "platform/win/base.h"

// A socket handle of the library: never 0, never INVALID_SOCKET, never reused in a process.
using SOCKET = uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Address families, socket types, protocols.
constexpr int WS_AF_UNSPEC = 0;
constexpr int WS_AF_INET = 2;
constexpr int WS_PF_INET = WS_AF_INET;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_SOCK_RAW = 3;
constexpr int WS_IPPROTO_IP = 0;
constexpr int WS_IPPROTO_ICMP = 1;
constexpr int WS_IPPROTO_TCP = 6;
constexpr int WS_IPPROTO_UDP = 17;
constexpr int WS_IPPROTO_RAW = 255;

// Addresses in host order (pass through htonl before storing into an address).
constexpr ULONG WS_INADDR_ANY = 0x00000000;
constexpr ULONG WS_INADDR_LOOPBACK = 0x7F000001;
constexpr ULONG WS_INADDR_BROADCAST = 0xFFFFFFFF;
constexpr ULONG WS_INADDR_NONE = 0xFFFFFFFF;

// setsockopt / getsockopt levels and options.
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_DEBUG = 0x0001;
constexpr int WS_SO_ACCEPTCONN = 0x0002;
constexpr int WS_SO_REUSEADDR = 0x0004;
constexpr int WS_SO_KEEPALIVE = 0x0008;
constexpr int WS_SO_DONTROUTE = 0x0010;
constexpr int WS_SO_BROADCAST = 0x0020;
constexpr int WS_SO_USELOOPBACK = 0x0040;
constexpr int WS_SO_LINGER = 0x0080;
constexpr int WS_SO_OOBINLINE = 0x0100;
constexpr int WS_SO_DONTLINGER = ~WS_SO_LINGER;
constexpr int WS_SO_SNDBUF = 0x1001;
constexpr int WS_SO_RCVBUF = 0x1002;
constexpr int WS_SO_SNDLOWAT = 0x1003;
constexpr int WS_SO_RCVLOWAT = 0x1004;
constexpr int WS_SO_SNDTIMEO = 0x1005;
constexpr int WS_SO_RCVTIMEO = 0x1006;
constexpr int WS_SO_ERROR = 0x1007;
constexpr int WS_SO_TYPE = 0x1008;
constexpr int WS_TCP_NODELAY = 0x0001;  // level WS_IPPROTO_TCP
// Level WS_IPPROTO_IP, with the numbers of wsock32.dll (ws2_32.dll numbers them differently; the
// system calls setsockopt through wsock32.dll).
constexpr int WS_IP_OPTIONS = 1;
constexpr int WS_IP_MULTICAST_IF = 2;
constexpr int WS_IP_MULTICAST_TTL = 3;
constexpr int WS_IP_MULTICAST_LOOP = 4;
constexpr int WS_IP_ADD_MEMBERSHIP = 5;
constexpr int WS_IP_DROP_MEMBERSHIP = 6;
constexpr int WS_IP_TTL = 7;
constexpr int WS_IP_TOS = 8;
constexpr int WS_IP_DONTFRAGMENT = 9;

// send / recv flags.
constexpr int WS_MSG_OOB = 0x1;
constexpr int WS_MSG_PEEK = 0x2;
constexpr int WS_MSG_DONTROUTE = 0x4;

// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// ioctlsocket commands (the Windows `long` is 32-bit) and WSAIoctl control codes.
constexpr LONG WS_FIONREAD = 0x4004667F;
constexpr LONG WS_FIONBIO = static_cast<LONG>(0x8004667E);
constexpr LONG WS_SIOCATMARK = 0x40047307;
constexpr DWORD SIO_RCVALL = 0x98000001;
constexpr DWORD SIO_KEEPALIVE_VALS = 0x98000004;

// WSAAsyncSelect events (low word of the notification's lParam).
constexpr LONG FD_READ = 0x01;
constexpr LONG FD_WRITE = 0x02;
constexpr LONG FD_OOB = 0x04;
constexpr LONG FD_ACCEPT = 0x08;
constexpr LONG FD_CONNECT = 0x10;
constexpr LONG FD_CLOSE = 0x20;
constexpr LONG FD_ALL_EVENTS = 0x3F;

// Error codes (WSAGetLastError, the high word of a notification's lParam).
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Reading and building notification lParams.
constexpr WORD WSAGETSELECTEVENT(LPARAM lParam) {
  return LOWORD(lParam);
}
constexpr WORD WSAGETSELECTERROR(LPARAM lParam) {
  return HIWORD(lParam);
}
constexpr WORD WSAGETASYNCBUFLEN(LPARAM lParam) {
  return LOWORD(lParam);
}
constexpr WORD WSAGETASYNCERROR(LPARAM lParam) {
  return HIWORD(lParam);
}
constexpr LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) {
  return MAKELPARAM(event, error);
}
constexpr LPARAM WSAMAKEASYNCREPLY(WORD buflen, WORD error) {
  return MAKELPARAM(buflen, error);
}

// The largest host entry an asynchronous lookup packs for the system (its buffers are 1025 bytes).
constexpr int MAXGETHOSTSTRUCT = 1024;

// Addresses: same bytes as the system's own.
struct WS_in_addr {
  ULONG s_addr;  // network order
};
struct WS_sockaddr {
  USHORT sa_family;
  char sa_data[14];
};
struct WS_sockaddr_in {
  SHORT sin_family;  // WS_AF_INET
  USHORT sin_port;   // network order
  WS_in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(WS_sockaddr_in) == 16 && sizeof(WS_sockaddr) == 16);

// A host entry. The pointers point into storage of the library (blocking calls: per thread, valid
// until the thread's next call of the same kind) or into the caller's buffer (asynchronous calls).
struct WS_hostent {
  char* h_name;
  char** h_aliases;    // null-terminated
  SHORT h_addrtype;    // WS_AF_INET
  SHORT h_length;      // 4
  char** h_addr_list;  // null-terminated; each entry points to 4 bytes in network order
};
struct WS_servent {
  char* s_name;
  char** s_aliases;
  char* s_proto;
  SHORT s_port;  // network order
};
struct WS_protoent {
  char* p_name;
  char** p_aliases;
  SHORT p_proto;
};
struct WS_linger {
  USHORT l_onoff;
  USHORT l_linger;  // seconds
};
static_assert(sizeof(WS_linger) == 4);
struct WS_ip_mreq {
  WS_in_addr imr_multiaddr;
  WS_in_addr imr_interface;
};
// SIO_KEEPALIVE_VALS input: three 32-bit values.
struct tcp_keepalive {
  ULONG onoff;
  ULONG keepalivetime;      // ms
  ULONG keepaliveinterval;  // ms
};
static_assert(sizeof(tcp_keepalive) == 12);

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  USHORT iMaxSockets;
  USHORT iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};

// The Windows upper-case names of the structures.
using WSADATA = WSAData;
using LPWSADATA = WSAData*;
using HOSTENT = WS_hostent;
using SERVENT = WS_servent;
using PROTOENT = WS_protoent;
using LINGER = WS_linger;
using IN_ADDR = WS_in_addr;
using SOCKADDR = WS_sockaddr;
using SOCKADDR_IN = WS_sockaddr_in;

// Overlapped operations are not offered; WSAIoctl accepts only null for these.
struct WSAOVERLAPPED;
using LPWSAOVERLAPPED = WSAOVERLAPPED*;
using LPWSAOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD error, DWORD transferred,
                                                    LPWSAOVERLAPPED overlapped, DWORD flags);

// One function-pointer type per entry point, under the entry's Windows name, for the binding layer:
//   auto p = reinterpret_cast<WinsockFn::socket>(GetProcAddress(module, "socket"));
// Every entry point except WSAStartup, WSAGetLastError/WSASetLastError and the byte-order and
// address-text helpers fails with WSANOTINITIALISED (10093) before WSAStartup. Failures return
// SOCKET_ERROR (or INVALID_SOCKET / null, as each Windows namesake does) and leave the code for
// WSAGetLastError in the calling thread (its own copy, not the Win32 last error). Every entry
// point may be called from any thread; no call blocks (sockets are always non-blocking: a call
// that would wait fails with WSAEWOULDBLOCK), except the blocking name lookups.
struct WinsockFn {
  // Counted: each successful call needs one WSACleanup. Returns 0 and fills *data (the version
  // granted: 1.0/1.1 or 2.0-2.2 as asked, 2.2 for anything higher), or the error code itself
  // (WSAVERNOTSUPPORTED below 1.0, WSAEFAULT for a null data).
  using WSAStartup = int (*)(WORD versionRequested, WSADATA* data);
  // The last cleanup closes every socket still open, drops every pending lookup (nothing is
  // written or posted for them afterwards) and stops the notification thread.
  using WSACleanup = int (*)();
  using WSASetLastError = void (*)(int error);
  using WSAGetLastError = int (*)();
  // 0 when the lookup was still pending: from then on nothing is written into its buffer and
  // nothing is posted for it. WSAEINVAL for an unknown or already finished handle.
  using WSACancelAsyncRequest = int (*)(HANDLE task);
  // Starts a lookup on a worker thread and returns its handle (never null on success, never
  // reused). At the end msg is posted to hwnd with wParam = the handle and lParam =
  // WSAMAKEASYNCREPLY(length of the packed entry, error); on success a WS_hostent with every
  // pointer into buf sits at the start of buf. Errors: WSAHOST_NOT_FOUND ... WSANO_DATA, and
  // WSAENOBUFS (with the length needed, buf untouched) when buflen is too small. A dotted quad is
  // answered as itself. REQUIRES: buf stays valid until the message is posted or the lookup is
  // cancelled. Null at once with WSAEINVAL when hwnd is not a window, WSAEFAULT for a null buf.
  using WSAAsyncGetHostByName = HANDLE (*)(HWND hwnd, UINT msg, const char* name, char* buf,
                                           int buflen);
  // The same for the names of a 4-byte address (network order); type must be WS_AF_INET.
  using WSAAsyncGetHostByAddr = HANDLE (*)(HWND hwnd, UINT msg, const char* addr, int len, int type,
                                           char* buf, int buflen);
  // Registers for notifications: msg is posted to hwnd with wParam = s and lParam =
  // WSAMAKESELECTREPLY(event, error), one event per message, in the order CONNECT, READ, WRITE,
  // OOB, ACCEPT, CLOSE within one change of the socket's state. Winsock's re-enabling rules:
  //   FD_READ   once, then again only after recv/recvfrom (at once if data remains);
  //   FD_ACCEPT once, then again only after accept (at once if more connections wait);
  //   FD_WRITE  at registration when the socket can send (connected or datagram), then again
  //             only after a send that would block or was short, once sending is possible;
  //   FD_CONNECT once per connect, with the connect's error (a refused connect: only this);
  //   FD_CLOSE  once per connection, after every received byte has been read (error 0 for the
  //             peer's graceful close, WSAECONNRESET for a reset).
  // A stream socket gets nothing before connect or listen. A new registration replaces the old
  // one and reports again READ/WRITE/ACCEPT conditions that hold; events 0 cancels. Nothing is
  // posted for a socket after closesocket or after its registration was cancelled.
  // WSAEINVAL when hwnd is not a window or events has unknown bits.
  using WSAAsyncSelect = int (*)(SOCKET s, HWND hwnd, UINT msg, LONG events);
  // The blocking lookups return storage of the calling thread, valid until its next call of the
  // same function; null with the error (WSANO_DATA for an unknown service or protocol, the
  // resolver's code for hosts) on failure.
  using getservbyname = WS_servent* (*)(const char* name, const char* proto);
  using getprotobyname = WS_protoent* (*)(const char* name);
  using gethostbyname = WS_hostent* (*)(const char* name);
  using gethostbyaddr = WS_hostent* (*)(const char* addr, int len, int type);
  // WSAEFAULT when the name and its NUL do not fit into namelen bytes.
  using gethostname = int (*)(char* name, int namelen);
  // WS_AF_INET only (else WSAEAFNOSUPPORT); stream, datagram or raw (else WSAESOCKTNOSUPPORT).
  // The descriptor underneath is non-blocking and close-on-exec.
  using socket = SOCKET (*)(int af, int type, int protocol);
  using shutdown = int (*)(SOCKET s, int how);
  // The options of the WS_ constants above; any other level or option gives WSAENOPROTOOPT, too
  // small a value WSAEFAULT. WS_SO_LINGER is kept by the library: getsockopt reports what was
  // set, but only (on, 0) reaches the system (see closesocket).
  using setsockopt = int (*)(SOCKET s, int level, int optname, const char* optval, int optlen);
  using getsockopt = int (*)(SOCKET s, int level, int optname, char* optval, int* optlen);
  using sendto = int (*)(SOCKET s, const char* buf, int len, int flags, const WS_sockaddr* to,
                         int tolen);
  // Returns the bytes taken, possibly fewer than len; WSAEWOULDBLOCK when none fit. Never raises
  // SIGPIPE.
  using send = int (*)(SOCKET s, const char* buf, int len, int flags);
  using ntohs = USHORT (*)(USHORT value);
  // REQUIRES for success: a bound stream socket (else WSAEINVAL / WSAEOPNOTSUPP).
  using listen = int (*)(SOCKET s, int backlog);
  // WS_FIONREAD, WS_FIONBIO (only non-blocking mode: turning it off gives WSAEINVAL under
  // WSAAsyncSelect, WSAEOPNOTSUPP otherwise) and WS_SIOCATMARK; others WSAEINVAL.
  using ioctlsocket = int (*)(SOCKET s, LONG cmd, ULONG* argp);
  // SIO_KEEPALIVE_VALS (a tcp_keepalive: keep-alive on/off, idle time and probe interval, in ms,
  // rounded up to seconds), the three ioctls above; SIO_RCVALL gives WSAEOPNOTSUPP, other codes
  // WSAEINVAL. Overlapped calls are not offered (WSAEOPNOTSUPP).
  using WSAIoctl = int (*)(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen,
                           DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
                           LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
  // Returns a buffer of the calling thread, overwritten by its next call.
  using inet_ntoa = char* (*)(WS_in_addr address);
  // a.b.c.d (and the shorter forms a.b.c, a.b, a; parts decimal, octal or hex), in network
  // order; WS_INADDR_NONE when the text is not an address.
  using inet_addr = ULONG (*)(const char* text);
  using htons = USHORT (*)(USHORT value);
  using htonl = ULONG (*)(ULONG value);
  // WSAEINVAL for a socket that is neither bound nor connected.
  using getsockname = int (*)(SOCKET s, WS_sockaddr* name, int* namelen);
  using getpeername = int (*)(SOCKET s, WS_sockaddr* name, int* namelen);
  // A stream connect returns WSAEWOULDBLOCK (or 0) and reports its outcome only through
  // FD_CONNECT, even when the system already knows it.
  using connect = int (*)(SOCKET s, const WS_sockaddr* name, int namelen);
  // Never blocks. Ends the registration first, then closes: gracefully in the background (a
  // positive linger time is not given to the system), or abortively (reset) with linger (on, 0).
  // The handle is never valid again.
  using closesocket = int (*)(SOCKET s);
  // A stream socket gets SO_REUSEADDR first, so a restarted server rebinds its port past old
  // connections in TIME_WAIT while a second live listener still gets WSAEADDRINUSE. A datagram
  // bind adds nothing.
  using bind = int (*)(SOCKET s, const WS_sockaddr* name, int namelen);
  // The new socket has no registration until WSAAsyncSelect is called for it.
  using accept = SOCKET (*)(SOCKET s, WS_sockaddr* addr, int* addrlen);
  using recv = int (*)(SOCKET s, char* buf, int len, int flags);
  // A datagram larger than len: its first len bytes and WSAEMSGSIZE.
  using recvfrom = int (*)(SOCKET s, char* buf, int len, int flags, WS_sockaddr* from,
                           int* fromlen);
};
