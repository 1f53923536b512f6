// scmd's core: the table of registered services with their status, the clients' connections with
// their handles, and the service processes with their control channels, driven by one poll loop
// on one thread. Requests that must wait for a service (a start until its dispatcher answers, a
// control until its handler ran) are answered later; the loop goes on serving everyone else, and
// every such wait ends at the latest after the start time-out.
//
// Rules kept here:
// - A client's handles and its database lock die with its connection.
// - A service process that ends without having reported STOPPED has crashed: the service is
//   STOPPED with exit code 1067 and its failure actions run.
// - A service starts after its dependencies: they are started first, on scmd's own authority,
//   and the service waits START_PENDING, without a process, until each of them runs. That wait
//   is a state the loop moves on (AdvanceDependents after every round), never a blocking call.
// - A service whose account is neither LocalSystem, root nor the user scmd runs as is logged on
//   at each start: its password is checked first (logon.h).
// - What a service process writes to stdout and stderr is logged, line by line under its name
//   (output.h), until the last writer of its pipe closes it.
// - SIGTERM or SIGINT: no new clients, shutdown sent to every running (or stopping) service that
//   accepts it, a wait for their processes, then SIGKILL to the service processes still there (and
//   to nothing else), and the loop ends.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/scm/access.h"
#include "platform/scm/accounts.h"
#include "platform/scm/caller.h"
#include "platform/scm/output.h"
#include "platform/scm/protocol.h"
#include "platform/scm/record.h"

namespace scm {

// What a start or a request gets while scmd shuts down (ERROR_SHUTDOWN_IN_PROGRESS).
constexpr uint32_t kErrorShutdownInProgress = 1115;

struct DaemonOptions {
  std::string dir;                // absolute state folder
  unsigned startTimeoutSec = 30;  // dispatcher and control answers
  unsigned shutdownTimeoutSec = 20;
};

class Daemon {
 public:
  explicit Daemon(DaemonOptions options);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Takes the folder (a lock file: one scmd per folder), loads the service records and listens on
  // the socket. Returns false, with the reason on stderr, when any of it fails.
  // REQUIRES: SIGCHLD, SIGTERM, SIGINT and SIGHUP blocked in the calling thread.
  bool Init();

  // Starts the AUTO_START services and serves until SIGTERM or SIGINT has been handled. Returns
  // the process's exit code.
  int Run();

 private:
  struct Service;
  struct Process;

  struct Handle {
    bool manager = true;
    uint32_t access = 0;
    Service* service = nullptr;
  };

  struct Client {
    uint64_t id = 0;
    int fd = -1;
    Caller peer;
    FrameBuffer in;
    std::string out;
    std::map<uint32_t, Handle> handles;
    uint32_t nextHandle = 1;
    uint32_t lock = 0;     // the database lock this client holds, 0 when none
    bool waiting = false;  // a reply is still to come: no further request is read
  };

  struct PendingControl {
    uint64_t client = 0;  // 0: nobody waits (scmd's own shutdown)
    uint32_t code = 0;
  };

  struct Process {
    pid_t pid = 0;
    Service* service = nullptr;
    int channel = -1;
    uint64_t output = 0;  // its stdout and stderr: the key in outputs_ (gone once it ended)
    FrameBuffer in;
    std::string out;
    bool current = true;   // the service's running process (not one left after STOPPED)
    bool killed = false;   // killed by scmd: its end is no crash
    bool started = false;  // the dispatcher acknowledged the start
    bool shutdownSent = false;
    bool inFlight = false;
    PendingControl control;  // valid while inFlight
    int64_t controlDeadline = 0;
  };

