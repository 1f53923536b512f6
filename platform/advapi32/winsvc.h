// The service API of the security library (libkw_advapi32.so, loaded by the name "advapi32.dll"
// or linked): the client functions that open, configure, start and control services through
// scmd, and the service side that a service program runs under scmd. Names, structures, values
// and error codes are the Win32 ones; every function reports through its result and the calling
// thread's last error.
//
// Client side: a manager handle holds one connection to scmd (found through $KELVADON_SCM_DIR,
// default /var/lib/kelvadon-scm); service handles opened from it share that connection, which
// closes when the last of them is closed. Handles may be used from any thread; calls on one
// connection are serialised. A handle's value fits in 32 bits. Errors besides the Win32 service
// codes: 1722 when no scmd can be reached (or it went away), 6 for a handle that is not open.
//
// Service side: a program that scmd starts finds its control channel in $KELVADON_SCM_FD.
// StartServiceCtrlDispatcherA runs on the calling thread until the service has stopped; it calls
// the service's main function on a thread of its own (joined before it returns) and the control
// handler on the dispatcher's thread. SetServiceStatus may be called from any thread.
#pragma once

#include <cstdint>

#include "platform/win/win.h"

#define KW_ADVAPI32_API extern "C" __attribute__((visibility("default")))

using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PSID = void*;
using SECURITY_INFORMATION = DWORD;
using PSECURITY_DESCRIPTOR = void*;

struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
using SC_LOCK = void*;
struct SERVICE_STATUS_HANDLE__;
using SERVICE_STATUS_HANDLE = SERVICE_STATUS_HANDLE__*;

// Errors the service API reports that the core's table does not name.
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_SHUTDOWN_IN_PROGRESS = 1115;
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// Generic and standard rights.
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD READ_CONTROL = 0x00020000;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;
constexpr DWORD ACCESS_SYSTEM_SECURITY = 0x01000000;
constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_READ = 0x80000000;

// Manager rights.
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SC_MANAGER_LOCK = 0x0008;
constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;

// Service rights.
constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr DWORD SERVICE_INTERROGATE = 0x0080;
constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

// Service types.
constexpr DWORD SERVICE_KERNEL_DRIVER = 0x001;
constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x002;
constexpr DWORD SERVICE_ADAPTER = 0x004;
constexpr DWORD SERVICE_RECOGNIZER_DRIVER = 0x008;
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x010;
constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x020;
constexpr DWORD SERVICE_WIN32 = 0x030;
constexpr DWORD SERVICE_INTERACTIVE_PROCESS = 0x100;

// Start types and error control.
constexpr DWORD SERVICE_BOOT_START = 0;
constexpr DWORD SERVICE_SYSTEM_START = 1;
constexpr DWORD SERVICE_AUTO_START = 2;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_DISABLED = 4;
constexpr DWORD SERVICE_ERROR_IGNORE = 0;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;
constexpr DWORD SERVICE_ERROR_SEVERE = 2;
constexpr DWORD SERVICE_ERROR_CRITICAL = 3;
constexpr DWORD SERVICE_NO_CHANGE = 0xFFFFFFFF;

// States.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
constexpr DWORD SERVICE_PAUSE_PENDING = 6;
constexpr DWORD SERVICE_PAUSED = 7;

// Controls, and the controls a service accepts.
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;
constexpr DWORD SERVICE_ACCEPT_STOP = 0x1;
constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;
constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x4;

// The states EnumServicesStatusA lists: running or pending (active), stopped (inactive), or both.
constexpr DWORD SERVICE_ACTIVE = 0x1;
constexpr DWORD SERVICE_INACTIVE = 0x2;
constexpr DWORD SERVICE_STATE_ALL = 0x3;

// QueryServiceConfig2W / ChangeServiceConfig2W levels, QueryServiceStatusEx level.
constexpr DWORD SERVICE_CONFIG_DESCRIPTION = 1;
constexpr DWORD SERVICE_CONFIG_FAILURE_ACTIONS = 2;
using SC_STATUS_TYPE = DWORD;
constexpr SC_STATUS_TYPE SC_STATUS_PROCESS_INFO = 0;

// Security information bits.
constexpr DWORD OWNER_SECURITY_INFORMATION = 0x1;
constexpr DWORD GROUP_SECURITY_INFORMATION = 0x2;
constexpr DWORD DACL_SECURITY_INFORMATION = 0x4;
constexpr DWORD SACL_SECURITY_INFORMATION = 0x8;

