// WSAAsyncSelect: Winsock's notification rules on top of the poller.
//
// Each registered socket keeps one "armed" flag per event. A notification is posted when its
// condition holds and its flag is armed; posting disarms it, and only the call Winsock names
// re-arms it: recv/recvfrom for FD_READ (and FD_OOB), accept for FD_ACCEPT, a send that would
// block or was short for FD_WRITE. FD_CONNECT is posted once per connect, FD_CLOSE once per
// connection, and only after every received byte has been read, so a handler that drains the
// socket on FD_READ sees FD_CLOSE after the data. A new registration re-arms READ, WRITE, OOB and
// ACCEPT (so a condition that still holds is reported again), never CONNECT or CLOSE.
//
// Evaluate re-reads the socket's whole state (poll with no wait, pending byte count) whenever the
// poller reports a change or a call re-arms an event, so it does not matter which of the two sees
// a change first.
#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cassert>
#include <mutex>

#include "platform/wsock32/internal.h"

namespace wsk {
namespace {

void PostEvent(Socket& sock, LONG event, int error) {
  assert(sock.handle != INVALID_SOCKET && sock.handle != 0);
  // A window that has gone away just drops the notification.
  Host().Post(sock.hwnd, sock.msg, static_cast<WPARAM>(sock.handle),
              WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error)));
}

int PendingBytes(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return 0;
  return n;
}

// Reads and clears the socket's pending error.
int TakeSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void EvaluateDatagram(Socket& sock, short ready) {
  if ((sock.mask & FD_READ) && sock.readArmed && (ready & POLLIN)) {
    sock.readArmed = false;
    PostEvent(sock, FD_READ, 0);
  }
  if ((sock.mask & FD_WRITE) && sock.writeArmed && (ready & POLLOUT)) {
    sock.writeArmed = false;
    PostEvent(sock, FD_WRITE, 0);
  }
}

void EvaluateListener(Socket& sock, short ready) {
  if ((sock.mask & FD_ACCEPT) && sock.acceptArmed && (ready & POLLIN)) {
    sock.acceptArmed = false;
    PostEvent(sock, FD_ACCEPT, 0);
  }
}

// A connect in progress ends when the socket becomes writable or reports an error (or when it
// failed at once). Returns true when the socket is now connected.
bool FinishConnect(Socket& sock, short ready) {
  int err = sock.connectErrno;
  if (err == 0) {
    if (!(ready & (POLLOUT | POLLERR | POLLHUP))) return false;
    err = TakeSocketError(sock.fd);
  }
  sock.connectErrno = 0;
  sock.phase = err == 0 ? Phase::Connected : Phase::Failed;
  if ((sock.mask & FD_CONNECT) && !sock.connectPosted) {
    sock.connectPosted = true;
    PostEvent(sock, FD_CONNECT, WsaFromErrno(err));
  }
  // A failed connect ends here: no FD_CLOSE, nothing else.
  return err == 0;
}

void EvaluateConnected(Socket& sock, short ready) {
  int pending = PendingBytes(sock.fd);
  bool broken = sock.peerReset || (ready & POLLERR);
  if ((sock.mask & FD_READ) && sock.readArmed && pending > 0) {
    sock.readArmed = false;
    PostEvent(sock, FD_READ, 0);
  }
  if ((sock.mask & FD_WRITE) && sock.writeArmed && (ready & POLLOUT) && !broken) {
    sock.writeArmed = false;
    PostEvent(sock, FD_WRITE, 0);
  }
  if ((sock.mask & FD_OOB) && sock.oobArmed && (ready & POLLPRI)) {
    sock.oobArmed = false;
    PostEvent(sock, FD_OOB, 0);
  }
  bool peerGone = broken || (ready & (POLLRDHUP | POLLHUP));
  if ((sock.mask & FD_CLOSE) && !sock.closePosted && peerGone && pending == 0) {
    int err = (ready & POLLERR) ? TakeSocketError(sock.fd) : 0;
    if (err == 0 && broken) err = ECONNRESET;
    sock.closePosted = true;
    PostEvent(sock, FD_CLOSE, WsaFromErrno(err));
  }
}

}  // namespace

void Evaluate(Socket& sock) {
  if (sock.mask == 0) return;
  // A stream socket says nothing before connect or listen, nor after a failed connect.
  if (sock.kind == Kind::Stream && (sock.phase == Phase::Fresh || sock.phase == Phase::Failed))
    return;
  pollfd p{sock.fd, POLLIN | POLLOUT | POLLPRI | POLLRDHUP, 0};
  if (poll(&p, 1, 0) < 0) return;
  short ready = p.revents;

  // Order within one round: CONNECT, READ, WRITE, OOB, ACCEPT, CLOSE.
  if (sock.kind != Kind::Stream) {
    EvaluateDatagram(sock, ready);
    return;
  }
  switch (sock.phase) {
    case Phase::Listening:
      EvaluateListener(sock, ready);
      return;
    case Phase::Connecting:
      if (!FinishConnect(sock, ready)) return;
      EvaluateConnected(sock, ready);
      return;
    case Phase::Connected:
      EvaluateConnected(sock, ready);
      return;
    case Phase::Fresh:
    case Phase::Failed:
      return;
  }
}

}  // namespace wsk

using namespace wsk;

extern "C" int wsk_WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, LONG events) {
  std::lock_guard<std::mutex> lock(Lock());
  Socket* sock;
  if (int err = FindSocket(s, &sock)) return Fail(err);
  if (events & ~FD_ALL_EVENTS) return Fail(WSAEINVAL);
  if (events == 0) {
    // Cancels the registration; the socket stays non-blocking.
    sock->hwnd = 0;
    sock->msg = 0;
    sock->mask = 0;
    return 0;
  }
  if (!Host().WindowExists(hwnd)) return Fail(WSAEINVAL);
  int err;
  if (!sock->polled && !Watch(*sock, &err)) return Fail(err);
  sock->hwnd = hwnd;
  sock->msg = msg;
  sock->mask = events;
  sock->readArmed = sock->writeArmed = sock->oobArmed = sock->acceptArmed = true;
  Evaluate(*sock);
  return 0;
}
