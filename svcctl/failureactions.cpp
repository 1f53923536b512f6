// The failure options of a service and their write-at-once rule.
#include "svcctl/failureactions.h"

#include <utility>

#include "svcctl/servicemanager.h"

namespace {

// Sets field to value and runs write; when write raises, field is back and the exception passes.
template <typename T, typename Write>
void ChangeOrRestore(T& field, T value, Write write) {
  T old = std::exchange(field, std::move(value));
  try {
    write();
  } catch (...) {
    field = std::move(old);
    throw;
  }
}

}  // namespace

TNTFailureActionItem::TNTFailureActionItem(TNTFailureActionList* list) : TDesignItem(list) {}

void TNTFailureActionItem::Change(uint32_t& field, uint32_t value) {
  if (field == value) return;
  auto* list = static_cast<TNTFailureActionList*>(List());
  ChangeOrRestore(field, value, [&] { list->Owner()->Changed(); });
}

void TNTFailureActionItem::SetActionType(uint32_t value) {
  Change(actionType_, value);
}

void TNTFailureActionItem::SetDelay(uint32_t value) {
  Change(delay_, value);
}

TNTFailureActionList::TNTFailureActionList(TFailureOptions* owner)
    : TDesignList(owner), owner_(owner) {}

void TNTFailureActionList::Append(uint32_t actionType, uint32_t delay) {
  auto* item = new TNTFailureActionItem(this);
  item->actionType_ = actionType;
  item->delay_ = delay;
  TDesignList::Add(item);
}

TNTFailureActionItem* TNTFailureActionList::Add(uint32_t actionType, uint32_t delay) {
  Append(actionType, delay);
  TNTFailureActionItem* item = Items(Count() - 1);
  try {
    owner_->Changed();
  } catch (...) {
    items_.pop_back();
    delete item;
    throw;
  }
  return item;
}

void TNTFailureActionList::Delete(int index) {
  TDesignItem* item = TDesignList::Items(index);
  items_.erase(items_.begin() + index);
  try {
    owner_->Changed();
  } catch (...) {
    items_.insert(items_.begin() + index, item);
    throw;
  }
  delete item;
}

void TNTFailureActionList::Clear() {
  std::vector<TDesignItem*> old = std::move(items_);
  items_.clear();
  try {
    owner_->Changed();
  } catch (...) {
    items_ = std::move(old);
    throw;
  }
  for (TDesignItem* item : old)
    delete item;
}

void TNTFailureActionList::Empty() {
  TDesignList::Clear();
}

void TNTFailureActionList::Refresh() {
  owner_->Manager()->ReadFailureActions();
}

TFailureOptions::TFailureOptions(TNTServiceManager* manager) : manager_(manager), actions_(this) {}

void TFailureOptions::SetResetPeriod(uint32_t value) {
  if (value == resetPeriod_) return;
  ChangeOrRestore(resetPeriod_, value, [&] { Changed(); });
}

void TFailureOptions::SetRebootMessage(const rtl::TStringList& value) {
  if (value.Text() == rebootMessage_.Text()) return;
  const std::string old = rebootMessage_.Text();
  rebootMessage_.SetText(value.Text());
  try {
    Changed();
  } catch (...) {
    rebootMessage_.SetText(old);
    throw;
  }
}

void TFailureOptions::SetCommandLine(const std::string& value) {
  if (value == commandLine_) return;
  ChangeOrRestore(commandLine_, value, [&] { Changed(); });
}

void TFailureOptions::Changed() {
  if (!Updating && manager_->ActiveService()) manager_->WriteFailureActions();
}
