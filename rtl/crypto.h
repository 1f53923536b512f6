// The cryptographic primitives the system is built on, over libcrypto: message digests (one-shot
// and incremental), HMAC, single-block DES-ECB and single-block Blowfish with a key of any length
// from 1 to 72 bytes. Digests and MACs are returned as raw bytes in a std::string. Objects are
// owned by the caller and used by one thread at a time; the free functions are thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rtl {

enum class DigestKind { Md4, Md5, Sha1 };

// Digest size in bytes: 16 for MD4 and MD5, 20 for SHA-1.
size_t DigestSize(DigestKind kind);

std::string Md4(std::string_view data);
std::string Md5(std::string_view data);
std::string Sha1(std::string_view data);
std::string HmacMd5(std::string_view key, std::string_view data);
std::string HmacSha1(std::string_view key, std::string_view data);

// Lower-case hexadecimal of bytes.
std::string HexLower(std::string_view bytes);

// An incremental digest: Update any number of times, then Final once (the object can then be
// Reset and used again).
class Digest {
 public:
  explicit Digest(DigestKind kind);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void Reset();
  void Update(const void* data, size_t len);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest of everything given since the last Reset.
  std::string Final();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Encrypts (or decrypts) one 8-byte block with single DES in ECB mode. The key's parity bits are
// ignored.
void DesEcbBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8], bool encrypt = true);

// The Blowfish key schedule and single-block transforms (big-endian halves, as published).
class BlowfishBlock {
 public:
  // REQUIRES: 1 <= key.size() <= 72.
  explicit BlowfishBlock(std::string_view key);
  ~BlowfishBlock();
  BlowfishBlock(const BlowfishBlock&) = delete;
  BlowfishBlock& operator=(const BlowfishBlock&) = delete;

  // in and out may be the same block.
  void Encrypt(const uint8_t in[8], uint8_t out[8]) const;
  void Decrypt(const uint8_t in[8], uint8_t out[8]) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rtl
