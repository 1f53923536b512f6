// The version the system reports and the computer name.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "platform/win/sysinfo.h"

namespace {

struct Version {
  DWORD platform;
  DWORD major;
  DWORD minor;
};

constexpr Version kDefaultVersion = {VER_PLATFORM_WIN32_NT, 5, 1};
constexpr DWORD kBuildNumber = 2600;
constexpr char kServicePack[] = "Service Pack 3";

// Reads "P.MAJ.MIN": three runs of one to nine decimal digits separated by dots, nothing else.
std::optional<Version> ParseVersion(const char* text) {
  DWORD parts[3];
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && *p++ != '.') return std::nullopt;
    DWORD value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 9) {
      value = value * 10 + DWORD(*p++ - '0');
      ++digits;
    }
    if (digits == 0 || (*p >= '0' && *p <= '9')) return std::nullopt;
    parts[i] = value;
  }
  if (*p != '\0') return std::nullopt;
  return Version{parts[0], parts[1], parts[2]};
}

Version CurrentVersion() {
  const char* env = getenv("KELVADON_WINVER");
  if (env) {
    if (auto v = ParseVersion(env)) return *v;
  }
  return kDefaultVersion;
}

}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Version v = CurrentVersion();
  info->dwMajorVersion = v.major;
  info->dwMinorVersion = v.minor;
  info->dwBuildNumber = kBuildNumber;
  info->dwPlatformId = v.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::memcpy(info->szCSDVersion, kServicePack, sizeof kServicePack);
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    ex->wServicePackMajor = 3;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = VER_NT_WORKSTATION;
    ex->wReserved = 0;
  }
  return TRUE;
}

std::string ComputerNameFromHostName(std::string_view hostName) {
  std::string name(hostName.substr(0, hostName.find('.')));
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return name;
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
  if (!size || (!buffer && *size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return FALSE;
  }
  const std::string name = ComputerNameFromHostName(host);
  if (*size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

HANDLE GetCurrentProcess() {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) {
  int nice;
  switch (priorityClass) {
    case IDLE_PRIORITY_CLASS:
      nice = 19;
      break;
    case BELOW_NORMAL_PRIORITY_CLASS:
      nice = 10;
      break;
    case NORMAL_PRIORITY_CLASS:
      nice = 0;
      break;
    case ABOVE_NORMAL_PRIORITY_CLASS:
      nice = -5;
      break;
    case HIGH_PRIORITY_CLASS:
      nice = -10;
      break;
    case REALTIME_PRIORITY_CLASS:
      nice = -20;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  if (process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Linux keeps a nice value per thread: set it on every thread there is now (threads made
  // later inherit it from their creator).
  if (setpriority(PRIO_PROCESS, 0, nice) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return FALSE;
  }
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (struct dirent* e = readdir(tasks)) {
      int tid = atoi(e->d_name);
      if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    }
    closedir(tasks);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
