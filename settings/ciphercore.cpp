#include "settings/ciphercore.h"

#include <vector>

#include "settings/cipherbase64.h"

void KcBurn(void* p, unsigned char value, size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    b[i] = value;
}

TKc_cipher::TKc_cipher(rtl::TComponent* Owner) : rtl::TComponent(Owner) {
  TKc_cipher::Wipe();
}

void TKc_cipher::Init(const void* Key, int Size, const void* InitVector) {
  if (fInitialized) Wipe();
  if (Size <= 0 || Size % 4 != 0 || Size > MaxKeySize()) throw EKc_cipher("Invalid key size");
  fInitialized = true;
}

void TKc_cipher::Wipe() {
  fInitialized = false;
}

std::string TKc_cipher::EncryptText(std::string_view Text) {
  std::string out(Text.size(), '\0');
  Encrypt(Text.data(), out.data(), Text.size());
  return KcBase64EncodeText(out);
}

std::string TKc_cipher::DecryptText(std::string_view Text) {
  std::string s = KcBase64DecodeText(Text);
  Decrypt(s.data(), s.data(), s.size());
  return s;
}

void TKc_cipher::InitFromString(std::string_view Key, const TKc_hashclass& HashClass) {
  if (fInitialized) Wipe();
  std::vector<unsigned char> digest;
  try {
    const int n = HashClass.HashSize;
    if (n <= 0) throw EKc_cipher("Invalid key size");
    digest.assign(static_cast<size_t>(n) / 8, 0);
    {
      std::unique_ptr<TKc_hash> hash = HashClass.Create(this);
      hash->Init();
      hash->UpdateString(Key);
      hash->Final(digest.data());
    }
    Init(digest.data(), MaxKeySize() < n ? MaxKeySize() : n, nullptr);
    KcBurn(digest.data(), 0xFF, digest.size());
  } catch (...) {
    KcBurn(digest.data(), 0xFF, digest.size());
    throw EKc_cipher("Unable to allocate sufficient memory for hash digest");
  }
}
