#include "settings/blowfish.h"

#include <cstring>
#include <string>

TKc_blowfish::~TKc_blowfish() {
  if (fInitialized) TKc_blowfish::Wipe();
}

bool TKc_blowfish::SelfTest() {
  // Published single-block results (key, plain, cipher).
  struct Vector {
    uint8_t key[8], plain[8], cipher[8];
  };
  static const Vector kVectors[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 0, 0},
       {0x4E, 0xF9, 0x97, 0x45, 0x61, 0x98, 0xDD, 0x78}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {0x51, 0x86, 0x6F, 0xD5, 0xB8, 0x5E, 0xCB, 0x8A}},
      {{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10},
       {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF},
       {0x0A, 0xCE, 0xAB, 0x0F, 0xC6, 0xA0, 0xA2, 0x8D}},
  };
  for (const Vector& v : kVectors) {
    rtl::BlowfishBlock b(std::string_view(reinterpret_cast<const char*>(v.key), 8));
    uint8_t out[8], back[8];
    b.Encrypt(v.plain, out);
    b.Decrypt(out, back);
    if (std::memcmp(out, v.cipher, 8) != 0 || std::memcmp(back, v.plain, 8) != 0) return false;
  }
  return true;
}

void TKc_blowfish::InitKey(const void* Key, int Size) {
  const size_t bytes = (static_cast<size_t>(Size) + 7) / 8;
  block_ =
      std::make_unique<rtl::BlowfishBlock>(std::string_view(static_cast<const char*>(Key), bytes));
}

void TKc_blowfish::EncryptECB(const void* InData, void* OutData) {
  if (!block_) throw EKc_blockcipher("Cipher not initialized");
  block_->Encrypt(static_cast<const uint8_t*>(InData), static_cast<uint8_t*>(OutData));
}

void TKc_blowfish::DecryptECB(const void* InData, void* OutData) {
  if (!block_) throw EKc_blockcipher("Cipher not initialized");
  block_->Decrypt(static_cast<const uint8_t*>(InData), static_cast<uint8_t*>(OutData));
}

void TKc_blowfish::Wipe() {
  block_.reset();
  TKc_blockcipher64::Wipe();
}
