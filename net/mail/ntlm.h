// NTLM (version 1) messages for the SMTP client's "AUTH NTLM" exchange: the negotiate message
// (type 1) sent with the command, the server's challenge message (type 2) read from its 334 reply,
// and the authenticate message (type 3) that answers it, each as Base64 text; and the routines
// they stand on (MD4 of a string, widening to UTF-16LE, the DES key spreading, LM and NT
// responses). Message integers are little-endian. Pure functions on byte strings, safe from any
// thread; results are owned by the caller.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace net::mail {

// The most bytes a name may fill in a message: a security buffer holds a 16-bit length.
constexpr size_t kNtlmMaxField = 0xFFFF;

// The server challenge of a type-2 message.
using TNtlmChallenge = std::array<uint8_t, 8>;

// What a challenge message tells.
struct TNTLM_Msg2_Info {
  bool Valid = false;     // False only when the text was empty
  std::u16string Target;  // the target name
  std::u16string Domain;  // target information entry of type 2
  std::u16string Server;  // target information entry of type 1
  TNtlmChallenge Challenge = {};
};

// The 16-byte MD4 digest of bytes.
std::string StrMD4Digest(std::string_view bytes);

// CP932 text as UTF-16LE bytes. ASCII byte b gives b, 0; a double-byte character gives its code
// unit; a byte (or a lead byte with its trail byte) that does not convert is widened byte by byte
// as b, 0, so the result never fails and is empty only for empty text.
std::string NtlmWiden(std::string_view cp932);

// DES-ECB encryption of an 8-byte block under a 7-byte key, whose 56 bits are spread over the top
// 7 bits of 8 key bytes (the low bits 0). Returns 8 bytes.
// REQUIRES: key7.size() == 7, block8.size() == 8.
std::string NtlmDesEncrypt(std::string_view key7, std::string_view block8);

// The 24-byte LM response: the password ASCII upper-cased, cut or zero-padded to 14 bytes, gives
// the LM hash ("KGS!@#$%" encrypted under both halves), which encrypts the challenge three times.
std::string NtlmLmResponse(std::string_view password, const TNtlmChallenge& challenge);

// The 24-byte NT response: the MD4 of the widened password (all of it) encrypts the challenge.
std::string NtlmNtResponse(std::string_view password, const TNtlmChallenge& challenge);

// The Base64 text of a negotiate message: a 32-byte header (flags 0x8207, plus 0x2000 with a host
// name and 0x1000 with a domain; an empty name has length and offset 0), then the host name and
// the domain, ASCII upper-cased. A name longer than kNtlmMaxField bytes is cut to that length.
std::string BuildNtlmNegotiate(std::string_view host, std::string_view domain);

// Reads a challenge message from its Base64 text. Empty text gives Valid false and nothing else.
// Otherwise the header is the first 48 bytes (bytes past the end of the message read as zero);
// the target name is what of its buffer lies inside the message; the target information is
// walked from its offset to the end of the message (its length is not used), type 1 giving
// Server and type 2 Domain, up to an entry of type 0 and length 0. Names are widened as
// NtlmWiden does. Signature and message type are not checked. Never reads outside the text.
TNTLM_Msg2_Info ParseNtlmChallenge(std::string_view base64);

// The Base64 text of an authenticate message: a 64-byte header (flags 0x8205, an empty session
// key), then the widened domain, user name and host name, the LM and the NT response. A widened
// name longer than kNtlmMaxField bytes is cut to that length (a whole number of code units).
std::string BuildNtlmAuthenticate(std::string_view domain, std::string_view host,
                                  std::string_view user, const TNtlmChallenge& challenge,
                                  std::string_view password);

}  // namespace net::mail
