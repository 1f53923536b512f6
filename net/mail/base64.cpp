#include "net/mail/base64.h"

#include "rtl/exception.h"

namespace net::mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The decoder's value of a character; anything outside the first 63 letters is 63.
unsigned Value(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  if (b >= 'A' && b <= 'Z') return b - 'A';
  if (b >= 'a' && b <= 'z') return b - 'a' + 26;
  if (b >= '0' && b <= '9') return b - '0' + 52;
  if (b == '+') return 62;
  return 63;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve(4 * ((bytes.size() + 2) / 3));
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned b0 = static_cast<unsigned char>(bytes[i]);
    unsigned b1 = n > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    unsigned b2 = n > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0;
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out += n > 1 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out += n > 2 ? kAlphabet[b2 & 63] : '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) throw rtl::Exception("Base64: Incorrect string format");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned a = Value(text[i]), b = Value(text[i + 1]);
    unsigned c = Value(text[i + 2]), d = Value(text[i + 3]);
    size_t count = 3;
    if (i + 4 == text.size()) {
      if (text[i + 2] == '=')
        count = 1;
      else if (text[i + 3] == '=')
        count = 2;
    }
    out += static_cast<char>(((a << 2) | (b >> 4)) & 0xFF);
    if (count > 1) out += static_cast<char>(((b << 4) | (c >> 2)) & 0xFF);
    if (count > 2) out += static_cast<char>(((c << 6) | d) & 0xFF);
  }
  return out;
}

}  // namespace net::mail
