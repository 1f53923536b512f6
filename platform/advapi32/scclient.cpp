// The client functions: handles over connections to scmd, requests and the Win32 buffer layouts.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/advapi32/internal.h"
#include "platform/advapi32/winsvc.h"
#include "platform/scm/access.h"
#include "platform/scm/client.h"
#include "platform/scm/protocol.h"
#include "platform/scm/secret.h"
#include "rtl/cp932.h"

namespace {

// One connection to scmd, shared by a manager handle and the service handles opened from it.
struct Channel {
  std::mutex m;
  std::unique_ptr<scm::Connection> connection;
};

struct Object {
  bool manager;
  std::shared_ptr<Channel> channel;
  uint32_t remote;  // scmd's number for the handle
};

struct LockObject {
  std::shared_ptr<Channel> channel;
  uint32_t remote;
};

std::mutex g_tableLock;
// Handle values count up from here in steps of 4 and are never reused.
uintptr_t g_nextValue = 0x1000;
std::map<uintptr_t, Object>& Objects() {
  static auto* objects = new std::map<uintptr_t, Object>;
  return *objects;
}
std::map<uintptr_t, LockObject>& Locks() {
  static auto* locks = new std::map<uintptr_t, LockObject>;
  return *locks;
}

uintptr_t NewValue() {
  g_nextValue += 4;
  return g_nextValue;
}

// The object behind a handle, copied, when it is open and of the kind asked for.
bool Lookup(SC_HANDLE h, bool manager, Object& out) {
  std::lock_guard<std::mutex> l(g_tableLock);
  auto it = Objects().find(reinterpret_cast<uintptr_t>(h));
  if (it == Objects().end() || it->second.manager != manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  out = it->second;
  return true;
}

SC_HANDLE AddObject(Object o) {
  std::lock_guard<std::mutex> l(g_tableLock);
  const uintptr_t v = NewValue();
  Objects()[v] = std::move(o);
  return reinterpret_cast<SC_HANDLE>(v);
}

// A reply: its error code, and a reader over what follows it.
struct Reply {
  uint32_t error = 0;
  std::string payload;
  scm::Reader Body() const { return scm::Reader(std::string_view(payload).substr(4)); }
};

// Sends a request and waits for the reply. A broken connection gives 1722.
Reply Call(Channel& channel, const scm::Writer& request) {
  Reply reply;
  std::lock_guard<std::mutex> l(channel.m);
  if (!channel.connection->Call(request.Payload(), reply.payload)) {
    reply.error = scm::kErrorManagerUnavailable;
  } else if (reply.payload.size() < 4) {
    reply.error = scm::kErrorInvalidData;
  } else {
    scm::Reader r(reply.payload);
    r.U32(reply.error);
  }
  return reply;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// A request that answers with its error code only.
BOOL Simple(Channel& channel, const scm::Writer& request) {
  Reply reply = Call(channel, request);
  return reply.error ? Fail(reply.error) : Succeed();
}

// A multi-string (NUL-ended names, one more NUL at the end), read within bounds.
bool MultiString(LPCSTR p, std::vector<std::string>& out) {
  out.clear();
  if (!p) return true;
  while (*p) {
    const size_t n = strnlen(p, scm::kMaxNameLength + 1);
    if (n > scm::kMaxNameLength || out.size() >= scm::kMaxDependencies) return false;
    out.emplace_back(p, n);
    p += n + 1;
  }
  return true;
}

std::string Utf8(LPCWSTR w) {
  if (!w || !*w) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::u16string Utf16(const std::string& s) {
  if (s.empty()) return std::u16string();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

// Lays out a record and the texts after it in a caller's buffer.
class Layout {
 public:
  Layout(LPBYTE buffer, size_t head) : base_(buffer), used_(head) {}
  // Reserves room for bytes with the given alignment; returns the place (null while measuring).
  void* Take(size_t bytes, size_t align) {
    used_ = (used_ + align - 1) / align * align;
    void* p = measuring_ ? nullptr : base_ + used_;
    used_ += bytes;
    return p;
  }
  char* Text(const std::string& s) {
    auto p = static_cast<char*>(Take(s.size() + 1, 1));
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
  }
  WCHAR* Wide(const std::u16string& s) {
    auto p = static_cast<WCHAR*>(Take((s.size() + 1) * sizeof(WCHAR), alignof(WCHAR)));
    if (p) std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    return p;
  }
  size_t Used() const { return used_; }
  void Measure(bool on) { measuring_ = on; }

 private:
  LPBYTE base_;
  size_t used_;
  bool measuring_ = false;
};

// Runs fill twice: once to measure, once to write when the buffer is large enough.
template <typename Fill>
BOOL FillBuffer(LPBYTE buffer, DWORD size, LPDWORD needed, size_t head, Fill fill) {
  Layout measure(nullptr, head);
  measure.Measure(true);
  fill(measure, false);
  const size_t total = measure.Used();
  if (needed) *needed = static_cast<DWORD>(total);
  if (!buffer || size < total) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memset(buffer, 0, total);
  Layout write(buffer, head);
  fill(write, true);
  return Succeed();
}

void CopyStatus(const scm::ServiceStatus& s, SERVICE_STATUS* out) {
  out->dwServiceType = s.serviceType;
  out->dwCurrentState = s.currentState;
  out->dwControlsAccepted = s.controlsAccepted;
  out->dwWin32ExitCode = s.win32ExitCode;
  out->dwServiceSpecificExitCode = s.serviceSpecificExitCode;
  out->dwCheckPoint = s.checkPoint;
  out->dwWaitHint = s.waitHint;
}

}  // namespace

namespace advapi {

bool IsLocalMachine(LPCSTR machine) {
  if (!machine || !*machine) return true;
  std::string name = machine;
  if (name.rfind("\\\\", 0) == 0) name.erase(0, 2);
  char local[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof local;
  if (!GetComputerNameA(local, &size)) return false;
  return rtl::SameText(name, local) || rtl::SameText(name, "localhost") || name == "." ||
         name == "127.0.0.1";
}

size_t SelfRelativeLength(const void* sd) {
  auto p = static_cast<const unsigned char*>(sd);
  constexpr size_t kHead = 20;
  if (p[0] != 1 || !(p[3] & 0x80)) return 0;  // revision 1, SE_SELF_RELATIVE (0x8000)
  auto u32 = [&](size_t at) {
    return uint32_t(p[at]) | (uint32_t(p[at + 1]) << 8) | (uint32_t(p[at + 2]) << 16) |
           (uint32_t(p[at + 3]) << 24);
  };
  size_t end = kHead;
  for (size_t field = 4; field < kHead; field += 4) {
    const uint32_t offset = u32(field);
    if (!offset) continue;
    if (offset < kHead || offset > scm::kMaxSecurityBytes) return 0;
    size_t partEnd;
    if (field <= 8) {  // owner or group: a SID of 8 + 4 * count bytes
      partEnd = offset + 8 + 4 * size_t(p[offset + 1]);
    } else {  // SACL or DACL: the ACL's own size
      partEnd = offset + (size_t(p[offset + 2]) | (size_t(p[offset + 3]) << 8));
    }
    end = std::max(end, partEnd);
  }
  return end <= scm::kMaxSecurityBytes ? end : 0;
}

bool PrivilegeEnabled(const char* name) {
  LUID luid;
  if (!KwLookupPrivilegeValue(name, &luid)) return false;
  for (const auto& p : KwTokenPrivileges())
    if (p.Luid == luid) return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  return false;
}

}  // namespace advapi

using advapi::IsLocalMachine;
using advapi::SelfRelativeLength;

KW_ADVAPI32_API SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                         DWORD dwDesiredAccess) {
  if (!IsLocalMachine(lpMachineName)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (lpDatabaseName && *lpDatabaseName && !rtl::SameText(lpDatabaseName, "ServicesActive")) {
    SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
    return nullptr;
  }
  uint32_t error = 0;
  auto channel = std::make_shared<Channel>();
  channel->connection = scm::Connection::Open(scm::StateDir(), &error);
  if (!channel->connection) {
    SetLastError(error);
    return nullptr;
  }
  scm::Writer w = scm::Request(scm::Op::kOpenManager);
  Reply reply = Call(*channel, w.U32(dwDesiredAccess));
  uint32_t remote = 0;
  if (!reply.error && !reply.Body().U32(remote)) reply.error = scm::kErrorInvalidData;
  if (reply.error) {
    SetLastError(reply.error);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return AddObject(Object{true, std::move(channel), remote});
}

KW_ADVAPI32_API SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                       DWORD dwDesiredAccess) {
  Object manager;
  if (!Lookup(hSCManager, true, manager)) return nullptr;
  if (!lpServiceName) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  // The audit list needs the privilege enabled in the caller's token, which scmd cannot see.
  if ((dwDesiredAccess & ACCESS_SYSTEM_SECURITY) &&
      !advapi::PrivilegeEnabled("SeSecurityPrivilege")) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return nullptr;
  }
  scm::Writer w = scm::Request(scm::Op::kOpenService);
  Reply reply =
      Call(*manager.channel, w.U32(manager.remote).Str(lpServiceName).U32(dwDesiredAccess));
  uint32_t remote = 0;
  if (!reply.error && !reply.Body().U32(remote)) reply.error = scm::kErrorInvalidData;
  if (reply.error) {
    SetLastError(reply.error);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return AddObject(Object{false, manager.channel, remote});
}

KW_ADVAPI32_API SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                         LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                                         DWORD dwServiceType, DWORD dwStartType,
                                         DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                         LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                         LPCSTR lpPassword) {
  Object manager;
  if (!Lookup(hSCManager, true, manager)) return nullptr;
  scm::ServiceConfig c;
  if (!lpServiceName) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (!lpBinaryPathName || lpdwTagId || !MultiString(lpDependencies, c.dependencies)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  c.name = lpServiceName;
  c.displayName = lpDisplayName ? lpDisplayName : "";
  c.serviceType = dwServiceType;
  c.startType = dwStartType;
  c.errorControl = dwErrorControl;
  c.binaryPathName = lpBinaryPathName;
  c.loadOrderGroup = lpLoadOrderGroup ? lpLoadOrderGroup : "";
  c.serviceStartName = lpServiceStartName ? lpServiceStartName : "";
  // The password's copies (this one, the request, its frame) are wiped once sent.
  std::string password = lpPassword ? lpPassword : "";
  const scm::WipeAtExit wipe(password);
  if (c.name.size() > scm::kMaxNameLength || c.displayName.size() > scm::kMaxNameLength ||
      c.loadOrderGroup.size() > scm::kMaxNameLength ||
      c.serviceStartName.size() > scm::kMaxNameLength ||
      password.size() > scm::kMaxPasswordLength) {
    SetLastError(c.name.size() > scm::kMaxNameLength ? ERROR_INVALID_NAME
                                                     : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (c.binaryPathName.size() > scm::kMaxPathLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  scm::Writer w = scm::Request(scm::Op::kCreateService);
  Reply reply =
      Call(*manager.channel, w.U32(manager.remote).U32(dwDesiredAccess).Config(c).Str(password));
  w.Wipe();
  uint32_t remote = 0;
  if (!reply.error && !reply.Body().U32(remote)) reply.error = scm::kErrorInvalidData;
  if (reply.error) {
    SetLastError(reply.error);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return AddObject(Object{false, manager.channel, remote});
}

KW_ADVAPI32_API BOOL DeleteService(SC_HANDLE hService) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  scm::Writer w = scm::Request(scm::Op::kDeleteService);
  return Simple(*s.channel, w.U32(s.remote));
}

KW_ADVAPI32_API BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  Object o;
  {
    std::lock_guard<std::mutex> l(g_tableLock);
    auto it = Objects().find(reinterpret_cast<uintptr_t>(hSCObject));
    if (it == Objects().end()) return Fail(ERROR_INVALID_HANDLE);
    o = std::move(it->second);
    Objects().erase(it);
  }
  // A connection that broke has already taken the handle with it on scmd's side.
  scm::Writer w = scm::Request(scm::Op::kCloseHandle);
  Call(*o.channel, w.U32(o.remote));
  return Succeed();
}

KW_ADVAPI32_API BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kQueryStatus);
  Reply reply = Call(*s.channel, w.U32(s.remote));
  scm::ServiceStatus status;
  if (!reply.error && !reply.Body().Status(status)) reply.error = scm::kErrorInvalidData;
  if (reply.error) return Fail(reply.error);
  CopyStatus(status, lpServiceStatus);
  return Succeed();
}

KW_ADVAPI32_API BOOL QueryServiceStatusEx(SC_HANDLE hService, SC_STATUS_TYPE InfoLevel,
                                          LPBYTE lpBuffer, DWORD cbBufSize,
                                          LPDWORD pcbBytesNeeded) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (InfoLevel != SC_STATUS_PROCESS_INFO) return Fail(ERROR_INVALID_LEVEL);
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
  if (!lpBuffer || cbBufSize < sizeof(SERVICE_STATUS_PROCESS))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  scm::Writer w = scm::Request(scm::Op::kQueryStatus);
  Reply reply = Call(*s.channel, w.U32(s.remote));
  scm::ServiceStatus status;
  if (!reply.error && !reply.Body().Status(status)) reply.error = scm::kErrorInvalidData;
  if (reply.error) return Fail(reply.error);
  SERVICE_STATUS plain;
  CopyStatus(status, &plain);
  SERVICE_STATUS_PROCESS out{};
  std::memcpy(&out, &plain, sizeof plain);
  out.dwProcessId = status.processId;
  std::memcpy(lpBuffer, &out, sizeof out);
  return Succeed();
}

KW_ADVAPI32_API BOOL QueryServiceConfigA(SC_HANDLE hService,
                                         LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                                         LPDWORD pcbBytesNeeded) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kQueryConfig);
  Reply reply = Call(*s.channel, w.U32(s.remote));
  scm::ServiceConfig c;
  if (!reply.error && !reply.Body().Config(c)) reply.error = scm::kErrorInvalidData;
  if (reply.error) return Fail(reply.error);
  std::string deps;
  for (const auto& d : c.dependencies)
    deps.append(d).push_back('\0');
  // Text() adds the final NUL of the list.
  return FillBuffer(reinterpret_cast<LPBYTE>(lpServiceConfig), cbBufSize, pcbBytesNeeded,
                    sizeof(QUERY_SERVICE_CONFIGA), [&](Layout& l, bool write) {
                      char* path = l.Text(c.binaryPathName);
                      char* group = l.Text(c.loadOrderGroup);
                      char* dependencies = l.Text(deps);
                      char* account = l.Text(c.serviceStartName);
                      char* display = l.Text(c.displayName);
                      if (!write) return;
                      lpServiceConfig->dwServiceType = c.serviceType;
                      lpServiceConfig->dwStartType = c.startType;
                      lpServiceConfig->dwErrorControl = c.errorControl;
                      lpServiceConfig->lpBinaryPathName = path;
                      lpServiceConfig->lpLoadOrderGroup = group;
                      lpServiceConfig->dwTagId = c.tagId;
                      lpServiceConfig->lpDependencies = dependencies;
                      lpServiceConfig->lpServiceStartName = account;
                      lpServiceConfig->lpDisplayName = display;
                    });
}

KW_ADVAPI32_API BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType,
                                          DWORD dwStartType, DWORD dwErrorControl,
                                          LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                                          LPDWORD lpdwTagId, LPCSTR lpDependencies,
                                          LPCSTR lpServiceStartName, LPCSTR lpPassword,
                                          LPCSTR lpDisplayName) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (lpdwTagId) return Fail(ERROR_INVALID_PARAMETER);
  scm::ConfigChange change;
  // The password's copies (the one in change, the request, its frame) are wiped once sent.
  const scm::WipeAtExit wipe(change.password);
  change.serviceType = dwServiceType;
  change.startType = dwStartType;
  change.errorControl = dwErrorControl;
  auto text = [](LPCSTR p, size_t limit, std::optional<std::string>& out) {
    if (!p) return true;
    out.emplace(p);
    return out->size() <= limit;
  };
  if (!text(lpBinaryPathName, scm::kMaxPathLength, change.binaryPathName) ||
      !text(lpLoadOrderGroup, scm::kMaxNameLength, change.loadOrderGroup) ||
      !text(lpServiceStartName, scm::kMaxNameLength, change.serviceStartName) ||
      !text(lpPassword, scm::kMaxPasswordLength, change.password) ||
      !text(lpDisplayName, scm::kMaxNameLength, change.displayName))
    return Fail(ERROR_INVALID_PARAMETER);
  if (lpDependencies) {
    std::vector<std::string> deps;
    if (!MultiString(lpDependencies, deps)) return Fail(ERROR_INVALID_PARAMETER);
    change.dependencies = std::move(deps);
  }
  scm::Writer w = scm::Request(scm::Op::kChangeConfig);
  const BOOL done = Simple(*s.channel, w.U32(s.remote).Change(change));
  w.Wipe();
  return done;
}

