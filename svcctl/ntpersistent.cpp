#include "svcctl/ntpersistent.h"

#include "platform/win/win.h"
#include "rtl/cp932.h"
#include "svcctl/ntexception.h"

namespace {

constexpr DWORD kComputerNameBufferSize = 256;
constexpr char kIpcShare[] = "\\IPC$";

}  // namespace

std::string GetLocalComputerName() {
  char buffer[kComputerNameBufferSize] = {};
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) RaiseLastNTError();
  return std::string(buffer, size);
}

TNTPersistent::TNTPersistent(rtl::TComponent* owner) : rtl::TComponent(owner) {}

void TNTPersistent::SetMachineName(const std::string& value) {
  if (value == machineName_) return;
  Disconnect();
  machineName_ = value;
  Connect();
}

void TNTPersistent::SynchronizeList(const rtl::TStringList& source, const rtl::TStringList& newList,
                                    rtl::TStringList& target) {
  rtl::TStringList work;
  work.Assign(source);
  for (int i = 0; i < work.Count();) {
    if (newList.IndexOf(work.Strings(i)) >= 0) {
      ++i;
      continue;
    }
    target.Delete(i);
    work.Delete(i);
  }
  for (int i = 0; i < newList.Count(); ++i)
    if (work.IndexOf(newList.Strings(i)) < 0) target.Add(newList.Strings(i));
}

bool TNTPersistent::MayAct() const {
  return !ComponentState().Contains(rtl::TComponentStateItem::csDesigning) &&
         !ComponentState().Contains(rtl::TComponentStateItem::csLoading);
}

void TNTPersistent::Loaded() {
  rtl::TComponent::Loaded();
  Connect();
}

bool TNTPersistent::ConnectionNeeded() const {
  if (ComponentState().Contains(rtl::TComponentStateItem::csLoading)) return false;
  const std::string machine = rtl::Trim(machineName_);
  if (machine.empty() || rtl::SameText(machine, rtl::Trim(GetLocalComputerName()))) return false;
  return !rtl::Trim(logonAs_.UserName).empty() || !rtl::Trim(logonAs_.Password).empty();
}

std::string TNTPersistent::ShareName() const {
  return machineName_ + kIpcShare;
}

void TNTPersistent::Connect() {
  if (!ConnectionNeeded()) return;
  std::string share = ShareName();
  NETRESOURCEA resource{};
  resource.dwType = RESOURCETYPE_ANY;
  resource.lpRemoteName = share.data();
  const char* password = logonAs_.Password.c_str();
  const char* user = logonAs_.UserName.c_str();
  if (WNetAddConnection2A(&resource, password, user, 0) == ERROR_SESSION_CREDENTIAL_CONFLICT) {
    WNetCancelConnection2A(share.c_str(), 0, FALSE);
    WNetAddConnection2A(&resource, password, user, 0);
  }
}

void TNTPersistent::Disconnect() {
  if (ConnectionNeeded()) WNetCancelConnection2A(ShareName().c_str(), 0, FALSE);
}
