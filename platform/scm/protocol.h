// The protocol between scmd and the processes that talk to it: clients (the service API of the
// security library) on scmd's Unix socket, and service processes on the control channel scmd
// hands them at start. Both are streams of frames: a 32-bit little-endian payload length, then
// the payload. A request payload starts with its operation number; a reply payload with a Win32
// error code (0 = success). Numbers on the wire are the Win32 values (states, controls, access
// masks, start types), so no layer translates them.
//
// Everything here is a value or a pure function, safe from any thread. The readers never read
// outside their input: every getter checks the bytes that are left and a failed read sticks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scm {

// Hard limits of the protocol, in one place.
constexpr size_t kMaxFrame = 256 * 1024;      // payload bytes of one frame
constexpr size_t kMaxNameLength = 256;        // service name, display name, group, account
constexpr size_t kMaxPasswordLength = 256;    // an account's password
constexpr size_t kMaxPathLength = 4096;       // binary path, failure command
constexpr size_t kMaxTextLength = 16 * 1024;  // description, reboot message (UTF-8 bytes)
constexpr size_t kMaxDependencies = 64;
constexpr size_t kMaxActions = 64;      // failure actions
constexpr size_t kMaxArguments = 8193;  // start arguments
constexpr size_t kMaxSecurityBytes = 64 * 1024;

// Socket file in the state folder.
constexpr char kSocketName[] = "scmd.sock";
// Environment: the state folder, the control channel's descriptor, the start/control time-out
// (seconds) and how long a SIGTERM waits for services to stop (seconds).
constexpr char kEnvDir[] = "KELVADON_SCM_DIR";
constexpr char kEnvFd[] = "KELVADON_SCM_FD";
constexpr char kEnvStartTimeout[] = "KELVADON_SCM_START_TIMEOUT";
constexpr char kEnvShutdownTimeout[] = "KELVADON_SCM_SHUTDOWN_TIMEOUT";
constexpr char kDefaultDir[] = "/var/lib/kelvadon-scm";

// Win32 errors the protocol itself produces: no manager listens (RPC_S_SERVER_UNAVAILABLE), a
// reply that could not be read or did not parse (ERROR_INVALID_DATA).
constexpr uint32_t kErrorManagerUnavailable = 1722;
constexpr uint32_t kErrorInvalidData = 13;

// Win32 values the manager itself acts on (the full set is in the service API's header).
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceContinuePending = 5;
constexpr uint32_t kServicePausePending = 6;
constexpr uint32_t kServicePaused = 7;

constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;
constexpr uint32_t kControlShutdown = 5;

constexpr uint32_t kAcceptStop = 0x1;
constexpr uint32_t kAcceptPauseContinue = 0x2;
constexpr uint32_t kAcceptShutdown = 0x4;

constexpr uint32_t kWin32OwnProcess = 0x10;
constexpr uint32_t kWin32ShareProcess = 0x20;
constexpr uint32_t kInteractiveProcess = 0x100;

constexpr uint32_t kBootStart = 0;
constexpr uint32_t kSystemStart = 1;
constexpr uint32_t kAutoStart = 2;
constexpr uint32_t kDemandStart = 3;
constexpr uint32_t kDisabled = 4;

constexpr uint32_t kNoChange = 0xFFFFFFFF;

constexpr uint32_t kActionNone = 0;
constexpr uint32_t kActionRestart = 1;
constexpr uint32_t kActionReboot = 2;
constexpr uint32_t kActionRunCommand = 3;

// Operations. Client requests first, then what a service process sends, then what scmd sends to
// a service process.
enum class Op : uint32_t {
  kOpenManager = 1,       // access -> handle
  kOpenService,           // manager, name, access -> handle
  kCreateService,         // manager, access, ServiceConfig, password -> handle
  kDeleteService,         // service ->
  kCloseHandle,           // handle ->
  kQueryStatus,           // service -> ServiceStatus
  kQueryConfig,           // service -> ServiceConfig
  kChangeConfig,          // service, ConfigChange ->
  kQueryDescription,      // service -> present, text (UTF-8)
  kChangeDescription,     // service, text (UTF-8) ->
  kQueryFailureActions,   // service -> FailureActions
  kChangeFailureActions,  // service, FailureActionsChange ->
  kStartService,          // service, arguments ->
  kControl,          // service, control -> ServiceStatus (also with the errors 1052, 1061, 1062)
  kLock,             // manager -> lock
  kUnlock,           // lock ->
  kQueryLockStatus,  // manager -> locked, owner, seconds
  kQuerySecurity,    // service, information -> descriptor bytes
  kSetSecurity,      // service, information, descriptor bytes ->
  kEnumServices,     // manager, type, state -> count, then name, display name, ServiceStatus each

  kHello = 100,  // service process: its table's names (no reply)
  kStartAck,     // service process: error of the start (0: the service main runs)
  kSetStatus,    // service process: ServiceStatus (no reply)
  kControlAck,   // service process: error of the control (0: the handler ran)

  kStart = 200,     // scmd: service name, arguments
  kControlRequest,  // scmd: control
};

// The status as SERVICE_STATUS_PROCESS carries it.
struct ServiceStatus {
  uint32_t serviceType = kWin32OwnProcess;
  uint32_t currentState = kServiceStopped;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
  uint32_t processId = 0;
  bool operator==(const ServiceStatus&) const = default;
};