KW_ADVAPI32_API BOOL QueryServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer,
                                          DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  if (dwInfoLevel == SERVICE_CONFIG_DESCRIPTION) {
    scm::Writer w = scm::Request(scm::Op::kQueryDescription);
    Reply reply = Call(*s.channel, w.U32(s.remote));
    std::optional<std::string> text;
    if (!reply.error && !reply.Body().OptStr(text, scm::kMaxTextLength))
      reply.error = scm::kErrorInvalidData;
    if (reply.error) return Fail(reply.error);
    const std::u16string wide = text ? Utf16(*text) : std::u16string();
    return FillBuffer(lpBuffer, cbBufSize, pcbBytesNeeded, sizeof(SERVICE_DESCRIPTIONW),
                      [&](Layout& l, bool write) {
                        WCHAR* p = text ? l.Wide(wide) : nullptr;
                        if (write)
                          reinterpret_cast<SERVICE_DESCRIPTIONW*>(lpBuffer)->lpDescription = p;
                      });
  }
  if (dwInfoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
    scm::Writer w = scm::Request(scm::Op::kQueryFailureActions);
    Reply reply = Call(*s.channel, w.U32(s.remote));
    scm::FailureActions f;
    if (!reply.error && !reply.Body().Failure(f)) reply.error = scm::kErrorInvalidData;
    if (reply.error) return Fail(reply.error);
    const std::u16string reboot = Utf16(f.rebootMessage), command = Utf16(f.command);
    return FillBuffer(lpBuffer, cbBufSize, pcbBytesNeeded, sizeof(SERVICE_FAILURE_ACTIONSW),
                      [&](Layout& l, bool write) {
                        auto* actions =
                            f.actions.empty()
                                ? nullptr
                                : static_cast<SC_ACTION*>(l.Take(
                                      f.actions.size() * sizeof(SC_ACTION), alignof(SC_ACTION)));
                        WCHAR* rebootText = f.rebootMessage.empty() ? nullptr : l.Wide(reboot);
                        WCHAR* commandText = f.command.empty() ? nullptr : l.Wide(command);
                        if (!write) return;
                        auto* out = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(lpBuffer);
                        out->dwResetPeriod = f.resetPeriod;
                        out->lpRebootMsg = rebootText;
                        out->lpCommand = commandText;
                        out->cActions = static_cast<DWORD>(f.actions.size());
                        out->lpsaActions = actions;
                        for (size_t i = 0; i < f.actions.size(); ++i)
                          actions[i] = SC_ACTION{static_cast<SC_ACTION_TYPE>(f.actions[i].type),
                                                 f.actions[i].delayMs};
                      });
  }
  return Fail(ERROR_INVALID_LEVEL);
}

