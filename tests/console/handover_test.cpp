// The console's hand-over with the service "KelvadonManager" on a real scmd: the console made as
// the program makes it, on the headless widget set whose scripted boxes answer its questions, in
// a program folder of its own; the service is the test service under that name. The listeners are
// checked with real peers on loopback (records, the discovery question, FTP with curl).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "collector/dayfiles.h"
#include "console/frmsplash.h"
#include "console/frmwatch.h"
#include "console/program.h"
#include "net/socket/socklib.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "tests/console/console_folder.h"
#include "tests/console/questions.h"
#include "tests/support/clock.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"

namespace {

using testsupport::PumpUntil;

using consoletest::kCollectorPort;
using consoletest::kFtpPort;
constexpr char kServiceName[] = "KelvadonManager";
// How long a peer beside the console's loop may take.
constexpr DWORD kPeerLimitMs = 60000;

using consoletest::kExitQuestion;
using consoletest::kRunningQuestion;
// The other boxes' texts, byte for byte (CP932).
const std::string kPortInUse =
    rtl::Utf8ToCp932("すでに設定プログラムを起動しています。\r\nプログラムを終了します。");
const std::string kStatusError =
    rtl::Utf8ToCp932("システムエラーが発生いたしました。（GetServiceStatus）");
const std::string kFormCreateError =
    rtl::Utf8ToCp932("システムエラーが発生いたしました。（FormCreate）");
// A full-width opening bracket and an ASCII closing one.
const std::string kCloseQueryError =
    rtl::Utf8ToCp932("システムエラーが発生いたしました。（FormCloseQuery)");

// Runs peer on a thread of its own while this thread handles the console's messages; its result.
template <typename T>
T Beside(const std::function<T()>& peer) {
  std::atomic<bool> done{false};
  T result{};
  std::thread t([&] {
    result = peer();
    done = true;
  });
  PumpUntil([&] { return done.load(); }, kPeerLimitMs);
  t.join();
  return result;
}

bool TcpOpen(int port) {
  const int fd = testsupport::ConnectTcp(port);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

class HandOver : public consoletest::ConsoleInFolder {
 protected:
  // The test service as "KelvadonManager" with options; started when running.
  void InstallService(bool running, const std::string& options = "") {
    service_ = Install(kServiceName, options);
    ASSERT_TRUE(service_.h);
    if (!running) return;
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
  }
  DWORD ServiceState() { return Status(service_).dwCurrentState; }

  // The console as the program makes it, shown: its first show (the hand-over) has run.
  void StartConsole() {
    CreateKelvadonMan(kit_->App);
    ASSERT_NE(FrmWatch, nullptr);
    FrmWatch->Show();
  }
  // The exit question answered with answer (when the console asks it).
  void Exit(int answer) {
    kit_->WidgetSet.ExpectBox(kExitQuestion, answer);
    FrmWatch->Close();
  }
  bool Ended() const { return kit_->App.Terminated(); }

  // The console's listeners as an agent sees them.
  bool DiscoveryAnswered() {
    auto replies = Beside<std::vector<testsupport::Reply>>([] {
      return testsupport::AskUdp(kCollectorPort, "Are You Kelvadon Manager?", kPeerLimitMs);
    });
    return replies.size() == 1 && replies[0].bytes == "Yes I am Kelvadon Manager." &&
           replies[0].fromPort == kCollectorPort;
  }
  std::string FtpBanner() {
    return Beside<std::string>([] {
      const int fd = testsupport::ConnectTcp(kFtpPort);
      if (fd < 0) return std::string("no connection");
      std::string line;
      char c;
      while (line.find("\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1)
        line += c;
      close(fd);
      return line;
    });
  }
  // Sends a record and waits until today's record file holds it.
  bool Collects(const std::string& record) {
    const int fd = testsupport::ConnectTcp(kCollectorPort);
    if (fd < 0 || !testsupport::SendAll(fd, record + "\r\n")) return false;
    const bool stored = PumpUntil(
        [&] { return testsupport::ReadFile(Records()).find(record + "\r\n") != std::string::npos; },
        kPeerLimitMs);
    close(fd);
    return stored;
  }
  std::string Records() const {
    return folder_.File(collector::kRecordFolder + collector::DayFileName(rtl::Now()));
  }
  // curl against the console's FTP server; its exit code.
  int Curl(const std::string& arguments) {
    return Beside<int>([&] {
      return std::system(("timeout 60 /usr/bin/curl -s --max-time 30 " + arguments).c_str());
    });
  }

  // The console's day stays the day the test reads its files of, whenever the test runs.
  const testsupport::ScopedClock clock_{
      rtl::EpochOfLocal(rtl::TSystemTime{2026, 12, 10, 10, 0, 0, 0, 0}) / 1000000};
};

// Stopped at start: no question, every listener open at once; exit Yes starts the service all the
// same.
TEST_F(HandOver, AStoppedServiceIsTakenOverWithoutAQuestionAndStartedAtExit) {
  InstallService(false);
  StartConsole();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(FrmWatch->FirstShowDone);
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(TcpOpen(kCollectorPort));
  EXPECT_TRUE(DiscoveryAnswered());
  EXPECT_EQ(FtpBanner(), "220 KelvadonManager FTP Server ready.\r\n");
  EXPECT_EQ(FrmWatch->PagWatch->ActivePage(), FrmWatch->TabAdmin);
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_STOPPED));
  // The status query leaves the service open and the manager closed; the handle still serves.
  EXPECT_FALSE(FrmWatch->NtsWatch->ActiveManager());
  ASSERT_TRUE(FrmWatch->NtsWatch->ActiveService());
  EXPECT_EQ(FrmWatch->NtsWatch->QueryStatus()->CurrentState, ntsvc::STOPPED);

  Exit(IDYES);
  EXPECT_TRUE(Ended());
  EXPECT_TRUE(WaitState(service_, SERVICE_RUNNING));
  EXPECT_FALSE(TcpOpen(kCollectorPort));
  EXPECT_FALSE(TcpOpen(kFtpPort));
  EXPECT_EQ(Boxes(), std::vector<std::string>{kExitQuestion});
}

// Running, Yes: the service is stopped and the console collects; exit No leaves it stopped.
TEST_F(HandOver, ARunningServiceIsStoppedOnYesAndLeftStoppedOnExitNo) {
  InstallService(true);
  // The splash is hidden while the question is open, and gone once the console collects.
  bool splashShown = true;
  kit_->WidgetSet.ExpectBox(uitest::TBoxScript{kRunningQuestion, {}, IDYES, [&] {
                                                 splashShown = FrmSplash && FrmSplash->Visible();
                                                 return true;
                                               }});
  StartConsole();
  EXPECT_FALSE(splashShown);
  EXPECT_EQ(FrmSplash, nullptr);
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_STOPPED));
  EXPECT_TRUE(TraceHas(kServiceName, "control 1"));
  EXPECT_TRUE(Collects("2026/12/10 10:00:00\tInsert\tPC01\t\t127.0.0.1\tuser\tE:\tUSB\tf.txt"));
  EXPECT_TRUE(DiscoveryAnswered());

