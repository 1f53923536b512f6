// Blowfish as a framework cipher (Id 5, "Blowfish", keys of 4 to 448 bits, 64-bit blocks) over
// the run-time's single-block primitive; the chaining modes are those of TKc_blockcipher64. Used
// by one thread at a time.
#pragma once

#include <memory>

#include "rtl/crypto.h"
#include "settings/blockciphers.h"

class TKc_blowfish : public TKc_blockcipher64 {
 public:
  explicit TKc_blowfish(rtl::TComponent* Owner = nullptr) : TKc_blockcipher64(Owner) {}
  ~TKc_blowfish() override;

  static constexpr int ClassId = 5;
  static constexpr int ClassMaxKeySize = 448;

  int Id() const override { return ClassId; }
  std::string Algorithm() const override { return "Blowfish"; }
  int MaxKeySize() const override { return ClassMaxKeySize; }

  // Checks published single-block results of the primitive.
  bool SelfTest() override;
  // The key schedule from the first (Size + 7) / 8 bytes of Key.
  void InitKey(const void* Key, int Size) override;
  // One block through the cipher. Raises EKc_blockcipher "Cipher not initialized" without a key.
  void EncryptECB(const void* InData, void* OutData) override;
  void DecryptECB(const void* InData, void* OutData) override;
  // Drops the key schedule, then wipes as TKc_blockcipher64 does.
  void Wipe() override;

 private:
  std::unique_ptr<rtl::BlowfishBlock> block_;
};