KW_ADVAPI32_API BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (dwInfoLevel != SERVICE_CONFIG_DESCRIPTION && dwInfoLevel != SERVICE_CONFIG_FAILURE_ACTIONS)
    return Fail(ERROR_INVALID_LEVEL);
  if (!lpInfo) return Fail(ERROR_INVALID_PARAMETER);
  if (dwInfoLevel == SERVICE_CONFIG_DESCRIPTION) {
    auto* d = static_cast<SERVICE_DESCRIPTIONW*>(lpInfo);
    std::optional<std::string> text;
    if (d->lpDescription) text = Utf8(d->lpDescription);
    if (text && text->size() > scm::kMaxTextLength) return Fail(ERROR_INVALID_PARAMETER);
    scm::Writer w = scm::Request(scm::Op::kChangeDescription);
    return Simple(*s.channel, w.U32(s.remote).OptStr(text));
  }
  auto* f = static_cast<SERVICE_FAILURE_ACTIONSW*>(lpInfo);
  scm::FailureActionsChange change;
  change.resetPeriod = f->dwResetPeriod;
  if (f->lpRebootMsg) change.rebootMessage = Utf8(f->lpRebootMsg);
  if (f->lpCommand) change.command = Utf8(f->lpCommand);
  if ((change.rebootMessage && change.rebootMessage->size() > scm::kMaxTextLength) ||
      (change.command && change.command->size() > scm::kMaxPathLength))
    return Fail(ERROR_INVALID_PARAMETER);
  if (f->lpsaActions) {
    if (f->cActions > scm::kMaxActions) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<scm::Action> actions;
    bool reboot = false;
    for (DWORD i = 0; i < f->cActions; ++i) {
      actions.push_back(scm::Action{f->lpsaActions[i].Type, f->lpsaActions[i].Delay});
      reboot = reboot || f->lpsaActions[i].Type == SC_ACTION_REBOOT;
    }
    if (reboot && !advapi::PrivilegeEnabled("SeShutdownPrivilege"))
      return Fail(ERROR_PRIVILEGE_NOT_HELD);
    change.actions = std::move(actions);
  }
  scm::Writer w = scm::Request(scm::Op::kChangeFailureActions);
  return Simple(*s.channel, w.U32(s.remote).FailureChange(change));
}

