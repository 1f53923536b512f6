// Accounts over the system's user and group tables and a table of the well-known ones.
#include "platform/scm/accounts.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <shadow.h>
#include <string.h>

#include <vector>

#include "platform/win/sysinfo.h"
#include "rtl/cp932.h"
#include "rtl/files.h"

namespace scm {

namespace {

constexpr uint32_t kNtAuthority = 5;
constexpr uint32_t kMachineDomainRid = 21;
constexpr uint32_t kBuiltinRid = 32;
constexpr uint32_t kFirstUserRid = 1000;  // users 1000 + 2·uid, groups 1001 + 2·gid
constexpr size_t kMachineIdDigits = 32;
constexpr size_t kMaxTableBuffer = 1024 * 1024;  // a user or group entry's text

constexpr uint32_t kNone = 0xFFFFFFFF;

constexpr char kNtAuthorityName[] = "NT AUTHORITY";
constexpr char kBuiltinName[] = "BUILTIN";

struct WellKnown {
  uint64_t authority;
  uint32_t first;
  uint32_t second;  // kNone: one sub-authority only
  const char* domain;
  const char* name;
  int use;
};

const WellKnown kWellKnown[] = {
    {1, 0, kNone, "", "Everyone", kSidTypeWellKnownGroup},
    {2, 0, kNone, "", "LOCAL", kSidTypeWellKnownGroup},
    {3, 0, kNone, "", "CREATOR OWNER", kSidTypeWellKnownGroup},
    {3, 1, kNone, "", "CREATOR GROUP", kSidTypeWellKnownGroup},
    {5, 1, kNone, kNtAuthorityName, "DIALUP", kSidTypeWellKnownGroup},
    {5, 2, kNone, kNtAuthorityName, "NETWORK", kSidTypeWellKnownGroup},
    {5, 3, kNone, kNtAuthorityName, "BATCH", kSidTypeWellKnownGroup},
    {5, 4, kNone, kNtAuthorityName, "INTERACTIVE", kSidTypeWellKnownGroup},
    {5, 6, kNone, kNtAuthorityName, "SERVICE", kSidTypeWellKnownGroup},
    {5, 7, kNone, kNtAuthorityName, "ANONYMOUS LOGON", kSidTypeWellKnownGroup},
    {5, 11, kNone, kNtAuthorityName, "Authenticated Users", kSidTypeWellKnownGroup},
    {5, 18, kNone, kNtAuthorityName, "SYSTEM", kSidTypeWellKnownGroup},
    {5, 19, kNone, kNtAuthorityName, "LOCAL SERVICE", kSidTypeWellKnownGroup},
    {5, 20, kNone, kNtAuthorityName, "NETWORK SERVICE", kSidTypeWellKnownGroup},
    {5, 32, kNone, kBuiltinName, kBuiltinName, kSidTypeDomain},
    {5, 32, 544, kBuiltinName, "Administrators", kSidTypeAlias},
    {5, 32, 545, kBuiltinName, "Users", kSidTypeAlias},
    {5, 32, 546, kBuiltinName, "Guests", kSidTypeAlias},
    {5, 32, 547, kBuiltinName, "Power Users", kSidTypeAlias},
    {5, 32, 551, kBuiltinName, "Backup Operators", kSidTypeAlias},
};

Sid SidOf(const WellKnown& w) {
  return w.second == kNone ? Sid::Make(w.authority, {w.first})
                           : Sid::Make(w.authority, {w.first, w.second});
}

AccountName Named(const WellKnown& w) {
  return AccountName{SidOf(w), w.domain, w.name, w.use};
}

// A user or group entry by name or id, with a buffer grown as the system asks.
template <typename Entry, typename Key, typename Call>
bool Fetch(Key key, Call call, Entry& entry, std::vector<char>& buf) {
  buf.resize(16384);
  for (;;) {
    Entry* found = nullptr;
    const int rc = call(key, &entry, buf.data(), buf.size(), &found);
    if (rc == 0) return found != nullptr;
    if (rc != ERANGE || buf.size() >= kMaxTableBuffer) return false;
    buf.resize(buf.size() * 2);
  }
}

bool UserByName(const std::string& name, passwd& pw, std::vector<char>& buf) {
  return Fetch(name.c_str(), getpwnam_r, pw, buf);
}
bool UserById(uid_t uid, passwd& pw, std::vector<char>& buf) {
  return Fetch(uid, getpwuid_r, pw, buf);
}
bool GroupByName(const std::string& name, group& gr, std::vector<char>& buf) {
  return Fetch(name.c_str(), getgrnam_r, gr, buf);
}
bool GroupById(gid_t gid, group& gr, std::vector<char>& buf) {
  return Fetch(gid, getgrgid_r, gr, buf);
}

std::optional<Sid> MachineRid(uint64_t rid) {
  if (rid > 0xFFFFFFFFu) return std::nullopt;
  Sid s = MachineSid();
  s.sub.push_back(static_cast<uint32_t>(rid));
  return s;
}

// The relative id of a SID of the machine's domain, when it is one.
bool RidOfMachine(const Sid& sid, uint32_t& rid) {
  const Sid& machine = MachineSid();
  if (sid.authority != machine.authority || sid.sub.size() != machine.sub.size() + 1) return false;
  for (size_t i = 0; i < machine.sub.size(); ++i)
    if (sid.sub[i] != machine.sub[i]) return false;
  rid = sid.sub.back();
  return true;
}

// A Linux user or group under the computer name. Root is SYSTEM wherever it is named.
uint32_t LinuxAccount(const std::string& name, AccountName& out) {
  std::vector<char> buf;
  passwd pw;
  group gr;
  if (UserByName(name, pw, buf)) {
    if (pw.pw_uid == 0) return LookupAccountBySid(SystemSid(), out);
    const auto sid = UserSid(pw.pw_uid);
    if (!sid) return kErrorNoneMapped;
    out = AccountName{*sid, ComputerName(), pw.pw_name, kSidTypeUser};
    return 0;
  }
  if (GroupByName(name, gr, buf)) {
    const auto sid = GroupSid(gr.gr_gid);
    if (!sid) return kErrorNoneMapped;
    out = AccountName{*sid, ComputerName(), gr.gr_name, kSidTypeAlias};
    return 0;
  }
  return kErrorNoneMapped;
}

}  // namespace

Sid MachineSidFromId(std::string_view id) {
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r'))
    id.remove_suffix(1);
  uint32_t parts[3] = {1, 1, 1};
  bool hex = id.size() == kMachineIdDigits;
  for (size_t i = 0; hex && i < id.size(); ++i) {
    const char c = id[i];
    hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  if (hex) {
    for (size_t p = 0; p < 3; ++p) {
      uint32_t v = 0;
      for (size_t i = 0; i < 8; ++i) {
        const char c = id[8 * p + i];
        const uint32_t d = c <= '9' ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
        v = v * 16 + d;
      }
      parts[p] = v;
    }
  }
  return Sid::Make(kNtAuthority, {kMachineDomainRid, parts[0], parts[1], parts[2]});
}

const Sid& MachineSid() {
  static const Sid sid = [] {
    std::string text;
    if (rtl::ReadWholeFile(kMachineIdFile, text) != 0) text.clear();
    return MachineSidFromId(text);
  }();
  return sid;
}

std::optional<Sid> UserSid(uint32_t uid) {
  if (uid == 0) return SystemSid();
  return MachineRid(kFirstUserRid + 2 * uint64_t(uid));
}

std::optional<Sid> GroupSid(uint32_t gid) {
  return MachineRid(kFirstUserRid + 1 + 2 * uint64_t(gid));
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "LOCALHOST";
  return std::string(name, size);
}

uint32_t LookupAccountByName(std::string_view account, AccountName& out) {
  std::string domain, name(account);
  bool qualified = false;
  if (const size_t slash = account.find('\\'); slash != std::string_view::npos) {
    domain = std::string(account.substr(0, slash));
    name = std::string(account.substr(slash + 1));
    qualified = true;
  }
  if (name.empty() && !qualified) return kErrorNoneMapped;
  for (const WellKnown& w : kWellKnown) {
    if (qualified && !rtl::SameText(domain, w.domain)) continue;
    if (rtl::SameText(name, w.name)) {
      out = Named(w);
      return 0;
    }
  }
  const std::string computer = ComputerName();
  if (qualified && !rtl::SameText(domain, computer)) return kErrorNoneMapped;
  if (rtl::SameText(name, computer)) {
    out = AccountName{MachineSid(), computer, computer, kSidTypeDomain};
    return 0;
  }
  return LinuxAccount(name, out);
}

uint32_t LookupAccountBySid(const Sid& sid, AccountName& out) {
  for (const WellKnown& w : kWellKnown) {
    if (SidOf(w) == sid) {
      out = Named(w);
      return 0;
    }
  }
  if (sid == MachineSid()) {
    const std::string computer = ComputerName();
    out = AccountName{sid, computer, computer, kSidTypeDomain};
    return 0;
  }
  uint32_t rid;
  if (!RidOfMachine(sid, rid) || rid < kFirstUserRid) return kErrorNoneMapped;
  const uint32_t id = (rid - kFirstUserRid) / 2;
  std::vector<char> buf;
  if (rid % 2 == 0) {
    passwd pw;
    if (id == 0 || !UserById(id, pw, buf)) return kErrorNoneMapped;
    out = AccountName{sid, ComputerName(), pw.pw_name, kSidTypeUser};
    return 0;
  }
  group gr;
  if (!GroupById(id, gr, buf)) return kErrorNoneMapped;
  const std::string name = gr.gr_name;
  std::vector<char> userBuf;
  passwd pw;
  if (UserByName(name, pw, userBuf)) return kErrorNoneMapped;  // the name is a user's
  out = AccountName{sid, ComputerName(), name, kSidTypeAlias};
  return 0;
}

bool ResolveAccount(const std::string& startName, Account& account) {
  account = Account{};
  std::string name = startName;
  if (size_t slash = name.rfind('\\'); slash != std::string::npos) name.erase(0, slash + 1);
  if (name.empty() || rtl::SameText(name, "LocalSystem")) return true;
  std::vector<char> buf;
  passwd pw;
  if (!UserByName(name, pw, buf)) return false;
  account.self = false;
  account.uid = pw.pw_uid;
  account.gid = pw.pw_gid;
  account.user = pw.pw_name;
  account.home = pw.pw_dir ? pw.pw_dir : "/";
  return true;
}

bool SameAccount(const std::string& a, const std::string& b) {
  Account x, y;
  return ResolveAccount(a, x) && ResolveAccount(b, y) && x.self == y.self &&
         (x.self || (x.uid == y.uid && x.gid == y.gid));
}

bool ShadowPassword(const std::string& user, std::string& field) {
  std::vector<char> buf;
  spwd entry;
  if (!Fetch(user.c_str(), getspnam_r, entry, buf)) return false;
  field = entry.sp_pwdp ? entry.sp_pwdp : "";
  explicit_bzero(buf.data(), buf.size());
  return true;
}

std::string UserName(uid_t uid) {
  std::vector<char> buf;
  passwd pw;
  if (UserById(uid, pw, buf)) return pw.pw_name;
  return "uid " + std::to_string(uid);
}

}  // namespace scm
