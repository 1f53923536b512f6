// The base component of the service-control and security library: the machine it addresses
// (MachineName, empty for this one), a domain name, and the account for the IPC$ connection to a
// remote machine (LogonAs). The connection is bookkeeping of the network layer (platform/win's
// WNet table); its results are ignored, so a failed connection shows at the next system call
// that needs it, and a connection stays recorded when the component goes (another component may
// use the same one). One thread at a time.
#pragma once

#include <string>

#include "rtl/classes.h"

// The account a component connects to a remote machine's IPC$ share with.
class TLogonAs : public rtl::TObject {
 public:
  std::string UserName;
  std::string Password;
};

class TNTPersistent : public rtl::TComponent {
 public:
  explicit TNTPersistent(rtl::TComponent* owner = nullptr);

  virtual std::string GetDomainName() const { return domainName_; }
  virtual void SetDomainName(const std::string& value) { domainName_ = value; }
  // A different machine cancels the old machine's connection and connects to the new one (each
  // only when needed: see ConnectionNeeded).
  virtual void SetMachineName(const std::string& value);
  virtual std::string GetMachineName() const { return machineName_; }
  // Brings target, a list parallel to source, in line with newList: each source entry missing
  // from newList is deleted from target at its place; then each newList entry missing from what
  // is left is appended to target.
  virtual void SynchronizeList(const rtl::TStringList& source, const rtl::TStringList& newList,
                               rtl::TStringList& target);
  // False while the component is designed or loaded: reads then swallow their failures.
  virtual bool MayAct() const;

  TLogonAs& LogonAs() { return logonAs_; }

 protected:
  // Connects to the machine named while loading.
  void Loaded() override;

  // True when the component is not loading, the machine name (trimmed) is set and is not this
  // computer's name, and LogonAs has a user name or password (trimmed).
  bool ConnectionNeeded() const;
  // "<machine>\IPC$"
  std::string ShareName() const;
  // Connects to the share with LogonAs (once more after cancelling a connection made with other
  // credentials, 1219), when needed.
  void Connect();
  // Cancels the connection to the share, when needed.
  void Disconnect();

 private:
  std::string machineName_;
  std::string domainName_;
  TLogonAs logonAs_;
};

// This computer's name (GetComputerNameA). Raises ENTException with the last error on failure.
std::string GetLocalComputerName();
