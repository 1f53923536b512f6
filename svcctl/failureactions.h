// What the system does when a service fails: the reset period of the failure count, the reboot
// message, the command to run, and the list of actions (restart, reboot, run the command, each
// after a delay). The options belong to a service manager (servicemanager.h): every change is
// written to the service at once while the manager's service is open and the options are not
// being filled from the service (Updating). A change whose write fails is undone (a setter keeps
// its old value, an added action is removed and freed, a deleted one is back at its place, a
// cleared list is whole again) and the exception passes on. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/classes.h"
#include "svcctl/lists.h"

class TNTServiceManager;
class TFailureOptions;
class TNTFailureActionList;

// The system's action type for a reboot.
constexpr uint32_t kRebootAction = 2;

class TNTFailureActionItem : public TDesignItem {
 public:
  explicit TNTFailureActionItem(TNTFailureActionList* list);

  // The system's action type (SC_ACTION_...) and the delay in milliseconds. A different value is
  // written at once.
  uint32_t ActionType() const { return actionType_; }
  void SetActionType(uint32_t value);
  uint32_t Delay() const { return delay_; }
  void SetDelay(uint32_t value);

 private:
  friend class TNTFailureActionList;
  void Change(uint32_t& field, uint32_t value);

  uint32_t actionType_ = 0;
  uint32_t delay_ = 0;
};

class TNTFailureActionList : public TDesignList {
 public:
  explicit TNTFailureActionList(TFailureOptions* owner);

  TNTFailureActionItem* Items(int index) const {
    return static_cast<TNTFailureActionItem*>(TDesignList::Items(index));
  }
  TFailureOptions* Owner() const { return owner_; }

  // Appends a new action and writes the options; the item is owned by the list.
  TNTFailureActionItem* Add(uint32_t actionType, uint32_t delay);
  // REQUIRES: 0 <= index < Count().
  void Delete(int index) override;
  void Clear() override;
  // Reads the options from the service again.
  void Refresh() override;

  // Appends an action without writing (the reads fill the list this way).
  void Append(uint32_t actionType, uint32_t delay);
  // Frees every action without writing.
  void Empty();

 private:
  TFailureOptions* owner_;
};

class TFailureOptions : public rtl::TObject {
 public:
  explicit TFailureOptions(TNTServiceManager* manager);
  TFailureOptions(const TFailureOptions&) = delete;
  TFailureOptions& operator=(const TFailureOptions&) = delete;

  TNTServiceManager* Manager() const { return manager_; }

  // Seconds without failure after which the failure count goes back to 0.
  uint32_t ResetPeriod() const { return resetPeriod_; }
  void SetResetPeriod(uint32_t value);
  // The message shown before a reboot, as lines.
  const rtl::TStringList& RebootMessage() const { return rebootMessage_; }
  // Takes value's text when it differs.
  void SetRebootMessage(const rtl::TStringList& value);
  const std::string& CommandLine() const { return commandLine_; }
  void SetCommandLine(const std::string& value);
  TNTFailureActionList& Actions() { return actions_; }
  const TNTFailureActionList& Actions() const { return actions_; }

  // Writes the options to the manager's service, unless Updating or the service is closed.
  void Changed();

  // True while the options are filled from the service: nothing is written.
  bool Updating = false;

 private:
  friend class TNTServiceManager;  // fills the fields while Updating

  TNTServiceManager* const manager_;
  rtl::TStringList rebootMessage_;
  uint32_t resetPeriod_ = 0;
  std::string commandLine_;
  TNTFailureActionList actions_;
};