// The database names OpenSCManagerA knows.
#define SERVICES_ACTIVE_DATABASEA "ServicesActive"

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

struct SERVICE_STATUS_PROCESS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
  DWORD dwProcessId;
  DWORD dwServiceFlags;
};

// Filled by QueryServiceConfigA; the texts lie in the caller's buffer after the record.
// lpDependencies is a list of NUL-ended names ended by one more NUL.
struct QUERY_SERVICE_CONFIGA {
  DWORD dwServiceType;
  DWORD dwStartType;
  DWORD dwErrorControl;
  LPSTR lpBinaryPathName;
  LPSTR lpLoadOrderGroup;
  DWORD dwTagId;
  LPSTR lpDependencies;
  LPSTR lpServiceStartName;
  LPSTR lpDisplayName;
};
using LPQUERY_SERVICE_CONFIGA = QUERY_SERVICE_CONFIGA*;

struct SERVICE_DESCRIPTIONW {
  LPWSTR lpDescription;
};

enum SC_ACTION_TYPE : DWORD {
  SC_ACTION_NONE = 0,
  SC_ACTION_RESTART = 1,
  SC_ACTION_REBOOT = 2,
  SC_ACTION_RUN_COMMAND = 3,
};

struct SC_ACTION {
  SC_ACTION_TYPE Type;
  DWORD Delay;  // milliseconds
};

struct SERVICE_FAILURE_ACTIONSW {
  DWORD dwResetPeriod;  // seconds; INFINITE: never reset the failure count
  LPWSTR lpRebootMsg;
  LPWSTR lpCommand;
  DWORD cActions;
  SC_ACTION* lpsaActions;
};

// One entry of EnumServicesStatusA; the texts lie in the caller's buffer after the entries.
struct ENUM_SERVICE_STATUSA {
  LPSTR lpServiceName;
  LPSTR lpDisplayName;
  SERVICE_STATUS ServiceStatus;
};
using LPENUM_SERVICE_STATUSA = ENUM_SERVICE_STATUSA*;

struct QUERY_SERVICE_LOCK_STATUSA {
  DWORD fIsLocked;
  LPSTR lpLockOwner;
  DWORD dwLockDuration;  // seconds
};
using LPQUERY_SERVICE_LOCK_STATUSA = QUERY_SERVICE_LOCK_STATUSA*;

using LPSERVICE_MAIN_FUNCTIONA = void (*)(DWORD dwNumServicesArgs, LPSTR* lpServiceArgVectors);
using LPHANDLER_FUNCTION = void (*)(DWORD dwControl);

// The table ends with an entry whose fields are null.
struct SERVICE_TABLE_ENTRYA {
  LPSTR lpServiceName;
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
};

// ---- Client side ----

// What a program tells its user when the manager cannot be reached (1722): scmd is not running.
inline constexpr char kScmdNotRunningHint[] =
    "scmd is not running: start it with systemctl start kelvadon-scm, or run scmd";

// Opens the manager of the machine (null, empty or this computer's name, with or without a
// leading "\\") and database (null, empty or "ServicesActive"). Returns the handle, or null with
// 1722 for another machine or no scmd, 1065 for another database, 5 when the caller may not have
// the access asked for (only root and the group "kelvadon" may have more than querying).
KW_ADVAPI32_API SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                         DWORD dwDesiredAccess);

// Opens a service by name (in any letter case). Null with 1060 when no such service is
// installed, 123 for a null, empty or malformed name, 5 for access (scmd checks the service's
// security descriptor; root holds every right), 6 for a bad manager handle, 1314 for
// ACCESS_SYSTEM_SECURITY without SeSecurityPrivilege enabled in the process token.
KW_ADVAPI32_API SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                       DWORD dwDesiredAccess);

// Registers a service and returns a handle to it. The display name defaults to the name, the
// account to "LocalSystem" (scmd's own); the password (null: none) is kept for the account, which
// logs on with it at each start (see StartServiceA). lpDependencies names the services to start
// first, as a multi-string; each may be missing yet. lpdwTagId must be null. Errors: 1073 the
// name exists, 1072 it is marked for deletion, 1078 the display name is in use, 1057 the account
// is no user of the system, 1059 the dependencies lead back to the service, 87 a bad type, start
// type, error control or path, or a text over its limit, 123 a bad name, 5 without
// SC_MANAGER_CREATE_SERVICE.
KW_ADVAPI32_API SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                         LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                                         DWORD dwServiceType, DWORD dwStartType,
                                         DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                         LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                         LPCSTR lpPassword);

