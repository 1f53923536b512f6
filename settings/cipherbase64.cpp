#include "settings/cipherbase64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character; 0 for anything else ("=" is tested by the caller).
uint8_t Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

}  // namespace

size_t KcBase64EncodeBuf(const void* In, void* Out, size_t Size) {
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<char*>(Out);
  size_t o = 0;
  for (size_t i = 0; i < Size; i += 3) {
    const size_t n = Size - i < 3 ? Size - i : 3;
    const uint32_t b0 = in[i];
    const uint32_t b1 = n > 1 ? in[i + 1] : 0;
    const uint32_t b2 = n > 2 ? in[i + 2] : 0;
    out[o++] = kAlphabet[b0 >> 2];
    out[o++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out[o++] = n > 1 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out[o++] = n > 2 ? kAlphabet[b2 & 63] : '=';
  }
  return o;
}

std::string KcBase64EncodeText(std::string_view Text) {
  std::string out((Text.size() + 2) / 3 * 4, '\0');
  out.resize(KcBase64EncodeBuf(Text.data(), out.data(), Text.size()));
  return out;
}

size_t KcBase64DecodeBuf(const void* In, void* Out, size_t Size) {
  auto in = static_cast<const unsigned char*>(In);
  auto out = static_cast<uint8_t*>(Out);
  size_t o = 0;
  for (size_t g = 0; g + 4 <= Size; g += 4) {
    const uint8_t a = Value(in[g]), b = Value(in[g + 1]), c = Value(in[g + 2]),
                  d = Value(in[g + 3]);
    out[o++] = static_cast<uint8_t>((a << 2) | (b >> 4));
    if (in[g + 2] == '=') continue;
    out[o++] = static_cast<uint8_t>((b << 4) | (c >> 2));
    if (in[g + 3] == '=') continue;
    out[o++] = static_cast<uint8_t>((c << 6) | d);
  }
  return o;
}

std::string KcBase64DecodeText(std::string_view Text) {
  std::string out(Text.size() / 4 * 3, '\0');
  out.resize(KcBase64DecodeBuf(Text.data(), out.data(), Text.size()));
  return out;
}