  Exit(IDNO);
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(TcpOpen(kCollectorPort));
  EXPECT_FALSE(TcpOpen(kFtpPort));
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_STOPPED));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{kRunningQuestion, kExitQuestion}));
}

// A service that takes 5 s to stop and holds the record port until it reports STOPPED: the
// console waits for it and then opens its listeners, with no message.
TEST_F(HandOver, ASlowStopIsWaitedFor) {
  InstallService(true, "--stop-delay=5000 --hold-port=" + std::to_string(kCollectorPort));
  ASSERT_TRUE(TraceHas(kServiceName, "hold ok"));
  ExpectBox(kRunningQuestion, IDYES);
  StartConsole();
  EXPECT_EQ(Boxes(), std::vector<std::string>{kRunningQuestion});
  EXPECT_FALSE(Ended());
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_STOPPED));
  EXPECT_TRUE(Collects("2026/12/10 10:00:00\tCopy\tPC02\tslow stop\t\t\t\t\t"));
  Exit(IDNO);
}

// Running, No: the console ends at once, without the exit question, and the service runs on.
TEST_F(HandOver, NoLeavesTheServiceRunningAndEndsWithoutTheExitQuestion) {
  InstallService(true);
  ExpectBox(kRunningQuestion, IDNO);
  StartConsole();
  EXPECT_TRUE(Ended());
  EXPECT_FALSE(FrmWatch->Visible());
  EXPECT_EQ(Boxes(), std::vector<std::string>{kRunningQuestion});
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_RUNNING));
  EXPECT_FALSE(TraceHas(kServiceName, "control 1"));
  EXPECT_FALSE(TcpOpen(kCollectorPort));
}

