#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rtl/crypto.h"
#include "settings/blowfish.h"
#include "settings/cipherbase64.h"
#include "settings/sha1.h"

namespace {

std::string Hex(const std::string& bytes) {
  return rtl::HexLower(bytes);
}

std::string Unhex(std::string_view hex) {
  std::string r;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    r += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return r;
}

std::string Iv(TKc_blockcipher& c) {
  std::string v(8, '\0');
  c.GetIV(v.data());
  return v;
}

// --- SHA-1 ---

TEST(KcSha1, PublishedDigests) {
  struct Case {
    std::string text;
    size_t chunk;  // Update in pieces of this size
    const char* digest;
  } cases[] = {
      {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7,
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), 4096, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  TKc_sha1 h;
  for (const Case& c : cases) {
    h.Init();
    for (size_t i = 0; i < c.text.size(); i += c.chunk)
      h.UpdateString(std::string_view(c.text).substr(i, c.chunk));
    char digest[20];
    h.Final(digest);
    EXPECT_EQ(Hex(std::string(digest, 20)), c.digest) << c.text.size();
  }
  EXPECT_TRUE(h.SelfTest());
  EXPECT_EQ(h.Id(), 2);
  EXPECT_EQ(h.Algorithm(), "SHA1");
  EXPECT_EQ(h.HashSize(), 160);
}

TEST(KcSha1, UseOutsideInitAndFinalIsRefused) {
  TKc_sha1 h;
  char digest[20];
  EXPECT_THROW(h.UpdateString("x"), EKc_hash);
  EXPECT_THROW(h.Final(digest), EKc_hash);
  h.Init();
  h.UpdateString("x");
  h.Final(digest);
  try {
    h.UpdateString("y");  // Final ended the digest
    ADD_FAILURE() << "no exception";
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EKc_hash");
  }
}

// --- Blowfish blocks ---

TEST(KcBlowfish, PublishedBlocks) {
  struct Case {
    const char *key, *plain, *cipher;
  } cases[] = {
      {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
      // Keys of several lengths, the 160-bit key of the stored password among them.
      {"f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677", "fedcba9876543210", "05044b62fa52d080"},
      {"f0e1d2c3b4a5968778695a4b3c2d1e0f00112233", "fedcba9876543210", "10851c0e3858da9f"},
      {"f0e1d2c3b4a5968778695a4b3c2d1e0f", "fedcba9876543210", "93142887ee3be15c"},
      {"f0", "fedcba9876543210", "f9ad597c49db005e"},
  };
  TKc_blowfish bf;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string key = Unhex(c.key);
    bf.Init(key.data(), static_cast<int>(key.size() * 8), nullptr);
    std::string block = Unhex(c.plain);
    bf.EncryptECB(block.data(), block.data());
    EXPECT_EQ(Hex(block), c.cipher);
    bf.DecryptECB(block.data(), block.data());
    EXPECT_EQ(Hex(block), c.plain);
  }
  EXPECT_TRUE(bf.SelfTest());
  EXPECT_EQ(bf.Id(), 5);
  EXPECT_EQ(bf.Algorithm(), "Blowfish");
  EXPECT_EQ(bf.MaxKeySize(), 448);
  EXPECT_EQ(bf.BlockSize(), 64);
}

TEST(KcBlowfish, KeySizes) {
  const std::string key(56, '\x5a');
  struct Case {
    int bits;
    bool accepted;
  } cases[] = {
      {0, false}, {-8, false}, {162, false}, {452, false}, {456, false},
      {4, true},  {160, true}, {164, true},  {448, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    TKc_blowfish bf;
    bf.Init(key.data(), 160, nullptr);
    if (c.accepted) {
      bf.Init(key.data(), c.bits, nullptr);
      EXPECT_TRUE(bf.Initialized());
      continue;
    }
    try {
      bf.Init(key.data(), c.bits, nullptr);
      ADD_FAILURE() << "accepted";
    } catch (const EKc_cipher& e) {
      EXPECT_STREQ(e.ClassName(), "EKc_cipher");
      EXPECT_EQ(e.Message, "Invalid key size");
    }
    EXPECT_FALSE(bf.Initialized());  // the old key is gone as well
  }
}

TEST(KcBlowfish, UseBeforeInitIsRefused) {
  uint8_t b[16] = {};
  using Op = std::function<void(TKc_blowfish&)>;
  const std::vector<std::pair<const char*, Op>> ops = {
      {"Reset", [](TKc_blowfish& c) { c.Reset(); }},
      {"SetIV", [&](TKc_blowfish& c) { c.SetIV(b); }},
      {"GetIV", [&](TKc_blowfish& c) { c.GetIV(b); }},
      {"ECB", [&](TKc_blowfish& c) { c.EncryptECB(b, b); }},
      {"CBC", [&](TKc_blowfish& c) { c.EncryptCBC(b, b, 16); }},
      {"CBC back", [&](TKc_blowfish& c) { c.DecryptCBC(b, b, 16); }},
      {"CFB8", [&](TKc_blowfish& c) { c.EncryptCFB8bit(b, b, 0); }},
      {"CFB8 back", [&](TKc_blowfish& c) { c.DecryptCFB8bit(b, b, 1); }},
      {"CFB", [&](TKc_blowfish& c) { c.EncryptCFBblock(b, b, 3); }},
      {"CFB back", [&](TKc_blowfish& c) { c.DecryptCFBblock(b, b, 3); }},
      {"OFB", [&](TKc_blowfish& c) { c.EncryptOFB(b, b, 8); }},
      {"OFB back", [&](TKc_blowfish& c) { c.DecryptOFB(b, b, 8); }},
      {"CTR", [&](TKc_blowfish& c) { c.EncryptCTR(b, b, 8); }},
      {"CTR back", [&](TKc_blowfish& c) { c.DecryptCTR(b, b, 8); }},
      {"Encrypt", [&](TKc_blowfish& c) { c.Encrypt(b, b, 8); }},
      {"EncryptText", [](TKc_blowfish& c) { c.EncryptText(""); }},
      {"DecryptText", [](TKc_blowfish& c) { c.DecryptText("AAAA"); }},
  };
  for (bool wiped : {false, true}) {
    for (const auto& [name, op] : ops) {
      SCOPED_TRACE(std::string(name) + (wiped ? " after Wipe" : " when new"));
      TKc_blowfish bf;
      if (wiped) {
        bf.InitFromString("key", TKc_sha1::Class);
        bf.Wipe();
      }
      try {
        op(bf);
        ADD_FAILURE() << "no exception";
      } catch (const EKc_cipher& e) {  // a block-cipher error is a cipher error too
        EXPECT_STREQ(e.ClassName(), "EKc_blockcipher");
        EXPECT_EQ(e.Message, "Cipher not initialized");
      }
    }
  }
}

// --- Key set-up from a pass string ---

TEST(KcInitFromString, WholeDigestAsKeyAndZeroBlockAsIV) {
  TKc_blowfish bf;
  bf.InitFromString("MvQk", TKc_sha1::Class);
  ASSERT_TRUE(bf.Initialized());

  const std::string digest = rtl::Sha1("MvQk");
  rtl::BlowfishBlock block(digest);  // the whole 160-bit digest
  uint8_t iv[8] = {};
  block.Encrypt(iv, iv);
  EXPECT_EQ(Iv(bf), std::string(reinterpret_cast<char*>(iv), 8));

  // The same as keying with the digest and no initial vector.
  TKc_blowfish direct;
  direct.Init(digest.data(), 160, nullptr);
  std::string a(19, 'p'), b(19, 'p');
  bf.EncryptCBC(a.data(), a.data(), a.size());
  direct.EncryptCBC(b.data(), b.data(), b.size());
  EXPECT_EQ(a, b);
}

// A Blowfish that takes keys of at most 128 bits and remembers the key it was given.
class ShortKeyBlowfish : public TKc_blowfish {
 public:
  int MaxKeySize() const override { return 128; }
  void InitKey(const void* Key, int Size) override {
    keySize = Size;
    key.assign(static_cast<const char*>(Key), (Size + 7) / 8);
    TKc_blowfish::InitKey(Key, Size);
  }
  int keySize = 0;
  std::string key;
};

// A hash whose digest size no cipher accepts.
class OddHash : public TKc_hash {
 public:
  using TKc_hash::TKc_hash;
  void Final(void* Digest) override { std::memset(Digest, 1, 20); }
};

TEST(KcInitFromString, DigestCutToTheLargestKeyAndFailuresReplaced) {
  ShortKeyBlowfish bf;
  bf.InitFromString("MvQk", TKc_sha1::Class);
  EXPECT_EQ(bf.keySize, 128);
  EXPECT_EQ(bf.key, rtl::Sha1("MvQk").substr(0, 16));

  for (int size : {162, 0, -1}) {
    SCOPED_TRACE(size);
    const TKc_hashclass odd = {size, [](rtl::TComponent* o) -> std::unique_ptr<TKc_hash> {
                                 return std::make_unique<OddHash>(o);
                               }};
    TKc_blowfish c;
    try {
      c.InitFromString("x", odd);
      ADD_FAILURE() << "accepted";
    } catch (const EKc_cipher& e) {
      EXPECT_STREQ(e.ClassName(), "EKc_cipher");
      EXPECT_EQ(e.Message, "Unable to allocate sufficient memory for hash digest");
    }
    EXPECT_FALSE(c.Initialized());
  }
}

// --- Modes ---

struct Mode {
  const char* name;
  TKc_ciphermode mode;
  void (TKc_blockcipher::*encrypt)(const void*, void*, size_t);
  void (TKc_blockcipher::*decrypt)(const void*, void*, size_t);
};

const Mode kModes[] = {
    {"CBC", cmCBC, &TKc_blockcipher::EncryptCBC, &TKc_blockcipher::DecryptCBC},
    {"CFB8bit", cmCFB8bit, &TKc_blockcipher::EncryptCFB8bit, &TKc_blockcipher::DecryptCFB8bit},
    {"CFBblock", cmCFBblock, &TKc_blockcipher::EncryptCFBblock, &TKc_blockcipher::DecryptCFBblock},
    {"OFB", cmOFB, &TKc_blockcipher::EncryptOFB, &TKc_blockcipher::DecryptOFB},
    {"CTR", cmCTR, &TKc_blockcipher::EncryptCTR, &TKc_blockcipher::DecryptCTR},
};

// The published chaining vectors: key 0123456789ABCDEFF0E1D2C3B4A59687, IV FEDCBA9876543210,
// "7654321 Now is the time for " with its NUL (CBC over it and three zero bytes).
TEST(KcBlockModes, PublishedChainingVectors) {
  const std::string key = Unhex("0123456789abcdeff0e1d2c3b4a59687");
  const std::string iv = Unhex("fedcba9876543210");
  const std::string text("7654321 Now is the time for \0", 29);
  struct Case {
    TKc_ciphermode mode;
    std::string plain;
    const char* cipher;
  } cases[] = {
      {cmCBC, text + std::string(3, '\0'),
       "6b77b4d63006dee605b156e27403979358deb9e7154616d959f1652bd5ff92cc"},
      {cmCFBblock, text, "e73214a2822139caf26ecf6d2eb9e76e3da3de04d1517200519d57a6c3"},
      {cmOFB, text, "e73214a2822139ca62b343cc5b65587310dd908d0c241b2263c2cf80da"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    TKc_blowfish bf;
    bf.Init(key.data(), 128, iv.data());
    bf.SetCipherMode(c.mode);
    std::string buf = c.plain;
    bf.Encrypt(buf.data(), buf.data(), buf.size());
    EXPECT_EQ(Hex(buf), c.cipher);
    bf.Reset();
    bf.Decrypt(buf.data(), buf.data(), buf.size());
    EXPECT_EQ(buf, c.plain);
  }
}

TEST(KcBlockModes, EveryModeRoundTripsInPlaceAndApart) {
  std::string plain;
  for (int i = 0; i < 41; ++i)
    plain += static_cast<char>(i * 37 + 5);
  TKc_blowfish bf;
  bf.InitFromString("modes", TKc_sha1::Class);
  for (const Mode& m : kModes) {
    for (size_t n = 0; n <= plain.size(); ++n) {
      SCOPED_TRACE(std::string(m.name) + " " + std::to_string(n));
      const std::string in = plain.substr(0, n);
      std::string apart(n, '\0'), inPlace = in, viaMode(n, '\0'), back(n, '\0');
      bf.Reset();
      (bf.*m.encrypt)(in.data(), apart.data(), n);
      bf.Reset();
      (bf.*m.encrypt)(inPlace.data(), inPlace.data(), n);
      bf.Reset();
      bf.SetCipherMode(m.mode);
      bf.Encrypt(in.data(), viaMode.data(), n);
      EXPECT_EQ(inPlace, apart);
      EXPECT_EQ(viaMode, apart);
      if (n >= 8) {
        EXPECT_NE(apart, in);
      }
      bf.Reset();
      (bf.*m.decrypt)(apart.data(), back.data(), n);
      EXPECT_EQ(back, in);
      bf.Reset();
      (bf.*m.decrypt)(inPlace.data(), inPlace.data(), n);
      EXPECT_EQ(inPlace, in);
      bf.Reset();
      bf.Decrypt(apart.data(), apart.data(), n);
      EXPECT_EQ(apart, in);
    }
  }
}

// Eleven bytes in CBC: one block, then a three-byte tail enciphered with E(the cipher block).
TEST(KcBlockModes, CbcTail) {
  const std::string key = rtl::Sha1("tail");
  const std::string iv = Unhex("0102030405060708");
  const std::string plain = "hello world";
  TKc_blowfish bf;
  bf.Init(key.data(), 160, iv.data());
  std::string out(11, '\0');
  bf.EncryptCBC(plain.data(), out.data(), 11);

  rtl::BlowfishBlock block(key);
  uint8_t c1[8], t[8];
  for (int i = 0; i < 8; ++i)
    c1[i] = static_cast<uint8_t>(plain[i] ^ iv[i]);
  block.Encrypt(c1, c1);
  block.Encrypt(c1, t);
  std::string expected(reinterpret_cast<char*>(c1), 8);
  for (int i = 0; i < 3; ++i)
    expected += static_cast<char>(plain[8 + i] ^ t[i]);
  EXPECT_EQ(Hex(out), Hex(expected));
  EXPECT_EQ(Iv(bf), std::string(reinterpret_cast<char*>(t), 8));  // CV = E(C1)

  bf.Reset();
  bf.DecryptCBC(out.data(), out.data(), 11);
  EXPECT_EQ(out, plain);
}

// The chaining value after a call is what GetIV gives, and the next call runs on from it.
TEST(KcBlockModes, GetIVReturnsTheChainingValue) {
  TKc_blowfish bf;
  bf.InitFromString("chain", TKc_sha1::Class);
  const std::string iv = Iv(bf);

  std::string block(8, 'a');
  bf.EncryptCBC(block.data(), block.data(), 8);
  EXPECT_EQ(Iv(bf), block);  // CBC: the cipher block

  bf.Reset();
  EXPECT_EQ(Iv(bf), iv);
  std::string bytes(12, 'b');
  bf.EncryptCFB8bit(bytes.data(), bytes.data(), 12);
  EXPECT_EQ(Iv(bf), bytes.substr(4));  // CFB-8: the last eight cipher bytes

  // Two calls of 5 bytes give what one call of 10 bytes gives.
  std::string one(10, 'c'), two(10, 'c');
  bf.Reset();
  bf.EncryptCFB8bit(one.data(), one.data(), 10);
  bf.Reset();
  bf.EncryptCFB8bit(two.data(), two.data(), 5);
  bf.EncryptCFB8bit(two.data() + 5, two.data() + 5, 5);
  EXPECT_EQ(one, two);

  // SetIV sets the initial vector, which Reset returns to.
  const std::string other = Unhex("0011223344556677");
  bf.SetIV(other.data());
  EXPECT_EQ(Iv(bf), other);
  bf.EncryptOFB(block.data(), block.data(), 8);
  bf.Reset();
  EXPECT_EQ(Iv(bf), other);
}

TEST(KcBlockModes, CounterIsBigEndianAndWraps) {
  struct Case {
    const char *before, *after;  // CV around one block of CTR
  } cases[] = {
      {"ffffffffffffffff", "0000000000000000"},
      {"00000000000000ff", "0000000000000100"},
      {"00ffffffffffffff", "0100000000000000"},
      {"0123456789abcdef", "0123456789abcdf0"},
  };
  const std::string key = rtl::Sha1("counter");
  rtl::BlowfishBlock block(key);
  TKc_blowfish bf;
  bf.Init(key.data(), 160, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    const std::string start = Unhex(c.before);
    bf.SetIV(start.data());
    std::string zeros(11, '\0');
    bf.EncryptCTR(zeros.data(), zeros.data(), 11);
    // Keystream: E(counter), then three bytes of E(counter + 1).
    uint8_t k0[8], k1[8];
    block.Encrypt(reinterpret_cast<const uint8_t*>(start.data()), k0);
    const std::string next = Unhex(c.after);
    block.Encrypt(reinterpret_cast<const uint8_t*>(next.data()), k1);
    EXPECT_EQ(Hex(zeros), Hex(std::string(reinterpret_cast<char*>(k0), 8) +
                              std::string(reinterpret_cast<char*>(k1), 3)));
    bf.SetIV(start.data());
    std::string one(8, '\0');
    bf.EncryptCTR(one.data(), one.data(), 8);
    EXPECT_EQ(Hex(Iv(bf)), c.after);
  }
}

// --- String encryption ---

TEST(KcCipherText, LengthsChainingAndMode) {
  TKc_blowfish bf;
  bf.InitFromString("MvQk", TKc_sha1::Class);
  struct Case {
    std::string text;
    size_t length;
  } cases[] = {{"", 0}, {"a", 4}, {"ab", 4}, {"abc", 4}, {"abcd", 8}, {"abcdefg", 12}};
  for (const Case& c : cases) {
    bf.Reset();
    const std::string t = bf.EncryptText(c.text);
    EXPECT_EQ(t.size(), c.length) << c.text;
    bf.Reset();
    EXPECT_EQ(bf.DecryptText(t), c.text);
  }

  // The chain runs on from call to call; Reset starts it again.
  bf.Reset();
  const std::string first = bf.EncryptText("password");
  EXPECT_NE(bf.EncryptText("password"), first);
  bf.Reset();
  EXPECT_EQ(bf.EncryptText("password"), first);

  // Always 8-bit CFB, whatever the mode says.
  std::string raw = "password";
  bf.Reset();
  bf.EncryptCFB8bit(raw.data(), raw.data(), raw.size());
  EXPECT_EQ(KcBase64EncodeText(raw), first);
  for (const Mode& m : kModes) {
    bf.SetCipherMode(m.mode);
    bf.Reset();
    EXPECT_EQ(bf.EncryptText("password"), first) << m.name;
  }
}

TEST(KcBase64, EncodeAndDecode) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd\xfb\xff", "//79+/8="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KcBase64EncodeText(c.bytes), c.text);
    EXPECT_EQ(KcBase64DecodeText(c.text), c.bytes) << c.text;
  }
  struct Decode {
    const char* what;
    std::string text, bytes;
  } decodes[] = {
      {"fewer than 4 characters", "Zm9", ""},
      {"characters after the last group ignored", "Zm9vYmF", "foo"},
      {"padding inside honoured", "Zg==Zm8=Zm9v", "ffofoo"},
      {"'=' third ends the group", "Zm=v", "f"},
      {"unknown characters count as 0", "Zm9*", "fo@"},
  };
  for (const Decode& d : decodes)
    EXPECT_EQ(Hex(KcBase64DecodeText(d.text)), Hex(d.bytes)) << d.what;
}

}  // namespace
