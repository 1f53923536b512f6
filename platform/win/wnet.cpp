// The connection table of WNetAddConnection2A / WNetCancelConnection2A.
#include <map>
#include <mutex>
#include <string>

#include "platform/win/wnet.h"
#include "rtl/cp932.h"

namespace {

struct Connection {
  std::string localName;  // upper-cased, may be empty
  std::string userName;
  std::string password;
};

std::mutex connectionsLock;
// Keyed by the upper-cased remote name. Guarded by connectionsLock.
std::map<std::string, Connection>& Connections() {
  static auto* connections = new std::map<std::string, Connection>;
  return *connections;
}

std::string Text(const char* s) {
  return s ? std::string(s) : std::string();
}

DWORD Result(DWORD code) {
  SetLastError(code);
  return code;
}

}  // namespace

DWORD WNetAddConnection2A(NETRESOURCEA* resource, const char* password, const char* userName,
                          DWORD flags) {
  if (!resource || !resource->lpRemoteName || !*resource->lpRemoteName)
    return Result(ERROR_INVALID_PARAMETER);
  const std::string key = rtl::UpperCase(resource->lpRemoteName);
  std::lock_guard<std::mutex> lock(connectionsLock);
  auto& table = Connections();
  auto it = table.find(key);
  if (it != table.end()) {
    const bool same =
        it->second.userName == Text(userName) && it->second.password == Text(password);
    return Result(same ? NO_ERROR : ERROR_SESSION_CREDENTIAL_CONFLICT);
  }
  table.emplace(
      key, Connection{rtl::UpperCase(Text(resource->lpLocalName)), Text(userName), Text(password)});
  return Result(NO_ERROR);
}

DWORD WNetCancelConnection2A(const char* name, DWORD flags, BOOL force) {
  if (!name || !*name) return Result(ERROR_INVALID_PARAMETER);
  const std::string key = rtl::UpperCase(name);
  std::lock_guard<std::mutex> lock(connectionsLock);
  auto& table = Connections();
  auto it = table.find(key);
  if (it == table.end()) {
    it = table.begin();
    while (it != table.end() && it->second.localName != key)
      ++it;
  }
  if (it == table.end()) return Result(ERROR_NOT_CONNECTED);
  table.erase(it);
  return Result(NO_ERROR);
}
