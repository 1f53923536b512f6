// SIDs, access lists and self-relative descriptors: SID texts, the binary layout the writer gives,
// and the reader's refusals, each with its Win32 code.
#include "platform/scm/secdesc.h"

#include <gtest/gtest.h>

#include <functional>

namespace scm {
namespace {

TEST(SidText, ReadsAndWritesTheTextForm) {
  const struct {
    const char* text;
    bool ok;
    const char* canonical;  // what SidText gives back
  } cases[] = {
      {"S-1-5-18", true, "S-1-5-18"},
      {"s-1-1-0", true, "S-1-1-0"},
      {"S-1-5", true, "S-1-5"},
      {"S-1-5-32-544", true, "S-1-5-32-544"},
      {"S-1-5-21-4294967295-1-2-3", true, "S-1-5-21-4294967295-1-2-3"},
      {"S-1-0x0000000000FF-7", true, "S-1-255-7"},
      {"S-1-0x010000000000-7", true, "S-1-0x010000000000-7"},
      {"S-1-281474976710655", true, "S-1-0xFFFFFFFFFFFF"},
      {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", true,
       "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"},
      {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", false, ""},  // 16 sub-authorities
      {"S-2-5-18", false, ""},
      {"S-1-5-4294967296", false, ""},
      {"S-1-281474976710656", false, ""},
      {"S-1-5-", false, ""},
      {"S-1--5", false, ""},
      {"S-1-5-+18", false, ""},
      {"S-1-5-18 ", false, ""},
      {"S-1", false, ""},
      {"X-1-5-18", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    Sid sid;
    EXPECT_EQ(ParseSidText(c.text, sid), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(SidText(sid), c.canonical) << c.text;
    }
  }
}

TEST(Descriptor, TheWriterLaysOutSaclDaclOwnerGroupAndTheReaderGivesTheValueBack) {
  Descriptor d;
  d.control = kSelfRelative | kDaclPresent | kSaclPresent | 0x1000;
  d.owner = SystemSid();
  d.group = AdministratorsSid();
  d.dacl = Acl{kAclRevision, {{kAccessDeniedAce, 0x0A, 0x20, EveryoneSid()}}};
  d.sacl = Acl{kAclRevision, {{kSystemAuditAce, kSuccessfulAccessAce, 0x10, UsersSid()}}};
  const std::string bytes = EncodeDescriptor(d);
  ASSERT_EQ(bytes.size(), EncodedBytes(d));
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
  };
  EXPECT_EQ(uint8_t(bytes[0]), 1);
  EXPECT_EQ(uint8_t(bytes[2]) | uint8_t(bytes[3]) << 8, 0x9014);
  // SACL (8 + 8 + 16) at 20, DACL (8 + 8 + 12) at 52, owner (12) at 80, group (16) at 92.
  EXPECT_EQ(u32(12), 20u);
  EXPECT_EQ(u32(16), 52u);
  EXPECT_EQ(u32(4), 80u);
  EXPECT_EQ(u32(8), 92u);
  EXPECT_EQ(bytes.size(), 108u);
  EXPECT_EQ(bytes.substr(52, 8), std::string("\x02\x00\x1C\x00\x01\x00\x00\x00", 8));
  EXPECT_EQ(bytes.substr(60, 8), std::string("\x01\x0A\x14\x00\x20\x00\x00\x00", 8));
  EXPECT_EQ(bytes.substr(80, 12),
            std::string("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12));

  Descriptor back;
  ASSERT_EQ(ParseDescriptor(bytes, back), 0u);
  EXPECT_EQ(back, d);
  // Bytes after the parts are not part of the descriptor.
  ASSERT_EQ(ParseDescriptor(bytes + std::string(7, '\xEE'), back), 0u);
  EXPECT_EQ(back, d);
}

TEST(Descriptor, ANullDaclAndAListWithoutItsPresentBit) {
  Descriptor null;
  null.control = kSelfRelative | kDaclPresent;  // present, but no list: a null DACL
  Descriptor back;
  ASSERT_EQ(ParseDescriptor(EncodeDescriptor(null), back), 0u);
  EXPECT_EQ(back.control & kDaclPresent, kDaclPresent);
  EXPECT_FALSE(back.dacl);

  Descriptor notPresent;
  notPresent.dacl = Acl{};  // a list, but the present bit is clear: nothing is written
  EXPECT_EQ(EncodeDescriptor(notPresent).size(), kRelativeHeaderBytes);
}

// A valid descriptor and the bytes each refusal changes in it: owner S-1-5-18 and a DACL with one
// entry (allowed, Everyone, 0x4). Layout: header; DACL at 20 (8 + 8 + 12 bytes); owner at 48.
TEST(Descriptor, TheReaderRefusesEveryBrokenPartWithItsCode) {
  Descriptor base;
  base.control = kSelfRelative | kDaclPresent;
  base.owner = SystemSid();
  base.dacl = Acl{kAclRevision, {{kAccessAllowedAce, 0, 0x4, EveryoneSid()}}};
  const std::string good = EncodeDescriptor(base);
  ASSERT_EQ(good.size(), 60u);
  Descriptor check;
  ASSERT_EQ(ParseDescriptor(good, check), 0u);

  using Edit = std::function<void(std::string&)>;
  auto set = [](size_t at, uint8_t v) -> Edit { return [=](std::string& b) { b[at] = char(v); }; };
  const struct {
    const char* what;
    Edit edit;
    uint32_t code;
  } cases[] = {
      {"shorter than the header", [](std::string& b) { b.resize(19); }, 1338},
      {"revision 2", set(0, 2), 1338},
      {"not self-relative", set(3, 0x00), 1338},
      {"owner offset inside the header", set(4, 8), 1338},
      {"owner offset not 4-aligned", set(4, 49), 1338},
      {"owner offset past the end", set(4, 60), 1338},
      {"DACL offset far past the end", set(19, 0x10), 1338},
      {"owner cut off", [](std::string& b) { b.resize(56); }, 1337},
      {"owner of revision 2", set(48, 2), 1337},
      {"owner with 16 sub-authorities", set(49, 16), 1337},
      {"owner with more sub-authorities than bytes", set(49, 2), 1337},
      {"DACL of revision 1", set(20, 1), 1336},
      {"DACL of revision 5", set(20, 5), 1336},
      {"DACL size under its header", set(22, 4), 1336},
      {"DACL size not a multiple of 4", set(22, 27), 1336},
      {"DACL size past the end", set(22, 44), 1336},
      {"an ACE past its ACL", set(30, 24), 1336},
      {"an ACE of size 0", set(30, 0), 1336},
      {"an ACE size not a multiple of 4", set(30, 18), 1336},
      {"more ACEs counted than there are", set(24, 2), 1336},
      {"an audit ACE in the DACL", set(28, kSystemAuditAce), 1336},
      {"an ACE of an unknown kind", set(28, 5), 1336},
      {"an ACE too small for a SID", [](std::string& b) { b[30] = 12; }, 1336},
      {"an ACE's SID past the ACE", set(37, 2), 1337},
      {"an ACE's SID with 16 sub-authorities", set(37, 16), 1337},
  };
  for (const auto& c : cases) {
    std::string bytes = good;
    c.edit(bytes);
    Descriptor d;
    EXPECT_EQ(ParseDescriptor(bytes, d), c.code) << c.what;
  }

  // An allowed entry where a SACL is expected.
  std::string sacl = good;
  sacl[12] = 20;  // the DACL's bytes read as a SACL
  sacl[16] = 0;
  sacl[2] = char(kSaclPresent);
  Descriptor d;
  EXPECT_EQ(ParseDescriptor(sacl, d), 1336u);
}

TEST(Descriptor, PartsCarryTheirControlBits) {
  Descriptor full;
  full.control = kSelfRelative | kOwnerDefaulted | kGroupDefaulted | kDaclPresent | 0x1000 |
                 kSaclPresent | 0x2000 | 0x0400;
  full.owner = SystemSid();
  full.group = SystemSid();
  full.dacl = Acl{};
  full.sacl = Acl{};

  const Descriptor dacl = PartsOf(full, kDaclInfo);
  EXPECT_EQ(dacl.control, kSelfRelative | kDaclPresent | 0x1000 | 0x0400);
  EXPECT_FALSE(dacl.owner);
  EXPECT_FALSE(dacl.sacl);
  EXPECT_TRUE(dacl.dacl);
  const Descriptor owner = PartsOf(full, kOwnerInfo);
  EXPECT_EQ(owner.control, kSelfRelative | kOwnerDefaulted);
  EXPECT_EQ(owner.owner, SystemSid());

  // Replacing the SACL takes its bits and leaves the rest; a list without its present bit goes.
  Descriptor bare;
  bare.control = kSelfRelative;
  const Descriptor noSacl = ReplaceParts(full, bare, kSaclInfo);
  EXPECT_EQ(noSacl.control, full.control & ~kSaclControlBits);
  EXPECT_FALSE(noSacl.sacl);
  EXPECT_EQ(noSacl.dacl, full.dacl);
  EXPECT_EQ(noSacl.owner, full.owner);
}

}  // namespace
}  // namespace scm
