// A service of a machine's service control manager as a component: it opens the manager and the
// service (two independent handles), reads and changes the service's configuration, description
// and failure actions, starts it, sends it controls and reports its status; its security
// descriptor is edited through the base (abstrsec.h). The configuration, description and
// failure actions are read lazily and cached until the service is opened or closed or its name
// changes; a change is written at once while the service is open, else only cached.
//
// Every failed system call raises ENTException with the system's text and code; the component's
// own refusals carry codes 0 and -1. A failed setter leaves the old value in place. While the
// component is loading, ActiveManager and ActiveService are only recorded (acted on in Loaded)
// and the guarded setters accept any value. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/advapi32/winsvc.h"
#include "rtl/classes.h"
#include "svcctl/abstrsec.h"
#include "svcctl/failureactions.h"
#include "svcctl/svctypes.h"

// The access masks a new component opens with: SC_MANAGER_CONNECT and SERVICE_ALL_ACCESS.
constexpr uint32_t kDefaultManagerAccess = 1;
constexpr uint32_t kDefaultServiceAccess = 983551;

class TNTServiceManager : public TNTAbstractSecurity {
 public:
  explicit TNTServiceManager(rtl::TComponent* owner = nullptr);
  // Releases a held database lock, closes the service, then the manager. Never throws.
  ~TNTServiceManager() override;

  // Refused ("Can not change parameter when CONTROL SERVICE MANAGER is active", -1) for another
  // machine while the manager is open.
  void SetMachineName(const std::string& value) override;

  const std::string& DatabaseName() const { return databaseName_; }
  // Refused while the manager is open (as SetMachineName).
  void SetDatabaseName(const std::string& value);

  // Opens (OpenSCManagerA with MachineName, DatabaseName, ManagerAccess) or closes the manager.
  // Closing it leaves an open service open. The current value does nothing.
  bool ActiveManager() const { return activeManager_; }
  void SetActiveManager(bool value);
  // Opens (the manager first when it is closed; ServiceName with ServiceAccess) or closes the
  // service; either marks the caches unread. An empty name raises "Service name is empty." (0).
  bool ActiveService() const { return activeService_; }
  void SetActiveService(bool value);

  uint32_t ManagerAccess() const { return managerAccess_; }
  // Refused while the manager is open.
  void SetManagerAccess(uint32_t value);
  uint32_t ServiceAccess() const { return serviceAccess_; }
  // Refused ("Can not change parameter when SERVICE is active", -1) while the service is open.
  void SetServiceAccess(uint32_t value);

  const std::string& ServiceName() const { return serviceName_; }
  // A different name marks the caches unread; an open service stays open on its old handle.
  void SetServiceName(const std::string& value);

  // The configuration, read first when it is not cached. With the service closed it reads as
  // empty texts, BOOT_START, ERROR_IGNORE, no types, no dependencies. Password is empty after
  // every read. Each setter stores a different value and writes that one field at once while the
  // service is open (Dependencies is always copied and written; TagId is never written).
  std::string DisplayName();
  void SetDisplayName(const std::string& value);
  std::string BinaryPathName();
  void SetBinaryPathName(const std::string& value);
  ntsvc::TStartType StartType();
  void SetStartType(ntsvc::TStartType value);
  ntsvc::TErrorType ErrorControl();
  void SetErrorControl(ntsvc::TErrorType value);
  ntsvc::TServiceTypes ServiceType();
  void SetServiceType(ntsvc::TServiceTypes value);
  std::string LoadOrder();
  void SetLoadOrder(const std::string& value);
  uint32_t TagId();
  void SetTagId(uint32_t) {}
  // Borrowed until the next read of the configuration.
  const rtl::TStringList& Dependencies();
  void SetDependencies(const rtl::TStringList& value);
  std::string ServiceStartName();
  void SetServiceStartName(const std::string& value);
  std::string Password();
  void SetPassword(const std::string& value);

