// The POP3 server of tests/peers/pop3_server.sh (Debian's dovecot on 127.0.0.1), started in a
// temporary folder of its own with the users alice, bob, carol and dave (password "secret") and
// stopped, by its process id, with the object. dovecot takes a port of its own choosing only
// through its configuration, so the port is a free one taken just before: a test program that
// starts it runs in a network namespace of its own. Use from one thread.
#pragma once

#include <memory>
#include <string>

#include "tests/support/files.h"

namespace testsupport {

class Pop3Server {
 public:
  // Starts the server; Error() says why when it did not come up.
  Pop3Server();
  ~Pop3Server();
  Pop3Server(const Pop3Server&) = delete;
  Pop3Server& operator=(const Pop3Server&) = delete;

  // Whether dovecot can run here at all: as root it needs the users it switches to.
  static bool CanRun();

  bool Started() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  // dovecot's log so far (logins appear as "pop3-login: Login: user=<alice>").
  std::string Log() const;
  // The temporary folder: the users' Maildirs are below home/<user>/Maildir.
  const TempDir& Dir() const { return *dir_; }

 private:
  std::unique_ptr<TempDir> dir_;
  int port_ = 0;
  std::string error_;
};

}  // namespace testsupport