// Marks the service for deletion; it goes once it is stopped and no handle to it is open. 1072
// when it is marked already.
KW_ADVAPI32_API BOOL DeleteService(SC_HANDLE hService);

// Closes a manager or service handle (also after scmd went away). FALSE with 6 for a handle
// that is not open.
KW_ADVAPI32_API BOOL CloseServiceHandle(SC_HANDLE hSCObject);

KW_ADVAPI32_API BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
// SC_STATUS_PROCESS_INFO: a SERVICE_STATUS_PROCESS (the pid is 0 while the service is stopped).
// 122 with *pcbBytesNeeded when the buffer is too small, 124 for another level.
KW_ADVAPI32_API BOOL QueryServiceStatusEx(SC_HANDLE hService, SC_STATUS_TYPE InfoLevel,
                                          LPBYTE lpBuffer, DWORD cbBufSize, LPDWORD pcbBytesNeeded);

// The configuration with its texts in the buffer; 122 with *pcbBytesNeeded when it is too small.
KW_ADVAPI32_API BOOL QueryServiceConfigA(SC_HANDLE hService,
                                         LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                                         LPDWORD pcbBytesNeeded);

// Changes the fields that are not SERVICE_NO_CHANGE or null. A password is kept for the account
// given with it, or alone for the current account; another account given without one has none.
// Any password is taken: whether it logs on shows at the next start. lpdwTagId must be null.
// Errors as for CreateServiceA (1059 changes nothing), 1072 for a service marked for deletion,
// and 5 (nothing changed) for a caller that is neither root nor in the group "kelvadon" when it
// gives another account than its own, or a password while the service's account is not its own.
// The copies of the password made here are wiped once sent.
KW_ADVAPI32_API BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType,
                                          DWORD dwStartType, DWORD dwErrorControl,
                                          LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                                          LPDWORD lpdwTagId, LPCSTR lpDependencies,
                                          LPCSTR lpServiceStartName, LPCSTR lpPassword,
                                          LPCSTR lpDisplayName);

// SERVICE_CONFIG_DESCRIPTION (a SERVICE_DESCRIPTIONW; lpDescription null when none is set) and
// SERVICE_CONFIG_FAILURE_ACTIONS (a SERVICE_FAILURE_ACTIONSW; empty texts and an empty action
// list are null), with what they point to in the buffer. 122 with *pcbBytesNeeded when it is too
// small, 124 for another level.
KW_ADVAPI32_API BOOL QueryServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer,
                                          DWORD cbBufSize, LPDWORD pcbBytesNeeded);

// SERVICE_CONFIG_DESCRIPTION: a null text keeps the description, an empty one removes it.
// SERVICE_CONFIG_FAILURE_ACTIONS: null texts are kept, empty ones removed; a null action array
// keeps the actions and the reset period, any other replaces both (cActions 0 removes them). A
// restart action needs SERVICE_START on the handle (else 5); a reboot action needs
// SeShutdownPrivilege enabled in the process token (else 1314). scmd only logs a reboot.
KW_ADVAPI32_API BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo);

// Starts the service: scmd starts its dependencies first (and theirs, on its own authority), then
// spawns its program once each of them runs, and the call returns once the program's dispatcher
// has taken the start (the service is START_PENDING or further then; while it waits for its
// dependencies it is START_PENDING without a process). Errors: 1056 it is not stopped, 1055 the
// database is locked, 1058 it is disabled, 1072 marked for deletion, 1075 a dependency is not
// installed, is marked for deletion or is a group, 1068 a dependency is disabled, failed to
// start, stopped or stayed START_PENDING past the start time-out (the service is not started
// then), 1053 no dispatcher answered in time (the process is killed), 1067 the process ended
// first, 2/5/11 the program could not be executed, 1069 its account could not be taken or did not
// log on (an account other than LocalSystem, root and the user scmd runs as needs its password;
// a locked one never logs on).
KW_ADVAPI32_API BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs,
                                   LPCSTR* lpServiceArgVectors);