// A service's configuration. Narrow texts are CP932 bytes, as the "A" functions take them.
struct ServiceConfig {
  std::string name;
  std::string displayName;
  uint32_t serviceType = kWin32OwnProcess;
  uint32_t startType = kDemandStart;
  uint32_t errorControl = 1;
  std::string binaryPathName;
  std::string loadOrderGroup;
  uint32_t tagId = 0;
  std::vector<std::string> dependencies;
  std::string serviceStartName;  // "LocalSystem" for the manager's own account
  bool operator==(const ServiceConfig&) const = default;
};

// ChangeServiceConfigA: numbers kNoChange and absent texts keep their values. A password comes
// with the account, or alone for the current one.
struct ConfigChange {
  uint32_t serviceType = kNoChange;
  uint32_t startType = kNoChange;
  uint32_t errorControl = kNoChange;
  std::optional<std::string> binaryPathName;
  std::optional<std::string> loadOrderGroup;
  std::optional<std::vector<std::string>> dependencies;
  std::optional<std::string> serviceStartName;
  std::optional<std::string> password;
  std::optional<std::string> displayName;
};

struct Action {
  uint32_t type = kActionNone;
  uint32_t delayMs = 0;
  bool operator==(const Action&) const = default;
};

// Failure actions; texts in UTF-8 (the "W" functions' strings converted).
struct FailureActions {
  uint32_t resetPeriod = 0;  // seconds; 0xFFFFFFFF: never reset the failure count
  std::string rebootMessage;
  std::string command;
  std::vector<Action> actions;
  bool operator==(const FailureActions&) const = default;
};

// ChangeServiceConfig2W with SERVICE_CONFIG_FAILURE_ACTIONS: an absent text is kept, an empty
// one removed; absent actions keep both the actions and the reset period.
struct FailureActionsChange {
  uint32_t resetPeriod = 0;
  std::optional<std::string> rebootMessage;
  std::optional<std::string> command;
  std::optional<std::vector<Action>> actions;
};

// Builds a payload.
class Writer {
 public:
  Writer& U32(uint32_t v);
  Writer& Bool(bool v) { return U32(v ? 1 : 0); }
  Writer& Str(std::string_view s);
  Writer& OptStr(const std::optional<std::string>& s);
  Writer& Strs(const std::vector<std::string>& list);
  Writer& Status(const ServiceStatus& s);
  Writer& Config(const ServiceConfig& c);
  Writer& Change(const ConfigChange& c);
  Writer& Failure(const FailureActions& f);
  Writer& FailureChange(const FailureActionsChange& f);

  const std::string& Payload() const { return out_; }
  // Zeroes the payload (one that carried a password, once sent) and empties it.
  void Wipe();

 private:
  Writer& Actions(const std::vector<Action>& list);
  std::string out_;
};

// Reads a payload. Each getter returns false, and every later one too, when the input is short or
// a value breaks its limit; Ok() tells whether all reads so far succeeded.
class Reader {
 public:
  explicit Reader(std::string_view payload) : in_(payload) {}

  bool U32(uint32_t& v);
  bool Bool(bool& v);
  bool Str(std::string& s, size_t maxBytes);
  bool OptStr(std::optional<std::string>& s, size_t maxBytes);
  bool Strs(std::vector<std::string>& list, size_t maxCount, size_t maxBytes);
  bool Status(ServiceStatus& s);
  bool Config(ServiceConfig& c);
  bool Change(ConfigChange& c);
  bool Failure(FailureActions& f);
  bool FailureChange(FailureActionsChange& f);

  bool Ok() const { return ok_; }
  // True when every byte has been read (and nothing failed).
  bool AtEnd() const { return ok_ && pos_ == in_.size(); }

 private:
  bool Actions(std::vector<Action>& list);
  bool Fail() { return ok_ = false; }
  std::string_view in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A request payload: the operation, then what the Writer adds.
Writer Request(Op op);

// Collects stream bytes and cuts them into payloads.
class FrameBuffer {
 public:
  ~FrameBuffer();  // zeroes what it still holds

  void Append(const char* data, size_t n) { buf_.append(data, n); }
  // Takes the next complete payload. Returns false when none is complete yet; sets bad when the
  // stream announces a frame larger than kMaxFrame (the stream can then not be trusted). The
  // bytes of a payload taken are zeroed in the buffer.
  bool Next(std::string& payload, bool& bad);
  size_t Pending() const { return buf_.size(); }

 private:
  std::string buf_;
};

// The bytes on the wire for a payload: its length, then the payload.
std::string Frame(std::string_view payload);

// Blocking frame I/O on a stream socket, EINTR-safe; writes never raise SIGPIPE. ReadFrame
// returns false at end of stream, on an error or on an oversized frame (errno is then EPROTO).
bool WriteFrame(int fd, std::string_view payload);
bool ReadFrame(int fd, std::string& payload);

// "RUNNING", "START_PENDING", ... ("STATE n" for an unknown value).
std::string StateName(uint32_t state);

// Folds a service name into the key names are compared by: ASCII letters upper-cased, a CP932
// trail byte never folded.
std::string NameKey(std::string_view name);

// The state folder: $KELVADON_SCM_DIR when set and not empty, else kDefaultDir. No trailing "/".
std::string StateDir();

// Seconds from an environment variable holding a positive decimal number, else fallback.
unsigned EnvSeconds(const char* name, unsigned fallback);

}  // namespace scm
