// Local memory: plain heap blocks. LMEM_FIXED blocks are their own handles, so LocalFree frees
// the pointer it is given.
#include <cstdlib>

#include "platform/win/base.h"

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & ~LMEM_ZEROINIT) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A zero-byte request still returns a distinct block, as Windows does.
  const size_t size = bytes ? bytes : 1;
  void* mem = (flags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
  if (!mem) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return mem;
}

HLOCAL LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}
