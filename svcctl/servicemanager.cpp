// The service manager component: handles, the cached configuration, and the writes of each field.
#include "svcctl/servicemanager.h"

#include <cstring>
#include <utility>
#include <vector>

#include "rtl/cp932.h"
#include "svcctl/apibind.h"
#include "svcctl/ntexception.h"
#include "svcctl/ntprivilege.h"
#include "svcctl/ntstrings.h"
#include "svcctl/osversion.h"

namespace {

constexpr char kServiceNameEmpty[] = "Service name is empty.";
constexpr char kManagerActive[] = "Can not change parameter when CONTROL SERVICE MANAGER is active";
constexpr char kServiceActive[] = "Can not change parameter when SERVICE is active";

// The first buffer of the configuration, description and failure-action reads.
constexpr DWORD kConfigBufferSize = 8192;
// The most a dependency list takes, with its NULs.
constexpr size_t kDependenciesSize = 16384;

// The separate manager handle of the security reads and writes opens with SC_MANAGER_CONNECT.
constexpr DWORD kSecurityManagerAccess = SC_MANAGER_CONNECT;
constexpr DWORD kSecurityReadAccess = READ_CONTROL | SERVICE_QUERY_CONFIG;

// A zeroed, suitably aligned buffer for a record the system fills, with its texts after it.
class RecordBuffer {
 public:
  explicit RecordBuffer(DWORD size) : words_((size + 7) / 8, 0), size_(size) {}
  BYTE* Data() { return reinterpret_cast<BYTE*>(words_.data()); }
  DWORD Size() const { return size_; }
  const BYTE* End() { return Data() + size_; }

 private:
  std::vector<uint64_t> words_;
  DWORD size_;
};

// Runs query(buffer, size, needed) with kConfigBufferSize bytes; when that fails with 122 it runs
// once more with a zeroed buffer of the size the system asked for. Any other failure raises.
template <typename Query>
RecordBuffer ReadRecord(Query query) {
  RecordBuffer buffer(kConfigBufferSize);
  DWORD needed = 0;
  if (query(buffer.Data(), buffer.Size(), &needed)) return buffer;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.Size()) RaiseLastNTError();
  RecordBuffer larger(needed);
  if (!query(larger.Data(), larger.Size(), &needed)) RaiseLastNTError();
  return larger;
}

std::string TextOrEmpty(const char* text) {
  return text ? std::string(text) : std::string();
}

