// The four binding units of the service-control library and their forwarders.
#include "svcctl/apibind.h"

#include "svcctl/osversion.h"

namespace nt {
namespace {

// The entries of each unit, in the order the names are looked up.
enum Win2000Entry : size_t {
  kFileEncryptionStatusW,
  kEncryptFileW,
  kDecryptFileW,
  kConvertSidToStringSidW,
  kConvertStringSidToSidW,
};

enum AccountEntry : size_t {
  kLookupAccountNameA,
  kLookupAccountSidA,
  kLookupPrivilegeValueA,
  kLookupPrivilegeNameA,
  kEqualSid,
  kAllocateAndInitializeSid,
  kBackupEventLogA,
  kClearEventLogA,
  kCloseEventLog,
  kDeregisterEventSource,
  kGetNumberOfEventLogRecords,
  kGetOldestEventLogRecord,
  kNotifyChangeEventLog,
  kOpenBackupEventLogA,
  kOpenEventLogA,
  kReadEventLogA,
  kRegisterEventSourceA,
  kReportEventA,
};

enum NetEntry : size_t {
  kNetJoinDomain,
  kNetUnjoinDomain,
  kNetServerEnum,
  kNetServerDiskEnum,
  kNetRemoteTOD,
  kNetMessageNameAdd,
  kNetMessageNameDel,
  kNetMessageBufferSend,
  kNetMessageNameEnum,
  kNetApiBufferFree,
  kNetUserEnum,
  kNetUserGetInfo,
  kNetUserChangePassword,
  kNetQueryDisplayInformation,
  kNetGetDisplayInformationIndex,
  kNetGroupEnum,
  kNetLocalGroupEnum,
  kNetUserGetGroups,
  kNetUserGetLocalGroups,
  kNetLocalGroupAddMembers,
  kNetLocalGroupDelMembers,
  kNetGroupAddUser,
  kNetGroupDelUser,
  kNetLocalGroupAdd,
  kNetLocalGroupDel,
  kNetGroupAdd,
  kNetGroupDel,
  kNetUserSetInfo,
  kNetUserAdd,
  kNetUserDel,
  kNetGroupGetUsers,
  kNetLocalGroupGetMembers,
  kNetLocalGroupSetMembers,
  kNetGroupSetUsers,
  kNetGroupGetInfo,
  kNetGroupSetInfo,
  kNetLocalGroupGetInfo,
  kNetLocalGroupSetInfo,
  kNetShareGetInfo,
  kNetShareSetInfo,
  kNetServerGetInfo,
  kNetUserModalsGet,
  kNetServerSetInfo,
  kNetUserModalsSet,
  kNetSessionEnum,
  kNetSessionDel,
  kNetFileEnum,
  kNetFileClose,
  kNetShareAdd,
  kNetShareDel,
  kNetShareEnum,
  kNetShareCheck,
  kNetGetAnyDCName,
  kNetGetDCName,
  kNetWkstaUserGetInfo,
  kNetWkstaGetInfo,
};

enum ServiceEntry : size_t {
  kChangeServiceConfigA,
  kChangeServiceConfig2W,
  kCloseServiceHandle,
  kControlService,
  kCreateServiceA,
  kDeleteService,
  kEnumDependentServicesA,
  kEnumServicesStatusA,
  kGetServiceDisplayNameA,
  kGetServiceKeyNameA,
  kLockServiceDatabase,
  kNotifyBootConfigStatus,
  kOpenSCManagerA,
  kOpenServiceA,
  kQueryServiceConfigA,
  kQueryServiceConfig2W,
  kQueryServiceLockStatusA,
  kQueryServiceStatus,
  kStartServiceA,
  kQueryServiceObjectSecurity,
  kSetServiceObjectSecurity,
  kUnlockServiceDatabase,
  kRegConnectRegistryA,
  kRegOpenKeyExA,
  kRegCloseKey,
  kRegEnumKeyExA,
  kRegQueryValueExA,
  kInitiateSystemShutdownExA,
  kRegEnumValueA,
  kRegQueryInfoKeyA,
  kCredEnumerateW,
};

// "advapi32.dll" where the condition holds, else "radmin32.dll".
std::string AdvapiOr(bool advapi) {
  return advapi ? "advapi32.dll" : "radmin32.dll";
}

}  // namespace

TBindingUnit& Win2000Unit() {
  static TBindingUnit unit(
      {
          "FileEncryptionStatusW",
          "EncryptFileW",
          "DecryptFileW",
          "ConvertSidToStringSidW",
          "ConvertStringSidToSidW",
      },
      [] { return AdvapiOr(IsWin2000OrLater()); }, ". Not Windows 2000?");
  return unit;
}

TBindingUnit& AccountUnit() {
  static TBindingUnit unit(
      {
          "LookupAccountNameA",
          "LookupAccountSidA",
          "LookupPrivilegeValueA",
          "LookupPrivilegeNameA",
          "EqualSid",
          "AllocateAndInitializeSid",
          "BackupEventLogA",
          "ClearEventLogA",
          "CloseEventLog",
          "DeregisterEventSource",
          "GetNumberOfEventLogRecords",
          "GetOldestEventLogRecord",
          "NotifyChangeEventLog",
          "OpenBackupEventLogA",
          "OpenEventLogA",
          "ReadEventLogA",
          "RegisterEventSourceA",
          "ReportEventA",
      },
      [] { return AdvapiOr(IsWinNT()); });
  return unit;
}

TBindingUnit& NetUnit() {
  static TBindingUnit unit(
      {
          "NetJoinDomain",
          "NetUnjoinDomain",
          "NetServerEnum",
          "NetServerDiskEnum",
          "NetRemoteTOD",
          "NetMessageNameAdd",
          "NetMessageNameDel",
          "NetMessageBufferSend",
          "NetMessageNameEnum",
          "NetApiBufferFree",
          "NetUserEnum",
          "NetUserGetInfo",
          "NetUserChangePassword",
          "NetQueryDisplayInformation",
          "NetGetDisplayInformationIndex",
          "NetGroupEnum",
          "NetLocalGroupEnum",
          "NetUserGetGroups",
          "NetUserGetLocalGroups",
          "NetLocalGroupAddMembers",
          "NetLocalGroupDelMembers",
          "NetGroupAddUser",
          "NetGroupDelUser",
          "NetLocalGroupAdd",
          "NetLocalGroupDel",
          "NetGroupAdd",
          "NetGroupDel",
          "NetUserSetInfo",
          "NetUserAdd",
          "NetUserDel",
          "NetGroupGetUsers",
          "NetLocalGroupGetMembers",
          "NetLocalGroupSetMembers",
          "NetGroupSetUsers",
          "NetGroupGetInfo",
          "NetGroupSetInfo",
          "NetLocalGroupGetInfo",
          "NetLocalGroupSetInfo",
          "NetShareGetInfo",
          "NetShareSetInfo",
          "NetServerGetInfo",
          "NetUserModalsGet",
          "NetServerSetInfo",
          "NetUserModalsSet",
          "NetSessionEnum",
          "NetSessionDel",
          "NetFileEnum",
          "NetFileClose",
          "NetShareAdd",
          "NetShareDel",
          "NetShareEnum",
          "NetShareCheck",
          "NetGetAnyDCName",
          "NetGetDCName",
          "NetWkstaUserGetInfo",
          "NetWkstaGetInfo",
      },
      [] { return std::string(IsWinNT() ? "netapi32.dll" : "radmin32.dll"); }, std::string(), true);
  return unit;
}

TBindingUnit& ServiceUnit() {
  static TBindingUnit unit(
      {
          "ChangeServiceConfigA",
          "ChangeServiceConfig2W",
          "CloseServiceHandle",
          "ControlService",
          "CreateServiceA",
          "DeleteService",
          "EnumDependentServicesA",
          "EnumServicesStatusA",
          "GetServiceDisplayNameA",
          "GetServiceKeyNameA",
          "LockServiceDatabase",
          "NotifyBootConfigStatus",
          "OpenSCManagerA",
          "OpenServiceA",
          "QueryServiceConfigA",
          "QueryServiceConfig2W",
          "QueryServiceLockStatusA",
          "QueryServiceStatus",
          "StartServiceA",
          "QueryServiceObjectSecurity",
          "SetServiceObjectSecurity",
          "UnlockServiceDatabase",
          "RegConnectRegistryA",
          "RegOpenKeyExA",
          "RegCloseKey",
          "RegEnumKeyExA",
          "RegQueryValueExA",
          "InitiateSystemShutdownExA",
          "RegEnumValueA",
          "RegQueryInfoKeyA",
          "CredEnumerateW",
      },
      [] { return AdvapiOr(IsWinNT()); });
  return unit;
}

// ---- forwarders ----

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
  return Win2000Unit().Call<decltype(&ConvertSidToStringSidW)>(kConvertSidToStringSidW, Sid,
                                                               StringSid);
}

