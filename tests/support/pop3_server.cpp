#include "tests/support/pop3_server.h"

#include <unistd.h>

#include <cstdio>

#include "tests/support/netns.h"
#include "tests/support/peers.h"

namespace testsupport {

namespace {

constexpr char kScript[] = KELVADON_PEERS_DIR "/pop3_server.sh";

// Runs a shell command; what it printed on stdout and stderr, and whether it exited with 0.
std::string RunShell(const std::string& command, bool& ok) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) {
    ok = false;
    return out;
  }
  char buf[256];
  while (fgets(buf, sizeof buf, p))
    out += buf;
  ok = pclose(p) == 0;
  return out;
}

}  // namespace

bool Pop3Server::CanRun() {
  return geteuid() != 0 || UsersCanSwitch();
}

Pop3Server::Pop3Server() : dir_(std::make_unique<TempDir>("kwpop3", 0755)), port_(FreePort()) {
  bool ok = false;
  const std::string out =
      RunShell(std::string(kScript) + " start " + dir_->path() + " " + std::to_string(port_), ok);
  if (!ok) error_ = "dovecot did not start: " + out;
}

Pop3Server::~Pop3Server() {
  bool ok = false;
  RunShell(std::string(kScript) + " stop " + dir_->path(), ok);
}

std::string Pop3Server::Log() const {
  return ReadFile(dir_->File("dovecot.log"));
}

}  // namespace testsupport
