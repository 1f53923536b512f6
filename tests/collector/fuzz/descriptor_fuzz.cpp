// Fuzz target for the security descriptor reader that scmd runs over every descriptor a client
// sets and every one it loads: any bytes are read without a read outside them (the sanitizers
// watch), and a descriptor that reads is written back to bytes that read as the same value, of
// the size EncodedBytes gives; a part taken out and put back changes nothing. The SID text reader
// gets the same input as text: what it takes, written and read again, is the same SID.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scm/secdesc.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "descriptor_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input, so that a read past it is a read past a heap block.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  scm::Descriptor d;
  if (scm::ParseDescriptor(bytes, d) == 0) {
    const std::string again = scm::EncodeDescriptor(d);
    if (again.size() != scm::EncodedBytes(d)) Broken("EncodedBytes differs from the bytes");
    scm::Descriptor back;
    if (scm::ParseDescriptor(again, back) != 0) Broken("written, the descriptor does not read");
    if (!(back == d)) Broken("written and read, the descriptor changed");
    for (uint32_t info = 1; info <= scm::kAllInfo; ++info) {
      const scm::Descriptor parts = scm::PartsOf(d, info);
      if (!(scm::ReplaceParts(d, parts, info) == d)) Broken("a part put back changed the rest");
    }
  }
  for (size_t at = 0; at + 8 <= size && at < 64; at += 4) {
    scm::Sid sid;
    scm::ReadSid(data + at, size - at, sid);
    std::vector<size_t> offsets;
    scm::ListAces(data + at, size - at, offsets, nullptr);
  }

  scm::Sid sid;
  if (scm::ParseSidText(std::string_view(bytes), sid)) {
    scm::Sid back;
    if (!scm::ParseSidText(scm::SidText(sid), back) || !(back == sid))
      Broken("a SID text written and read is another SID");
  }
  return 0;
}
