// The collection engine on its own, in this process, without the service framework: a fake host
// records what the engine reports, and real peers on loopback send records, ask the discovery
// question and upload a file with curl.
#include "collector/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "collector/dayfiles.h"
#include "net/socket/socklib.h"
#include "rtl/cp932.h"
#include "tests/collector/program_folder.h"
#include "tests/support/clock.h"
#include "tests/support/files.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::PumpUntil;

// Records what the engine hands to its host.
class FakeHost : public TCollectorHost {
 public:
  void HandlerFailed(const char* Word, const char* ClassName, const std::string& Message) override {
    failures.push_back(std::string(Word) + " / " + ClassName + " / " + Message);
  }
  void EventWritten(int Code, const std::string& Text, rtl::TDateTime) override {
    events.push_back(std::to_string(Code) + " " + Text);
  }
  void RecordArrived(std::string& Line, rtl::TDateTime) override {
    arrived.push_back(Line);
    if (Line == "refused") throw rtl::Exception("live view failed");
    if (Line == "short") Line = "short\tform";  // the console's stored form
  }
  void ChkRecvString(const std::string& Line) override { checked.push_back(Line); }
  std::vector<std::string> failures, events, arrived, checked;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.File("RecvData"));
    std::filesystem::create_directory(dir_.File("Log"));
    engine_.ProgramDir = dir_.path() + "/";
    engine_.CollectorPort = std::to_string(testsupport::FreePort());
    engine_.OpenNetSocket();
    engine_.OpenNetBroadCast();
    engine_.KelvadonFtp->Port = "0";
    engine_.KelvadonFtp->Start();
  }
  void TearDown() override { engine_.Stop(); }

  int Port() const { return std::stoi(engine_.CollectorPort); }
  std::vector<std::string> Records() const {
    return RecordLines(testsupport::ReadFile(engine_.ProgramDir + collector::kRecordFolder +
                                             collector::DayFileName(rtl::Now())));
  }

  // The engine's day stays the day the test reads, whenever the test runs.
  const testsupport::ScopedClock clock_{
      rtl::EpochOfLocal(rtl::TSystemTime{2026, 12, 10, 10, 0, 0, 0, 0}) / 1000000};
  testsupport::TempDir dir_{"kwengine"};
  FakeHost host_;
  TCollectorEngine engine_{nullptr, host_};
};