KW_ADVAPI32_API BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs,
                                   LPCSTR* lpServiceArgVectors) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (dwNumServiceArgs > scm::kMaxArguments || (dwNumServiceArgs && !lpServiceArgVectors))
    return Fail(ERROR_INVALID_PARAMETER);
  std::vector<std::string> args;
  for (DWORD i = 0; i < dwNumServiceArgs; ++i) {
    LPCSTR a = lpServiceArgVectors[i];
    args.emplace_back(a ? a : "");
    if (args.back().size() > scm::kMaxPathLength) return Fail(ERROR_INVALID_PARAMETER);
  }
  scm::Writer w = scm::Request(scm::Op::kStartService);
  return Simple(*s.channel, w.U32(s.remote).Strs(args));
}

KW_ADVAPI32_API BOOL ControlService(SC_HANDLE hService, DWORD dwControl,
                                    LPSERVICE_STATUS lpServiceStatus) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kControl);
  Reply reply = Call(*s.channel, w.U32(s.remote).U32(dwControl));
  scm::ServiceStatus status;
  if (reply.error != scm::kErrorManagerUnavailable && reply.Body().Status(status))
    CopyStatus(status, lpServiceStatus);
  return reply.error ? Fail(reply.error) : Succeed();
}

KW_ADVAPI32_API BOOL EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType,
                                         DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                                         DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                         LPDWORD lpServicesReturned, LPDWORD lpResumeHandle) {
  Object manager;
  if (!Lookup(hSCManager, true, manager)) return FALSE;
  if (!pcbBytesNeeded || !lpServicesReturned || !(dwServiceType & 0x3F) ||
      !(dwServiceState & SERVICE_STATE_ALL))
    return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kEnumServices);
  Reply reply =
      Call(*manager.channel, w.U32(manager.remote).U32(dwServiceType).U32(dwServiceState));
  struct Entry {
    std::string name, display;
    scm::ServiceStatus status;
  };
  std::vector<Entry> entries;
  if (!reply.error) {
    scm::Reader r = reply.Body();
    uint32_t count = 0;
    bool ok = r.U32(count) && count <= scm::kMaxFrame / 12;
    for (uint32_t i = 0; ok && i < count; ++i) {
      Entry e;
      ok = r.Str(e.name, scm::kMaxNameLength) && r.Str(e.display, scm::kMaxNameLength) &&
           r.Status(e.status);
      entries.push_back(std::move(e));
    }
    if (!ok || !r.AtEnd()) reply.error = scm::kErrorInvalidData;
  }
  if (reply.error) return Fail(reply.error);
  // The entries from the resume point on, as many as fit: each takes its record and its texts.
  const size_t first = lpResumeHandle ? std::min<size_t>(*lpResumeHandle, entries.size()) : 0;
  auto bytesOf = [&](size_t i) {
    return sizeof(ENUM_SERVICE_STATUSA) + entries[i].name.size() + entries[i].display.size() + 2;
  };
  size_t fit = first, used = 0;
  while (fit < entries.size() && lpServices && used + bytesOf(fit) <= cbBufSize)
    used += bytesOf(fit++);
  Layout layout(reinterpret_cast<LPBYTE>(lpServices), (fit - first) * sizeof(ENUM_SERVICE_STATUSA));
  for (size_t i = first; i < fit; ++i) {
    ENUM_SERVICE_STATUSA& out = lpServices[i - first];
    out.lpServiceName = layout.Text(entries[i].name);
    out.lpDisplayName = layout.Text(entries[i].display);
    CopyStatus(entries[i].status, &out.ServiceStatus);
  }
  *lpServicesReturned = static_cast<DWORD>(fit - first);
  size_t rest = 0;
  for (size_t i = fit; i < entries.size(); ++i)
    rest += bytesOf(i);
  *pcbBytesNeeded = static_cast<DWORD>(rest);
  if (lpResumeHandle) *lpResumeHandle = fit < entries.size() ? static_cast<DWORD>(fit) : 0;
  return fit < entries.size() ? Fail(ERROR_MORE_DATA) : Succeed();
}

