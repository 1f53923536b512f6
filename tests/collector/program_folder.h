// A collector program folder for tests: the collector and its libraries copied into a temporary
// folder with RecvData/, Log/ and a KelvadonMan.ini naming a free port; the collector run there in
// the foreground as a child process; readers of its day files. The collectors of a test program
// run on one moved wall clock (libfaketime, when installed) that reads noon of the day the test
// program started and runs on from there, so that no test sees a collector cross midnight and
// "today" is the same for the test and the collector. A ProgramFolder belongs to one test thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rtl/datetime.h"
#include "tests/support/files.h"
#include "tests/support/netns.h"

namespace collectortest {

class ProgramFolder {
 public:
  // The collector's FTP server always listens on this port (on 0.0.0.0).
  static constexpr int kFtpPort = 9021;

  // Copies KelvadonService and the libraries from the test program's own folder.
  ProgramFolder();
  // The collector of a folder laid out elsewhere (an installed one): only its KelvadonMan.ini is
  // written (naming a free port); nothing is copied, and the folder stays when this object goes.
  explicit ProgramFolder(const std::string& dir);
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  const std::string& Dir() const { return dir_; }
  int Port() const { return port_; }
  std::string Read(const std::string& relative) const {
    return testsupport::ReadFile(dir_ + relative);
  }
  // Rewrites KelvadonMan.ini with the port and sections "MailEnv" and "Mail" holding these keys
  // and values (bytes as they are: CP932 text, control bytes), for the next start.
  using Keys = std::vector<std::pair<std::string, std::string>>;
  void SetMailSettings(const Keys& mailEnv, const Keys& mail);
  // The environment that gives a program the collectors' wall clock (none without libfaketime),
  // for a collector started by someone else (scmd), and that clock's now.
  static std::vector<std::pair<std::string, std::string>> ClockEnv();
  static rtl::TDateTime CollectorNow();
  // Today's record and event day files on the collectors' clock (relative paths).
  static std::string TodayRecords();
  static std::string TodayEvents();
  // Today's records, and the same once there are at least count of them (or timeoutMs passed).
  std::vector<std::string> Records() const;
  std::vector<std::string> WaitForRecords(size_t count, int timeoutMs = 60000) const;
  // The texts of today's events other than "Service Started" (the errors, in a test).
  std::vector<std::string> Errors() const;

  // Starts "KelvadonService -FOREGROUND" in the folder, on the collectors' clock, and waits until
  // its TCP port accepts and "Service Started" is in the event file. Its stderr goes to
  // <dir>/stderr.log. Every collector takes the FTP port kFtpPort: outside a network namespace of
  // the test's own, the port is taken first (see testsupport::FixedPort, held until this object
  // goes); when that fails, Start returns false with the reason in <dir>/stderr.log.
  bool Start(const std::vector<std::string>& extraEnv = {});
  // Starts the collector as Start does, without waiting for anything; false when it cannot.
  bool Launch(const std::vector<std::string>& extraEnv = {});
  // Waits up to timeoutMs for the collector to end by itself; its exit status, or -1 when it is
  // still running.
  int WaitExit(int timeoutMs);
  // SIGINT (a stop) and a wait of up to timeoutMs (then SIGKILL); returns the exit status.
  int Stop(int timeoutMs = 15000);
  // The collector's descriptor limit, soft and hard, from the next start on (0: the test's own).
  // The collector starts with no descriptor but 0-2, so the limit is all it has to work with.
  void SetDescriptorLimit(int limit) { descriptorLimit_ = limit; }
  pid_t Pid() const { return pid_; }

 private:
  void WriteSettings(const std::string& more = "");

  std::optional<testsupport::TempDir> tmp_;
  std::string dir_;
  int port_;
  pid_t pid_ = -1;
  int descriptorLimit_ = 0;
  testsupport::FixedPort ftpPort_{kFtpPort};
};

// The record lines of a record day file (its header checked and dropped).
std::vector<std::string> RecordLines(const std::string& fileContent);
// The entries of an event day file: heading line, then text (the text may span lines).
struct EventEntry {
  std::string stampAndHeading;
  std::string text;
};
std::vector<EventEntry> EventEntries(const std::string& fileContent);

// Lines as a count per text, for comparing without regard to the order between agents.
std::map<std::string, int> Counted(const std::vector<std::string>& lines);

}  // namespace collectortest