  struct Service {
    ~Service();  // wipes the password
    ServiceRecord record;
    ServiceStatus status;
    Process* process = nullptr;  // the current process
    int processes = 0;           // processes still referring to this service
    int handles = 0;
    bool marked = false;  // marked for deletion
    uint64_t startWaiter = 0;
    int64_t startDeadline = 0;  // the dispatcher's answer, or the dependencies' start, is due
    // Waiting for dependencies: the name keys of the direct ones, each of which must run first.
    bool awaiting = false;
    std::vector<std::string> awaitedKeys;
    std::vector<std::string> startArgs;
    std::deque<PendingControl> controls;
    uint32_t failures = 0;
    int64_t lastFailure = 0;
    int64_t actionAt = 0;  // a failure action is due then (0: none)
    Action action;
  };

  // The loop.
  void Accept();
  void ReadClient(Client& c);
  void FlushClient(Client& c);
  void DropClient(uint64_t id);
  void ReadChannel(Process& p);
  void FlushChannel(Process& p);
  void CloseChannel(Process& p);
  // Logs what a process's output pipe holds; forgets the pipe once it has ended.
  void ReadOutput(uint64_t id);
  void ReapChildren();
  void RunTimers();
  int64_t NextDeadline() const;
  void BeginShutdown();

  // Client requests, dispatched through a table by operation.
  void HandleRequest(Client& c, const std::string& payload);
  using RequestHandler = void (Daemon::*)(Client&, Reader&);
  struct RequestEntry {
    Op op;
    RequestHandler handler;
  };
  static const RequestEntry kRequests[];
  void OpenManager(Client& c, Reader& r);
  void OpenService(Client& c, Reader& r);
  void CreateService(Client& c, Reader& r);
  void DeleteService(Client& c, Reader& r);
  void CloseHandle(Client& c, Reader& r);
  void QueryStatus(Client& c, Reader& r);
  void QueryConfig(Client& c, Reader& r);
  void ChangeConfig(Client& c, Reader& r);
  void QueryDescription(Client& c, Reader& r);
  void ChangeDescription(Client& c, Reader& r);
  void QueryFailureActions(Client& c, Reader& r);
  void ChangeFailureActions(Client& c, Reader& r);
  void StartService(Client& c, Reader& r);
  void Control(Client& c, Reader& r);
  void Lock(Client& c, Reader& r);
  void Unlock(Client& c, Reader& r);
  void QueryLockStatus(Client& c, Reader& r);
  void QuerySecurity(Client& c, Reader& r);
  void SetSecurity(Client& c, Reader& r);
  void EnumServices(Client& c, Reader& r);

  // Replies. Reply() queues one now; Answer() for a client that may have gone meanwhile.
  void Reply(Client& c, const Writer& w);
  void ReplyError(Client& c, uint32_t error);
  void Answer(uint64_t client, const Writer& w);
  // The handle of the request, checked for kind and rights; null after replying with the error.
  Handle* ServiceHandle(Client& c, Reader& r, uint32_t right);
  Handle* ManagerHandle(Client& c, Reader& r, uint32_t right);

  // Services (services.cpp).
  Service* Find(const std::string& name);
  uint32_t CheckConfig(const ServiceConfig& config, const Service* self) const;
  // True when the start name stands for the caller's own user (LocalSystem for a caller that
  // is the user scmd runs as).
  bool IsCallersAccount(const Caller& caller, const std::string& startName) const;
  // 5 when the caller, no admin, would move the service from the account `from` to an account
  // that is not the caller's own; else 0.
  uint32_t CheckAccountSwitch(const Caller& caller, const std::string& from,
                              const std::string& to) const;
  // 5 when the caller, no admin, would set the password of a service whose account (as the change
  // leaves it) is not the caller's own: "set a password, start" would test that account's
  // password at each start. Else 0. REQUIRES: CheckAccountSwitch passed, so that account is the
  // one the service had or the caller's own.
  uint32_t CheckPasswordChange(const Caller& caller, const std::string& account) const;
  // The service's descriptor as it is enforced. One that no longer reads (never after a load)
  // gives every right to root alone.
  Descriptor SecurityOf(const Service& s) const;
  // Replaces every stored descriptor that scmd does not enforce (one written before descriptors
  // were enforced, or bytes that do not read) by the default one, with one log line each.
  void UpgradeDescriptors();
  bool Persist(Service& s);
  // Starts the service as a client, the automatic start or a failure action asks: its own
  // checks, then its dependencies and theirs (each before what depends on it), then the service
  // once they run. Returns 0 when the start is under way, or the error with nothing of the
  // service's own started. A waiter (not 0) is answered when the dispatcher has the start or it
  // failed.
  uint32_t Start(Service& s, std::vector<std::string> args, uint64_t waiter);
  // Spawns the service's process under its account, logged on first.
  uint32_t Spawn(Service& s, std::vector<std::string> args, uint64_t waiter);
  // 0, or 1069 when the service's account does not resolve or does not log on (logged, with
  // the reason). LocalSystem, root and the user scmd runs as need no password.
  uint32_t LogOn(const Service& s, Account& account);
  void StartTimedOut(Service& s);
  // A start that did not come to run: STOPPED with the error as exit code, the waiter answered.
  void EndStart(Service& s, uint32_t error);

