#include "rtl/crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rtl/exception.h"

namespace rtl {
namespace {

// Bytes of a hexadecimal text.
std::string Unhex(std::string_view hex) {
  std::string r;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    r += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return r;
}

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits80 =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

TEST(Crypto, DigestVectors) {
  struct Case {
    DigestKind kind;
    std::string data;
    const char* hex;
  } cases[] = {
      // RFC 1321
      {DigestKind::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {DigestKind::Md5, "a", "0cc175b9c0f1b6a831c399e269772661"},
      {DigestKind::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {DigestKind::Md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {DigestKind::Md5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {DigestKind::Md5, kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
      {DigestKind::Md5, kDigits80, "57edf4a22be3c955ac49da2e2107b67a"},
      // RFC 1320
      {DigestKind::Md4, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {DigestKind::Md4, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {DigestKind::Md4, "message digest", "d9130a8164549fe818874806e1c7014b"},
      {DigestKind::Md4, kDigits80, "e33b4ddc9c38f2199c3e7b164fcc0536"},
      // FIPS 180
      {DigestKind::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {DigestKind::Sha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {DigestKind::Sha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) {
    std::string one = c.kind == DigestKind::Md4   ? Md4(c.data)
                      : c.kind == DigestKind::Md5 ? Md5(c.data)
                                                  : Sha1(c.data);
    EXPECT_EQ(HexLower(one), c.hex) << c.data.substr(0, 40);
    EXPECT_EQ(one.size(), DigestSize(c.kind));
  }
}

TEST(Crypto, IncrementalDigestEqualsOneShotAtEverySplit) {
  std::string data;
  for (int i = 0; i < 200; ++i)
    data += static_cast<char>(i * 7);  // crosses 64-byte blocks
  for (DigestKind kind : {DigestKind::Md4, DigestKind::Md5, DigestKind::Sha1}) {
    Digest whole(kind);
    whole.Update(data);
    const std::string expected = whole.Final();
    Digest d(kind);
    for (size_t a = 0; a <= data.size(); a += 13) {
      for (size_t b = a; b <= data.size(); b += 29) {
        d.Reset();
        d.Update(data.substr(0, a));
        d.Update(data.data() + a, b - a);
        d.Update(data.substr(b));
        ASSERT_EQ(d.Final(), expected) << int(kind) << " split " << a << "," << b;
      }
    }
    d.Reset();
    for (char ch : data)
      d.Update(&ch, 1);
    EXPECT_EQ(d.Final(), expected);
    // Reset after Final starts afresh.
    d.Reset();
    d.Update("abc");
    EXPECT_EQ(d.Final(), kind == DigestKind::Md4   ? Md4("abc")
                         : kind == DigestKind::Md5 ? Md5("abc")
                                                   : Sha1("abc"));
  }
}

TEST(Crypto, HmacVectors) {
  const std::string what = "what do ya want for nothing?";
  const std::string big = "Test Using Larger Than Block-Size Key - Hash Key First";
  struct Case {
    bool sha1;
    std::string key, data;
    const char* hex;
  } cases[] = {
      // RFC 2202 test cases 1, 2 and 6
      {false, std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {false, "Jefe", what, "750c783e6ab0b503eaa86e310a5db738"},
      {false, std::string(80, '\xaa'), big, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {true, std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {true, "Jefe", what, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {true, std::string(80, '\xaa'), big, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      // An empty key and empty data are legal.
      {false, "", "", "74e6f7298a9c2d168935f58c001bad88"},
      {true, "", "", "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexLower(c.sha1 ? HmacSha1(c.key, c.data) : HmacMd5(c.key, c.data)), c.hex) << c.data;
  }
}

TEST(Crypto, DesBlock) {
  struct Case {
    const char *key, *plain, *cipher;
  } cases[] = {
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},  // "Now is t"
      {"0022446688AACCEE", "4E6F772069732074", "3FA40E8A984D4815"},  // parity bits cleared
      {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},  // NIST SP 800-17
  };
  for (const auto& c : cases) {
    std::string key = Unhex(c.key), plain = Unhex(c.plain), cipher = Unhex(c.cipher);
    uint8_t out[8], back[8];
    DesEcbBlock(reinterpret_cast<const uint8_t*>(key.data()),
                reinterpret_cast<const uint8_t*>(plain.data()), out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), cipher) << c.key;
    DesEcbBlock(reinterpret_cast<const uint8_t*>(key.data()), out, back, false);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), plain) << c.key;
  }
}

TEST(Crypto, BlowfishBlock) {
  struct Case {
    const char *key, *plain, *cipher;
  } cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      // Keys of other lengths, one plaintext.
      {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
      {"F0E1D2", "FEDCBA9876543210", "E9C2B70A1BC65CF3"},
      {"F0E1D2C3B4A5968778", "FEDCBA9876543210", "15750E7A4F4EC577"},
      {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
  };
  for (const auto& c : cases) {
    std::string plain = Unhex(c.plain), cipher = Unhex(c.cipher);
    BlowfishBlock bf(Unhex(c.key));
    uint8_t block[8];
    std::memcpy(block, plain.data(), 8);
    bf.Encrypt(block, block);  // in place
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 8), cipher) << c.key;
    bf.Decrypt(block, block);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 8), plain) << c.key;
  }
  EXPECT_THROW(BlowfishBlock(""), Exception);
  EXPECT_THROW(BlowfishBlock(std::string(73, 'k')), Exception);
  EXPECT_NO_THROW(BlowfishBlock(std::string(72, 'k')));
}

}  // namespace
}  // namespace rtl