  // The failure options, read first when not cached. Borrowed for the component's life.
  TFailureOptions& FailureOptions();
  // Reads the failure options from the service (empty when it is closed).
  void ReadFailureActions();
  // Writes the failure options to the open service. A reboot action first enables the shutdown
  // privilege ("SeRemoteShutdownPrivilege" for another machine, else "SeShutdownPrivilege").
  void WriteFailureActions();

  // The description (CP932), read first when not cached; a different one is written at once
  // while the service is open.
  std::string Description();
  void SetDescription(const std::string& value);

  // Opens what is closed and starts the service with Args (none for null or an empty list). On
  // success the service handle is closed; on failure it stays open.
  void StartService(const rtl::TStringList* Args = nullptr);
  // A new snapshot of the service's status (DisplayName through the configuration).
  // REQUIRES: the service is open (else the system's error for a bad handle is raised).
  std::unique_ptr<ntsvc::TServiceStatusClass> QueryStatus();
  // Sends the control (codes beyond CONTROL_SHUTDOWN send 0, which the system refuses).
  // REQUIRES: the service is open.
  void Control(ntsvc::TServiceControlCode Code);

  // Holds or releases the manager's database lock (no service starts while it is held).
  bool DatabaseLocked() const { return databaseLocked_; }
  void SetDatabaseLocked(bool value);

  SE_OBJECT_TYPE GetObjectType() const override { return SE_SERVICE; }

 protected:
  void Loaded() override;

  void ReadObjectSecurity(DWORD parts) override;
  void WriteObjectSecurity(DWORD parts) override;
  DWORD DeniedMaskFromAce(DWORD mask) override { return mask; }
  DWORD AllowedMaskFromAce(DWORD mask) override { return mask; }
  DWORD AuditMaskFromAce(DWORD mask) override { return mask; }
  DWORD DeniedMaskToAce(DWORD mask) override { return mask; }
  DWORD AllowedMaskToAce(DWORD mask) override { return mask; }
  DWORD AuditMaskToAce(DWORD mask) override { return mask; }

 private:
  // The fields of ChangeServiceConfigA a configuration write passes: one selected, the rest
  // "no change".
  enum Selector {
    kSelectBinaryPath = 0,
    kSelectStartType = 1,
    kSelectErrorControl = 2,
    kSelectServiceType = 3,
    kSelectLoadOrder = 4,
    kSelectDependencies = 6,
    kSelectStartName = 7,
    kSelectPassword = 8,
    kSelectDisplayName = 10,
  };

  bool Loading() const;
  // Raises the refusal (-1) while the manager (or the service) is open and not loading.
  void CheckManagerClosed() const;
  void CheckServiceClosed() const;
  void OpenManager();
  void CloseManager();
  // OpenServiceA with the manager handle as it is.
  void OpenService();
  void CloseService();
  void MarkUnread();

  void ReadConfig();
  void EnsureConfig();
  void WriteConfig(Selector selector);
  // Stores value in field when it differs and writes it with selector while the service is open
  // and not loading; a failed write restores the old value.
  template <typename T>
  void SetConfig(T& field, const T& value, Selector selector);
  void ReadDescription();

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
  std::string databaseName_;
  std::string serviceName_;
  bool activeManager_ = false;
  bool activeService_ = false;
  uint32_t managerAccess_ = kDefaultManagerAccess;
  uint32_t serviceAccess_ = kDefaultServiceAccess;

  std::string displayName_;
  std::string binaryPathName_;
  ntsvc::TStartType startType_ = ntsvc::BOOT_START;
  ntsvc::TErrorType errorControl_ = ntsvc::ERROR_IGNORE;
  ntsvc::TServiceTypes serviceType_;
  std::string loadOrder_;
  uint32_t tagId_ = 0;
  rtl::TStringList dependencies_;
  std::string serviceStartName_;
  std::string password_;

  bool databaseLocked_ = false;
  SC_LOCK lock_ = nullptr;
  TFailureOptions failureOptions_{this};
  std::string description_;

  bool configRead_ = false;
  bool descriptionRead_ = false;
  bool failureActionsRead_ = false;
};
