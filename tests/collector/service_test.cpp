// The collector as the service "KelvadonManager" under scmd (its life cycle, a shutdown, faults at
// its day files), and its FTP account.
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/advapi32/winsvc.h"
#include "tests/collector/program_folder.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/scmd.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::AskUdp;
using testsupport::ConnectTcp;
using testsupport::ReadUntilClose;
using testsupport::SendAll;
using testsupport::WaitFor;

// Runs a command, returns its exit code.
int RunCommand(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One record over a fresh connection; waits for the collector's close.
void SendRecord(int port, const std::string& record) {
  int fd = ConnectTcp(port);
  ASSERT_GE(fd, 0);
  SendAll(fd, record + "\r\n");
  shutdown(fd, SHUT_WR);
  ReadUntilClose(fd, 5000);
  close(fd);
}

bool HasRecord(const ProgramFolder& folder, const std::string& record) {
  for (const auto& l : RecordLines(folder.Read(ProgramFolder::TodayRecords())))
    if (l == record) return true;
  return false;
}

DWORD State(SC_HANDLE service) {
  SERVICE_STATUS st{};
  return QueryServiceStatus(service, &st) ? st.dwCurrentState : 0;
}

// The collector installed as "KelvadonManager" under an scmd of the test's own; the collector
// takes the FTP port.
class CollectorService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ftpPort_.Take()) << ftpPort_.Error();
    setenv("KELVADON_SCM_DIR", state_.path().c_str(), 1);
    ASSERT_TRUE(scmd_.Start()) << scmd_.Log();
  }
  void TearDown() override {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }

  // Installs the collector of folder_ and opens it.
  void Install() {
    ASSERT_EQ(RunCommand("KELVADON_SCM_DIR=" + state_.path() + " " + folder_.Dir() +
                         "KelvadonService /INSTALL /SILENT"),
              0);
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_TRUE(manager_);
    service_ = OpenServiceA(manager_, "KelvadonManager", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(service_) << GetLastError();
  }

  testsupport::FixedPort ftpPort_{ProgramFolder::kFtpPort};
  testsupport::TempDir state_{"kwscm", 0755};
  // The collector it starts runs on the collectors' clock, as ProgramFolder's do.
  testsupport::Scmd scmd_{SCMD_PATH, state_.path(), ProgramFolder::ClockEnv()};
  ProgramFolder folder_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

TEST_F(CollectorService, LifeCycleUnderTheServiceManager) {
  ASSERT_NO_FATAL_FAILURE(Install());

  ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; })) << scmd_.Log();
  SendRecord(folder_.Port(), "while running");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder_, "while running"); }));

  SERVICE_STATUS st{};
  ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_PAUSE, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_PAUSED; }));
  // A paused collector goes on collecting and answering.
  SendRecord(folder_.Port(), "while paused");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder_, "while paused"); }));
  EXPECT_EQ(AskUdp(folder_.Port(), "Are You Kelvadon Manager?", testsupport::kWaitLimitMs).size(),
            1u);
  ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_CONTINUE, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; }));

  // An agent connection left open: when the process ends, the collector's side closes first and
  // the collector port is left with a connection in TIME_WAIT.
  int open = ConnectTcp(folder_.Port());
  ASSERT_GE(open, 0);
  ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; })) << scmd_.Log();
  EXPECT_LT(ConnectTcp(folder_.Port()), 0);  // the listeners are closed
  EXPECT_TRUE(AskUdp(folder_.Port(), "Are You Kelvadon Manager?", 300).empty());
  EXPECT_EQ(ReadUntilClose(open, 5000), "");
  close(open);

  // Started again on the same port.
  ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; })) << scmd_.Log();
  SendRecord(folder_.Port(), "after restart");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder_, "after restart"); }));
  ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; }));

  // Two starts, two "Service Started" events, no error.
  int started = 0;
  for (const auto& e : EventEntries(folder_.Read(ProgramFolder::TodayEvents()))) {
    EXPECT_EQ(e.text, "Service Started");
    started += e.text == "Service Started";
  }
  EXPECT_EQ(started, 2);

  EXPECT_EQ(RunCommand("KELVADON_SCM_DIR=" + state_.path() + " " + folder_.Dir() +
                       "KelvadonService /UNINSTALL /SILENT"),
            0);
  scmd_.Stop();
}

