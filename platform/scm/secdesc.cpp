// The binary formats. Every number is little-endian except the SID's authority, which is six
// bytes, most significant first.
#include "platform/scm/secdesc.h"

namespace scm {

namespace {

uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A decimal number of at most `limit`, the whole of text.
bool Decimal(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = uint64_t(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool Hex(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + uint64_t(d);
  }
  return value <= limit;
}

constexpr uint64_t kMaxAuthority = (uint64_t(1) << 48) - 1;

}  // namespace

Sid Sid::Make(uint64_t authority, std::initializer_list<uint32_t> sub) {
  Sid s;
  for (int i = 5; i >= 0; --i) {
    s.authority[size_t(i)] = static_cast<uint8_t>(authority & 0xFF);
    authority >>= 8;
  }
  s.sub.assign(sub);
  return s;
}

uint64_t Sid::Authority() const {
  uint64_t a = 0;
  for (uint8_t b : authority)
    a = (a << 8) | b;
  return a;
}

size_t Acl::Bytes() const {
  size_t n = kAclHeaderBytes;
  for (const Ace& a : aces)
    n += kAceSidOffset + a.sid.Bytes();
  return n;
}

Sid EveryoneSid() {
  return Sid::Make(1, {0});
}
Sid AuthenticatedUsersSid() {
  return Sid::Make(5, {11});
}
Sid SystemSid() {
  return Sid::Make(5, {18});
}
Sid AdministratorsSid() {
  return Sid::Make(5, {32, 544});
}
Sid UsersSid() {
  return Sid::Make(5, {32, 545});
}

std::string SidText(const Sid& sid) {
  std::string out = "S-" + std::to_string(kSidRevision) + "-";
  const uint64_t authority = sid.Authority();
  if (authority <= 0xFFFFFFFFu) {
    out += std::to_string(authority);
  } else {
    static const char kDigits[] = "0123456789ABCDEF";
    out += "0x";
    for (uint8_t b : sid.authority) {
      out += kDigits[b >> 4];
      out += kDigits[b & 0xF];
    }
  }
  for (uint32_t s : sid.sub)
    out += "-" + std::to_string(s);
  return out;
}

bool ParseSidText(std::string_view text, Sid& sid) {
  if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return false;
  text.remove_prefix(2);
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t dash = text.find('-');
    parts.push_back(text.substr(0, dash));
    if (dash == std::string_view::npos) break;
    text.remove_prefix(dash + 1);
    if (parts.size() > kMaxSubAuthorities + 2) return false;
  }
  uint64_t revision, authority;
  if (parts.size() < 2 || parts.size() - 2 > kMaxSubAuthorities ||
      !Decimal(parts[0], 255, revision) || revision != kSidRevision)
    return false;
  const std::string_view a = parts[1];
  const bool hex = a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X');
  if (!(hex ? Hex(a.substr(2), kMaxAuthority, authority) : Decimal(a, kMaxAuthority, authority)))
    return false;
  Sid out = Sid::Make(authority, {});
  for (size_t i = 2; i < parts.size(); ++i) {
    uint64_t v;
    if (!Decimal(parts[i], 0xFFFFFFFFu, v)) return false;
    out.sub.push_back(static_cast<uint32_t>(v));
  }
  sid = std::move(out);
  return true;
}

uint32_t ReadSid(const uint8_t* data, size_t size, Sid& sid) {
  if (size < kSidHeaderBytes || data[0] != kSidRevision || data[1] > kMaxSubAuthorities)
    return kErrorInvalidSid;
  const size_t count = data[1];
  if (size - kSidHeaderBytes < 4 * count) return kErrorInvalidSid;
  Sid out;
  for (size_t i = 0; i < 6; ++i)
    out.authority[i] = data[2 + i];
  for (size_t i = 0; i < count; ++i)
    out.sub.push_back(Get32(data + kSidHeaderBytes + 4 * i));
  sid = std::move(out);
  return 0;
}

uint32_t ListAces(const uint8_t* data, size_t size, std::vector<size_t>& offsets,
                  size_t* aclBytes) {
  offsets.clear();
  if (size < kAclHeaderBytes) return kErrorInvalidAcl;
  const uint8_t revision = data[0];
  const size_t bytes = Get16(data + 2);
  const size_t count = Get16(data + 4);
  if (revision < kAclRevision || revision > kMaxAclRevision || bytes < kAclHeaderBytes ||
      bytes % 4 != 0 || bytes > size)
    return kErrorInvalidAcl;
  size_t at = kAclHeaderBytes;
  for (size_t i = 0; i < count; ++i) {
    if (bytes - at < kAceHeaderBytes) return kErrorInvalidAcl;
    const size_t aceBytes = Get16(data + at + 2);
    if (aceBytes < kAceHeaderBytes || aceBytes % 4 != 0 || aceBytes > bytes - at)
      return kErrorInvalidAcl;
    offsets.push_back(at);
    at += aceBytes;
  }
  if (aclBytes) *aclBytes = bytes;
  return 0;
}

uint32_t ReadAcl(const uint8_t* data, size_t size, bool audit, Acl& acl) {
  std::vector<size_t> offsets;
  size_t bytes = 0;
  if (uint32_t err = ListAces(data, size, offsets, &bytes)) return err;
  Acl out;
  out.revision = data[0];
  for (size_t at : offsets) {
    const uint8_t* p = data + at;
    const size_t aceBytes = Get16(p + 2);
    Ace ace;
    ace.type = p[0];
    ace.flags = p[1];
    const bool kindFits = audit ? ace.type == kSystemAuditAce
                                : (ace.type == kAccessAllowedAce || ace.type == kAccessDeniedAce);
    if (!kindFits || aceBytes < kAceSidOffset + kSidHeaderBytes) return kErrorInvalidAcl;
    ace.mask = Get32(p + 4);
    if (uint32_t err = ReadSid(p + kAceSidOffset, aceBytes - kAceSidOffset, ace.sid)) return err;
    out.aces.push_back(std::move(ace));
  }
  acl = std::move(out);
  return 0;
}

uint32_t ParseDescriptor(std::string_view bytes, Descriptor& descriptor) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  if (size < kRelativeHeaderBytes || data[0] != kDescriptorRevision) {
    return kErrorInvalidSecurityDescr;
  }
  Descriptor out;
  out.control = Get16(data + 2);
  if (!(out.control & kSelfRelative)) return kErrorInvalidSecurityDescr;
  // The offsets in their order in the header: owner, group, SACL, DACL.
  uint32_t offsets[4];
  for (size_t i = 0; i < 4; ++i) {
    offsets[i] = Get32(data + 4 + 4 * i);
    if (offsets[i] != 0 &&
        (offsets[i] < kRelativeHeaderBytes || offsets[i] % 4 != 0 || offsets[i] >= size))
      return kErrorInvalidSecurityDescr;
  }
  auto sid = [&](uint32_t offset, std::optional<Sid>& into) -> uint32_t {
    if (!offset) return 0;
    Sid s;
    if (uint32_t err = ReadSid(data + offset, size - offset, s)) return err;
    into = std::move(s);
    return 0;
  };
  auto acl = [&](uint32_t offset, bool audit, uint16_t present,
                 std::optional<Acl>& into) -> uint32_t {
    if (!offset) return 0;
    Acl a;
    if (uint32_t err = ReadAcl(data + offset, size - offset, audit, a)) return err;
    if (out.control & present) into = std::move(a);
    return 0;
  };
  if (uint32_t err = sid(offsets[0], out.owner)) return err;
  if (uint32_t err = sid(offsets[1], out.group)) return err;
  if (uint32_t err = acl(offsets[2], true, kSaclPresent, out.sacl)) return err;
  if (uint32_t err = acl(offsets[3], false, kDaclPresent, out.dacl)) return err;
  descriptor = std::move(out);
  return 0;
}

