// Access by caller class, and accounts by the system's user table.
#include "platform/scm/access.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "rtl/cp932.h"

namespace scm {

namespace {

constexpr char kControlGroup[] = "kelvadon";

// What a caller that may only query gets.
constexpr uint32_t kManagerQueryRights =
    kManagerConnect | kManagerEnumerateService | kManagerQueryLockStatus | kReadControl;
constexpr uint32_t kServiceQueryRights = kServiceQueryConfig | kServiceQueryStatus |
                                         kServiceEnumerateDependents | kServiceInterrogate |
                                         kReadControl;

uint32_t Grant(uint32_t mapped, uint32_t allowed, uint32_t& granted) {
  const bool maximum = (mapped & kMaximumAllowed) != 0;
  const uint32_t asked = mapped & ~kMaximumAllowed;
  if (asked & ~allowed) return kErrorAccessDenied;
  granted = maximum ? (asked | allowed) : asked;
  return 0;
}

bool GroupId(const char* name, gid_t& gid) {
  std::vector<char> buf(16384);
  group gr;
  group* found = nullptr;
  if (getgrnam_r(name, &gr, buf.data(), buf.size(), &found) != 0 || !found) return false;
  gid = found->gr_gid;
  return true;
}

}  // namespace

bool PeerOf(int fd, Peer& peer) {
  peer = Peer{};
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  peer.uid = cred.uid;
  peer.gid = cred.gid;
  peer.pid = cred.pid;
  if (peer.uid == 0) {
    peer.controls = true;
    return true;
  }
  gid_t control;
  if (!GroupId(kControlGroup, control)) return true;
  if (peer.gid == control) {
    peer.controls = true;
    return true;
  }
  std::vector<gid_t> groups(64);
  for (;;) {
    len = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &len) == 0) {
      groups.resize(len / sizeof(gid_t));
      break;
    }
    if (errno != ERANGE || groups.size() >= 65536) return true;
    groups.resize(len / sizeof(gid_t) + 1);
  }
  for (gid_t g : groups)
    if (g == control) peer.controls = true;
  return true;
}

uint32_t MapManagerAccess(uint32_t d) {
  uint32_t out = d & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (d & kGenericRead) out |= kReadControl | kManagerEnumerateService | kManagerQueryLockStatus;
  if (d & kGenericWrite) out |= kReadControl | kManagerCreateService | kManagerModifyBootConfig;
  if (d & kGenericExecute) out |= kReadControl | kManagerConnect | kManagerLock;
  if (d & kGenericAll) out |= kManagerAllAccess;
  return out;
}

uint32_t MapServiceAccess(uint32_t d) {
  uint32_t out = d & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (d & kGenericRead)
    out |= kReadControl | kServiceQueryConfig | kServiceQueryStatus | kServiceInterrogate |
           kServiceEnumerateDependents;
  if (d & kGenericWrite) out |= kReadControl | kServiceChangeConfig;
  if (d & kGenericExecute)
    out |= kReadControl | kServiceStart | kServiceStop | kServicePauseContinue |
           kServiceUserDefinedControl;
  if (d & kGenericAll) out |= kServiceAllAccess;
  return out;
}

uint32_t CheckManagerAccess(const Peer& peer, uint32_t desired, uint32_t& granted) {
  const uint32_t allowed =
      peer.controls ? (kManagerAllAccess | kAccessSystemSecurity) : kManagerQueryRights;
  const uint32_t rc = Grant(MapManagerAccess(desired), allowed, granted);
  if (rc == 0) granted |= kManagerConnect;
  return rc;
}

uint32_t CheckServiceAccess(const Peer& peer, const std::string& security, uint32_t desired,
                            uint32_t& granted) {
  // The descriptor in `security` is not evaluated yet: the caller's class decides alone.
  const uint32_t allowed =
      peer.controls ? (kServiceAllAccess | kAccessSystemSecurity) : kServiceQueryRights;
  return Grant(MapServiceAccess(desired), allowed, granted);
}

bool ResolveAccount(const std::string& startName, Account& account) {
  account = Account{};
  std::string name = startName;
  if (size_t slash = name.rfind('\\'); slash != std::string::npos) name.erase(0, slash + 1);
  if (name.empty() || rtl::SameText(name, "LocalSystem")) return true;
  std::vector<char> buf(16384);
  passwd pw;
  passwd* found = nullptr;
  if (getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  account.self = false;
  account.uid = found->pw_uid;
  account.gid = found->pw_gid;
  account.user = found->pw_name;
  account.home = found->pw_dir ? found->pw_dir : "/";
  return true;
}

std::string UserName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw;
  passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) return found->pw_name;
  return "uid " + std::to_string(uid);
}

}  // namespace scm