BOOL ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
  return Win2000Unit().Call<decltype(&ConvertStringSidToSidW)>(kConvertStringSidToSidW, StringSid,
                                                               Sid);
}

BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse) {
  return AccountUnit().Call<decltype(&LookupAccountNameA)>(
      kLookupAccountNameA, lpSystemName, lpAccountName, Sid, cbSid, ReferencedDomainName,
      cchReferencedDomainName, peUse);
}

BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse) {
  return AccountUnit().Call<decltype(&LookupAccountSidA)>(kLookupAccountSidA, lpSystemName, Sid,
                                                          Name, cchName, ReferencedDomainName,
                                                          cchReferencedDomainName, peUse);
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  return AccountUnit().Call<decltype(&LookupPrivilegeValueA)>(kLookupPrivilegeValueA, lpSystemName,
                                                              lpName, lpLuid);
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
  return AccountUnit().Call<decltype(&EqualSid)>(kEqualSid, pSid1, pSid2);
}

BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                          DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                          LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                          LPCSTR lpPassword, LPCSTR lpDisplayName) {
  return ServiceUnit().Call<decltype(&ChangeServiceConfigA)>(
      kChangeServiceConfigA, hService, dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
      lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, lpPassword, lpDisplayName);
}

BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
  return ServiceUnit().Call<decltype(&ChangeServiceConfig2W)>(kChangeServiceConfig2W, hService,
                                                              dwInfoLevel, lpInfo);
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  return ServiceUnit().Call<decltype(&CloseServiceHandle)>(kCloseServiceHandle, hSCObject);
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  return ServiceUnit().Call<decltype(&ControlService)>(kControlService, hService, dwControl,
                                                       lpServiceStatus);
}

