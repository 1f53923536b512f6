#include "net/socket/socklib.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/win/win.h"
#include "rtl/cp932.h"

namespace {

// Entry points in table order; all from "wsock32.dll" except WSAIoctl ("ws2_32.dll").
enum Entry {
  eWSAStartup,
  eWSACleanup,
  eWSASetLastError,
  eWSAGetLastError,
  eWSACancelAsyncRequest,
  eWSAAsyncGetHostByName,
  eWSAAsyncGetHostByAddr,
  eWSAAsyncSelect,
  egetservbyname,
  egetprotobyname,
  egethostbyname,
  egethostbyaddr,
  egethostname,
  esocket,
  eshutdown,
  esetsockopt,
  egetsockopt,
  esendto,
  esend,
  entohs,
  elisten,
  eioctlsocket,
  eWSAIoctl,
  einet_ntoa,
  einet_addr,
  ehtons,
  ehtonl,
  egetsockname,
  egetpeername,
  econnect,
  eclosesocket,
  ebind,
  eaccept,
  erecv,
  erecvfrom,
  eEntryCount
};

const char* const kEntryNames[eEntryCount] = {"WSAStartup",
                                              "WSACleanup",
                                              "WSASetLastError",
                                              "WSAGetLastError",
                                              "WSACancelAsyncRequest",
                                              "WSAAsyncGetHostByName",
                                              "WSAAsyncGetHostByAddr",
                                              "WSAAsyncSelect",
                                              "getservbyname",
                                              "getprotobyname",
                                              "gethostbyname",
                                              "gethostbyaddr",
                                              "gethostname",
                                              "socket",
                                              "shutdown",
                                              "setsockopt",
                                              "getsockopt",
                                              "sendto",
                                              "send",
                                              "ntohs",
                                              "listen",
                                              "ioctlsocket",
                                              "WSAIoctl",
                                              "inet_ntoa",
                                              "inet_addr",
                                              "htons",
                                              "htonl",
                                              "getsockname",
                                              "getpeername",
                                              "connect",
                                              "closesocket",
                                              "bind",
                                              "accept",
                                              "recv",
                                              "recvfrom"};

constexpr const char* kMainLibrary = "wsock32.dll";
constexpr const char* kControlLibrary = "ws2_32.dll";

struct LibraryState {
  std::recursive_mutex lock;
  int instanceCount = 0;
  uint8_t reqVerLow = 1;
  uint8_t reqVerHigh = 1;
  HMODULE main = nullptr;
  HMODULE control = nullptr;
  WSADATA data;
  // Read without the lock once filled; cleared only under the lock at unload.
  std::atomic<FARPROC> entries[eEntryCount] = {};
};

LibraryState& State() {
  static auto* s = new LibraryState;  // never destroyed: stubs may run during process exit
  return *s;
}

// REQUIRES: lock held. Loads and starts the main library when it is not loaded.
void EnsureMainLoaded(LibraryState& s) {
  if (s.main) return;
  HMODULE h = LoadLibraryA(kMainLibrary);
  if (!h)
    throw ESocketException(std::string("Unable to load ") + kMainLibrary + " - " +
                           SystemErrorWithCode(GetLastError()));
  auto startup = reinterpret_cast<WinsockFn::WSAStartup>(GetProcAddress(h, "WSAStartup"));
  if (!startup) {
    DWORD err = GetLastError();
    FreeLibrary(h);
    throw ESocketException(std::string("Procedure WSAStartup not found in ") + kMainLibrary +
                           " - " + SystemErrorWithCode(err));
  }
  int r = startup(MAKEWORD(s.reqVerLow, s.reqVerHigh), &s.data);
  if (r != 0) {
    FreeLibrary(h);
    throw ESocketException(std::string("Winsock startup error ") + kMainLibrary + " - " +
                           SystemErrorWithCode(static_cast<DWORD>(r)));
  }
  s.main = h;
}

FARPROC Resolve(Entry e) {
  LibraryState& s = State();
  FARPROC p = s.entries[e].load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::recursive_mutex> l(s.lock);
  EnsureMainLoaded(s);
  HMODULE from = s.main;
  const char* library = kMainLibrary;
  if (e == eWSAIoctl) {
    library = kControlLibrary;
    if (!s.control) {
      s.control = LoadLibraryA(kControlLibrary);
      if (!s.control)
        throw ESocketException(std::string("Unable to load ") + kControlLibrary + " - " +
                               SystemErrorWithCode(GetLastError()));
    }
    from = s.control;
  }
  p = GetProcAddress(from, kEntryNames[e]);
  if (!p)
    throw ESocketException(std::string("Procedure ") + kEntryNames[e] + " not found in " + library +
                           " - " + SystemErrorWithCode(GetLastError()));
  s.entries[e].store(p, std::memory_order_release);
  return p;
}

template <typename Fn>
Fn Get(Entry e) {
  return reinterpret_cast<Fn>(Resolve(e));
}

// Keeps the library loaded for the length of one call.
class CountedCall {
 public:
  CountedCall() { IncSocketInstanceCount(); }
  ~CountedCall() { DecSocketInstanceCount(); }
};

struct ErrorText {
  int code;
  const char* text;
};

const ErrorText kErrorTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

}  // namespace

