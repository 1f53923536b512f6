// Block ciphers: the base with its five chaining modes and their dispatch, and the 64-bit-block
// implementation of the modes over a concrete cipher's single-block EncryptECB/DecryptECB. The
// chaining rules (tails, counter, initial vector) are fixed: values enciphered by one program
// must read back in the other. Objects are used by one thread at a time.
#pragma once

#include <cstdint>

#include "settings/ciphercore.h"

enum TKc_ciphermode { cmCBC, cmCFB8bit, cmCFBblock, cmOFB, cmCTR };

// A cipher of fixed-size blocks. Encrypt and Decrypt run the mode that CipherMode() names;
// EncryptText and DecryptText always use 8-bit CFB. The base does nothing in its block and mode
// operations.
class TKc_blockcipher : public TKc_cipher {
 public:
  // A new block cipher is not initialised and uses cmCBC.
  explicit TKc_blockcipher(rtl::TComponent* Owner = nullptr) : TKc_cipher(Owner) {}

  // The block size in bits; -1 in the base.
  virtual int BlockSize() const { return -1; }
  TKc_ciphermode CipherMode() const { return mode_; }
  void SetCipherMode(TKc_ciphermode value) { mode_ = value; }

  // The key schedule from the first Size bits of Key. REQUIRES: Key holds (Size + 7) / 8 bytes.
  virtual void InitKey(const void* Key, int Size) {}
  // Sets the initial vector from one block at Value and resets the chain to it.
  virtual void SetIV(const void* Value) {}
  // Copies the current chaining value (not the initial vector) to one block at Value.
  virtual void GetIV(void* Value) {}
  // One block through the bare cipher.
  virtual void EncryptECB(const void* InData, void* OutData) {}
  virtual void DecryptECB(const void* InData, void* OutData) {}

  // The modes; each takes Size bytes from In to Out (which may be the same buffer). Size need
  // not be a multiple of the block size.
  virtual void EncryptCBC(const void* In, void* Out, size_t Size) {}
  virtual void DecryptCBC(const void* In, void* Out, size_t Size) {}
  virtual void EncryptCFB8bit(const void* In, void* Out, size_t Size) {}
  virtual void DecryptCFB8bit(const void* In, void* Out, size_t Size) {}
  virtual void EncryptCFBblock(const void* In, void* Out, size_t Size) {}
  virtual void DecryptCFBblock(const void* In, void* Out, size_t Size) {}
  virtual void EncryptOFB(const void* In, void* Out, size_t Size) {}
  virtual void DecryptOFB(const void* In, void* Out, size_t Size) {}
  virtual void EncryptCTR(const void* In, void* Out, size_t Size) {}
  virtual void DecryptCTR(const void* In, void* Out, size_t Size) {}

  // The mode of CipherMode().
  void Encrypt(const void* In, void* Out, size_t Size) override;
  void Decrypt(const void* In, void* Out, size_t Size) override;
  // As the cipher's, with 8-bit CFB whatever CipherMode() says.
  std::string EncryptText(std::string_view Text) override;
  std::string DecryptText(std::string_view Text) override;

 private:
  TKc_ciphermode mode_ = cmCBC;
};

// The modes over 8-byte blocks. IV is the initial vector, CV the chaining value; with a cipher
// that is not initialised both are eight 0xFF bytes. Reset, SetIV, GetIV and every mode raise
// EKc_blockcipher "Cipher not initialized" when the cipher is not initialised.
//
// E and D are EncryptECB and DecryptECB; r is the length of a tail shorter than a block.
//   CBC      block: Out := E(In xor CV), CV := Out        (decrypt: Out := D(In) xor CV, CV := In)
//            tail:  CV := E(CV), Out := In xor CV[0, r)   (both directions)
//   CFB8bit  per byte: t := E(CV), Out := In xor t[0], CV := CV shifted left one byte with the
//            cipher byte (Out enciphering, In deciphering) as its last byte
//   CFBblock block: CV := E(CV), Out := In xor CV, CV := the cipher block (Out, or In
//            deciphering); tail: CV := E(CV), Out := In xor CV[0, r)
//   OFB      CV := E(CV), Out := In xor CV (tail: its first r bytes)
//   CTR      t := E(CV), CV := CV + 1, Out := In xor t (tail: its first r bytes); CV is a 64-bit
//            big-endian counter that wraps to zero after eight 0xFF bytes
class TKc_blockcipher64 : public TKc_blockcipher {
 public:
  // A new cipher is not initialised: IV and CV are eight 0xFF bytes.
  explicit TKc_blockcipher64(rtl::TComponent* Owner = nullptr);

  int BlockSize() const override { return 64; }

  // The cipher's key check, then InitKey; the initial vector is the first 8 bytes of InitVector,
  // or E(eight zero bytes) when InitVector is null; then Reset.
  void Init(const void* Key, int Size, const void* InitVector) override;
  // CV := IV.
  void Reset() override;
  // IV := the 8 bytes at Value, then Reset.
  void SetIV(const void* Value) override;
  // The 8 bytes of CV to Value.
  void GetIV(void* Value) override;
  // IV and CV := eight 0xFF bytes; not initialised.
  void Wipe() override;

  void EncryptCBC(const void* In, void* Out, size_t Size) override;
  void DecryptCBC(const void* In, void* Out, size_t Size) override;
  void EncryptCFB8bit(const void* In, void* Out, size_t Size) override;
  void DecryptCFB8bit(const void* In, void* Out, size_t Size) override;
  void EncryptCFBblock(const void* In, void* Out, size_t Size) override;
  void DecryptCFBblock(const void* In, void* Out, size_t Size) override;
  void EncryptOFB(const void* In, void* Out, size_t Size) override;
  void DecryptOFB(const void* In, void* Out, size_t Size) override;
  void EncryptCTR(const void* In, void* Out, size_t Size) override;
  void DecryptCTR(const void* In, void* Out, size_t Size) override;

 protected:
  // CV := CV + 1 as a 64-bit big-endian number (byte 8 least significant), wrapping to zero.
  void IncrementCounter();
  // Raises EKc_blockcipher "Cipher not initialized" unless initialised.
  void CheckInitialized() const;

  uint8_t IV[8];
  uint8_t CV[8];

 private:
  // OFB (counter false) and CTR (counter true): each block and the tail are In xor the next
  // keystream block.
  void StreamMode(const uint8_t* in, uint8_t* out, size_t size, bool counter);
};
