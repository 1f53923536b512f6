// The collector as the service "KelvadonManager" under scmd, and its FTP account.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/advapi32/winsvc.h"
#include "tests/collector/program_folder.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/scmd.h"
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

TEST(CollectorService, LifeCycleUnderTheServiceManager) {
  // scmd starts the collector, which takes the FTP port.
  testsupport::FixedPort ftpPort(ProgramFolder::kFtpPort);
  ASSERT_TRUE(ftpPort.Take()) << ftpPort.Error();
  testsupport::TempDir state("kwscm", 0755);
  setenv("KELVADON_SCM_DIR", state.path().c_str(), 1);
  testsupport::Scmd scmd(SCMD_PATH, state.path());
  ASSERT_TRUE(scmd.Start()) << scmd.Log();
  ProgramFolder folder;

  ASSERT_EQ(RunCommand("KELVADON_SCM_DIR=" + state.path() + " " + folder.Dir() +
                       "KelvadonService /INSTALL /SILENT"),
            0);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_TRUE(manager);
  SC_HANDLE service = OpenServiceA(manager, "KelvadonManager", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service) << GetLastError();

  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_RUNNING; })) << scmd.Log();
  SendRecord(folder.Port(), "while running");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder, "while running"); }));

  SERVICE_STATUS st{};
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_PAUSE, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_PAUSED; }));
  // A paused collector goes on collecting and answering.
  SendRecord(folder.Port(), "while paused");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder, "while paused"); }));
  EXPECT_EQ(AskUdp(folder.Port(), "Are You Kelvadon Manager?", 10000).size(), 1u);
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_CONTINUE, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_RUNNING; }));

  // An agent connection left open: when the process ends, the collector's side closes first and
  // the collector port is left with a connection in TIME_WAIT.
  int open = ConnectTcp(folder.Port());
  ASSERT_GE(open, 0);
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_STOPPED; })) << scmd.Log();
  EXPECT_LT(ConnectTcp(folder.Port()), 0);  // the listeners are closed
  EXPECT_TRUE(AskUdp(folder.Port(), "Are You Kelvadon Manager?", 300).empty());
  EXPECT_EQ(ReadUntilClose(open, 5000), "");
  close(open);

  // Started again on the same port.
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_RUNNING; })) << scmd.Log();
  SendRecord(folder.Port(), "after restart");
  EXPECT_TRUE(WaitFor([&] { return HasRecord(folder, "after restart"); }));
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &st));
  ASSERT_TRUE(WaitFor([&] { return State(service) == SERVICE_STOPPED; }));

  // Two starts, two "Service Started" events, no error.
  int started = 0;
  for (const auto& e : EventEntries(folder.Read(ProgramFolder::TodayEvents()))) {
    EXPECT_EQ(e.text, "Service Started");
    started += e.text == "Service Started";
  }
  EXPECT_EQ(started, 2);

  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(RunCommand("KELVADON_SCM_DIR=" + state.path() + " " + folder.Dir() +
                       "KelvadonService /UNINSTALL /SILENT"),
            0);
  scmd.Stop();
}

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