KW_ADVAPI32_API SC_LOCK LockServiceDatabase(SC_HANDLE hSCManager) {
  Object manager;
  if (!Lookup(hSCManager, true, manager)) return nullptr;
  scm::Writer w = scm::Request(scm::Op::kLock);
  Reply reply = Call(*manager.channel, w.U32(manager.remote));
  uint32_t remote = 0;
  if (!reply.error && !reply.Body().U32(remote)) reply.error = scm::kErrorInvalidData;
  if (reply.error) {
    SetLastError(reply.error);
    return nullptr;
  }
  std::lock_guard<std::mutex> l(g_tableLock);
  const uintptr_t v = NewValue();
  Locks()[v] = LockObject{manager.channel, remote};
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<SC_LOCK>(v);
}

KW_ADVAPI32_API BOOL UnlockServiceDatabase(SC_LOCK ScLock) {
  LockObject lock;
  {
    std::lock_guard<std::mutex> l(g_tableLock);
    auto it = Locks().find(reinterpret_cast<uintptr_t>(ScLock));
    if (it == Locks().end()) return Fail(ERROR_INVALID_SERVICE_LOCK);
    lock = std::move(it->second);
    Locks().erase(it);
  }
  scm::Writer w = scm::Request(scm::Op::kUnlock);
  return Simple(*lock.channel, w.U32(lock.remote));
}

