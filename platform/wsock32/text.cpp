// Byte order and address texts. None of these needs WSAStartup.
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/wsock32/internal.h"
#include "platform/wsock32/text.h"

namespace wsk {
namespace {

constexpr uint16_t Swap16(uint16_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap16(v);
  return v;
}
constexpr uint32_t Swap32(uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(v);
  return v;
}

int DigitValue(char c, int base) {
  int d;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  } else {
    return -1;
  }
  return d < base ? d : -1;
}

}  // namespace

bool ParseInetAddr(const char* text, uint32_t* out) {
  if (text == nullptr) return false;
  uint32_t parts[4];
  int count = 0;
  const char* p = text;
  for (;;) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    int base = 10;
    if (*p == '0') {
      base = 8;
      ++p;
      if (*p == 'x' || *p == 'X') {
        base = 16;
        ++p;
        if (DigitValue(*p, 16) < 0) return false;
      }
    }
    uint64_t value = 0;
    for (int d; (d = DigitValue(*p, base)) >= 0; ++p) {
      value = value * base + d;
      if (value > 0xFFFFFFFFu) return false;
    }
    if (count == 4) return false;
    parts[count++] = static_cast<uint32_t>(value);
    if (*p != '.') break;
    ++p;
  }
  // The address may be followed by blanks (and whatever comes after them), nothing else.
  if (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) return false;

  // The last part fills the remaining bytes: a, a.b (b: 24 bits), a.b.c (c: 16 bits), a.b.c.d.
  uint32_t host = 0;
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF) return false;
    host |= parts[i] << (8 * (3 - i));
  }
  uint32_t last = parts[count - 1];
  uint64_t lastLimit = count == 1 ? 0xFFFFFFFFull : (1ull << (8 * (5 - count))) - 1;
  if (last > lastLimit) return false;
  host |= last;
  *out = Swap32(host);
  return true;
}

}  // namespace wsk

using namespace wsk;

extern "C" {

USHORT wsk_htons(USHORT value) {
  return Swap16(value);
}
USHORT wsk_ntohs(USHORT value) {
  return Swap16(value);
}
ULONG wsk_htonl(ULONG value) {
  return Swap32(value);
}

ULONG wsk_inet_addr(const char* text) {
  uint32_t address;
  return ParseInetAddr(text, &address) ? address : WS_INADDR_NONE;
}

char* wsk_inet_ntoa(WS_in_addr address) {
  // One buffer per thread, overwritten by the thread's next call.
  thread_local char buffer[16];
  unsigned char b[4];
  std::memcpy(b, &address.s_addr, 4);
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return buffer;
}

}  // extern "C"
