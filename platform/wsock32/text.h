// Address-text parsing shared by inet_addr and the resolver. Private to platform/wsock32.
#pragma once

#include <cstdint>

namespace wsk {

// Parses an IPv4 address in the forms inet_addr accepts: a.b.c.d, a.b.c, a.b or a, each part
// decimal, octal (leading 0) or hexadecimal (0x), optionally followed by blanks. True and the
// address in network order, or false.
bool ParseInetAddr(const char* text, uint32_t* out);

}  // namespace wsk
