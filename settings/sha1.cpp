#include "settings/sha1.h"

#include <cstring>

namespace {

std::unique_ptr<TKc_hash> CreateSha1(rtl::TComponent* Owner) {
  return std::make_unique<TKc_sha1>(Owner);
}

}  // namespace

const TKc_hashclass TKc_sha1::Class = {TKc_sha1::ClassHashSize, &CreateSha1};

TKc_sha1::~TKc_sha1() {
  if (fInitialized) TKc_sha1::Wipe();
}

bool TKc_sha1::SelfTest() {
  struct Vector {
    const char* text;
    const char* digest;
  };
  static const Vector kVectors[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
  };
  for (const Vector& v : kVectors) {
    TKc_sha1 h;
    h.Init();
    h.UpdateString(v.text);
    char out[20];
    h.Final(out);
    if (rtl::HexLower(std::string_view(out, sizeof out)) != v.digest) return false;
  }
  return true;
}

void TKc_sha1::Init() {
  if (fInitialized) Wipe();
  digest_ = std::make_unique<rtl::Digest>(rtl::DigestKind::Sha1);
  fInitialized = true;
}

void TKc_sha1::Update(const void* Buffer, size_t Size) {
  if (!fInitialized) throw EKc_hash("Hash not initialized");
  digest_->Update(Buffer, Size);
}

void TKc_sha1::Final(void* Digest) {
  if (!fInitialized) throw EKc_hash("Hash not initialized");
  std::string d = digest_->Final();
  std::memcpy(Digest, d.data(), d.size());
  KcBurn(d.data(), 0, d.size());
  Wipe();
}

void TKc_sha1::Wipe() {
  digest_.reset();  // the digest context is cleansed when it is freed
  fInitialized = false;
}
