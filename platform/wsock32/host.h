// The two seams of the socket library: the host, through which it posts notifications to windows,
// and the resolver, which answers host-name lookups. Both are replaceable at run time (tests
// install fakes); the defaults are the message layer (PostMessage / IsWindow) and the system
// resolver (getaddrinfo / getnameinfo, IPv4 only).
//
// Exported as "wsk_SetHost" and "wsk_SetResolver" (GetProcAddress names "SetHost" and
// "SetResolver"). Both setters are safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/base.h"

// Where notifications go. The library calls these with its own lock held, from its poller thread,
// its lookup workers or the thread of a socket call; an implementation must not call back into
// the library and must not block.
struct WskHost {
  virtual ~WskHost() = default;
  // Queues msg for hwnd. False when the window does not exist (the notification is dropped).
  virtual bool Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual bool WindowExists(HWND hwnd) = 0;
};

// One host's addresses and names, as a lookup answers them.
struct WskHostEntry {
  std::string name;                  // official name
  std::vector<std::string> aliases;  // other names, may be empty
  std::vector<uint32_t> addresses;   // IPv4, network order; first is the preferred one
};

// Answers lookups. Called without the library's lock, possibly from several threads at once; a
// call may block (it runs on a lookup worker or in a blocking gethostbyname).
struct WskResolver {
  virtual ~WskResolver() = default;
  // Fills entry and returns 0, or returns WSAHOST_NOT_FOUND (11001), WSATRY_AGAIN (11002),
  // WSANO_RECOVERY (11003), WSANO_DATA (11004) or WSAENOBUFS (10055). A dotted quad is answered
  // as itself.
  virtual int ByName(const std::string& name, WskHostEntry& entry) = 0;
  // The names of an IPv4 address (network order); entry.addresses should hold the address.
  virtual int ByAddr(uint32_t address, WskHostEntry& entry) = 0;
};

extern "C" {
// Installs the host; null restores the default (the message layer). The host is borrowed: once
// this returns, the previous host is no longer called, so the caller may destroy it.
void wsk_SetHost(WskHost* host);
// Installs the resolver; null restores the system resolver. Borrowed likewise: returns only when
// every lookup that was using the previous resolver has finished (its result delivered or
// dropped). REQUIRES: not called from inside a resolver call, and no resolver call is waiting for
// the calling thread.
void wsk_SetResolver(WskResolver* resolver);
}

using WskSetHostFn = void (*)(WskHost* host);
using WskSetResolverFn = void (*)(WskResolver* resolver);