  // Dependencies (dependencies.cpp). Names are matched as service names are (NameKey).
  // The services s depends on, directly or not, in the order they start (each after its own
  // dependencies), without s. 1075 for a name that is not installed, is marked for deletion or
  // names a group; 1068 for a disabled dependency that is stopped, or a cycle stored by an older
  // scmd. Logged.
  uint32_t DependencyOrder(const Service& s, std::vector<Service*>& order);
  // Spawns s when each of its dependencies runs, else makes it wait for them; 1068 when one of
  // them is stopping.
  uint32_t Launch(Service& s, std::vector<std::string> args, uint64_t waiter);
  // Spawns every waiting service whose dependencies all run, and ends the start of every one
  // whose dependency stopped or failed (1068), until nothing moves.
  void AdvanceDependents();
  // Ends a waiting start: STOPPED with the error as exit code, the waiter answered.
  void FailAwaiting(Service& s, uint32_t error);
  // True when a service that is not STOPPED depends on s.
  bool HasActiveDependents(const Service& s) const;
  // 1059 when the configuration's dependencies lead back to the service itself (through the
  // stored lists of the others).
  uint32_t CheckCycle(const ServiceConfig& config) const;
  void OnChannelFrame(Process& p, const std::string& payload);
  void OnStatus(Process& p, const ServiceStatus& status);
  void OnProcessEnd(pid_t pid, int waitStatus);
  void QueueControl(Service& s, PendingControl control);
  void SendNextControl(Service& s);
  void ControlTimedOut(Process& p);
  void FinishControl(Process& p, uint32_t error);
  void FailQueuedControls(Service& s, uint32_t error);
  void ScheduleFailureAction(Service& s);
  void RunFailureAction(Service& s);
  void SendToProcess(Process& p, const Writer& w);
  // The environment of a program started for a service: scmd's own without the variables that
  // name another's channel or user, with the state folder, and with the account's user.
  std::vector<std::string> ChildEnvironment(const Account& account) const;
  void MaybeRemove(Service& s);
  void LogStatus(const Service& s);

  const DaemonOptions options_;
  ServiceStore store_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  int signalFd_ = -1;
  std::string socketPath_;
  std::map<std::string, std::unique_ptr<Service>> services_;  // by name key
  std::map<uint64_t, std::unique_ptr<Client>> clients_;
  std::map<pid_t, std::unique_ptr<Process>> processes_;
  std::map<uint64_t, std::unique_ptr<ServiceOutput>> outputs_;
  uint64_t nextOutput_ = 1;
  uint64_t nextClient_ = 1;
  uint32_t nextLock_ = 1;
  uint64_t lockOwner_ = 0;  // client that holds the database lock, 0 when unlocked
  uid_t lockUid_ = 0;
  int64_t lockSince_ = 0;
  bool shuttingDown_ = false;
  int64_t shutdownDeadline_ = 0;
};

// Monotonic milliseconds.
int64_t NowMs();

// One line on stderr, prefixed "scmd: ".
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace scm
