#include "settings/blockciphers.h"

#include <cstring>

#include "settings/cipherbase64.h"

// --- TKc_blockcipher ---

void TKc_blockcipher::Encrypt(const void* In, void* Out, size_t Size) {
  switch (mode_) {
    case cmCBC:
      return EncryptCBC(In, Out, Size);
    case cmCFB8bit:
      return EncryptCFB8bit(In, Out, Size);
    case cmCFBblock:
      return EncryptCFBblock(In, Out, Size);
    case cmOFB:
      return EncryptOFB(In, Out, Size);
    case cmCTR:
      return EncryptCTR(In, Out, Size);
  }
}

void TKc_blockcipher::Decrypt(const void* In, void* Out, size_t Size) {
  switch (mode_) {
    case cmCBC:
      return DecryptCBC(In, Out, Size);
    case cmCFB8bit:
      return DecryptCFB8bit(In, Out, Size);
    case cmCFBblock:
      return DecryptCFBblock(In, Out, Size);
    case cmOFB:
      return DecryptOFB(In, Out, Size);
    case cmCTR:
      return DecryptCTR(In, Out, Size);
  }
}

std::string TKc_blockcipher::EncryptText(std::string_view Text) {
  std::string out(Text.size(), '\0');
  EncryptCFB8bit(Text.data(), out.data(), Text.size());
  return KcBase64EncodeText(out);
}

std::string TKc_blockcipher::DecryptText(std::string_view Text) {
  std::string s = KcBase64DecodeText(Text);
  DecryptCFB8bit(s.data(), s.data(), s.size());
  return s;
}

// --- TKc_blockcipher64 ---

namespace {

constexpr size_t kBlock = 8;

// out := a xor b over n bytes; out may be a or b.
void Xor(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

}  // namespace

TKc_blockcipher64::TKc_blockcipher64(rtl::TComponent* Owner) : TKc_blockcipher(Owner) {
  TKc_blockcipher64::Wipe();
}

void TKc_blockcipher64::CheckInitialized() const {
  if (!fInitialized) throw EKc_blockcipher("Cipher not initialized");
}

void TKc_blockcipher64::Init(const void* Key, int Size, const void* InitVector) {
  TKc_cipher::Init(Key, Size, InitVector);
  try {
    InitKey(Key, Size);
    if (InitVector) {
      std::memcpy(IV, InitVector, kBlock);
    } else {
      std::memset(IV, 0, kBlock);
      EncryptECB(IV, IV);
    }
    Reset();
  } catch (...) {
    Wipe();  // never left initialised without a usable key
    throw;
  }
}

void TKc_blockcipher64::Reset() {
  CheckInitialized();
  std::memcpy(CV, IV, kBlock);
}

void TKc_blockcipher64::SetIV(const void* Value) {
  CheckInitialized();
  std::memcpy(IV, Value, kBlock);
  Reset();
}

void TKc_blockcipher64::GetIV(void* Value) {
  CheckInitialized();
  std::memcpy(Value, CV, kBlock);
}

void TKc_blockcipher64::Wipe() {
  KcBurn(IV, 0xFF, kBlock);
  KcBurn(CV, 0xFF, kBlock);
  TKc_blockcipher::Wipe();
}

void TKc_blockcipher64::IncrementCounter() {
  for (int i = kBlock - 1; i >= 0; --i)
    if (++CV[i] != 0) break;
}

void TKc_blockcipher64::EncryptCBC(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  size_t i = 0;
  for (; i + kBlock <= Size; i += kBlock) {
    uint8_t t[kBlock];
    Xor(in + i, CV, t, kBlock);
    EncryptECB(t, CV);
    std::memcpy(out + i, CV, kBlock);
  }
  if (i < Size) {
    EncryptECB(CV, CV);
    Xor(in + i, CV, out + i, Size - i);
  }
}

void TKc_blockcipher64::DecryptCBC(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  size_t i = 0;
  for (; i + kBlock <= Size; i += kBlock) {
    uint8_t c[kBlock], t[kBlock];
    std::memcpy(c, in + i, kBlock);  // In may be Out
    DecryptECB(c, t);
    Xor(t, CV, out + i, kBlock);
    std::memcpy(CV, c, kBlock);
  }
  if (i < Size) {
    EncryptECB(CV, CV);
    Xor(in + i, CV, out + i, Size - i);
  }
}

void TKc_blockcipher64::EncryptCFB8bit(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  for (size_t i = 0; i < Size; ++i) {
    uint8_t t[kBlock];
    EncryptECB(CV, t);
    out[i] = static_cast<uint8_t>(in[i] ^ t[0]);
    std::memmove(CV, CV + 1, kBlock - 1);
    CV[kBlock - 1] = out[i];
  }
}

void TKc_blockcipher64::DecryptCFB8bit(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  for (size_t i = 0; i < Size; ++i) {
    uint8_t t[kBlock];
    EncryptECB(CV, t);
    const uint8_t c = in[i];  // In may be Out
    out[i] = static_cast<uint8_t>(c ^ t[0]);
    std::memmove(CV, CV + 1, kBlock - 1);
    CV[kBlock - 1] = c;
  }
}

void TKc_blockcipher64::EncryptCFBblock(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  size_t i = 0;
  for (; i + kBlock <= Size; i += kBlock) {
    EncryptECB(CV, CV);
    Xor(in + i, CV, CV, kBlock);
    std::memcpy(out + i, CV, kBlock);
  }
  if (i < Size) {
    EncryptECB(CV, CV);
    Xor(in + i, CV, out + i, Size - i);
  }
}

void TKc_blockcipher64::DecryptCFBblock(const void* In, void* Out, size_t Size) {
  CheckInitialized();
  auto in = static_cast<const uint8_t*>(In);
  auto out = static_cast<uint8_t*>(Out);
  size_t i = 0;
  for (; i + kBlock <= Size; i += kBlock) {
    uint8_t c[kBlock];
    std::memcpy(c, in + i, kBlock);  // In may be Out
    EncryptECB(CV, CV);
    Xor(c, CV, out + i, kBlock);
    std::memcpy(CV, c, kBlock);
  }
  if (i < Size) {
    EncryptECB(CV, CV);
    Xor(in + i, CV, out + i, Size - i);
  }
}

void TKc_blockcipher64::StreamMode(const uint8_t* in, uint8_t* out, size_t size, bool counter) {
  CheckInitialized();
  for (size_t i = 0; i < size; i += kBlock) {
    const size_t n = size - i < kBlock ? size - i : kBlock;
    uint8_t t[kBlock];
    if (counter) {
      EncryptECB(CV, t);
      IncrementCounter();
    } else {
      EncryptECB(CV, CV);
      std::memcpy(t, CV, kBlock);
    }
    Xor(in + i, t, out + i, n);
  }
}

void TKc_blockcipher64::EncryptOFB(const void* In, void* Out, size_t Size) {
  StreamMode(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out), Size, false);
}

void TKc_blockcipher64::DecryptOFB(const void* In, void* Out, size_t Size) {
  StreamMode(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out), Size, false);
}

void TKc_blockcipher64::EncryptCTR(const void* In, void* Out, size_t Size) {
  StreamMode(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out), Size, true);
}

void TKc_blockcipher64::DecryptCTR(const void* In, void* Out, size_t Size) {
  StreamMode(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out), Size, true);
}
