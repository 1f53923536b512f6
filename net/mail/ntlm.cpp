// NTLM messages: building types 1 and 3, reading type 2. Every read of a received message goes
// through ByteAt or Slice, which stay inside the message.
#include "net/mail/ntlm.h"

#include <algorithm>

#include "net/mail/mime.h"
#include "rtl/cp932.h"
#include "rtl/crypto.h"

namespace net::mail {

namespace {

constexpr char kSignature[] = "NTLMSSP";  // written with its closing zero byte: 8 bytes
constexpr uint32_t kTypeNegotiate = 1;
constexpr uint32_t kTypeAuthenticate = 3;
constexpr size_t kNegotiateHeader = 32;
constexpr size_t kChallengeHeader = 48;
constexpr size_t kAuthenticateHeader = 64;
constexpr uint32_t kNegotiateFlags = 0x8207;
constexpr uint32_t kNegotiateHostFlag = 0x2000;
constexpr uint32_t kNegotiateDomainFlag = 0x1000;
constexpr uint32_t kAuthenticateFlags = 0x8205;
constexpr size_t kResponseSize = 24;
constexpr char kLmMagic[] = "KGS!@#$%";
constexpr size_t kLmPasswordSize = 14;

// Offsets in the challenge message.
constexpr size_t kTargetNameBuffer = 12;
constexpr size_t kChallengeAt = 24;
constexpr size_t kTargetInfoBuffer = 40;
// Target information entry types.
constexpr uint16_t kInfoEnd = 0;
constexpr uint16_t kInfoServer = 1;
constexpr uint16_t kInfoDomain = 2;

void PutU16(std::string& msg, size_t at, uint32_t value) {
  msg[at] = static_cast<char>(value & 0xFF);
  msg[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& msg, size_t at, uint32_t value) {
  PutU16(msg, at, value & 0xFFFF);
  PutU16(msg, at + 2, value >> 16);
}

// A security buffer: length, the same as maximum length, offset.
void PutBuffer(std::string& msg, size_t at, size_t length, size_t offset) {
  PutU16(msg, at, static_cast<uint32_t>(length));
  PutU16(msg, at + 2, static_cast<uint32_t>(length));
  PutU32(msg, at + 4, static_cast<uint32_t>(offset));
}

// A message header: signature, type, the rest zero.
std::string NewMessage(size_t headerSize, uint32_t type) {
  std::string msg(headerSize, '\0');
  std::copy_n(kSignature, sizeof kSignature, msg.begin());
  PutU32(msg, 8, type);
  return msg;
}

uint8_t ByteAt(std::string_view msg, size_t at) {
  return at < msg.size() ? static_cast<uint8_t>(msg[at]) : 0;
}

uint32_t U16At(std::string_view msg, size_t at) {
  return ByteAt(msg, at) | (ByteAt(msg, at + 1) << 8);
}

uint32_t U32At(std::string_view msg, size_t at) {
  return U16At(msg, at) | (U16At(msg, at + 2) << 16);
}

// What of [offset, offset + length) lies inside msg.
std::string_view Slice(std::string_view msg, size_t offset, size_t length) {
  if (offset >= msg.size()) return {};
  return msg.substr(offset, std::min(length, msg.size() - offset));
}

std::u16string WideText(std::string_view cp932) {
  const std::string bytes = NtlmWiden(cp932);
  std::u16string wide(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  return wide;
}

// b -> b, 0 for every byte.
void AppendByteWidened(std::string& out, std::string_view bytes) {
  for (char b : bytes) {
    out += b;
    out += '\0';
  }
}

// A widened name cut to what a buffer holds, at a code-unit boundary.
std::string WidenedField(std::string_view text) {
  std::string wide = NtlmWiden(text);
  if (wide.size() > kNtlmMaxField) wide.resize(kNtlmMaxField & ~size_t{1});
  return wide;
}

// A 21-byte value (16-byte hash, 5 zero bytes) encrypts the challenge under each third.
std::string ResponseFromHash(std::string hash, const TNtlmChallenge& challenge) {
  hash.resize(21, '\0');
  const std::string_view block(reinterpret_cast<const char*>(challenge.data()), challenge.size());
  const std::string_view keys(hash);
  return NtlmDesEncrypt(keys.substr(0, 7), block) + NtlmDesEncrypt(keys.substr(7, 7), block) +
         NtlmDesEncrypt(keys.substr(14, 7), block);
}

}  // namespace

std::string StrMD4Digest(std::string_view bytes) {
  return rtl::Md4(bytes);
}

std::string NtlmWiden(std::string_view cp932) {
  std::string out;
  if (std::all_of(cp932.begin(), cp932.end(), [](char c) { return (c & 0x80) == 0; })) {
    AppendByteWidened(out, cp932);
    return out;
  }
  if (rtl::IconvConvert("CP932", "UTF-16LE", cp932, out)) return out;
  // Something does not convert: character by character, so only that one is widened bytewise.
  out.clear();
  std::string piece;
  for (size_t i = 0; i < cp932.size();) {
    const size_t n =
        rtl::IsLeadByte(static_cast<uint8_t>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
    const std::string_view character = cp932.substr(i, n);
    if (rtl::IconvConvert("CP932", "UTF-16LE", character, piece))
      out += piece;
    else
      AppendByteWidened(out, character);
    i += n;
  }
  return out;
}

std::string NtlmDesEncrypt(std::string_view key7, std::string_view block8) {
  uint8_t k[7];
  for (size_t i = 0; i < 7; ++i)
    k[i] = static_cast<uint8_t>(key7[i]);
  uint8_t key[8];
  key[0] = k[0];
  for (int i = 1; i < 7; ++i)
    key[i] = static_cast<uint8_t>((k[i - 1] << (8 - i)) | (k[i] >> i));
  key[7] = static_cast<uint8_t>(k[6] << 1);
  for (uint8_t& b : key)
    b &= 0xFE;
  uint8_t in[8], out[8];
  for (size_t i = 0; i < 8; ++i)
    in[i] = static_cast<uint8_t>(block8[i]);
  rtl::DesEcbBlock(key, in, out);
  return std::string(reinterpret_cast<const char*>(out), 8);
}

std::string NtlmLmResponse(std::string_view password, const TNtlmChallenge& challenge) {
  std::string upper = rtl::UpperCase(password.substr(0, kLmPasswordSize));
  upper.resize(kLmPasswordSize, '\0');
  const std::string_view magic(kLmMagic, sizeof kLmMagic - 1);
  const std::string_view p(upper);
  const std::string hash =
      NtlmDesEncrypt(p.substr(0, 7), magic) + NtlmDesEncrypt(p.substr(7, 7), magic);
  return ResponseFromHash(hash, challenge);
}

std::string NtlmNtResponse(std::string_view password, const TNtlmChallenge& challenge) {
  return ResponseFromHash(StrMD4Digest(NtlmWiden(password)), challenge);
}

std::string BuildNtlmNegotiate(std::string_view host, std::string_view domain) {
  const std::string h = rtl::UpperCase(host.substr(0, kNtlmMaxField));
  const std::string d = rtl::UpperCase(domain.substr(0, kNtlmMaxField));
  std::string msg = NewMessage(kNegotiateHeader, kTypeNegotiate);
  uint32_t flags = kNegotiateFlags;
  if (!h.empty()) flags |= kNegotiateHostFlag;
  if (!d.empty()) flags |= kNegotiateDomainFlag;
  PutU32(msg, 12, flags);
  PutBuffer(msg, 16, d.size(), d.empty() ? 0 : kNegotiateHeader + h.size());
  PutBuffer(msg, 24, h.size(), h.empty() ? 0 : kNegotiateHeader);
  msg += h;
  msg += d;
  return MimeBase64Encode(msg);
}

TNTLM_Msg2_Info ParseNtlmChallenge(std::string_view base64) {
  TNTLM_Msg2_Info info;
  if (base64.empty()) return info;
  info.Valid = true;
  const std::string decoded = MimeBase64Decode(base64);
  const std::string_view msg(decoded);
  info.Target =
      WideText(Slice(msg, U32At(msg, kTargetNameBuffer + 4), U16At(msg, kTargetNameBuffer)));
  for (size_t i = 0; i < info.Challenge.size(); ++i)
    info.Challenge[i] = ByteAt(msg, kChallengeAt + i);
  // The header ends at kChallengeHeader; the entries stand where the buffer says.
  static_assert(kTargetInfoBuffer + 8 == kChallengeHeader);
  size_t pos = U32At(msg, kTargetInfoBuffer + 4);
  while (pos < msg.size() && msg.size() - pos >= 4) {
    const uint32_t type = U16At(msg, pos);
    const uint32_t length = U16At(msg, pos + 2);
    if (type == kInfoEnd && length == 0) break;
    const std::string_view value = Slice(msg, pos + 4, length);
    if (type == kInfoServer) info.Server = WideText(value);
    if (type == kInfoDomain) info.Domain = WideText(value);
    pos += 4 + length;
  }
  return info;
}

std::string BuildNtlmAuthenticate(std::string_view domain, std::string_view host,
                                  std::string_view user, const TNtlmChallenge& challenge,
                                  std::string_view password) {
  const std::string d = WidenedField(domain);
  const std::string u = WidenedField(user);
  const std::string h = WidenedField(host);
  const size_t userAt = kAuthenticateHeader + d.size();
  const size_t hostAt = userAt + u.size();
  const size_t lmAt = hostAt + h.size();
  std::string msg = NewMessage(kAuthenticateHeader, kTypeAuthenticate);
  PutBuffer(msg, 12, kResponseSize, lmAt);
  PutBuffer(msg, 20, kResponseSize, lmAt + kResponseSize);
  PutBuffer(msg, 28, d.size(), kAuthenticateHeader);
  PutBuffer(msg, 36, u.size(), userAt);
  PutBuffer(msg, 44, h.size(), hostAt);
  PutBuffer(msg, 52, 0, 0);  // no session key
  PutU32(msg, 60, kAuthenticateFlags);
  msg += d;
  msg += u;
  msg += h;
  msg += NtlmLmResponse(password, challenge);
  msg += NtlmNtResponse(password, challenge);
  return MimeBase64Encode(msg);
}

}  // namespace net::mail
