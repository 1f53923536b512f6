// The system functions of the service-control library, bound by name (binding.h) in four units:
//   Win2000Unit   "advapi32.dll" on the NT family from major version 5, else "radmin32.dll";
//                 the missing-library message ends ". Not Windows 2000?"
//   AccountUnit   accounts and the event log: "advapi32.dll" on the NT family, else "radmin32.dll"
//   NetUnit       network management: "netapi32.dll" on the NT family, else "radmin32.dll", each
//                 name with "A" outside the NT family
//   ServiceUnit   service control, registry and shutdown: as AccountUnit
// Our system ships libkw_advapi32.so for "advapi32.dll"; "netapi32.dll" and "radmin32.dll" load
// nothing, and names the library does not export stay empty. The forwarders in namespace nt are
// the functions the library calls: each calls its bound entry with the caller's arguments and
// returns its result and last error untouched, or raises ENTException (code 0) when the entry is
// missing. Safe from any thread.
#pragma once

#include "platform/advapi32/winsec.h"
#include "svcctl/binding.h"

namespace nt {

TBindingUnit& Win2000Unit();
TBindingUnit& AccountUnit();
TBindingUnit& NetUnit();
TBindingUnit& ServiceUnit();

// ---- Win2000Unit ----
BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);
BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);

// ---- AccountUnit ----
BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse);
BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse);
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
BOOL EqualSid(PSID pSid1, PSID pSid2);

// ---- ServiceUnit ----
BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                          DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                          LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                          LPCSTR lpPassword, LPCSTR lpDisplayName);
BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);
BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
SC_LOCK LockServiceDatabase(SC_HANDLE hSCManager);
SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);
BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig,
                         DWORD cbBufSize, LPDWORD pcbBytesNeeded);
BOOL QueryServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                          LPDWORD pcbBytesNeeded);
BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors);
BOOL QueryServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
                                PSECURITY_DESCRIPTOR lpSecurityDescriptor, DWORD cbBufSize,
                                LPDWORD pcbBytesNeeded);
BOOL SetServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
                              PSECURITY_DESCRIPTOR lpSecurityDescriptor);
BOOL UnlockServiceDatabase(SC_LOCK ScLock);

}  // namespace nt
