// Event sources and events: syslog, or the file named by $KELVADON_EVENTLOG.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/advapi32/eventlog.h"
#include "rtl/cp932.h"

namespace {

struct EventSource {
  std::string name;  // UTF-8
};

std::mutex g_lock;  // guards the sources and the syslog ident
std::set<EventSource*>& Sources() {
  static auto* sources = new std::set<EventSource*>;
  return *sources;
}

const char* TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      return "SUCCESS";
    case EVENTLOG_ERROR_TYPE:
      return "ERROR";
    case EVENTLOG_WARNING_TYPE:
      return "WARNING";
    case EVENTLOG_INFORMATION_TYPE:
      return "INFORMATION";
    case EVENTLOG_AUDIT_SUCCESS:
      return "AUDIT_SUCCESS";
    case EVENTLOG_AUDIT_FAILURE:
      return "AUDIT_FAILURE";
  }
  return nullptr;
}

int Priority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
    case EVENTLOG_AUDIT_FAILURE:
      return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
      return LOG_WARNING;
    case EVENTLOG_AUDIT_SUCCESS:
      return LOG_NOTICE;
  }
  return LOG_INFO;
}

bool AppendLine(const char* path, const std::string& line) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return ok;
}

}  // namespace

KW_ADVAPI32_API HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  if (!lpSourceName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto source = std::make_unique<EventSource>();
  source->name = rtl::Cp932ToUtf8(lpSourceName);
  std::lock_guard<std::mutex> l(g_lock);
  EventSource* raw = source.release();
  Sources().insert(raw);
  SetLastError(ERROR_SUCCESS);
  return raw;
}

KW_ADVAPI32_API BOOL DeregisterEventSource(HANDLE hEventLog) {
  std::lock_guard<std::mutex> l(g_lock);
  auto it = Sources().find(static_cast<EventSource*>(hEventLog));
  if (it == Sources().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete *it;
  Sources().erase(it);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

KW_ADVAPI32_API BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                                  PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                                  LPCSTR* lpStrings, LPVOID lpRawData) {
  const char* type = TypeName(wType);
  if (!type) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (wNumStrings && !lpStrings) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string text;
  for (WORD i = 0; i < wNumStrings; ++i) {
    if (i) text += ' ';
    if (lpStrings[i]) text += lpStrings[i];
  }
  text = rtl::Cp932ToUtf8(text);

  std::lock_guard<std::mutex> l(g_lock);
  auto it = Sources().find(static_cast<EventSource*>(hEventLog));
  if (it == Sources().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::string& source = (*it)->name;
  if (const char* file = getenv("KELVADON_EVENTLOG"); file && *file) {
    std::string line = source + "\t" + type + "\t" + std::to_string(dwEventID) + "\t";
    for (char c : text)
      line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    line += '\n';
    if (!AppendLine(file, line)) {
      SetLastError(Win32ErrorFromErrno(errno));
      return FALSE;
    }
  } else {
    // The ident must outlive openlog: it is the source's own name, kept until closelog.
    openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    syslog(Priority(wType), "%s", text.c_str());
    closelog();
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
