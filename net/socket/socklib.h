// The socket library binding: every call into the socket library goes through an entry stub that
// loads "wsock32.dll" (and "ws2_32.dll" for WSAIoctl) on first use, starts it with the requested
// version, resolves the entry by name and caches it. The library is unloaded again when the last
// socket object is gone (SocketInstanceCount 0). Beside the binding: the live-socket count, the
// name, port and protocol resolvers, the local host name and the error texts every socket message
// uses.
//
// Threads: everything here is safe from any thread; loading, unloading, resolution and the count
// are serialised by one process-wide library lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/msg/msg.h"
#include "platform/wsock32/winsock.h"
#include "rtl/exception.h"

// The exception the socket layer raises.
RTL_DECLARE_EXCEPTION(ESocketException, rtl::Exception);

// Entry stubs, one per entry point, with the library function's own arguments and result. A
// stub that cannot load the library or find its entry raises ESocketException.
namespace Winsock {
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
void WSASetLastError(int error);
int WSAGetLastError();
int WSACancelAsyncRequest(HANDLE task);
HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int buflen);
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, LONG events);
WS_servent* getservbyname(const char* name, const char* proto);
WS_protoent* getprotobyname(const char* name);
WS_hostent* gethostbyname(const char* name);
WS_hostent* gethostbyaddr(const char* addr, int len, int type);
int gethostname(char* name, int namelen);
SOCKET socket(int af, int type, int protocol);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int sendto(SOCKET s, const char* buf, int len, int flags, const WS_sockaddr* to, int tolen);
int send(SOCKET s, const char* buf, int len, int flags);
USHORT ntohs(USHORT value);
int listen(SOCKET s, int backlog);
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);
int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen,
             DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
char* inet_ntoa(WS_in_addr address);
ULONG inet_addr(const char* text);
USHORT htons(USHORT value);
ULONG htonl(ULONG value);
int getsockname(SOCKET s, WS_sockaddr* name, int* namelen);
int getpeername(SOCKET s, WS_sockaddr* name, int* namelen);
int connect(SOCKET s, const WS_sockaddr* name, int namelen);
int closesocket(SOCKET s);
int bind(SOCKET s, const WS_sockaddr* name, int namelen);
SOCKET accept(SOCKET s, WS_sockaddr* addr, int* addrlen);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, WS_sockaddr* from, int* fromlen);
}  // namespace Winsock

// The process-wide live-socket count (sockets alive plus counted calls in progress).
int SocketInstanceCount();
void IncSocketInstanceCount();
void DecSocketInstanceCount();

// Unloads the library when it is loaded and the count is 0: WSACleanup, free both libraries,
// forget every entry. A later stub call loads and starts it again.
void WinsockUnloadIfUnused();
// True while the main library is loaded and started.
bool WinsockLoaded();

// The version asked from WSAStartup (low and high byte), shared by all sockets; 1.1 by default.
uint8_t ReqVerLow();
uint8_t ReqVerHigh();
// Store a new value; a value equal to the current one does nothing. Returns false (nothing
// changed) while the library is loaded.
bool SetReqVerLow(uint8_t value);
bool SetReqVerHigh(uint8_t value);

// Counted wrappers: keep the library loaded for the length of one call.
int WinsockGetHostName(char* buffer, int len);
int WinsockGetSockOpt(SOCKET s, int level, int option, char* value, int* len);
USHORT WinsockNtohs(USHORT value);
int WinsockIoctl(SOCKET s, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen,
                 DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
                 LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
std::string WinsockInetNtoa(WS_in_addr address);
ULONG WinsockInetAddr(const std::string& text);
ULONG WinsockHtonl(ULONG value);

// The resolvers; each raises ESocketException with the texts below on failure.
// A host name or dotted address -> IPv4 address in network order.
ULONG ResolveHostAddr(const std::string& name);
ULONG WinsockResolveHost(const std::string& name);  // counted form
// A port number or service name -> port in host order. Numbers above 65535 are refused.
USHORT WinsockResolvePort(const std::string& port, const std::string& proto);
// A protocol number or name -> protocol number ("tcp" 6, "udp" 17, "raw" 255, any case).
int WinsockResolveProto(const std::string& proto);

// The local host name; raises "Winsock Get Host Name failed".
std::string WinsockLocalHostName();

// Error texts: the library's table ("Not a WinSock error" for unknown codes), the same with
// " (#code)", and the operating system's text for a code with " (#code)".
std::string WinsockErrorText(int code);
std::string WinsockErrorWithCode(int code);
// The report of a failed socket call: the library's text + " (#code in " + procName + ")".
std::string SocketErrorText(int code, const std::string& procName);
std::string SystemErrorWithCode(DWORD code);

// Text helpers. SocketAtoi skips leading blanks and reads decimal digits up to the first other
// character (no sign; empty gives 0; saturates at INT32_MAX).
int SocketAtoi(std::string_view text);
inline bool SocketIsDigit(char c) {
  return c >= '0' && c <= '9';
}
// True for four decimal numbers 0-255 separated by dots, blanks allowed before and after.
bool IsDottedQuad(std::string_view text);

// A hidden window of the calling thread whose messages go to method; and its destruction.
HWND SocketMakeObjectInstance(TWndMethod method);
void SocketFreeObjectInstance(HWND window);
