// SHA-1 as a framework hash (Id 2, "SHA1", 160 bits) over the run-time's digest. Used by one
// thread at a time.
#pragma once

#include <memory>

#include "rtl/crypto.h"
#include "settings/ciphercore.h"

class TKc_sha1 : public TKc_hash {
 public:
  explicit TKc_sha1(rtl::TComponent* Owner = nullptr) : TKc_hash(Owner) {}
  ~TKc_sha1() override;

  static constexpr int ClassId = 2;
  static constexpr int ClassHashSize = 160;
  // The class as a value, for TKc_cipher::InitFromString.
  static const TKc_hashclass Class;

  int Id() const override { return ClassId; }
  std::string Algorithm() const override { return "SHA1"; }
  int HashSize() const override { return ClassHashSize; }

  // Checks the published digests of "abc" and of the two-block message.
  bool SelfTest() override;
  void Init() override;
  // REQUIRES: Digest holds 20 bytes. Raises EKc_hash "Hash not initialized" before Init.
  void Final(void* Digest) override;
  void Wipe() override;
  // Raises EKc_hash "Hash not initialized" before Init.
  void Update(const void* Buffer, size_t Size) override;

 private:
  std::unique_ptr<rtl::Digest> digest_;
};
