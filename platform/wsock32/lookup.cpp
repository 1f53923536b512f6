// Host, service and protocol lookups: the resolver seam, the asynchronous WSAAsyncGetHostBy*
// tasks, and the blocking database calls with their per-thread results.
//
// An asynchronous lookup is a one-shot task: the caller gets a handle (non-zero, never reused), a
// worker thread asks the resolver without any lock, then, under the library lock, either finds the
// task cancelled and drops the answer, or packs the host entry into the caller's buffer and posts
// the done message. Cancelling takes the same lock, so after WSACancelAsyncRequest returns nothing
// is written into the buffer and nothing is posted.
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/wsock32/internal.h"
#include "platform/wsock32/text.h"

namespace wsk {
namespace {

// ---- The system resolver -------------------------------------------------------------------

int WsaFromEai(int rc, int err) {
  switch (rc) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
    case EAI_MEMORY:
      return WSAENOBUFS;
    case EAI_SYSTEM:
      return WsaFromErrno(err);
    default:
      return WSANO_RECOVERY;
  }
}

class SystemResolver final : public WskResolver {
 public:
  int ByName(const std::string& name, WskHostEntry& entry) override {
    uint32_t address;
    if (ParseInetAddr(name.c_str(), &address)) {
      entry.name = name;
      entry.addresses = {address};
      return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) return WsaFromEai(rc, errno);
    entry.name = result->ai_canonname ? result->ai_canonname : name;
    if (entry.name != name) entry.aliases.push_back(name);
    for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
      if (ai->ai_family != AF_INET) continue;
      uint32_t a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      if (std::find(entry.addresses.begin(), entry.addresses.end(), a) == entry.addresses.end())
        entry.addresses.push_back(a);
    }
    freeaddrinfo(result);
    return entry.addresses.empty() ? WSANO_DATA : 0;
  }

  int ByAddr(uint32_t address, WskHostEntry& entry) override {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
    if (rc != 0) return WsaFromEai(rc, errno);
    entry.name = host;
    entry.addresses = {address};
    return 0;
  }
};

// ---- The resolver seam ---------------------------------------------------------------------

struct ResolverSlot {
  std::mutex mu;
  std::condition_variable idle;
  WskResolver* current = nullptr;
  int active = 0;  // lookups holding a resolver, from the question to the delivery
  SystemResolver system;
};

ResolverSlot& Slot() {
  static ResolverSlot* slot = new ResolverSlot;
  return *slot;
}

// Holds the installed resolver for the length of one lookup.
class ResolverUse {
 public:
  ResolverUse() {
    ResolverSlot& s = Slot();
    std::lock_guard<std::mutex> lock(s.mu);
    resolver_ = s.current ? s.current : &s.system;
    ++s.active;
  }
  ~ResolverUse() {
    ResolverSlot& s = Slot();
    std::lock_guard<std::mutex> lock(s.mu);
    if (--s.active == 0) s.idle.notify_all();
  }
  ResolverUse(const ResolverUse&) = delete;
  ResolverUse& operator=(const ResolverUse&) = delete;
  WskResolver* operator->() const { return resolver_; }

 private:
  WskResolver* resolver_;
};

// ---- Packing a host entry ------------------------------------------------------------------
//
// Layout, everything relative to the start of the buffer (so an aligned buffer gives aligned
// arrays): the hostent, the alias pointers (null-terminated), the address pointers
// (null-terminated), the 4-byte addresses, then the name and alias texts.

size_t PackedSize(const WskHostEntry& e) {
  size_t size = sizeof(WS_hostent);
  size += (e.aliases.size() + 1) * sizeof(char*);
  size += (e.addresses.size() + 1) * sizeof(char*);
  size += e.addresses.size() * 4;
  size += e.name.size() + 1;
  for (const std::string& a : e.aliases)
    size += a.size() + 1;
  return size;
}

// REQUIRES: buf holds PackedSize(e) bytes. Pointers are stored with memcpy: the caller's buffer
// need not be aligned.
void Pack(const WskHostEntry& e, char* buf) {
  char* aliases = buf + sizeof(WS_hostent);
  char* addrList = aliases + (e.aliases.size() + 1) * sizeof(char*);
  char* addrs = addrList + (e.addresses.size() + 1) * sizeof(char*);
  char* text = addrs + e.addresses.size() * 4;
  auto putPtr = [](char* slot, char* value) { std::memcpy(slot, &value, sizeof value); };
  auto putText = [&text](const std::string& s) {
    char* start = text;
    std::memcpy(text, s.c_str(), s.size() + 1);
    text += s.size() + 1;
    return start;
  };

  WS_hostent h{};
  h.h_name = putText(e.name);
  h.h_aliases = reinterpret_cast<char**>(aliases);
  h.h_addrtype = WS_AF_INET;
  h.h_length = 4;
  h.h_addr_list = reinterpret_cast<char**>(addrList);
  std::memcpy(buf, &h, sizeof h);
  for (size_t i = 0; i < e.aliases.size(); ++i)
    putPtr(aliases + i * sizeof(char*), putText(e.aliases[i]));
  putPtr(aliases + e.aliases.size() * sizeof(char*), nullptr);
  for (size_t i = 0; i < e.addresses.size(); ++i) {
    std::memcpy(addrs + i * 4, &e.addresses[i], 4);
    putPtr(addrList + i * sizeof(char*), addrs + i * 4);
  }
  putPtr(addrList + e.addresses.size() * sizeof(char*), nullptr);
}