// ---- entry stubs ----

namespace Winsock {

int WSAStartup(WORD v, WSADATA* d) {
  return Get<WinsockFn::WSAStartup>(eWSAStartup)(v, d);
}
int WSACleanup() {
  return Get<WinsockFn::WSACleanup>(eWSACleanup)();
}
void WSASetLastError(int e) {
  Get<WinsockFn::WSASetLastError>(eWSASetLastError)(e);
}
int WSAGetLastError() {
  return Get<WinsockFn::WSAGetLastError>(eWSAGetLastError)();
}
int WSACancelAsyncRequest(HANDLE t) {
  return Get<WinsockFn::WSACancelAsyncRequest>(eWSACancelAsyncRequest)(t);
}
HANDLE WSAAsyncGetHostByName(HWND h, UINT m, const char* n, char* b, int l) {
  return Get<WinsockFn::WSAAsyncGetHostByName>(eWSAAsyncGetHostByName)(h, m, n, b, l);
}
HANDLE WSAAsyncGetHostByAddr(HWND h, UINT m, const char* a, int len, int type, char* b, int l) {
  return Get<WinsockFn::WSAAsyncGetHostByAddr>(eWSAAsyncGetHostByAddr)(h, m, a, len, type, b, l);
}
int WSAAsyncSelect(SOCKET s, HWND h, UINT m, LONG e) {
  return Get<WinsockFn::WSAAsyncSelect>(eWSAAsyncSelect)(s, h, m, e);
}
WS_servent* getservbyname(const char* n, const char* p) {
  return Get<WinsockFn::getservbyname>(egetservbyname)(n, p);
}
WS_protoent* getprotobyname(const char* n) {
  return Get<WinsockFn::getprotobyname>(egetprotobyname)(n);
}
WS_hostent* gethostbyname(const char* n) {
  return Get<WinsockFn::gethostbyname>(egethostbyname)(n);
}
WS_hostent* gethostbyaddr(const char* a, int len, int type) {
  return Get<WinsockFn::gethostbyaddr>(egethostbyaddr)(a, len, type);
}
int gethostname(char* n, int l) {
  return Get<WinsockFn::gethostname>(egethostname)(n, l);
}
SOCKET socket(int af, int type, int p) {
  return Get<WinsockFn::socket>(esocket)(af, type, p);
}
int shutdown(SOCKET s, int how) {
  return Get<WinsockFn::shutdown>(eshutdown)(s, how);
}
int setsockopt(SOCKET s, int level, int opt, const char* v, int len) {
  return Get<WinsockFn::setsockopt>(esetsockopt)(s, level, opt, v, len);
}
int getsockopt(SOCKET s, int level, int opt, char* v, int* len) {
  return Get<WinsockFn::getsockopt>(egetsockopt)(s, level, opt, v, len);
}
int sendto(SOCKET s, const char* b, int len, int f, const WS_sockaddr* to, int tolen) {
  return Get<WinsockFn::sendto>(esendto)(s, b, len, f, to, tolen);
}
int send(SOCKET s, const char* b, int len, int f) {
  return Get<WinsockFn::send>(esend)(s, b, len, f);
}
USHORT ntohs(USHORT v) {
  return Get<WinsockFn::ntohs>(entohs)(v);
}
int listen(SOCKET s, int backlog) {
  return Get<WinsockFn::listen>(elisten)(s, backlog);
}
int ioctlsocket(SOCKET s, LONG cmd, ULONG* arg) {
  return Get<WinsockFn::ioctlsocket>(eioctlsocket)(s, cmd, arg);
}
int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen, DWORD* ret,
             LPWSAOVERLAPPED ov, LPWSAOVERLAPPED_COMPLETION_ROUTINE cr) {
  return Get<WinsockFn::WSAIoctl>(eWSAIoctl)(s, code, in, inLen, out, outLen, ret, ov, cr);
}
char* inet_ntoa(WS_in_addr a) {
  return Get<WinsockFn::inet_ntoa>(einet_ntoa)(a);
}
ULONG inet_addr(const char* t) {
  return Get<WinsockFn::inet_addr>(einet_addr)(t);
}
USHORT htons(USHORT v) {
  return Get<WinsockFn::htons>(ehtons)(v);
}
ULONG htonl(ULONG v) {
  return Get<WinsockFn::htonl>(ehtonl)(v);
}
int getsockname(SOCKET s, WS_sockaddr* n, int* len) {
  return Get<WinsockFn::getsockname>(egetsockname)(s, n, len);
}
int getpeername(SOCKET s, WS_sockaddr* n, int* len) {
  return Get<WinsockFn::getpeername>(egetpeername)(s, n, len);
}
int connect(SOCKET s, const WS_sockaddr* n, int len) {
  return Get<WinsockFn::connect>(econnect)(s, n, len);
}
int closesocket(SOCKET s) {
  return Get<WinsockFn::closesocket>(eclosesocket)(s);
}
int bind(SOCKET s, const WS_sockaddr* n, int len) {
  return Get<WinsockFn::bind>(ebind)(s, n, len);
}
SOCKET accept(SOCKET s, WS_sockaddr* a, int* len) {
  return Get<WinsockFn::accept>(eaccept)(s, a, len);
}
int recv(SOCKET s, char* b, int len, int f) {
  return Get<WinsockFn::recv>(erecv)(s, b, len, f);
}
int recvfrom(SOCKET s, char* b, int len, int f, WS_sockaddr* from, int* fromlen) {
  return Get<WinsockFn::recvfrom>(erecvfrom)(s, b, len, f, from, fromlen);
}

}  // namespace Winsock

