// The one file that calls libcrypto. MD4, DES and Blowfish come through the low-level interface so
// that nothing depends on loading OpenSSL's legacy provider.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "rtl/crypto.h"

#include <openssl/blowfish.h>
#include <openssl/crypto.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/md4.h>

#include <cstdlib>
#include <cstring>

#include "rtl/exception.h"

namespace rtl {

namespace {

[[noreturn]] void Fatal(const char* what) {
  // A failing primitive on valid arguments means a broken library: stop, never go on silently.
  throw Exception(std::string("crypto failure: ") + what);
}

}  // namespace

size_t DigestSize(DigestKind kind) {
  return kind == DigestKind::Sha1 ? 20 : 16;
}

// MD5 and SHA-1 go through EVP; MD4 has no EVP digest without the legacy provider.
struct Digest::Impl {
  DigestKind kind;
  MD4_CTX md4;
  EVP_MD_CTX* evp = nullptr;
  ~Impl() { EVP_MD_CTX_free(evp); }
};

Digest::Digest(DigestKind kind) : impl_(new Impl) {
  impl_->kind = kind;
  if (kind != DigestKind::Md4) {
    impl_->evp = EVP_MD_CTX_new();
    if (!impl_->evp) Fatal("EVP_MD_CTX_new");
  }
  Reset();
}

Digest::~Digest() = default;

void Digest::Reset() {
  if (impl_->kind == DigestKind::Md4) {
    MD4_Init(&impl_->md4);
    return;
  }
  const EVP_MD* md = impl_->kind == DigestKind::Md5 ? EVP_md5() : EVP_sha1();
  if (!EVP_DigestInit_ex(impl_->evp, md, nullptr)) Fatal("EVP_DigestInit_ex");
}

void Digest::Update(const void* data, size_t len) {
  if (impl_->kind == DigestKind::Md4)
    MD4_Update(&impl_->md4, data, len);
  else if (!EVP_DigestUpdate(impl_->evp, data, len))
    Fatal("EVP_DigestUpdate");
}

std::string Digest::Final() {
  unsigned char out[EVP_MAX_MD_SIZE];
  if (impl_->kind == DigestKind::Md4) {
    MD4_Final(out, &impl_->md4);
  } else {
    unsigned int len = 0;
    if (!EVP_DigestFinal_ex(impl_->evp, out, &len)) Fatal("EVP_DigestFinal_ex");
  }
  return std::string(reinterpret_cast<char*>(out), DigestSize(impl_->kind));
}

namespace {

std::string OneShot(DigestKind kind, std::string_view data) {
  Digest d(kind);
  d.Update(data);
  return d.Final();
}

std::string Hmac(const EVP_MD* md, std::string_view key, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  // HMAC() takes a null key pointer as "no key"; give it a valid pointer for an empty key.
  static const unsigned char kEmpty = 0;
  const void* k = key.empty() ? static_cast<const void*>(&kEmpty) : key.data();
  if (!HMAC(md, k, static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &len))
    Fatal("HMAC");
  return std::string(reinterpret_cast<char*>(out), len);
}

}  // namespace

std::string Md4(std::string_view data) {
  return OneShot(DigestKind::Md4, data);
}
std::string Md5(std::string_view data) {
  return OneShot(DigestKind::Md5, data);
}
std::string Sha1(std::string_view data) {
  return OneShot(DigestKind::Sha1, data);
}
std::string HmacMd5(std::string_view key, std::string_view data) {
  return Hmac(EVP_md5(), key, data);
}
std::string HmacSha1(std::string_view key, std::string_view data) {
  return Hmac(EVP_sha1(), key, data);
}

std::string HexLower(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string r;
  r.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    r += kHex[b >> 4];
    r += kHex[b & 15];
  }
  return r;
}

void DesEcbBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8], bool encrypt) {
  DES_cblock k;
  std::memcpy(k, key, 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  DES_cblock i, o;
  std::memcpy(i, in, 8);
  DES_ecb_encrypt(&i, &o, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
  std::memcpy(out, o, 8);
}

struct BlowfishBlock::Impl {
  BF_KEY key;
};

BlowfishBlock::BlowfishBlock(std::string_view key) : impl_(new Impl) {
  if (key.empty() || key.size() > 72) throw Exception("Blowfish key length out of range");
  BF_set_key(&impl_->key, static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(key.data()));
}

BlowfishBlock::~BlowfishBlock() {
  // The key schedule is key material: wipe it before the memory goes back.
  OPENSSL_cleanse(&impl_->key, sizeof impl_->key);
}

namespace {

void BlowfishRun(const BF_KEY* key, const uint8_t in[8], uint8_t out[8], bool encrypt) {
  BF_LONG d[2];
  for (int h = 0; h < 2; ++h)
    d[h] = (uint32_t{in[h * 4]} << 24) | (uint32_t{in[h * 4 + 1]} << 16) |
           (uint32_t{in[h * 4 + 2]} << 8) | in[h * 4 + 3];
  if (encrypt)
    BF_encrypt(d, key);
  else
    BF_decrypt(d, key);
  for (int h = 0; h < 2; ++h) {
    out[h * 4 + 0] = static_cast<uint8_t>(d[h] >> 24);
    out[h * 4 + 1] = static_cast<uint8_t>(d[h] >> 16);
    out[h * 4 + 2] = static_cast<uint8_t>(d[h] >> 8);
    out[h * 4 + 3] = static_cast<uint8_t>(d[h]);
  }
}

}  // namespace

void BlowfishBlock::Encrypt(const uint8_t in[8], uint8_t out[8]) const {
  BlowfishRun(&impl_->key, in, out, true);
}

void BlowfishBlock::Decrypt(const uint8_t in[8], uint8_t out[8]) const {
  BlowfishRun(&impl_->key, in, out, false);
}

}  // namespace rtl