// A manager handle of its own and the service opened through it for a security read or write;
// both are closed on every path (a failed close raises, unless an exception is already passing).
class SecurityHandles {
 public:
  SecurityHandles(const std::string& machine, const std::string& database,
                  const std::string& service, DWORD access) {
    manager_ =
        nt::OpenSCManagerA(PCharOrNil(machine), PCharOrNil(database), kSecurityManagerAccess);
    if (!manager_) RaiseLastNTError();
    service_ = nt::OpenServiceA(manager_, service.c_str(), access);
    if (!service_) {
      const DWORD error = GetLastError();
      nt::CloseServiceHandle(manager_);
      RaiseNTErrorCode(error);
    }
  }
  ~SecurityHandles() noexcept(false) {
    const bool serviceClosed = nt::CloseServiceHandle(service_);
    const DWORD error = serviceClosed ? 0 : GetLastError();
    const bool managerClosed = nt::CloseServiceHandle(manager_);
    if (std::uncaught_exceptions()) return;
    if (!serviceClosed) RaiseNTErrorCode(error);
    if (!managerClosed) RaiseLastNTError();
  }
  SecurityHandles(const SecurityHandles&) = delete;
  SecurityHandles& operator=(const SecurityHandles&) = delete;
  SC_HANDLE Service() const { return service_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

}  // namespace

TNTServiceManager::TNTServiceManager(rtl::TComponent* owner) : TNTAbstractSecurity(owner) {}

TNTServiceManager::~TNTServiceManager() {
  try {
    if (databaseLocked_) nt::UnlockServiceDatabase(lock_);
  } catch (...) {
  }
  try {
    if (service_) nt::CloseServiceHandle(service_);
  } catch (...) {
  }
  try {
    if (manager_) nt::CloseServiceHandle(manager_);
  } catch (...) {
  }
}

bool TNTServiceManager::Loading() const {
  return ComponentState().Contains(rtl::TComponentStateItem::csLoading);
}

void TNTServiceManager::CheckManagerClosed() const {
  if (activeManager_ && !Loading()) RaiseNTException(kManagerActive, -1);
}

void TNTServiceManager::CheckServiceClosed() const {
  if (activeService_ && !Loading()) RaiseNTException(kServiceActive, -1);
}

void TNTServiceManager::SetMachineName(const std::string& value) {
  if (value == GetMachineName()) return;
  CheckManagerClosed();
  SecurityObjectName = BuildObjectName(value, serviceName_);
  TNTAbstractSecurity::SetMachineName(value);
}

void TNTServiceManager::SetDatabaseName(const std::string& value) {
  CheckManagerClosed();
  databaseName_ = value;
}

void TNTServiceManager::SetManagerAccess(uint32_t value) {
  CheckManagerClosed();
  managerAccess_ = value;
}

void TNTServiceManager::SetServiceAccess(uint32_t value) {
  CheckServiceClosed();
  serviceAccess_ = value;
}

void TNTServiceManager::SetServiceName(const std::string& value) {
  if (value == serviceName_) return;
  serviceName_ = value;
  SecurityObjectName = BuildObjectName(GetMachineName(), value);
  MarkUnread();
}

void TNTServiceManager::MarkUnread() {
  configRead_ = descriptionRead_ = failureActionsRead_ = false;
}

void TNTServiceManager::OpenManager() {
  SC_HANDLE h =
      nt::OpenSCManagerA(PCharOrNil(GetMachineName()), PCharOrNil(databaseName_), managerAccess_);
  if (!h) RaiseLastNTError();
  manager_ = h;
  activeManager_ = true;
}

void TNTServiceManager::CloseManager() {
  if (!nt::CloseServiceHandle(manager_)) RaiseLastNTError();
  manager_ = nullptr;
  activeManager_ = false;
}

void TNTServiceManager::OpenService() {
  if (serviceName_.empty()) RaiseNTException(kServiceNameEmpty, 0);
  SC_HANDLE h = nt::OpenServiceA(manager_, serviceName_.c_str(), serviceAccess_);
  if (!h) RaiseLastNTError();
  service_ = h;
  activeService_ = true;
  MarkUnread();
}

void TNTServiceManager::CloseService() {
  if (!nt::CloseServiceHandle(service_)) RaiseLastNTError();
  service_ = nullptr;
  activeService_ = false;
  MarkUnread();
}

void TNTServiceManager::SetActiveManager(bool value) {
  if (value == activeManager_) return;
  if (Loading()) {
    activeManager_ = value;
    return;
  }
  if (value)
    OpenManager();
  else
    CloseManager();
}

void TNTServiceManager::SetActiveService(bool value) {
  if (value == activeService_) return;
  if (Loading()) {
    activeService_ = value;
    return;
  }
  if (value) {
    if (!activeManager_) OpenManager();
    OpenService();
  } else {
    CloseService();
  }
}

void TNTServiceManager::Loaded() {
  TNTAbstractSecurity::Loaded();
  // The recorded flags say what to open; the handles are still closed.
  const bool manager = std::exchange(activeManager_, false);
  const bool service = std::exchange(activeService_, false);
  if (manager) OpenManager();
  if (service) OpenService();
}

// ---- configuration ----

void TNTServiceManager::ReadConfig() {
  if (activeService_) {
    RecordBuffer buffer = ReadRecord([&](BYTE* data, DWORD size, DWORD* needed) {
      return nt::QueryServiceConfigA(service_, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(data),
                                     size, needed);
    });
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.Data());
    displayName_ = TextOrEmpty(config->lpDisplayName);
    binaryPathName_ = TextOrEmpty(config->lpBinaryPathName);
    loadOrder_ = TextOrEmpty(config->lpLoadOrderGroup);
    tagId_ = config->dwTagId;
    serviceStartName_ = TextOrEmpty(config->lpServiceStartName);
    password_.clear();
    startType_ = ntsvc::StartTypeFromSystem(config->dwStartType);
    errorControl_ = ntsvc::ErrorTypeFromSystem(config->dwErrorControl);
    serviceType_ = ntsvc::ServiceTypesFromSystem(config->dwServiceType);
    const char* deps = config->lpDependencies;
    const auto* depsByte = reinterpret_cast<const BYTE*>(deps);
    if (deps && depsByte >= buffer.Data() && depsByte < buffer.End() && *deps) {
      // The walk stops at the list's limit or the buffer's end, whichever comes first.
      const size_t left = static_cast<size_t>(buffer.End() - depsByte);
      MultiStringToList(deps, std::min(left, kDependenciesSize), dependencies_);
    } else {
      dependencies_.Clear();
    }
  } else {
    displayName_.clear();
    binaryPathName_.clear();
    loadOrder_.clear();
    tagId_ = 0;
    serviceStartName_.clear();
    password_.clear();
    startType_ = ntsvc::BOOT_START;
    errorControl_ = ntsvc::ERROR_IGNORE;
    serviceType_ = ntsvc::TServiceTypes();
    dependencies_.Clear();
  }
  configRead_ = true;
}

