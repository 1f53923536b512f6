// Network connection bookkeeping. Nothing is really connected: a process-wide table remembers
// which remote resources were "connected" with which credentials, so that the connect /
// reconnect rules of the Windows functions hold. Safe from any thread.
#pragma once

#include "platform/win/base.h"

constexpr DWORD RESOURCETYPE_ANY = 0;
constexpr DWORD RESOURCETYPE_DISK = 1;
constexpr DWORD CONNECT_UPDATE_PROFILE = 0x1;

struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};

// Records a connection to resource->lpRemoteName (matched in any letter case) with the user and
// password (null counts as empty). Returns 0 (NO_ERROR) for a new name and for a name already
// recorded with the same credentials; 1219 when it is recorded with other credentials; 87 for a
// null resource or an empty remote name. The result is also the last error.
DWORD WNetAddConnection2A(NETRESOURCEA* resource, const char* password, const char* userName,
                          DWORD flags);

// Forgets the connection whose remote name (or local name) is `name`, in any letter case.
// Returns 0, or 2250 when there is none, 87 for a null or empty name; also as the last error.
DWORD WNetCancelConnection2A(const char* name, DWORD flags, BOOL force);