// ---- count, version, unloading ----

int SocketInstanceCount() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  return State().instanceCount;
}

void IncSocketInstanceCount() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  ++State().instanceCount;
}

void DecSocketInstanceCount() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  --State().instanceCount;
}

bool WinsockLoaded() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  return State().main != nullptr;
}

void WinsockUnloadIfUnused() {
  LibraryState& s = State();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (!s.main || s.instanceCount > 0) return;
  if (auto cleanup = reinterpret_cast<WinsockFn::WSACleanup>(GetProcAddress(s.main, "WSACleanup")))
    cleanup();
  if (s.control) {
    FreeLibrary(s.control);
    s.control = nullptr;
  }
  FreeLibrary(s.main);
  s.main = nullptr;
  for (auto& e : s.entries)
    e.store(nullptr, std::memory_order_release);
}

uint8_t ReqVerLow() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  return State().reqVerLow;
}

uint8_t ReqVerHigh() {
  std::lock_guard<std::recursive_mutex> l(State().lock);
  return State().reqVerHigh;
}

namespace {
bool SetVersionByte(uint8_t LibraryState::*field, uint8_t value) {
  LibraryState& s = State();
  std::lock_guard<std::recursive_mutex> l(s.lock);
  if (s.*field == value) return true;
  if (s.main) return false;
  s.*field = value;
  return true;
}
}  // namespace

bool SetReqVerLow(uint8_t value) {
  return SetVersionByte(&LibraryState::reqVerLow, value);
}
bool SetReqVerHigh(uint8_t value) {
  return SetVersionByte(&LibraryState::reqVerHigh, value);
}

// ---- counted wrappers ----

int WinsockGetHostName(char* buffer, int len) {
  CountedCall c;
  return Winsock::gethostname(buffer, len);
}

int WinsockGetSockOpt(SOCKET s, int level, int option, char* value, int* len) {
  CountedCall c;
  return Winsock::getsockopt(s, level, option, value, len);
}

USHORT WinsockNtohs(USHORT value) {
  CountedCall c;
  return Winsock::ntohs(value);
}

int WinsockIoctl(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen,
                 DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
                 LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  CountedCall c;
  return Winsock::WSAIoctl(s, code, in, inLen, out, outLen, bytesReturned, overlapped, completion);
}

std::string WinsockInetNtoa(WS_in_addr address) {
  CountedCall c;
  const char* p = Winsock::inet_ntoa(address);
  return p ? p : "";
}

ULONG WinsockInetAddr(const std::string& text) {
  CountedCall c;
  return Winsock::inet_addr(text.c_str());
}

ULONG WinsockHtonl(ULONG value) {
  CountedCall c;
  return Winsock::htonl(value);
}

// ---- resolvers ----