TEST_F(EngineTest, RecordsAreStoredAndReleasedConnectionsLeaveTheList) {
  const int fd = testsupport::ConnectTcp(Port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testsupport::SendAll(fd, "a\tb\r\nsecond\r\n\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return Records().size() == 3; }));
  EXPECT_EQ(Records(), (std::vector<std::string>{"a\tb", "second", ""}));
  EXPECT_EQ(engine_.ClientList.size(), 1u);
  EXPECT_NE(engine_.LastClient, nullptr);
  close(fd);
  ASSERT_TRUE(PumpUntil([&] { return engine_.ClientList.empty(); }));
  EXPECT_EQ(engine_.LastClient, nullptr);
  EXPECT_TRUE(host_.failures.empty());
}

// What agents sent before a stop is stored even when the engine had not read it yet: the
// complete lines, and a last one without its line end.
TEST_F(EngineTest, AStopStoresWhatHadArrived) {
  const int first = testsupport::ConnectTcp(Port());
  const int second = testsupport::ConnectTcp(Port());
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ASSERT_TRUE(PumpUntil([&] { return engine_.ClientList.size() == 2; }));
  // Nothing pumps from here on: the bytes wait in the connections until the stop reads them.
  const std::string x(20000, 'x');  // a long record
  const std::string sent[] = {"one\r\ntwo\r\n" + x + "\r\nunterminated", "three\r\n"};
  ASSERT_TRUE(testsupport::SendAll(first, sent[0]));
  ASSERT_TRUE(testsupport::SendAll(second, sent[1]));
  // Loopback hands the bytes over in pieces: the stop comes once all of them wait on the
  // collector's side (what has not arrived by then is not the stop's to store).
  const auto arrived = [&] {
    int total = 0;
    for (TAsyncSocket* client : engine_.ClientList) {
      ULONG n = 0;
      Winsock::ioctlsocket(client->HSocket(), WS_FIONREAD, &n);
      total += static_cast<int>(n);
    }
    return total;
  };
  ASSERT_TRUE(
      testsupport::WaitFor([&] { return arrived() == int(sent[0].size() + sent[1].size()); }));
  engine_.Stop();
  std::vector<std::string> records = Records();
  std::sort(records.begin(), records.end());
  const std::vector<std::string> expected = {"one", "three", "two", "unterminated", x};
  EXPECT_TRUE(records == expected) << records.size() << " records";
  EXPECT_TRUE(engine_.ClientList.empty());
  EXPECT_EQ(testsupport::ReadUntilClose(first, 5000), "");  // closed by the collector
  close(first);
  close(second);
  EXPECT_TRUE(host_.failures.empty()) << testing::PrintToString(host_.failures);
}

// Each record reaches the host's live view as it arrives; a live view that fails is reported and
// the record is stored all the same.
TEST_F(EngineTest, EachRecordReachesTheLiveViewAndIsStoredWhateverItDoes) {
  const int fd = testsupport::ConnectTcp(Port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testsupport::SendAll(fd, "one\r\nrefused\r\nthree\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return Records().size() == 3; }));
  close(fd);
  EXPECT_EQ(host_.arrived, (std::vector<std::string>{"one", "refused", "three"}));
  EXPECT_EQ(Records(), (std::vector<std::string>{"one", "refused", "three"}));
  EXPECT_EQ(host_.failures,
            std::vector<std::string>{"RecordArrived / Exception / live view failed"});
}

// The form the host gives a record is the one the rules see and the file gets.
TEST_F(EngineTest, TheHostsFormOfARecordIsCheckedAndStored) {
  engine_.EventWrite(collector::kCodeRecord, "short");
  engine_.EventWrite(collector::kCodeRecord, "kept");
  EXPECT_EQ(host_.checked, (std::vector<std::string>{"short\tform", "kept"}));
  EXPECT_EQ(Records(), (std::vector<std::string>{"short\tform", "kept"}));
}

TEST_F(EngineTest, DiscoveryIsAnswered) {
  std::vector<testsupport::Reply> replies;
  std::atomic<bool> asked{false};
  std::thread asker([&] {
    replies = testsupport::AskUdp(Port(), "Are You Kelvadon Manager?", testsupport::kWaitLimitMs);
    asked = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return asked.load(); }));
  asker.join();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, "Yes I am Kelvadon Manager.");
  EXPECT_EQ(replies[0].fromPort, Port());
}

TEST_F(EngineTest, AnUploadLandsInTheProgramFolderAndIsAnEvent) {
  testsupport::TempDir agentDir("kwagent");
  const std::string source = agentDir.Write("upload.txt", "uploaded bytes\n");
  const std::string port = engine_.KelvadonFtp->BoundPort();
  std::atomic<int> done{-1};
  std::thread agent([&] {
    done = std::system(("curl -s --max-time 60 -T " + source + " ftp://127.0.0.1:" + port +
                        "/agent.txt --user Brindlework:rtso7362")
                           .c_str());
  });
  ASSERT_TRUE(PumpUntil([&] { return done >= 0; }, 90000));
  agent.join();
  EXPECT_EQ(done, 0);
  EXPECT_EQ(testsupport::ReadFile(dir_.File("agent.txt")), "uploaded bytes\n");
  const std::string event =
      rtl::Utf8ToCp932("Kelvadon Manager Create Vellistrand ファイルを受信しました。") +
      "\r\n> 127.0.0.1 agent.txt";
  EXPECT_EQ(host_.events, std::vector<std::string>{"98 " + event});
  EXPECT_TRUE(host_.failures.empty());
}

// What fails inside a handler reaches the host with the handler's name, never the message loop.
TEST_F(EngineTest, FailuresGoToTheHost) {
  const int fd = testsupport::ConnectTcp(Port());
  ASSERT_TRUE(testsupport::SendAll(fd, std::string(70000, 'x') + "\r\nafter\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return Records().size() == 1; }));
  std::filesystem::remove_all(dir_.File("RecvData"));
  ASSERT_TRUE(testsupport::SendAll(fd, "lost\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return host_.failures.size() == 2; }));
  close(fd);
  EXPECT_EQ(host_.failures,
            (std::vector<std::string>{
                "ClientDataAvailable / ESocketException / line over 65536 bytes dropped",
                "EventWrite / EInOutError / Path not found"}));
  // An error event that cannot be written is not reported again.
  std::filesystem::remove_all(dir_.File("Log"));
  engine_.EventWrite(collector::kCodeError, "nowhere to go");
  EXPECT_EQ(host_.failures.size(), 2u);
  EXPECT_EQ(host_.events, std::vector<std::string>{"99 nowhere to go"});
}

}  // namespace
}  // namespace collectortest