KW_ADVAPI32_API BOOL QueryServiceLockStatusA(SC_HANDLE hSCManager,
                                             LPQUERY_SERVICE_LOCK_STATUSA lpLockStatus,
                                             DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
  Object manager;
  if (!Lookup(hSCManager, true, manager)) return FALSE;
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kQueryLockStatus);
  Reply reply = Call(*manager.channel, w.U32(manager.remote));
  bool locked = false;
  std::string owner;
  uint32_t seconds = 0;
  if (!reply.error) {
    scm::Reader r = reply.Body();
    if (!r.Bool(locked) || !r.Str(owner, scm::kMaxNameLength) || !r.U32(seconds))
      reply.error = scm::kErrorInvalidData;
  }
  if (reply.error) return Fail(reply.error);
  return FillBuffer(reinterpret_cast<LPBYTE>(lpLockStatus), cbBufSize, pcbBytesNeeded,
                    sizeof(QUERY_SERVICE_LOCK_STATUSA), [&](Layout& l, bool write) {
                      char* text = l.Text(owner);
                      if (!write) return;
                      lpLockStatus->fIsLocked = locked ? TRUE : FALSE;
                      lpLockStatus->lpLockOwner = text;
                      lpLockStatus->dwLockDuration = seconds;
                    });
}