ULONG ResolveHostAddr(const std::string& name) {
  if (name.empty() || name.size() > 256)
    throw ESocketException("Winsock Resolve Host: '" + name + "' Invalid Hostname.");
  std::string host = rtl::Trim(name);
  if (IsDottedQuad(host)) {
    ULONG a = Winsock::inet_addr(host.c_str());
    if (a == WS_INADDR_NONE && host != "255.255.255.255")
      throw ESocketException("Winsock Resolve Host: '" + name + "' Invalid IP address.");
    return a;
  }
  WS_hostent* he = Winsock::gethostbyname(host.c_str());
  if (!he || !he->h_addr_list || !he->h_addr_list[0])
    throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + name + "' - " +
                           WinsockErrorWithCode(Winsock::WSAGetLastError()));
  ULONG a;
  std::memcpy(&a, he->h_addr_list[0], sizeof a);
  return a;
}

ULONG WinsockResolveHost(const std::string& name) {
  CountedCall c;
  return ResolveHostAddr(name);
}

USHORT WinsockResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32)
    throw ESocketException("Winsock Resolve Port: Invalid Port.");
  if (proto.empty() || proto.size() >= 32)
    throw ESocketException("Winsock Resolve Port: Invalid Proto.");
  if (SocketIsDigit(port[0])) {
    int n = SocketAtoi(port);
    if (n > 65535) throw ESocketException("Winsock Resolve Port: Invalid Port.");
    return static_cast<USHORT>(n);
  }
  std::string p = rtl::Trim(port), pr = rtl::Trim(proto);
  WS_servent* se = Winsock::getservbyname(p.c_str(), pr.empty() ? nullptr : pr.c_str());
  if (!se)
    throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                           WinsockErrorWithCode(Winsock::WSAGetLastError()));
  return Winsock::ntohs(static_cast<USHORT>(se->s_port));
}

int WinsockResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32)
    throw ESocketException("Winsock Resolve Proto: Invalid Protocol.");
  if (SocketIsDigit(proto[0])) return SocketAtoi(proto);
  std::string p = rtl::LowerCase(rtl::Trim(proto));
  if (p == "tcp") return 6;
  if (p == "udp") return 17;
  if (p == "raw") return 255;
  WS_protoent* pe = Winsock::getprotobyname(p.c_str());
  if (!pe)
    throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + proto + "' - " +
                           WinsockErrorWithCode(Winsock::WSAGetLastError()));
  return pe->p_proto;
}

std::string WinsockLocalHostName() {
  char buf[64] = {};
  if (WinsockGetHostName(buf, sizeof buf) != 0)
    throw ESocketException("Winsock Get Host Name failed");
  buf[sizeof buf - 1] = '\0';
  return buf;
}

// ---- texts ----

std::string WinsockErrorText(int code) {
  for (const auto& e : kErrorTexts)
    if (e.code == code) return e.text;
  return "Not a WinSock error";
}

std::string SocketErrorText(int code, const std::string& procName) {
  return WinsockErrorText(code) + " (#" + std::to_string(code) + " in " + procName + ")";
}

std::string WinsockErrorWithCode(int code) {
  return WinsockErrorText(code) + " (#" + std::to_string(code) + ")";
}

std::string SystemErrorWithCode(DWORD code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  std::string text(buf, n);
  // The system's texts end in a period and CR LF; the message reads on after them.
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.'))
    text.pop_back();
  return text + " (#" + std::to_string(code) + ")";
}

int SocketAtoi(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  int64_t n = 0;
  for (; i < text.size() && SocketIsDigit(text[i]); ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int>(n);
}

bool IsDottedQuad(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  if (i < text.size() && text[i] == '.') return false;
  int dots = 0;
  int num = 0;  // saturates above 255: only "over 255" matters
  while (i < text.size()) {
    char c = text[i];
    if (c == '.') {
      if (++dots > 3 || num > 255 || i + 1 >= text.size() || !SocketIsDigit(text[i + 1]))
        return false;
      num = 0;
      ++i;
    } else if (SocketIsDigit(c)) {
      num = num > 255 ? 256 : num * 10 + (c - '0');
      ++i;
    } else {
      while (i < text.size() && text[i] == ' ')
        ++i;
      if (i < text.size()) return false;
    }
  }
  return dots == 3 && num <= 255;
}

HWND SocketMakeObjectInstance(TWndMethod method) {
  return AllocateHWnd(std::move(method));
}

void SocketFreeObjectInstance(HWND window) {
  DeallocateHWnd(window);
}
