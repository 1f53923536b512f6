// The event log of the security library: events go to syslog (facility daemon), with the source
// name as the ident and the texts converted from CP932 to UTF-8. When $KELVADON_EVENTLOG names a
// file, events are appended to it instead, one line each ("source<TAB>TYPE<TAB>id<TAB>text",
// control characters as blanks), so that tests can read them. Safe from any thread.
#pragma once

#include "platform/advapi32/winsvc.h"

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

// Returns a handle for the source (the server name is not used), or null with 87 for a null
// source. The caller closes it with DeregisterEventSource.
KW_ADVAPI32_API HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
// FALSE with 6 for a handle that is not open.
KW_ADVAPI32_API BOOL DeregisterEventSource(HANDLE hEventLog);
// Writes one event whose text is the strings joined by blanks. FALSE with 6 for a bad handle, 87
// for strings promised but null, 13 for an unknown type.
KW_ADVAPI32_API BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                                  PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize,
                                  LPCSTR* lpStrings, LPVOID lpRawData);
