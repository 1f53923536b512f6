// The base classes of the hash and cipher framework: a hash (Init, Update, Final), a cipher (Init
// with its key-size check, Reset, Encrypt/Decrypt, string encryption as Base64 text, key set-up
// from a pass string through a hash) and their exceptions. Concrete classes plug a primitive in
// (TKc_sha1, TKc_blowfish). Sizes of keys, hashes and blocks are in bits; buffer sizes in bytes.
// Objects are components used by one thread at a time; they hold key material, which Wipe and
// destruction overwrite.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/classes.h"
#include "rtl/exception.h"

// Overwrites n bytes at p with value, in a way the compiler never drops as a dead store (key
// material about to be freed).
void KcBurn(void* p, unsigned char value, size_t n);

RTL_DECLARE_EXCEPTION(EKc_hash, rtl::Exception);
RTL_DECLARE_EXCEPTION(EKc_cipher, rtl::Exception);
RTL_DECLARE_EXCEPTION(EKc_blockcipher, EKc_cipher);

// A message digest. Use: Init, Update any number of times, Final.
class TKc_hash : public rtl::TComponent {
 public:
  explicit TKc_hash(rtl::TComponent* Owner = nullptr) : rtl::TComponent(Owner) {}
  // A concrete hash wipes its state in its own destructor when it is initialised.
  ~TKc_hash() override = default;

  // Class constants; -1 and empty in the base.
  virtual int Id() const { return -1; }
  virtual std::string Algorithm() const { return std::string(); }
  // The digest size in bits.
  virtual int HashSize() const { return -1; }

  // True when the primitive gives its published results. False in the base.
  virtual bool SelfTest() { return false; }
  // Starts a new digest.
  virtual void Init() {}
  // Writes HashSize() / 8 bytes of digest to Digest and ends the digest (Init starts again).
  virtual void Final(void* Digest) {}
  // Overwrites the state; Initialized() is false afterwards.
  virtual void Wipe() {}
  // Adds Size bytes of Buffer to the digest.
  virtual void Update(const void* Buffer, size_t Size) {}

  // Update with the text's bytes.
  void UpdateString(std::string_view Text) { Update(Text.data(), Text.size()); }

  bool Initialized() const { return fInitialized; }

 protected:
  bool fInitialized = false;
};

// A hash class as a value: what key set-up from a pass string needs before it makes a hash.
struct TKc_hashclass {
  int HashSize;  // bits
  std::unique_ptr<TKc_hash> (*Create)(rtl::TComponent* Owner);
};

// A cipher. Init (or InitFromString) keys it; Encrypt and Decrypt then run on from the chaining
// state of earlier calls until Reset.
class TKc_cipher : public rtl::TComponent {
 public:
  // A new cipher is not initialised.
  explicit TKc_cipher(rtl::TComponent* Owner = nullptr);
  // A concrete cipher wipes its key in its own destructor when it is initialised.
  ~TKc_cipher() override = default;

  // Class constants; -1 and empty in the base.
  virtual int Id() const { return -1; }
  virtual std::string Algorithm() const { return std::string(); }
  // The largest key in bits.
  virtual int MaxKeySize() const { return -1; }

  // True when the primitive gives its published results. False in the base.
  virtual bool SelfTest() { return false; }
  // Keys the cipher with the first Size bits of Key (a cipher already keyed is wiped first).
  // InitVector, when not null, is the initial vector (a block of the cipher's size); with null a
  // block cipher makes its own. Raises EKc_cipher "Invalid key size" when Size is 0 or less, not
  // a multiple of 4, or above MaxKeySize().
  // REQUIRES: Key holds (Size + 7) / 8 bytes.
  virtual void Init(const void* Key, int Size, const void* InitVector);
  // Overwrites the key and chaining state; the cipher is no longer initialised.
  virtual void Wipe();
  // Returns the chaining state to the initial vector.
  virtual void Reset() {}
  // Encipher or decipher Size bytes from In to Out (which may be the same buffer). Nothing in the
  // base.
  virtual void Encrypt(const void* In, void* Out, size_t Size) {}
  virtual void Decrypt(const void* In, void* Out, size_t Size) {}
  // Enciphers Text's bytes with Encrypt and returns them as Base64 text (KcBase64EncodeText).
  // The chaining state runs on from earlier calls.
  virtual std::string EncryptText(std::string_view Text);
  // Decodes Base64 Text (KcBase64DecodeText) and deciphers the bytes with Decrypt.
  virtual std::string DecryptText(std::string_view Text);

  // Keys the cipher from a pass string: the key is HashClass's digest of Key's bytes, cut to
  // MaxKeySize() bits when the digest is longer; no initial vector is given. Raises EKc_cipher
  // "Unable to allocate sufficient memory for hash digest" when any step fails (an unusable
  // digest size included).
  void InitFromString(std::string_view Key, const TKc_hashclass& HashClass);

  bool Initialized() const { return fInitialized; }

 protected:
  bool fInitialized = false;
};
