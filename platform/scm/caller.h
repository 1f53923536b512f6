// Who is calling scmd: the credentials of the process at the other end of a client's socket
// (SO_PEERCRED for its user and group, SO_PEERGROUPS for its supplementary groups) and the SIDs
// they stand for, which the access checks match against descriptors. Credentials that cannot be
// read make a caller that is Everyone and nothing else, never root.
//
// Values and pure functions, apart from PeerOf (the socket) and the account and group lookups it
// makes. Safe from any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

#include "platform/scm/secdesc.h"

namespace scm {

// The group whose members administer scmd's services as root does.
constexpr char kControlGroup[] = "kelvadon";

struct Caller {
  bool known = false;  // the credentials were read
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  pid_t pid = 0;
  bool root = false;        // uid 0
  bool admin = false;       // root, or a member of kControlGroup
  std::optional<Sid> user;  // the user's SID (S-1-5-18 for root); none when unknown
  // The user's SID, its primary and supplementary groups', Everyone, Authenticated Users and
  // Users, and Administrators for an admin. Everyone alone when the credentials are unknown.
  std::vector<Sid> sids;

  bool Has(const Sid& sid) const;
};

// A caller whose credentials could not be read.
Caller UnknownCaller();

// The caller with these credentials. controlGroup: the gid of kControlGroup, none when the
// system has no such group.
Caller CallerOf(uid_t uid, gid_t gid, const std::vector<gid_t>& groups, pid_t pid,
                std::optional<gid_t> controlGroup);

// The caller at the other end of a connected Unix socket (UnknownCaller when the system does not
// tell its credentials or its groups).
Caller PeerOf(int fd);

}  // namespace scm