// ---- Asynchronous lookups ------------------------------------------------------------------

struct Task {
  uintptr_t id;
  HWND hwnd;
  UINT msg;
  char* buf;  // the caller's, written only under the library lock while the task is listed
  int buflen;
  bool byAddr;
  std::string name;
  uint32_t address;
};

struct Tasks {
  uintptr_t next = 1;  // handles are never 0 and never reused
  std::unordered_map<uintptr_t, std::shared_ptr<Task>> pending;  // guarded by Lock()
};

Tasks& T() {
  static Tasks* tasks = new Tasks;
  return *tasks;
}

void RunTask(std::shared_ptr<Task> task) {
  ResolverUse resolver;  // held until delivered, see wsk_SetResolver
  WskHostEntry entry;
  int err =
      task->byAddr ? resolver->ByAddr(task->address, entry) : resolver->ByName(task->name, entry);

  std::lock_guard<std::mutex> lock(Lock());
  if (T().pending.erase(task->id) == 0) return;  // cancelled
  size_t need = 0;
  if (err == 0) {
    need = PackedSize(entry);
    if (need > static_cast<size_t>(task->buflen))
      err = WSAENOBUFS;  // the needed length goes with the error; nothing is written
    else
      Pack(entry, task->buf);
  }
  WORD reported = static_cast<WORD>(std::min<size_t>(need, 0xFFFF));
  Host().Post(task->hwnd, task->msg, static_cast<WPARAM>(task->id),
              WSAMAKEASYNCREPLY(reported, static_cast<WORD>(err)));
}

// REQUIRES: Lock() held.
HANDLE StartTask(std::shared_ptr<Task> task) {
  Tasks& t = T();
  task->id = t.next++;
  t.pending[task->id] = task;
  try {
    std::thread(RunTask, task).detach();
  } catch (...) {
    t.pending.erase(task->id);
    SetError(WSAENOBUFS);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(task->id);
}

// REQUIRES: Lock() held. 0 when the lookup may start.
int CheckAsync(HWND hwnd, const char* buf, int buflen) {
  if (!Started()) return WSANOTINITIALISED;
  if (buf == nullptr || buflen <= 0) return WSAEFAULT;
  if (!Host().WindowExists(hwnd)) return WSAEINVAL;
  return 0;
}

// ---- Blocking lookups ----------------------------------------------------------------------

bool CheckStarted() {
  std::lock_guard<std::mutex> lock(Lock());
  if (Started()) return true;
  SetError(WSANOTINITIALISED);
  return false;
}

// The calling thread's result storage, valid until its next call of the same kind. 8-byte
// elements keep the packed structure aligned.
std::vector<uint64_t>& HostStorage() {
  thread_local std::vector<uint64_t> storage;
  return storage;
}

WS_hostent* StoreHost(const WskHostEntry& entry) {
  std::vector<uint64_t>& storage = HostStorage();
  storage.assign((PackedSize(entry) + 7) / 8, 0);
  char* buf = reinterpret_cast<char*>(storage.data());
  Pack(entry, buf);
  return reinterpret_cast<WS_hostent*>(buf);
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// Strings and pointer arrays of a servent or protoent, kept per thread.
struct DbResult {
  std::string name, proto;
  std::vector<std::string> aliasTexts;
  std::vector<char*> aliases;

  void SetAliases(char** list) {
    aliasTexts.clear();
    for (; list && *list; ++list)
      aliasTexts.emplace_back(*list);
    aliases.clear();
    for (std::string& a : aliasTexts)
      aliases.push_back(a.data());
    aliases.push_back(nullptr);
  }
};

constexpr size_t kDbBuffer = 4096;

}  // namespace

void CancelAllLookups() {
  T().pending.clear();
}

}  // namespace wsk

using namespace wsk;