// Sends a control and returns once the service's handler has run; *lpServiceStatus receives the
// latest status (also with the errors 1051, 1052, 1061, 1062). Errors: 1062 not running, 1051 a
// stop while a service that is not stopped depends on this one, 1061 in a start or stop pending
// state, 1052 a control the service does not accept (and SHUTDOWN, which only scmd sends), 87 an
// undefined control, 1053 the handler did not answer in time, 5 access.
KW_ADVAPI32_API BOOL ControlService(SC_HANDLE hService, DWORD dwControl,
                                    LPSERVICE_STATUS lpServiceStatus);

// Lists the installed services of the types and states asked for (SC_MANAGER_ENUMERATE_SERVICE
// needed), in order of their names: as many entries as fit in the buffer from *lpResumeHandle on
// (the start when lpResumeHandle is null), with *lpServicesReturned their number. When all of the
// rest fit: TRUE, *pcbBytesNeeded 0 and *lpResumeHandle 0. Else FALSE with 234 (ERROR_MORE_DATA),
// *pcbBytesNeeded the bytes the rest needs and *lpResumeHandle where to go on. Errors: 87 for a
// type or state of none of the known bits or a null count pointer, 5 access, 6 a bad handle.
KW_ADVAPI32_API BOOL EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType,
                                         DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                                         DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                         LPDWORD lpServicesReturned, LPDWORD lpResumeHandle);

// The database lock: one holder at a time (1055 otherwise); while it is held no service starts.
// It is released by UnlockServiceDatabase or when the holder's connection closes.
KW_ADVAPI32_API SC_LOCK LockServiceDatabase(SC_HANDLE hSCManager);
KW_ADVAPI32_API BOOL UnlockServiceDatabase(SC_LOCK ScLock);
KW_ADVAPI32_API BOOL QueryServiceLockStatusA(SC_HANDLE hSCManager,
                                             LPQUERY_SERVICE_LOCK_STATUSA lpLockStatus,
                                             DWORD cbBufSize, LPDWORD pcbBytesNeeded);

// The service's security descriptor (self-relative) with only the parts dwSecurityInformation
// names (a new service has the default one: owner SYSTEM, SYSTEM and Administrators all rights,
// Authenticated Users the query rights). Needs READ_CONTROL, and ACCESS_SYSTEM_SECURITY for the
// SACL (5 otherwise); 122 with *pcbBytesNeeded when the buffer is too small. Set replaces only the
// parts named, with their control bits; it takes a self-relative descriptor (1338 otherwise, and
// 1336-1338 for a part that does not read or an entry of the wrong kind) and needs WRITE_OWNER,
// WRITE_DAC or ACCESS_SYSTEM_SECURITY on the handle for the parts named (5 otherwise). A caller
// other than root may set as owner only its own user SID, or Administrators when in the group
// "kelvadon" (1307 otherwise).
KW_ADVAPI32_API BOOL QueryServiceObjectSecurity(SC_HANDLE hService,
                                                SECURITY_INFORMATION dwSecurityInformation,
                                                PSECURITY_DESCRIPTOR lpSecurityDescriptor,
                                                DWORD cbBufSize, LPDWORD pcbBytesNeeded);
KW_ADVAPI32_API BOOL SetServiceObjectSecurity(SC_HANDLE hService,
                                              SECURITY_INFORMATION dwSecurityInformation,
                                              PSECURITY_DESCRIPTOR lpSecurityDescriptor);

// ---- Service side ----

// Connects to scmd through the channel in $KELVADON_SCM_FD and serves the first entry of the
// table (one service per process) until it has reported SERVICE_STOPPED and its main function
// has returned; then TRUE. FALSE with 1063
// when the variable is missing or names no Unix socket (the program was not started by scmd),
// 1056 when a dispatcher already ran in this process, 87 for an empty table, 109 when scmd went
// away (the service's handler is then sent SERVICE_CONTROL_SHUTDOWN first, and the call returns
// once the service has stopped).
KW_ADVAPI32_API BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable);

// Registers the control handler of the running service (its name is not checked: one service
// per process). Returns the status handle, or null with 1063 when no dispatcher runs, 87 for a
// null handler.
KW_ADVAPI32_API SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                                  LPHANDLER_FUNCTION lpHandlerProc);

// Reports the service's status to scmd. FALSE with 6 for another handle or after the dispatcher
// returned, 13 for an unknown state, 87 for a null status, 109 when scmd is gone. Reporting
// SERVICE_STOPPED lets StartServiceCtrlDispatcherA return.
KW_ADVAPI32_API BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                      LPSERVICE_STATUS lpServiceStatus);