TEST_F(HandOver, AServiceNotInstalledEndsTheConsole) {
  ExpectBox(kStatusError, IDOK);
  StartConsole();
  EXPECT_TRUE(Ended());
  EXPECT_EQ(Boxes(), std::vector<std::string>{kStatusError});
}

// A port held by another program ends the console with its message, and the service this
// console stopped runs again: the record port says a console runs already; the discovery port or
// the FTP port is a system error.
TEST_F(HandOver, APortInUseEndsTheConsoleAndTheServiceRunsAgain) {
  InstallService(true);
  const struct {
    const char* what;
    int type;
    int port;
    const std::string& message;
  } cases[] = {
      {"record port", SOCK_STREAM, kCollectorPort, kPortInUse},
      {"discovery port", SOCK_DGRAM, kCollectorPort, kFormCreateError},
      {"FTP port", SOCK_STREAM, kFtpPort, kFormCreateError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
    kit_.reset();  // one application at a time
    kit_ = std::make_unique<uitest::TTestApp>();
    const int holder = socket(AF_INET, c.type, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(c.port));
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (c.type == SOCK_STREAM) {
      ASSERT_EQ(listen(holder, 1), 0);
    }
    ExpectBox(kRunningQuestion, IDYES);
    ExpectBox(c.message, IDOK);
    StartConsole();
    close(holder);
    EXPECT_TRUE(Ended());
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kRunningQuestion, c.message}));
    EXPECT_TRUE(WaitState(service_, SERVICE_RUNNING));
  }
}

// The settings file cannot be read (a folder has its name; for a user outside the group
// "kelvadon", the file's mode): the main window's settings component fails as the window is made.
// Its message, the end, no main window and no exit question, and nothing taken over.
TEST_F(HandOver, AnUnreadableSettingsFileShowsItsErrorAndNeverShowsTheWindow) {
  InstallService(false);
  const std::string ini = IniFile();
  std::filesystem::create_directory(ini);
  const std::string error = "Cannot open file \"" + ini + "\". Is a directory";
  ExpectBox(error, IDOK);
  EXPECT_FALSE(CreateKelvadonMan(kit_->App));
  kit_->App.Run();
  EXPECT_EQ(Boxes(), std::vector<std::string>{error});
  EXPECT_TRUE(Ended());
  EXPECT_EQ(FrmWatch, nullptr);
  EXPECT_FALSE(TcpOpen(kCollectorPort));
}

// The service cannot be started at exit (it was removed meanwhile): the exit's error message, and
// the console ends.
TEST_F(HandOver, AServiceThatCannotBeStartedAtExitEndsWithTheExitsError) {
  InstallService(false);
  StartConsole();
  ASSERT_TRUE(DeleteService(service_));
  ExpectBox(kExitQuestion, IDYES);
  ExpectBox(kCloseQueryError, IDOK);
  FrmWatch->Close();
  EXPECT_TRUE(Ended());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{kExitQuestion, kCloseQueryError}));
  EXPECT_FALSE(TcpOpen(kCollectorPort));
}