void TNTServiceManager::EnsureConfig() {
  if (!configRead_) ReadConfig();
}

void TNTServiceManager::WriteConfig(Selector selector) {
  DWORD type = SERVICE_NO_CHANGE, start = SERVICE_NO_CHANGE, error = SERVICE_NO_CHANGE;
  const char *path = nullptr, *group = nullptr, *deps = nullptr, *account = nullptr,
             *password = nullptr, *display = nullptr;
  std::vector<char> multi;
  switch (selector) {
    case kSelectBinaryPath:
      path = binaryPathName_.c_str();
      break;
    case kSelectStartType:
      start = ntsvc::StartTypeToSystem(startType_);
      break;
    case kSelectErrorControl:
      error = ntsvc::ErrorTypeToSystem(errorControl_);
      break;
    case kSelectServiceType:
      type = ntsvc::ServiceTypesToSystem(serviceType_);
      break;
    case kSelectLoadOrder:
      group = loadOrder_.c_str();
      break;
    case kSelectDependencies:
      multi.resize(kDependenciesSize);
      ListToMultiString(multi.data(), multi.size(), dependencies_);
      deps = multi.data();
      break;
    case kSelectStartName:
      account = serviceStartName_.c_str();
      password = password_.c_str();
      break;
    case kSelectPassword:
      password = password_.c_str();
      break;
    case kSelectDisplayName:
      display = PCharOrNil(displayName_);
      break;
  }
  if (!nt::ChangeServiceConfigA(service_, type, start, error, path, group, nullptr, deps, account,
                                password, display))
    RaiseLastNTError();
}

template <typename T>
void TNTServiceManager::SetConfig(T& field, const T& value, Selector selector) {
  if (field == value) return;
  T old = std::exchange(field, value);
  if (Loading() || !activeService_) return;
  try {
    WriteConfig(selector);
  } catch (...) {
    field = std::move(old);
    throw;
  }
}

std::string TNTServiceManager::DisplayName() {
  EnsureConfig();
  return displayName_;
}
void TNTServiceManager::SetDisplayName(const std::string& value) {
  SetConfig(displayName_, value, kSelectDisplayName);
}
std::string TNTServiceManager::BinaryPathName() {
  EnsureConfig();
  return binaryPathName_;
}
void TNTServiceManager::SetBinaryPathName(const std::string& value) {
  SetConfig(binaryPathName_, value, kSelectBinaryPath);
}
ntsvc::TStartType TNTServiceManager::StartType() {
  EnsureConfig();
  return startType_;
}
void TNTServiceManager::SetStartType(ntsvc::TStartType value) {
  SetConfig(startType_, value, kSelectStartType);
}
ntsvc::TErrorType TNTServiceManager::ErrorControl() {
  EnsureConfig();
  return errorControl_;
}
void TNTServiceManager::SetErrorControl(ntsvc::TErrorType value) {
  SetConfig(errorControl_, value, kSelectErrorControl);
}
ntsvc::TServiceTypes TNTServiceManager::ServiceType() {
  EnsureConfig();
  return serviceType_;
}
void TNTServiceManager::SetServiceType(ntsvc::TServiceTypes value) {
  SetConfig(serviceType_, value, kSelectServiceType);
}
std::string TNTServiceManager::LoadOrder() {
  EnsureConfig();
  return loadOrder_;
}
void TNTServiceManager::SetLoadOrder(const std::string& value) {
  SetConfig(loadOrder_, value, kSelectLoadOrder);
}
uint32_t TNTServiceManager::TagId() {
  EnsureConfig();
  return tagId_;
}
const rtl::TStringList& TNTServiceManager::Dependencies() {
  EnsureConfig();
  return dependencies_;
}
void TNTServiceManager::SetDependencies(const rtl::TStringList& value) {
  rtl::TStringList old;
  old.Assign(dependencies_);
  dependencies_.Assign(value);
  if (Loading() || !activeService_) return;
  try {
    WriteConfig(kSelectDependencies);
  } catch (...) {
    dependencies_.Assign(old);
    throw;
  }
}
std::string TNTServiceManager::ServiceStartName() {
  EnsureConfig();
  return serviceStartName_;
}
void TNTServiceManager::SetServiceStartName(const std::string& value) {
  SetConfig(serviceStartName_, value, kSelectStartName);
}
std::string TNTServiceManager::Password() {
  EnsureConfig();
  return password_;
}
void TNTServiceManager::SetPassword(const std::string& value) {
  SetConfig(password_, value, kSelectPassword);
}

