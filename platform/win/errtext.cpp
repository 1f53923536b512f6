// FormatMessageA over a fixed table of English system texts, and the texts made from them.
#include "platform/win/errtext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "rtl/messages.h"

namespace {

struct ErrorText {
  DWORD id;
  const char* text;
};

// Sorted by code. The Win32 codes the system and its platform layers report, and the Winsock
// codes of the socket library.
constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough storage is available to process this command.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {13, "The data is invalid.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {109, "The pipe has been ended.\r\n"},
    {111, "The file name is too long.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {124, "The system call level is not correct.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {1051,
     "A stop control has been sent to a service that other running services are dependent "
     "on.\r\n"},
    {1052, "The requested control is not valid for this service.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1054, "A thread could not be created for the service.\r\n"},
    {1055, "The service database is locked.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1057,
     "The account name is invalid or does not exist, or the password is invalid for the account "
     "name specified.\r\n"},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it.\r\n"},
    {1059, "Circular service dependency was specified.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1063, "The service process could not connect to the service controller.\r\n"},
    {1064, "An exception occurred in the service when handling the control request.\r\n"},
    {1065, "The database specified does not exist.\r\n"},
    {1066, "The service has returned a service-specific error code.\r\n"},
    {1067, "The process terminated unexpectedly.\r\n"},
    {1068, "The dependency service or group failed to start.\r\n"},
    {1069, "The service did not start due to a logon failure.\r\n"},
    {1070, "After starting, the service hung in a start-pending state.\r\n"},
    {1071, "The specified service database lock is invalid.\r\n"},
    {1072, "The specified service has been marked for deletion.\r\n"},
    {1073, "The specified service already exists.\r\n"},
    {1075, "The dependency service does not exist or has been marked for deletion.\r\n"},
    {1078, "The name is already in use as either a service name or a service display name.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1115, "A system shutdown is in progress.\r\n"},
    {1155, "No application is associated with the specified file for this operation.\r\n"},
    {1219,
     "Multiple connections to a server or shared resource by the same user, using more than one "
     "user name, are not allowed. Disconnect all previous connections to the server or shared "
     "resource and try again.\r\n"},
    {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1305, "The revision level is unknown.\r\n"},
    {1307, "This security ID may not be assigned as the owner of this object.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1332, "No mapping between account names and security IDs was done.\r\n"},
    {1336, "The access control list (ACL) structure is invalid.\r\n"},
    {1337, "The security ID structure is invalid.\r\n"},
    {1338, "The security descriptor structure is invalid.\r\n"},
    {1344, "No more memory is available for security information updates.\r\n"},
    {1361, "The security descriptor is not in the right format (absolute or self-relative).\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1444, "Invalid thread identifier.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1789, "The trust relationship between this workstation and the primary domain failed.\r\n"},
    {2250, "This network connection does not exist.\r\n"},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    {10013,
     "An attempt was made to access a socket in a way forbidden by its access permissions.\r\n"},
    {10022, "An invalid argument was supplied.\r\n"},
    {10035, "A non-blocking socket operation could not be completed immediately.\r\n"},
    {10038, "An operation was attempted on something that is not a socket.\r\n"},
    {10042,
     "An unknown, invalid, or unsupported option or level was specified in a getsockopt or "
     "setsockopt call.\r\n"},
    {10048,
     "Only one usage of each socket address (protocol/network address/port) is normally "
     "permitted.\r\n"},
    {10049, "The requested address is not valid in its context.\r\n"},
    {10053, "An established connection was aborted by the software in your host machine.\r\n"},
    {10054, "An existing connection was forcibly closed by the remote host.\r\n"},
    {10057,
     "A request to send or receive data was disallowed because the socket is not connected and "
     "(when sending on a datagram socket using a sendto call) no address was supplied.\r\n"},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond.\r\n"},
    {10061, "No connection could be made because the target machine actively refused it.\r\n"},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
    {11001, "No such host is known.\r\n"},
    {11002,
     "This is usually a temporary error during hostname resolution and means that the local "
     "server did not receive a response from an authoritative server.\r\n"},
    {11003, "A non-recoverable error occurred during a database lookup.\r\n"},
    {11004, "The requested name is valid, but no data of the requested type was found.\r\n"},
};

constexpr bool SortedById() {
  for (size_t i = 1; i < std::size(kErrorTexts); ++i)
    if (kErrorTexts[i - 1].id >= kErrorTexts[i].id) return false;
  return true;
}
static_assert(SortedById(), "kErrorTexts must be sorted by code");

const char* FindText(DWORD id) {
  auto it = std::lower_bound(std::begin(kErrorTexts), std::end(kErrorTexts), id,
                             [](const ErrorText& e, DWORD key) { return e.id < key; });
  return (it != std::end(kErrorTexts) && it->id == id) ? it->text : nullptr;
}

// True when the text holds an insert: "%" followed by a digit from 1 to 9.
bool HasInsert(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') return true;
  return false;
}

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD id, DWORD languageId, char* buffer,
                     DWORD size, void* arguments) {
  constexpr DWORD kKnownFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & ~kKnownFlags) != 0 || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* found = FindText(id);
  if (!found) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::string_view text(found);
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInsert(text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t needed = text.size() + 1;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    char* copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, std::max<size_t>(needed, size)));
    if (!copy) return 0;  // last error set by LocalAlloc
    std::memcpy(copy, text.data(), needed);
    *reinterpret_cast<char**>(buffer) = copy;
  } else {
    if (size < needed) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(buffer, text.data(), needed);
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

std::string SysErrorMessage(DWORD code) {
  char buf[1024] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.'))
    text.pop_back();
  return text;
}

std::string OSErrorText(DWORD code) {
  const std::string message = SysErrorMessage(code);
  const int n =
      std::snprintf(nullptr, 0, rtl::msg::kOSErrorFormat, static_cast<int>(code), message.c_str());
  std::string out(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(out.data(), out.size(), rtl::msg::kOSErrorFormat, static_cast<int>(code),
                message.c_str());
  out.resize(out.size() - 1);
  return out;
}
