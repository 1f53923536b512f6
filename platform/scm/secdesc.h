// Security identifiers (SIDs), access lists (ACLs) with their entries (allowed, denied and audit
// ACEs) and self-relative security descriptors: values, their Windows binary formats, and the
// validating reader that turns untrusted bytes into values. scmd keeps and checks a service's
// descriptor through it; the security library builds its memory layouts with it.
//
// Values and pure functions only: nothing here touches the system, and everything is safe from
// any thread. The readers never read outside the bytes they are given: every count, length and
// offset is checked against what is left before it is used, and a value that breaks a limit of
// the format is refused with its Win32 code (1336 for an access list, 1337 for a SID, 1338 for the
// descriptor itself).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scm {

// Limits and layout of the formats.
constexpr uint8_t kSidRevision = 1;
constexpr size_t kMaxSubAuthorities = 15;
constexpr size_t kSidHeaderBytes = 8;  // revision, count, six authority bytes
constexpr size_t kMaxSidBytes = kSidHeaderBytes + 4 * kMaxSubAuthorities;
constexpr uint8_t kAclRevision = 2;  // what is written; 2 to 4 are read
constexpr uint8_t kMaxAclRevision = 4;
constexpr size_t kAclHeaderBytes = 8;
constexpr size_t kMaxAclBytes = 0xFFFF;
constexpr size_t kAceHeaderBytes = 4;
constexpr size_t kAceSidOffset = 8;  // header, mask, then the SID
constexpr uint8_t kDescriptorRevision = 1;
constexpr size_t kRelativeHeaderBytes = 20;  // revision, pad, control, four offsets

// ACE kinds and flags.
constexpr uint8_t kAccessAllowedAce = 0;
constexpr uint8_t kAccessDeniedAce = 1;
constexpr uint8_t kSystemAuditAce = 2;
constexpr uint8_t kInheritOnlyAce = 0x08;
constexpr uint8_t kSuccessfulAccessAce = 0x40;
constexpr uint8_t kFailedAccessAce = 0x80;

// Descriptor control bits.
constexpr uint16_t kOwnerDefaulted = 0x0001;
constexpr uint16_t kGroupDefaulted = 0x0002;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kSaclPresent = 0x0010;
constexpr uint16_t kSelfRelative = 0x8000;
// The bits that belong to each part and are set with it.
constexpr uint16_t kOwnerControlBits = 0x0001;
constexpr uint16_t kGroupControlBits = 0x0002;
constexpr uint16_t kDaclControlBits = 0x150C;  // present, defaulted, auto-inherit, protected
constexpr uint16_t kSaclControlBits = 0x2A30;
// The bits a caller may set directly (auto-inherit requests, auto-inherited, protected).
constexpr uint16_t kSettableControlBits = 0x3F00;

// Security information: the parts of a descriptor a request names.
constexpr uint32_t kOwnerInfo = 0x1;
constexpr uint32_t kGroupInfo = 0x2;
constexpr uint32_t kDaclInfo = 0x4;
constexpr uint32_t kSaclInfo = 0x8;
constexpr uint32_t kAllInfo = kOwnerInfo | kGroupInfo | kDaclInfo | kSaclInfo;

constexpr uint32_t kErrorInvalidAcl = 1336;
constexpr uint32_t kErrorInvalidSid = 1337;
constexpr uint32_t kErrorInvalidSecurityDescr = 1338;

struct Sid {
  std::array<uint8_t, 6> authority{};  // most significant byte first
  std::vector<uint32_t> sub;           // at most kMaxSubAuthorities

  // REQUIRES: authority < 2^48, at most kMaxSubAuthorities sub-authorities.
  static Sid Make(uint64_t authority, std::initializer_list<uint32_t> sub);
  uint64_t Authority() const;
  size_t Bytes() const { return kSidHeaderBytes + 4 * sub.size(); }
  bool operator==(const Sid&) const = default;
};

struct Ace {
  uint8_t type = kAccessAllowedAce;
  uint8_t flags = 0;
  uint32_t mask = 0;
  Sid sid;
  bool operator==(const Ace&) const = default;
};

struct Acl {
  uint8_t revision = kAclRevision;
  std::vector<Ace> aces;
  size_t Bytes() const;
  bool operator==(const Acl&) const = default;
};

// A descriptor. A list whose present bit is set but which is absent is a null list: a null DACL
// guards nothing. Without the present bit the list is absent whatever the value holds.
struct Descriptor {
  uint16_t control = kSelfRelative;
  std::optional<Sid> owner;
  std::optional<Sid> group;
  std::optional<Acl> sacl;
  std::optional<Acl> dacl;
  bool operator==(const Descriptor&) const = default;
};

// The well-known SIDs the manager itself uses.
Sid EveryoneSid();            // S-1-1-0
Sid AuthenticatedUsersSid();  // S-1-5-11
Sid SystemSid();              // S-1-5-18
Sid AdministratorsSid();      // S-1-5-32-544
Sid UsersSid();               // S-1-5-32-545

// "S-1-5-18": the authority in decimal below 2^32, else "0x" and twelve hex digits.
std::string SidText(const Sid& sid);
// Reads a SID text ("S-" or "s-", revision 1, an authority in decimal or "0x" hex below 2^48, up
// to kMaxSubAuthorities decimal sub-authorities below 2^32). False for anything else.
bool ParseSidText(std::string_view text, Sid& sid);

// Readers over [data, data + size). Each returns 0, or the Win32 code of what is wrong.
// ReadSid: a SID starting at data (its length is sid.Bytes()); 1337.
uint32_t ReadSid(const uint8_t* data, size_t size, Sid& sid);
// ListAces: the ACL header at data (revision 2-4, a size of at least the header, a multiple of 4
// and within size) and the place of each entry (a size of at least its header, a multiple of 4,
// within the list); kinds are not looked at. *aclBytes receives the list's own size. 1336.
uint32_t ListAces(const uint8_t* data, size_t size, std::vector<size_t>& offsets, size_t* aclBytes);
// ReadAcl: a DACL (allowed and denied entries) or, with audit, a SACL (audit entries), each entry's
// SID inside the entry. 1336 for another kind or a broken list, 1337 for a broken SID.
uint32_t ReadAcl(const uint8_t* data, size_t size, bool audit, Acl& acl);
// ParseDescriptor: a self-relative descriptor (revision 1, SE_SELF_RELATIVE, each offset 0 or
// 4-aligned past the header, each part inside the bytes). Bytes after its parts are not part of
// it. 1338 for the header and offsets, else the code of the part.
uint32_t ParseDescriptor(std::string_view bytes, Descriptor& descriptor);

// Writers. The self-relative form lays out SACL, DACL, owner and group in that order; an absent
// part has offset 0. The control word is written as held, with SE_SELF_RELATIVE.
void AppendSid(std::string& out, const Sid& sid);
void AppendAcl(std::string& out, const Acl& acl);
std::string EncodeDescriptor(const Descriptor& descriptor);
// The size EncodeDescriptor gives.
size_t EncodedBytes(const Descriptor& descriptor);

// The parts `info` names, each with its control bits; the others absent and their bits clear.
Descriptor PartsOf(const Descriptor& descriptor, uint32_t info);
// `into` with the parts `info` names (and their control bits) taken from `from`.
Descriptor ReplaceParts(const Descriptor& into, const Descriptor& from, uint32_t info);

}  // namespace scm