// ---- description ----

void TNTServiceManager::ReadDescription() {
  if (IsWin2000OrLater() && activeService_) {
    RecordBuffer buffer = ReadRecord([&](BYTE* data, DWORD size, DWORD* needed) {
      return nt::QueryServiceConfig2W(service_, SERVICE_CONFIG_DESCRIPTION, data, size, needed);
    });
    description_ =
        WideToAnsi(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.Data())->lpDescription);
  } else {
    description_.clear();
  }
  descriptionRead_ = true;
}

std::string TNTServiceManager::Description() {
  if (!descriptionRead_) ReadDescription();
  return description_;
}

void TNTServiceManager::SetDescription(const std::string& value) {
  if (value == description_) return;
  std::string old = std::exchange(description_, value);
  if (Loading() || !activeService_) return;
  std::u16string wide = AnsiToWide(value);
  SERVICE_DESCRIPTIONW info{wide.data()};
  if (!nt::ChangeServiceConfig2W(service_, SERVICE_CONFIG_DESCRIPTION, &info)) {
    const DWORD error = GetLastError();
    description_ = std::move(old);
    RaiseNTErrorCode(error);
  }
}

// ---- failure actions ----

TFailureOptions& TNTServiceManager::FailureOptions() {
  if (!failureActionsRead_) ReadFailureActions();
  return failureOptions_;
}

void TNTServiceManager::ReadFailureActions() {
  TFailureOptions& o = failureOptions_;
  o.Updating = true;
  try {
    if (IsWin2000OrLater() && activeService_) {
      RecordBuffer buffer = ReadRecord([&](BYTE* data, DWORD size, DWORD* needed) {
        return nt::QueryServiceConfig2W(service_, SERVICE_CONFIG_FAILURE_ACTIONS, data, size,
                                        needed);
      });
      const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.Data());
      o.rebootMessage_.SetText(WideToAnsi(actions->lpRebootMsg));
      o.commandLine_ = WideToAnsi(actions->lpCommand);
      o.resetPeriod_ = actions->dwResetPeriod;
      o.actions_.Empty();
      // The array lies in the buffer: no more actions are read than fit before its end.
      const auto* first = reinterpret_cast<const BYTE*>(actions->lpsaActions);
      if (first && first >= buffer.Data() && first < buffer.End()) {
        const size_t fit = static_cast<size_t>(buffer.End() - first) / sizeof(SC_ACTION);
        for (size_t i = 0; i < actions->cActions && i < fit; ++i)
          o.actions_.Append(actions->lpsaActions[i].Type, actions->lpsaActions[i].Delay);
      }
    } else {
      o.rebootMessage_.Clear();
      o.commandLine_.clear();
      o.resetPeriod_ = 0;
      o.actions_.Empty();
    }
  } catch (...) {
    o.Updating = false;
    failureActionsRead_ = true;
    throw;
  }
  o.Updating = false;
  failureActionsRead_ = true;
}