// The machine shuts down (scmd's SIGTERM) while an alert mail waits at its server and more wait
// behind it, with the service running or already stopping (a stop came a second before, whose
// own time for mail would run past scmd's kill): the mail's time ends before scmd's kill, counted
// from the shutdown's arrival, so the dropped jobs are counted in an event and STOPPED is reported
// before the process ends.
class CollectorShutdown : public CollectorService, public ::testing::WithParamInterface<bool> {};

TEST_P(CollectorShutdown, WithMailQueuedEndsBeforeTheKill) {
  const bool stopFirst = GetParam();
  testsupport::SmtpSink sink({"--hold", "dot=120"});
  REQUIRE_SINK(sink);
  folder_.SetMailSettings({{"SmtpServer", "127.0.0.1"},
                           {"SmtpPort", sink.Port()},
                           {"FromMail", "kelvadon@collector.test"},
                           {"ToMail", "admin@example.test"}},
                          {{"Word1", "FIRE"}});
  ASSERT_NO_FATAL_FAILURE(Install());
  ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; })) << scmd_.Log();
  for (int i = 0; i < 5; ++i)
    SendRecord(folder_.Port(), "FIRE " + std::to_string(i));
  ASSERT_TRUE(WaitFor([&] { return HasRecord(folder_, "FIRE 4"); }));
  if (stopFirst) {
    ASSERT_TRUE(WaitFor([&] { return !sink.Holds().empty(); })) << "no mail reached the sink";
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &st)) << GetLastError();
    ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOP_PENDING; }));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the gap between stop and shutdown
  }

  const int status = scmd_.Stop(60000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string log = scmd_.Log();
  EXPECT_EQ(log.find("did not stop in time, killed"), std::string::npos) << log;
  const size_t shutdown = log.find("shutting down");
  ASSERT_NE(shutdown, std::string::npos) << log;
  EXPECT_NE(log.find("KelvadonManager: STOPPED", shutdown), std::string::npos) << log;
  int droppedEvents = 0;
  for (const std::string& e : folder_.Errors())
    droppedEvents += e.starts_with("ServiceShutdown System Error Exception : ") &&
                     e.ends_with(" queued mail jobs dropped: the shutdown's 16 s for mail ran out");
  EXPECT_EQ(droppedEvents, 1) << testsupport::ReadFile(folder_.Dir() +
                                                       ProgramFolder::TodayEvents());
}

INSTANTIATE_TEST_SUITE_P(Service, CollectorShutdown, ::testing::Values(false, true),
                         [](const auto& info) {
                           return std::string(info.param ? "WhileAStopIsPending" : "WhileRunning");
                         });

// A fault at today's day files of the running service: what it does to them, and how it ends.
struct DayFileFault {
  const char* name;
  // Puts the fault in place in the program folder dir; false when this machine cannot (the case
  // is skipped).
  std::function<bool(const std::string& dir)> make;
  std::function<void(const std::string& dir)> clear;
  const char* lost;  // the error event of a record that cannot be written
  bool inEventFile;  // that event is in the event file; else it can only be in scmd's log
};

void PrintTo(const DayFileFault& f, std::ostream* os) {
  *os << f.name;
}

bool MakeFifo(const std::string& path) {
  std::filesystem::remove(path);
  return mkfifo(path.c_str(), 0660) == 0;
}

const DayFileFault kDayFileFaults[] = {
    {"FifoAtTheRecordFile",
     [](const std::string& dir) { return MakeFifo(dir + ProgramFolder::TodayRecords()); },
     [](const std::string& dir) { std::filesystem::remove(dir + ProgramFolder::TodayRecords()); },
     "EventWrite System Error EInOutError : I/O error 22", true},
    {"FifoAtBothFiles",
     [](const std::string& dir) {
       return MakeFifo(dir + ProgramFolder::TodayRecords()) &&
              MakeFifo(dir + ProgramFolder::TodayEvents());
     },
     [](const std::string& dir) {
       std::filesystem::remove(dir + ProgramFolder::TodayRecords());
       std::filesystem::remove(dir + ProgramFolder::TodayEvents());
     },
     "EventWrite System Error EInOutError : I/O error 22", false},
    {"LogReadOnlyAndRecvDataGone",
     [](const std::string& dir) {
       std::filesystem::remove_all(dir + "RecvData");
       return mount("tmpfs", (dir + "Log").c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV,
                    "size=16k") == 0;
     },
     [](const std::string& dir) {
       umount2((dir + "Log").c_str(), MNT_DETACH);
       std::filesystem::create_directory(dir + "RecvData");
     },
     "EventWrite System Error EInOutError : Path not found", false},
};