SC_LOCK LockServiceDatabase(SC_HANDLE hSCManager) {
  return ServiceUnit().Call<decltype(&LockServiceDatabase)>(kLockServiceDatabase, hSCManager);
}

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
  return ServiceUnit().Call<decltype(&OpenSCManagerA)>(kOpenSCManagerA, lpMachineName,
                                                       lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  return ServiceUnit().Call<decltype(&OpenServiceA)>(kOpenServiceA, hSCManager, lpServiceName,
                                                     dwDesiredAccess);
}

BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig,
                         DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
  return ServiceUnit().Call<decltype(&QueryServiceConfigA)>(
      kQueryServiceConfigA, hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
}

BOOL QueryServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                          LPDWORD pcbBytesNeeded) {
  return ServiceUnit().Call<decltype(&QueryServiceConfig2W)>(
      kQueryServiceConfig2W, hService, dwInfoLevel, lpBuffer, cbBufSize, pcbBytesNeeded);
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  return ServiceUnit().Call<decltype(&QueryServiceStatus)>(kQueryServiceStatus, hService,
                                                           lpServiceStatus);
}

BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
  return ServiceUnit().Call<decltype(&StartServiceA)>(kStartServiceA, hService, dwNumServiceArgs,
                                                      lpServiceArgVectors);
}

BOOL QueryServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
                                PSECURITY_DESCRIPTOR lpSecurityDescriptor, DWORD cbBufSize,
                                LPDWORD pcbBytesNeeded) {
  return ServiceUnit().Call<decltype(&QueryServiceObjectSecurity)>(
      kQueryServiceObjectSecurity, hService, dwSecurityInformation, lpSecurityDescriptor, cbBufSize,
      pcbBytesNeeded);
}

BOOL SetServiceObjectSecurity(SC_HANDLE hService, SECURITY_INFORMATION dwSecurityInformation,
                              PSECURITY_DESCRIPTOR lpSecurityDescriptor) {
  return ServiceUnit().Call<decltype(&SetServiceObjectSecurity)>(
      kSetServiceObjectSecurity, hService, dwSecurityInformation, lpSecurityDescriptor);
}

BOOL UnlockServiceDatabase(SC_LOCK ScLock) {
  return ServiceUnit().Call<decltype(&UnlockServiceDatabase)>(kUnlockServiceDatabase, ScLock);
}

}  // namespace nt