void AppendSid(std::string& out, const Sid& sid) {
  out.push_back(static_cast<char>(kSidRevision));
  out.push_back(static_cast<char>(sid.sub.size()));
  for (uint8_t b : sid.authority)
    out.push_back(static_cast<char>(b));
  for (uint32_t s : sid.sub)
    Put32(out, s);
}

void AppendAcl(std::string& out, const Acl& acl) {
  out.push_back(static_cast<char>(acl.revision));
  out.push_back(0);
  Put16(out, static_cast<uint16_t>(acl.Bytes()));
  Put16(out, static_cast<uint16_t>(acl.aces.size()));
  Put16(out, 0);
  for (const Ace& a : acl.aces) {
    out.push_back(static_cast<char>(a.type));
    out.push_back(static_cast<char>(a.flags));
    Put16(out, static_cast<uint16_t>(kAceSidOffset + a.sid.Bytes()));
    Put32(out, a.mask);
    AppendSid(out, a.sid);
  }
}

size_t EncodedBytes(const Descriptor& d) {
  size_t n = kRelativeHeaderBytes;
  if (d.sacl && (d.control & kSaclPresent)) n += d.sacl->Bytes();
  if (d.dacl && (d.control & kDaclPresent)) n += d.dacl->Bytes();
  if (d.owner) n += d.owner->Bytes();
  if (d.group) n += d.group->Bytes();
  return n;
}

std::string EncodeDescriptor(const Descriptor& d) {
  std::string body;
  uint32_t offsets[4] = {};  // owner, group, SACL, DACL
  auto place = [&](uint32_t& offset) {
    offset = static_cast<uint32_t>(kRelativeHeaderBytes + body.size());
  };
  if (d.sacl && (d.control & kSaclPresent)) {
    place(offsets[2]);
    AppendAcl(body, *d.sacl);
  }
  if (d.dacl && (d.control & kDaclPresent)) {
    place(offsets[3]);
    AppendAcl(body, *d.dacl);
  }
  if (d.owner) {
    place(offsets[0]);
    AppendSid(body, *d.owner);
  }
  if (d.group) {
    place(offsets[1]);
    AppendSid(body, *d.group);
  }
  std::string out;
  out.push_back(static_cast<char>(kDescriptorRevision));
  out.push_back(0);
  Put16(out, static_cast<uint16_t>(d.control | kSelfRelative));
  for (uint32_t o : offsets)
    Put32(out, o);
  return out + body;
}

Descriptor PartsOf(const Descriptor& d, uint32_t info) {
  return ReplaceParts(Descriptor{}, d, info);
}

Descriptor ReplaceParts(const Descriptor& into, const Descriptor& from, uint32_t info) {
  Descriptor out = into;
  uint16_t bits = 0;
  if (info & kOwnerInfo) {
    out.owner = from.owner;
    bits |= kOwnerControlBits;
  }
  if (info & kGroupInfo) {
    out.group = from.group;
    bits |= kGroupControlBits;
  }
  if (info & kSaclInfo) {
    out.sacl = (from.control & kSaclPresent) ? from.sacl : std::nullopt;
    bits |= kSaclControlBits;
  }
  if (info & kDaclInfo) {
    out.dacl = (from.control & kDaclPresent) ? from.dacl : std::nullopt;
    bits |= kDaclControlBits;
  }
  out.control =
      static_cast<uint16_t>((out.control & ~bits) | (from.control & bits) | kSelfRelative);
  return out;
}

}  // namespace scm