class CollectorDayFileFault : public CollectorService,
                              public ::testing::WithParamInterface<DayFileFault> {
 protected:
  void TearDown() override {
    if (made_) GetParam().clear(folder_.Dir());
    CollectorService::TearDown();
  }
  bool made_ = false;
};

// Nothing at a day file's name stalls the service, and no record is lost without a trace: the
// record that cannot be written is one error event, in the event file or, where that cannot
// take it either, in scmd's log under the service's name. Discovery is answered meanwhile; once
// the fault is gone the next record goes to a new plain file, and a stop stops the service.
TEST_P(CollectorDayFileFault, TheLossLeavesATraceAndNothingStalls) {
  const DayFileFault& fault = GetParam();
  ASSERT_NO_FATAL_FAILURE(Install());
  ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; })) << scmd_.Log();
  made_ = fault.make(folder_.Dir());
  if (!made_) GTEST_SKIP() << fault.name << " is not possible here";

  SendRecord(folder_.Port(), "lost");
  // The log line: "scmd: KelvadonManager[pid]: yyyy/mm/dd hh:mm:ss not in the event file: ...".
  auto logged = [&] {
    std::vector<std::string> lines;
    std::istringstream in(scmd_.Log());
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("scmd: KelvadonManager[") &&
          line.ends_with(std::string(" not in the event file: ") + fault.lost))
        lines.push_back(line);
    return lines;
  };
  if (fault.inEventFile) {
    ASSERT_TRUE(WaitFor([&] { return !folder_.Errors().empty(); })) << scmd_.Log();
    EXPECT_EQ(folder_.Errors(), std::vector<std::string>{fault.lost});
  } else {
    ASSERT_TRUE(WaitFor([&] { return !logged().empty(); })) << scmd_.Log();
  }
  EXPECT_EQ(AskUdp(folder_.Port(), "Are You Kelvadon Manager?", testsupport::kWaitLimitMs).size(),
            1u);

  fault.clear(folder_.Dir());
  made_ = false;
  SendRecord(folder_.Port(), "kept");
  ASSERT_TRUE(WaitFor([&] { return HasRecord(folder_, "kept"); })) << scmd_.Log();
  EXPECT_EQ(RecordLines(folder_.Read(ProgramFolder::TodayRecords())),
            std::vector<std::string>{"kept"});
  SERVICE_STATUS st{};
  ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  EXPECT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; })) << scmd_.Log();
  EXPECT_EQ(logged().size(), fault.inEventFile ? 0u : 1u) << scmd_.Log();
}

INSTANTIATE_TEST_SUITE_P(Collector, CollectorDayFileFault, ::testing::ValuesIn(kDayFileFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CollectorFtp, OnlyTheFixedAccountLogsIn) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
  // Python's ftplib: prints the working folder after a login, or the refusal.
  auto login = [](const std::string& user, const std::string& password) {
    const std::string script =
        "import ftplib\n"
        "f = ftplib.FTP()\n"
        "f.connect('127.0.0.1', 9021, timeout=10)\n"
        "try:\n"
        "    f.login('" +
        user + "', '" + password +
        "')\n"
        "    print('ok ' + f.pwd())\n"
        "    f.quit()\n"
        "except ftplib.error_perm as e:\n"
        "    print(str(e))\n";
    FILE* p = popen(("/usr/bin/python3 -c \"" + script + "\" 2>&1").c_str(), "r");
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
      out += buf;
    pclose(p);
    return out;
  };
  EXPECT_EQ(login("Brindlework", "rtso7362"), "ok /\n");
  EXPECT_EQ(login("brindlework", "rtso7362"), "530 Login incorrect.\n");
  EXPECT_EQ(login("Brindlework", "RTSO7362"), "530 Login incorrect.\n");
  EXPECT_EQ(login("anonymous", "guest"), "530 Login incorrect.\n");
}

}  // namespace
}  // namespace collectortest
