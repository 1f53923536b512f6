// LoadLibraryA and friends over dlopen. Every library loaded once keeps a record for the life of
// the process (its address is the HMODULE), so a stale handle is recognised instead of being
// followed; the records are found by the real path of their file.
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win/module.h"

#include "rtl/cp932.h"
#include "rtl/files.h"

namespace {

struct LibraryMapping {
  const char* dllName;  // lower case, without ".dll"
  const char* file;
  const char* prefix;
};

// The DLL names the system loads, and what stands for each of them here.
constexpr LibraryMapping kLibraryTable[] = {
    {"wsock32", "libwsock32.so", "wsk_"},
    {"ws2_32", "libwsock32.so", "wsk_"},
    {"advapi32", "libkw_advapi32.so", ""},
};

struct Module {
  std::string path;    // real path of the file
  std::string prefix;  // added to every entry-point name
  void* dl = nullptr;  // dlopen handle while refs > 0
  int refs = 0;
};

std::mutex modulesLock;
// Keyed by real path. Never erased: a freed record keeps refs 0 and is reused when the file is
// loaded again, so one file always has one handle.
std::map<std::string, std::unique_ptr<Module>>& Modules() {
  static auto* modules = new std::map<std::string, std::unique_ptr<Module>>;
  return *modules;
}

const LibraryMapping* FindMapping(std::string_view name) {
  std::string key = rtl::LowerCase(name);
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0) key.resize(key.size() - 4);
  for (const auto& m : kLibraryTable)
    if (key == m.dllName) return &m;
  return nullptr;
}

// The live record behind a handle, or null. REQUIRES: modulesLock held.
Module* LiveModule(HMODULE handle) {
  for (auto& [path, m] : Modules())
    if (reinterpret_cast<HMODULE>(m.get()) == handle) return m->refs > 0 ? m.get() : nullptr;
  return nullptr;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Copies text into a caller's buffer with GetModuleFileNameA's truncation rule.
DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (text.size() >= size) {
    std::memcpy(buffer, text.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

}  // namespace

std::vector<std::string> LibrarySearchDirs() {
  const char* env = getenv("KELVADON_LIBDIR");
  if (env && *env) {
    std::string dir(env);
    if (dir.back() != '/') dir += '/';
    return {dir};
  }
  const std::string program = rtl::ProgramDir();
  return {program, program + "../lib/kelvadon/"};
}

HMODULE LoadLibraryA(const char* name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const LibraryMapping* mapping = FindMapping(name);
  if (!mapping) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::string file;
  for (const std::string& dir : LibrarySearchDirs()) {
    if (IsRegularFile(dir + mapping->file)) {
      file = dir + mapping->file;
      break;
    }
  }
  char real[PATH_MAX];
  if (file.empty() || !realpath(file.c_str(), real)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }

  std::lock_guard<std::mutex> lock(modulesLock);
  auto& slot = Modules()[real];
  if (!slot) {
    slot = std::make_unique<Module>();
    slot->path = real;
    slot->prefix = mapping->prefix;
  }
  Module* m = slot.get();
  if (m->refs == 0) {
    m->dl = dlopen(m->path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->dl) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  ++m->refs;
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HMODULE>(m);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  std::lock_guard<std::mutex> lock(modulesLock);
  Module* m = LiveModule(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Small values stand for ordinals, which these libraries do not have.
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::string symbol = m->prefix + name;
  void* address = dlsym(m->dl, symbol.c_str());
  // dlsym also searches the library's dependencies; only the library's own symbols count.
  link_map* own = nullptr;
  link_map* owner = nullptr;
  Dl_info info;
  if (!address || dlinfo(m->dl, RTLD_DI_LINKMAP, &own) != 0 ||
      !dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || owner != own) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::mutex> lock(modulesLock);
  Module* m = LiveModule(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--m->refs == 0) {
    // Linked with -z nodelete: the code stays mapped; this only drops the loader's count.
    dlclose(m->dl);
    m->dl = nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  std::string path;
  if (!module) {
    path = rtl::ProgramFileName();
  } else {
    std::lock_guard<std::mutex> lock(modulesLock);
    if (Module* m = LiveModule(module)) path = m->path;
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return CopyOut(path, buffer, size);
}
