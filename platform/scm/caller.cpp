// The caller's credentials from its socket, and their SIDs.
#include "platform/scm/caller.h"

#include <errno.h>
#include <grp.h>
#include <sys/socket.h>

#include <algorithm>

#include "platform/scm/accounts.h"

namespace scm {

namespace {

// The most supplementary groups a caller is read with (the kernel's own limit is 65536).
constexpr size_t kMaxGroups = 65536;

std::optional<gid_t> ControlGroupId() {
  std::vector<char> buf(16384);
  for (;;) {
    group gr;
    group* found = nullptr;
    const int rc = getgrnam_r(kControlGroup, &gr, buf.data(), buf.size(), &found);
    if (rc == 0) return found ? std::optional<gid_t>(found->gr_gid) : std::nullopt;
    if (rc != ERANGE || buf.size() >= 1024 * 1024) return std::nullopt;
    buf.resize(buf.size() * 2);
  }
}

void AddOnce(std::vector<Sid>& sids, const Sid& sid) {
  if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(sid);
}

}  // namespace

bool Caller::Has(const Sid& sid) const {
  return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

Caller UnknownCaller() {
  Caller c;
  c.sids.push_back(EveryoneSid());
  return c;
}

Caller CallerOf(uid_t uid, gid_t gid, const std::vector<gid_t>& groups, pid_t pid,
                std::optional<gid_t> controlGroup) {
  Caller c;
  c.known = true;
  c.uid = uid;
  c.gid = gid;
  c.pid = pid;
  c.root = uid == 0;
  c.admin = c.root;
  if (controlGroup) {
    c.admin = c.admin || gid == *controlGroup ||
              std::find(groups.begin(), groups.end(), *controlGroup) != groups.end();
  }
  c.user = UserSid(uid);
  if (c.user) c.sids.push_back(*c.user);
  if (auto g = GroupSid(gid)) AddOnce(c.sids, *g);
  for (gid_t supplementary : groups)
    if (auto g = GroupSid(supplementary)) AddOnce(c.sids, *g);
  AddOnce(c.sids, EveryoneSid());
  AddOnce(c.sids, AuthenticatedUsersSid());
  AddOnce(c.sids, UsersSid());
  if (c.admin) AddOnce(c.sids, AdministratorsSid());
  return c;
}

Caller PeerOf(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
    return UnknownCaller();
  std::vector<gid_t> groups(64);
  for (;;) {
    len = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &len) == 0) {
      groups.resize(len / sizeof(gid_t));
      break;
    }
    // A deny entry for a group left out would not apply: without the groups the caller is
    // unknown.
    if (errno != ERANGE || groups.size() >= kMaxGroups) return UnknownCaller();
    groups.resize(std::min<size_t>(len / sizeof(gid_t) + 1, kMaxGroups));
  }
  return CallerOf(cred.uid, cred.gid, groups, cred.pid, ControlGroupId());
}

}  // namespace scm
