// The per-thread last error and the one errno translation of this library.
#include <errno.h>

#include "platform/win/base.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() {
  return lastError;
}

void SetLastError(DWORD code) {
  lastError = code;
}

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
    case EAGAIN:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC:
    case ELIBBAD:
      return ERROR_BAD_FORMAT;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EINVAL:
    case EFAULT:
      return ERROR_INVALID_PARAMETER;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOSYS:
    case ENOTSUP:
      return ERROR_CALL_NOT_IMPLEMENTED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ETIMEDOUT:
      return ERROR_TIMEOUT;
    default:
      return ERROR_GEN_FAILURE;
  }
}