// Cancel, or the box closed without a button, keeps the console collecting.
TEST_F(HandOver, CancelKeepsCollecting) {
  InstallService(false);
  StartConsole();
  ExpectBox(kExitQuestion, IDCANCEL);
  FrmWatch->BtnClose->Click();
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(FrmWatch->Visible());
  EXPECT_TRUE(Collects("2026/12/10 10:00:00\tCopy\tPC03\tafter cancel\t\t\t\t\t"));
  EXPECT_TRUE(DiscoveryAnswered());
  Exit(IDNO);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(ServiceState(), DWORD(SERVICE_STOPPED));
}

// Records that reached the console but were not read yet when it ends are stored.
TEST_F(HandOver, TheEndStoresWhatHadArrived) {
  InstallService(false);
  StartConsole();
  const int fd = testsupport::ConnectTcp(kCollectorPort);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(PumpUntil([&] { return FrmWatch->ClientList.size() == 1; }));
  // Nothing pumps from here on: the bytes wait in the connection until the end reads them.
  const std::string sent =
      "1\t2\t3\t4\t5\t6\t7\t8\tfirst\r\n1\t2\t3\t4\t5\t6\t7\t8\tlast without its line end";
  ASSERT_TRUE(testsupport::SendAll(fd, sent));
  ASSERT_TRUE(testsupport::WaitFor([&] {
    ULONG n = 0;
    Winsock::ioctlsocket(FrmWatch->ClientList[0]->HSocket(), WS_FIONREAD, &n);
    return n == sent.size();
  }));
  Exit(IDNO);
  EXPECT_NE(testsupport::ReadFile(Records()).find(sent + "\r\n"), std::string::npos)
      << testsupport::ReadFile(Records());
  EXPECT_EQ(testsupport::ReadUntilClose(fd, 5000), "");  // closed by the console
  close(fd);
}

// What the console's FTP server does for agents: an upload lands in the program folder and is an
// event; a wrong password is refused; the settings file cannot be fetched.
TEST_F(HandOver, TheFtpServerServesAgentsAsTheServiceDoes) {
  InstallService(false);
  folder_.Write("KelvadonMan.ini", "[KelvadonManager]\r\nPort=4016\r\n");
  testsupport::TempDir agent("kwagent");
  const std::string source = agent.Write("upload.txt", "uploaded bytes\n");
  StartConsole();
  const std::string url = "ftp://127.0.0.1:" + std::to_string(kFtpPort) + "/";
  EXPECT_EQ(Curl("-T " + source + " " + url + "agent.txt --user Brindlework:rtso7362"), 0);
  EXPECT_EQ(testsupport::ReadFile(folder_.File("agent.txt")), "uploaded bytes\n");
  const std::string events = testsupport::ReadFile(
      folder_.File(collector::kEventFolder + collector::DayFileName(rtl::Now())));
  EXPECT_NE(
      events.find(rtl::Utf8ToCp932("Kelvadon Manager Create Vellistrand ファイルを受信しました。") +
                  "\r\n> 127.0.0.1 agent.txt"),
      std::string::npos)
      << events;

  EXPECT_NE(Curl("-T " + source + " " + url + "wrong.txt --user Brindlework:wrong"), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_.File("wrong.txt")));
  EXPECT_NE(Curl("-o " + agent.File("ini") + " " + url +
                 "KelvadonMan.ini --user "
                 "Brindlework:rtso7362"),
            0);
  EXPECT_NE(testsupport::ReadFile(agent.File("ini")), "[KelvadonManager]\r\nPort=4016\r\n");
  EXPECT_TRUE(Boxes().empty());
  Exit(IDNO);
}

}  // namespace
