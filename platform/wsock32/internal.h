// Shared state of the socket library's files: the socket table, the started count, the host, and
// the helpers every entry point uses. Private to platform/wsock32.
//
// Locking: one mutex, Lock(), guards everything here. Entry points hold it for the whole call,
// including the (non-blocking) system call on the descriptor, so a descriptor is never closed and
// reused under a call in progress. Name resolution is the only slow work and runs without it.
#pragma once

#include <cstdint>
#include <mutex>
#include <type_traits>

#include "platform/wsock32/host.h"
#include "platform/wsock32/winsock.h"

// Every exported entry point is declared here with the exact type of its WinsockFn pointer, so a
// definition that differs does not compile.
// clang-format off
#define WSK_EXPORTS(X)                                                                         \
  X(WSAStartup) X(WSACleanup) X(WSASetLastError) X(WSAGetLastError) X(WSACancelAsyncRequest)   \
  X(WSAAsyncGetHostByName) X(WSAAsyncGetHostByAddr) X(WSAAsyncSelect) X(getservbyname)         \
  X(getprotobyname) X(gethostbyname) X(gethostbyaddr) X(gethostname) X(socket) X(shutdown)     \
  X(setsockopt) X(getsockopt) X(sendto) X(send) X(ntohs) X(listen) X(ioctlsocket)              \
  X(WSAIoctl) X(inet_ntoa) X(inet_addr) X(htons) X(htonl) X(getsockname) X(getpeername)        \
  X(connect) X(closesocket) X(bind) X(accept) X(recv) X(recvfrom)
// clang-format on

// The library is built with hidden visibility; only these names are exported.
#define WSK_EXPORT __attribute__((visibility("default")))
#define WSK_DECLARE_EXPORT(name) \
  extern "C" WSK_EXPORT std::remove_pointer_t<WinsockFn::name> wsk_##name;
WSK_EXPORTS(WSK_DECLARE_EXPORT)
#undef WSK_DECLARE_EXPORT
extern "C" WSK_EXPORT void wsk_SetHost(WskHost* host);
extern "C" WSK_EXPORT void wsk_SetResolver(WskResolver* resolver);

namespace wsk {

enum class Kind { Stream, Datagram, Raw };

// Where a stream socket stands; datagram and raw sockets stay Fresh.
enum class Phase { Fresh, Connecting, Connected, Listening, Failed };

struct Socket {
  SOCKET handle = INVALID_SOCKET;
  int fd = -1;
  Kind kind = Kind::Stream;
  Phase phase = Phase::Fresh;

  // Linger as the application set it. Only (on, 0) reaches the kernel, so that closing never
  // blocks; a positive time is reported back by getsockopt and otherwise left to the kernel's
  // own graceful close.
  uint16_t lingerOnOff = 0;
  uint16_t lingerTime = 0;

  bool shutSend = false;  // shutdown(SD_SEND or SD_BOTH) was called
  // The error of a connect that failed at once, or that getsockopt(SO_ERROR) took from the
  // kernel while the connect was in progress; reported with FD_CONNECT.
  int connectErrno = 0;
  bool polled = false;  // the descriptor is in the poller's set

  // WSAAsyncSelect registration; mask 0 means none.
  HWND hwnd = 0;
  UINT msg = 0;
  LONG mask = 0;
  // Re-enabling state: an armed event is posted when its condition holds, then disarmed until
  // the call that re-enables it (recv, accept, send that would block or was short).
  bool readArmed = false;
  bool writeArmed = false;
  bool oobArmed = false;
  bool acceptArmed = false;
  bool connectPosted = false;  // FD_CONNECT is posted once per connect
  bool closePosted = false;    // FD_CLOSE is posted once per connection
  bool peerReset = false;      // a receive saw the connection reset
};

std::mutex& Lock();

// The calling thread's error for WSAGetLastError.
void SetError(int code);
int GetError();
// Sets the error and returns SOCKET_ERROR, for `return Fail(WSAEINVAL);`.
int Fail(int code);

// The one translation of errno values into WSA codes.
int WsaFromErrno(int err);

// REQUIRES: Lock() held. True once WSAStartup has been called more often than WSACleanup.
bool Started();
// REQUIRES: Lock() held. 0 and *out set when s is a live socket, else WSANOTINITIALISED or
// WSAENOTSOCK.
int FindSocket(SOCKET s, Socket** out);
// REQUIRES: Lock() held. Adds a socket for a new descriptor (taken over) and returns its handle.
SOCKET AddSocket(int fd, Kind kind, Phase phase);
// REQUIRES: Lock() held. Cancels the registration, closes the descriptor and forgets the handle.
void RemoveSocket(SOCKET s);

// REQUIRES: Lock() held. The host currently installed.
WskHost& Host();

// REQUIRES: Lock() held. Puts the socket's descriptor into the poller's set (starting the poller
// on first use). False with the error code in *err when the poller cannot take it.
bool Watch(Socket& sock, int* err);
// REQUIRES: Lock() held. Posts every notification whose condition holds now and whose event is
// armed, in the order CONNECT, READ, WRITE, OOB, ACCEPT, CLOSE (async_select.cpp).
void Evaluate(Socket& sock);

// Lookups (lookup.cpp). REQUIRES: Lock() held. Drops every pending asynchronous lookup: nothing is
// written or posted for them afterwards.
void CancelAllLookups();

}  // namespace wsk