extern "C" {

void wsk_SetResolver(WskResolver* resolver) {
  ResolverSlot& s = Slot();
  std::unique_lock<std::mutex> lock(s.mu);
  s.current = resolver;
  s.idle.wait(lock, [&s] { return s.active == 0; });
}

HANDLE wsk_WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen) {
  std::lock_guard<std::mutex> lock(Lock());
  int err = CheckAsync(hwnd, buf, buflen);
  if (err == 0 && name == nullptr) err = WSAEFAULT;
  if (err != 0) {
    SetError(err);
    return nullptr;
  }
  auto task = std::make_shared<Task>();
  task->hwnd = hwnd;
  task->msg = msg;
  task->buf = buf;
  task->buflen = buflen;
  task->byAddr = false;
  task->name = name;
  task->address = 0;
  return StartTask(std::move(task));
}

HANDLE wsk_WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type,
                                 char* buf, int buflen) {
  std::lock_guard<std::mutex> lock(Lock());
  int err = CheckAsync(hwnd, buf, buflen);
  if (err == 0 && type != WS_AF_INET) err = WSAEAFNOSUPPORT;
  if (err == 0 && (addr == nullptr || len < 4)) err = WSAEFAULT;
  if (err != 0) {
    SetError(err);
    return nullptr;
  }
  auto task = std::make_shared<Task>();
  task->hwnd = hwnd;
  task->msg = msg;
  task->buf = buf;
  task->buflen = buflen;
  task->byAddr = true;
  std::memcpy(&task->address, addr, 4);
  return StartTask(std::move(task));
}

int wsk_WSACancelAsyncRequest(HANDLE handle) {
  std::lock_guard<std::mutex> lock(Lock());
  if (!Started()) return Fail(WSANOTINITIALISED);
  if (T().pending.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return Fail(WSAEINVAL);
  return 0;
}

WS_hostent* wsk_gethostbyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (name == nullptr) {
    SetError(WSAEFAULT);
    return nullptr;
  }
  // An empty name stands for this host.
  std::string query = *name ? std::string(name) : LocalHostName();
  WskHostEntry entry;
  int err;
  {
    ResolverUse resolver;
    err = resolver->ByName(query, entry);
  }
  if (err != 0) {
    SetError(err);
    return nullptr;
  }
  return StoreHost(entry);
}

WS_hostent* wsk_gethostbyaddr(const char* addr, int len, int type) {
  if (!CheckStarted()) return nullptr;
  if (type != WS_AF_INET) {
    SetError(WSAEAFNOSUPPORT);
    return nullptr;
  }
  if (addr == nullptr || len < 4) {
    SetError(WSAEFAULT);
    return nullptr;
  }
  uint32_t address;
  std::memcpy(&address, addr, 4);
  WskHostEntry entry;
  int err;
  {
    ResolverUse resolver;
    err = resolver->ByAddr(address, entry);
  }
  if (err != 0) {
    SetError(err);
    return nullptr;
  }
  if (entry.addresses.empty()) entry.addresses.push_back(address);
  return StoreHost(entry);
}

int wsk_gethostname(char* name, int namelen) {
  if (!CheckStarted()) return SOCKET_ERROR;
  if (name == nullptr || namelen <= 0) return Fail(WSAEFAULT);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return Fail(WsaFromErrno(errno));
  size_t len = std::strlen(host);
  if (len + 1 > static_cast<size_t>(namelen)) return Fail(WSAEFAULT);
  std::memcpy(name, host, len + 1);
  return 0;
}

WS_servent* wsk_getservbyname(const char* name, const char* proto) {
  if (!CheckStarted()) return nullptr;
  if (name == nullptr) {
    SetError(WSAEFAULT);
    return nullptr;
  }
  thread_local DbResult result;
  thread_local WS_servent out;
  servent se{};
  servent* found = nullptr;
  std::vector<char> buffer(kDbBuffer);
  if (getservbyname_r(name, proto, &se, buffer.data(), buffer.size(), &found) != 0 || !found) {
    SetError(WSANO_DATA);
    return nullptr;
  }
  result.name = found->s_name;
  result.proto = found->s_proto;
  result.SetAliases(found->s_aliases);
  out.s_name = result.name.data();
  out.s_aliases = result.aliases.data();
  out.s_proto = result.proto.data();
  out.s_port = static_cast<SHORT>(found->s_port);  // network order, as the system keeps it
  return &out;
}

WS_protoent* wsk_getprotobyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (name == nullptr) {
    SetError(WSAEFAULT);
    return nullptr;
  }
  thread_local DbResult result;
  thread_local WS_protoent out;
  protoent pe{};
  protoent* found = nullptr;
  std::vector<char> buffer(kDbBuffer);
  if (getprotobyname_r(name, &pe, buffer.data(), buffer.size(), &found) != 0 || !found) {
    SetError(WSANO_DATA);
    return nullptr;
  }
  result.name = found->p_name;
  result.SetAliases(found->p_aliases);
  out.p_name = result.name.data();
  out.p_aliases = result.aliases.data();
  out.p_proto = static_cast<SHORT>(found->p_proto);
  return &out;
}

}  // extern "C"
