// The Windows base types, constants and error codes the system is written against, the calling
// thread's last error, and local memory. Layouts and values are those of the Windows headers.
// Every function here is safe from any thread; the last error is kept per thread.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using INT = int32_t;
using UINT = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONG = int32_t;
using ULONG = uint32_t;
using CHAR = char;
using WCHAR = char16_t;
using SIZE_T = size_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;

// Window ids are 32-bit; 0 means no window.
using HWND = uint32_t;
using HANDLE = void*;
using HLOCAL = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
constexpr DWORD MAX_PATH = 260;

// Error codes (the last error, and the results of functions that return a code).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_FORMAT = 11;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_DEPENDENT_SERVICES_RUNNING = 1051;
constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
constexpr DWORD ERROR_SERVICE_NO_THREAD = 1054;
constexpr DWORD ERROR_SERVICE_DATABASE_LOCKED = 1055;
constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr DWORD ERROR_INVALID_SERVICE_ACCOUNT = 1057;
constexpr DWORD ERROR_SERVICE_DISABLED = 1058;
constexpr DWORD ERROR_CIRCULAR_DEPENDENCY = 1059;
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr DWORD ERROR_EXCEPTION_IN_SERVICE = 1064;
constexpr DWORD ERROR_DATABASE_DOES_NOT_EXIST = 1065;
constexpr DWORD ERROR_SERVICE_SPECIFIC_ERROR = 1066;
constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
constexpr DWORD ERROR_SERVICE_DEPENDENCY_FAIL = 1068;
constexpr DWORD ERROR_SERVICE_LOGON_FAILED = 1069;
constexpr DWORD ERROR_SERVICE_START_HANG = 1070;
constexpr DWORD ERROR_INVALID_SERVICE_LOCK = 1071;
constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
constexpr DWORD ERROR_SERVICE_DEPENDENCY_DELETED = 1075;
constexpr DWORD ERROR_DUPLICATE_SERVICE_NAME = 1078;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_NO_ASSOCIATION = 1155;
constexpr DWORD ERROR_SESSION_CREDENTIAL_CONFLICT = 1219;
constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_INVALID_ACL = 1336;
constexpr DWORD ERROR_INVALID_SID = 1337;
constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_TRUSTED_RELATIONSHIP_FAILURE = 1789;
constexpr DWORD ERROR_NOT_CONNECTED = 2250;

// Word and long packing, as the Windows macros do it.
constexpr WORD MAKEWORD(BYTE low, BYTE high) {
  return WORD(low | (WORD(high) << 8));
}
constexpr BYTE LOBYTE(uintptr_t value) {
  return BYTE(value & 0xFF);
}
constexpr BYTE HIBYTE(uintptr_t value) {
  return BYTE((value >> 8) & 0xFF);
}
constexpr LONG MAKELONG(WORD low, WORD high) {
  return static_cast<LONG>(DWORD(low) | (DWORD(high) << 16));
}
constexpr WORD LOWORD(uintptr_t value) {
  return WORD(value & 0xFFFF);
}
constexpr WORD HIWORD(uintptr_t value) {
  return WORD((value >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
  return LPARAM(MAKELONG(low, high));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return WPARAM(DWORD(MAKELONG(low, high)));
}

// The calling thread's last error. Each thread has its own, starting at 0; there is one copy per
// process, shared by every library of the system.
DWORD GetLastError();
void SetLastError(DWORD code);

// The Win32 error code that stands for an errno value (ENOENT -> 2, EACCES -> 5, ...; anything
// without a closer match -> ERROR_GEN_FAILURE). The platform layers turn errno into last errors
// only through this function.
DWORD Win32ErrorFromErrno(int err);

// Local memory. LocalAlloc returns a block of at least `bytes` bytes (zeroed with LMEM_ZEROINIT),
// or null with last error 8 when memory is short and 87 for flags other than LMEM_FIXED and
// LMEM_ZEROINIT. The caller frees it with LocalFree, which returns null (also for null).
constexpr UINT LMEM_FIXED = 0;
constexpr UINT LMEM_ZEROINIT = 0x40;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);
