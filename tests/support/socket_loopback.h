// Loopback helpers for tests of the socket layer (link net_socket): a listener on 127.0.0.1 with
// a port the system chooses, a client aimed at it, and a compact printable form of byte strings.
// Sockets made here belong to the calling thread, which must pump messages for them to work.
// Header-only: the fuzz targets include it too.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "net/socket/asyncsocket.h"

namespace testsupport {

// A stream listener on 127.0.0.1, port chosen by the system (read it with GetSockPort()).
template <typename T = TCustomAsyncSocket>
std::unique_ptr<T> Listener() {
  auto l = std::make_unique<T>();
  l->SetProto("tcp");
  l->SetAddr("127.0.0.1");
  l->SetPort("0");
  l->Listen();
  return l;
}

// A stream socket whose Addr and Port point at 127.0.0.1:port; Connect is left to the caller.
template <typename T = TCustomAsyncSocket>
std::unique_ptr<T> ClientTo(const std::string& port) {
  auto c = std::make_unique<T>();
  c->SetAddr("127.0.0.1");
  c->SetPort(port);
  return c;
}

// Bytes in a form that compares exactly and prints short: a run of more than 8 equal bytes is
// written {c*N}, and control bytes, "{" and "\" are escaped (\r, \n, \t, \b, \xHH).
inline std::string Rle(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t j = i;
    while (j < s.size() && s[j] == s[i])
      ++j;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::string one;
    switch (c) {
      case '\r':
        one = "\\r";
        break;
      case '\n':
        one = "\\n";
        break;
      case '\t':
        one = "\\t";
        break;
      case '\b':
        one = "\\b";
        break;
      case '\\':
        one = "\\\\";
        break;
      case '{':
        one = "\\{";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          one = hex;
        } else {
          one = std::string(1, static_cast<char>(c));
        }
    }
    const size_t run = j - i;
    if (run > 8) {
      out += "{" + one + "*" + std::to_string(run) + "}";
    } else {
      for (size_t k = 0; k < run; ++k)
        out += one;
    }
    i = j;
  }
  return out;
}

}  // namespace testsupport