KW_ADVAPI32_API BOOL QueryServiceObjectSecurity(SC_HANDLE hService,
                                                SECURITY_INFORMATION dwSecurityInformation,
                                                PSECURITY_DESCRIPTOR lpSecurityDescriptor,
                                                DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!pcbBytesNeeded) return Fail(ERROR_INVALID_PARAMETER);
  scm::Writer w = scm::Request(scm::Op::kQuerySecurity);
  Reply reply = Call(*s.channel, w.U32(s.remote).U32(dwSecurityInformation));
  std::string sd;
  if (!reply.error && !reply.Body().Str(sd, scm::kMaxSecurityBytes))
    reply.error = scm::kErrorInvalidData;
  if (reply.error) return Fail(reply.error);
  *pcbBytesNeeded = static_cast<DWORD>(sd.size());
  if (!lpSecurityDescriptor || cbBufSize < sd.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpSecurityDescriptor, sd.data(), sd.size());
  return Succeed();
}

KW_ADVAPI32_API BOOL SetServiceObjectSecurity(SC_HANDLE hService,
                                              SECURITY_INFORMATION dwSecurityInformation,
                                              PSECURITY_DESCRIPTOR lpSecurityDescriptor) {
  Object s;
  if (!Lookup(hService, false, s)) return FALSE;
  if (!lpSecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = SelfRelativeLength(lpSecurityDescriptor);
  if (!length) return Fail(ERROR_INVALID_SECURITY_DESCR);
  scm::Writer w = scm::Request(scm::Op::kSetSecurity);
  w.U32(s.remote).U32(dwSecurityInformation);
  w.Str(std::string_view(static_cast<const char*>(lpSecurityDescriptor), length));
  return Simple(*s.channel, w);
}
