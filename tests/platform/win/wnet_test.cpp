#include <gtest/gtest.h>

#include "platform/win/win.h"

namespace {

NETRESOURCEA Resource(const char* remote, const char* local = nullptr) {
  NETRESOURCEA r{};
  r.lpRemoteName = const_cast<char*>(remote);
  r.lpLocalName = const_cast<char*>(local);
  return r;
}

TEST(WNet, ConnectionTableRules) {
  NETRESOURCEA ipc = Resource("\\\\FILESRV\\IPC$");
  EXPECT_EQ(WNetAddConnection2A(&ipc, "secret", "admin", 0), NO_ERROR);
  // Same credentials, any letter case of the name: fine.
  NETRESOURCEA lower = Resource("\\\\filesrv\\ipc$");
  EXPECT_EQ(WNetAddConnection2A(&lower, "secret", "admin", 0), NO_ERROR);
  // Other credentials for the same name: the conflict, also as the last error.
  SetLastError(0);
  EXPECT_EQ(WNetAddConnection2A(&lower, "other", "admin", 0), ERROR_SESSION_CREDENTIAL_CONFLICT);
  EXPECT_EQ(GetLastError(), ERROR_SESSION_CREDENTIAL_CONFLICT);
  EXPECT_EQ(WNetAddConnection2A(&lower, "secret", "guest", 0), ERROR_SESSION_CREDENTIAL_CONFLICT);
  EXPECT_EQ(WNetAddConnection2A(&lower, nullptr, nullptr, 0), ERROR_SESSION_CREDENTIAL_CONFLICT);

  // The reconnect sequence: cancel, then add with the new credentials.
  EXPECT_EQ(WNetCancelConnection2A("\\\\FileSrv\\IPC$", 0, FALSE), NO_ERROR);
  SetLastError(0);
  EXPECT_EQ(WNetCancelConnection2A("\\\\FileSrv\\IPC$", 0, FALSE), ERROR_NOT_CONNECTED);
  EXPECT_EQ(GetLastError(), ERROR_NOT_CONNECTED);
  EXPECT_EQ(WNetAddConnection2A(&lower, "other", "admin", 0), NO_ERROR);
  EXPECT_EQ(WNetCancelConnection2A("\\\\FILESRV\\IPC$", 0, TRUE), NO_ERROR);

  // Null credentials count as empty ones.
  NETRESOURCEA anon = Resource("\\\\printsrv\\IPC$");
  EXPECT_EQ(WNetAddConnection2A(&anon, nullptr, nullptr, 0), NO_ERROR);
  EXPECT_EQ(WNetAddConnection2A(&anon, "", "", 0), NO_ERROR);
  EXPECT_EQ(WNetCancelConnection2A("\\\\PRINTSRV\\ipc$", 0, FALSE), NO_ERROR);
}

TEST(WNet, CancelByLocalNameAndBadArguments) {
  NETRESOURCEA share = Resource("\\\\filesrv\\data", "z:");
  EXPECT_EQ(WNetAddConnection2A(&share, "pw", "user", 0), NO_ERROR);
  EXPECT_EQ(WNetCancelConnection2A("Z:", 0, FALSE), NO_ERROR);
  EXPECT_EQ(WNetCancelConnection2A("\\\\filesrv\\data", 0, FALSE), ERROR_NOT_CONNECTED);

  NETRESOURCEA empty = Resource("");
  EXPECT_EQ(WNetAddConnection2A(&empty, "pw", "user", 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WNetAddConnection2A(nullptr, "pw", "user", 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WNetCancelConnection2A(nullptr, 0, FALSE), ERROR_INVALID_PARAMETER);
}

}  // namespace
