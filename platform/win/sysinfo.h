// What the system asks about the machine it runs on: the Windows version it should act as and
// the computer name. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/base.h"

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr BYTE VER_NT_WORKSTATION = 1;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

// Fills the record whose dwOSVersionInfoSize the caller has set to 148 (OSVERSIONINFOA) or 156
// (OSVERSIONINFOEXA). The system acts as Windows XP: NT family (2), 5.1, build 2600, "Service
// Pack 3". The environment variable KELVADON_WINVER="P.MAJ.MIN" (three decimal numbers) replaces
// the platform, major and minor version; it is read at every call, and a value of another form
// is ignored. TRUE on success; FALSE with last error 87 for a null record or another size.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// The computer name: the first label of the host name, ASCII upper-cased, cut to at most
// MAX_COMPUTERNAME_LENGTH bytes. *size holds the buffer's size on entry. On success the name and
// a NUL are copied, *size becomes the name's length without the NUL and the result is TRUE. A
// buffer too small gives FALSE, last error 111 and *size = the length needed including the NUL;
// null arguments give FALSE with 87.
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
BOOL GetComputerNameA(char* buffer, DWORD* size);

// The computer name GetComputerNameA derives from a host name.
std::string ComputerNameFromHostName(std::string_view hostName);

// The calling process (a pseudo handle, as on Windows) and its scheduling priority. Priority
// classes map onto nice values: IDLE 19, BELOW_NORMAL 10, NORMAL 0, ABOVE_NORMAL -5, HIGH -10,
// REALTIME -20 (raising needs the right to). FALSE with the last error on failure (87 for another
// handle or class).
HANDLE GetCurrentProcess();
constexpr DWORD IDLE_PRIORITY_CLASS = 0x40;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x80;
constexpr DWORD REALTIME_PRIORITY_CLASS = 0x100;
BOOL SetPriorityClass(HANDLE process, DWORD priorityClass);