void TNTServiceManager::WriteFailureActions() {
  if (!IsWin2000OrLater()) return;
  const TFailureOptions& o = failureOptions_;
  std::u16string reboot = AnsiToWide(o.RebootMessage().Text());
  std::u16string command = AnsiToWide(o.CommandLine());
  std::vector<SC_ACTION> actions;
  bool rebootAction = false;
  for (int i = 0; i < o.Actions().Count(); ++i) {
    const TNTFailureActionItem* item = o.Actions().Items(i);
    actions.push_back({static_cast<SC_ACTION_TYPE>(item->ActionType()), item->Delay()});
    rebootAction |= item->ActionType() == kRebootAction;
  }
  // With no actions the array still points somewhere, so that the service's actions go.
  SC_ACTION placeholder{};
  SERVICE_FAILURE_ACTIONSW record{o.ResetPeriod(), reboot.data(), command.data(),
                                  static_cast<DWORD>(actions.size()),
                                  actions.empty() ? &placeholder : actions.data()};
  if (rebootAction) {
    const std::string machine = GetMachineName();
    const bool remote = !machine.empty() && !rtl::SameText(machine, GetLocalComputerName());
    EnablePrivilege(remote ? "SeRemoteShutdownPrivilege" : "SeShutdownPrivilege", true);
  }
  if (!nt::ChangeServiceConfig2W(service_, SERVICE_CONFIG_FAILURE_ACTIONS, &record))
    RaiseLastNTError();
}

// ---- start, status, control, lock ----

void TNTServiceManager::StartService(const rtl::TStringList* Args) {
  if (!activeService_) SetActiveService(true);
  std::vector<LPCSTR> texts;
  if (Args)
    for (int i = 0; i < Args->Count(); ++i)
      texts.push_back(Args->Strings(i).c_str());
  if (!nt::StartServiceA(service_, static_cast<DWORD>(texts.size()),
                         texts.empty() ? nullptr : texts.data()))
    RaiseLastNTError();
  CloseService();
}

std::unique_ptr<ntsvc::TServiceStatusClass> TNTServiceManager::QueryStatus() {
  SERVICE_STATUS status{};
  if (!nt::QueryServiceStatus(service_, &status)) RaiseLastNTError();
  auto result = std::make_unique<ntsvc::TServiceStatusClass>();
  result->ServiceName = serviceName_;
  result->DisplayName = DisplayName();
  result->ServiceType = ntsvc::ServiceTypesFromSystem(status.dwServiceType);
  result->CurrentState = ntsvc::ServiceStateFromSystem(status.dwCurrentState);
  result->ControlsAccepted = ntsvc::ServiceControlsFromSystem(status.dwControlsAccepted);
  result->Win32ExitCode = status.dwWin32ExitCode;
  result->ServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  result->CheckPoint = status.dwCheckPoint;
  result->WaitHint = status.dwWaitHint;
  return result;
}

void TNTServiceManager::Control(ntsvc::TServiceControlCode Code) {
  SERVICE_STATUS status{};
  if (!nt::ControlService(service_, ntsvc::ControlCodeToSystem(Code), &status)) RaiseLastNTError();
}

void TNTServiceManager::SetDatabaseLocked(bool value) {
  if (value) {
    SC_LOCK lock = nt::LockServiceDatabase(manager_);
    if (!lock) RaiseLastNTError();
    lock_ = lock;
    databaseLocked_ = true;
  } else {
    if (!nt::UnlockServiceDatabase(lock_)) RaiseLastNTError();
    lock_ = nullptr;
    databaseLocked_ = false;
  }
}

// ---- security ----

void TNTServiceManager::ReadObjectSecurity(DWORD parts) {
  FreeDescriptor();
  if (rtl::Trim(serviceName_).empty()) return;
  // Every right the parts need: the audit list needs its own right besides READ_CONTROL.
  DWORD access = serviceAccess_ | kSecurityReadAccess;
  if (parts & kSaclPart) access |= ACCESS_SYSTEM_SECURITY;
  SecurityHandles h(GetMachineName(), databaseName_, serviceName_, access);
  DWORD needed = 0;
  nt::QueryServiceObjectSecurity(h.Service(), parts, nullptr, 0, &needed);
  if (needed == 0) RaiseLastNTError();
  std::vector<BYTE> descriptor(needed, 0);
  if (!nt::QueryServiceObjectSecurity(h.Service(), parts, descriptor.data(), needed, &needed))
    RaiseLastNTError();
  SetSelfRelative(std::move(descriptor));
}

void TNTServiceManager::WriteObjectSecurity(DWORD parts) {
  DWORD access = serviceAccess_;
  if (parts & (kOwnerPart | kGroupPart)) access |= WRITE_OWNER;
  if (parts & kDaclPart) access |= WRITE_DAC;
  if (parts & kSaclPart) access |= ACCESS_SYSTEM_SECURITY;
  SecurityHandles h(GetMachineName(), databaseName_, serviceName_, access);
  if (!nt::SetServiceObjectSecurity(h.Service(), parts, SelfRelative())) RaiseLastNTError();
}
