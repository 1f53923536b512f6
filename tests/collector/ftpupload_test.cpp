// Agents' uploads to the running collector with real FTP clients (curl, Python's ftplib) in
// passive and active mode: the files land in the program folder and each completed upload is
// written as a two-line information event in Shift-JIS; downloads and STOU write none; the
// collector's own files are out of reach.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "rtl/cp932.h"
#include "tests/collector/program_folder.h"
#include "tests/support/files.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::ReadFile;
using testsupport::WaitFor;

namespace fs = std::filesystem;

constexpr char kAccount[] = "Brindlework rtso7362";

// Runs a shell command, returns what it printed (stdout and stderr).
std::string Shell(const std::string& command) {
  FILE* p = popen(("(" + command + ") 2>&1").c_str(), "r");
  if (!p) return "popen failed";
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p))
    out += buf;
  pclose(p);
  return out;
}

std::string Agent(const std::string& mode, const std::string& actions,
                  const std::string& account = kAccount) {
  return Shell("timeout 60 /usr/bin/python3 " + std::string(COLLECTOR_TEST_DIR) +
               "/ftp_agent.py 9021 " + account + " " + mode + " " + actions);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Bytes that show a shifted or lost block.
std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// The received-file event text for an upload from 127.0.0.1 of name (as the event shows it).
std::string ReceivedEvent(const std::string& name) {
  return rtl::Utf8ToCp932("Kelvadon Manager Create Vellistrand ファイルを受信しました。") +
         "\r\n> 127.0.0.1 " + name;
}

// The texts of today's information events about received files.
std::vector<std::string> ReceivedEvents(const ProgramFolder& folder) {
  const std::string heading = rtl::Utf8ToCp932("システムインフォメーション");
  const std::string sentence = rtl::Utf8ToCp932("ファイルを受信しました。");
  std::vector<std::string> texts;
  for (const EventEntry& e : EventEntries(folder.Read(ProgramFolder::TodayEvents()))) {
    if (e.text.find(sentence) == std::string::npos) continue;
    EXPECT_EQ(e.stampAndHeading.substr(19), " " + heading) << e.stampAndHeading;
    texts.push_back(e.text);
  }
  return texts;
}

class CollectorUploads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.Start()) << folder.Read("stderr.log");
    local = folder.Dir().substr(0, folder.Dir().size() - 1) + "-agent/";
    fs::create_directories(local);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(local, ec);
  }

  ProgramFolder folder;
  std::string local;  // the agent's own files
};

TEST_F(CollectorUploads, UploadsLandInTheProgramFolderAndEachIsNoted) {
  const std::string big = Pattern(3 * 1024 * 1024 + 11, 5);
  const std::string small = "agent record file\r\n";
  WriteFile(local + "big.bin", big);
  WriteFile(local + "small.log", small);
  const std::string curl = "timeout 60 /usr/bin/curl -sS --max-time 30 -u Brindlework:rtso7362 ";

  // curl, passive (EPSV refused, PASV taken) and active (EPRT refused, PORT taken).
  EXPECT_EQ(Shell(curl + "-T " + local + "big.bin ftp://127.0.0.1:9021/curl-passive.bin"), "");
  EXPECT_EQ(
      Shell(curl + "-P 127.0.0.1 -T " + local + "small.log ftp://127.0.0.1:9021/curl-active.log"),
      "");
  // Python's ftplib in both modes, into a folder of the agent's own.
  EXPECT_EQ(Agent("passive", "cmd:MKD\\ inbox put:inbox/py-passive.bin=" + local + "big.bin"),
            "230 User Brindlework logged in.\n257 '/inbox': directory created.\n"
            "226 File received ok\n221 Goodbye.\n");
  EXPECT_EQ(Agent("active", "put:py-active.log=" + local + "small.log"),
            "230 User Brindlework logged in.\n226 File received ok\n221 Goodbye.\n");

  const std::string dir = folder.Dir();
  EXPECT_TRUE(ReadFile(dir + "curl-passive.bin") == big);
  EXPECT_EQ(ReadFile(dir + "curl-active.log"), small);
  EXPECT_TRUE(ReadFile(dir + "inbox/py-passive.bin") == big);
  EXPECT_EQ(ReadFile(dir + "py-active.log"), small);

  // One event per upload, in order: the fixed sentence, then "> ", the address and the name as
  // the upload command gave it, with "\" for "/".
  EXPECT_TRUE(WaitFor([&] { return ReceivedEvents(folder).size() >= 4; }));
  EXPECT_EQ(ReceivedEvents(folder),
            (std::vector<std::string>{
                ReceivedEvent("curl-passive.bin"), ReceivedEvent("curl-active.log"),
                ReceivedEvent("inbox\\py-passive.bin"), ReceivedEvent("py-active.log")}));
}

TEST_F(CollectorUploads, DownloadsAndStouWriteNoEvent) {
  WriteFile(local + "a.txt", "contents");
  EXPECT_EQ(Agent("passive", "put:a.txt=" + local + "a.txt get:a.txt=" + local +
                                 "back.txt stou:" + local + "a.txt"),
            "230 User Brindlework logged in.\n"
            "226 File received ok\n"
            "226 File sent ok\n"
            "250 '/FTPxxxx': file created.\n"
            "221 Goodbye.\n");
  EXPECT_EQ(ReadFile(local + "back.txt"), "contents");
  // A listing ends with "226 File sent ok" too.
  EXPECT_NE(Shell("timeout 30 /usr/bin/curl -sS --max-time 20 -u Brindlework:rtso7362 "
                  "ftp://127.0.0.1:9021/")
                .find("a.txt"),
            std::string::npos);
  EXPECT_EQ(Agent("active", "get:a.txt=" + local + "back2.txt"),
            "230 User Brindlework logged in.\n226 File sent ok\n221 Goodbye.\n");
  // Only the STOR was noted.
  EXPECT_TRUE(WaitFor([&] { return !ReceivedEvents(folder).empty(); }));
  EXPECT_EQ(ReceivedEvents(folder), std::vector<std::string>{ReceivedEvent("a.txt")});
  EXPECT_EQ(Agent("passive", "", "brindlework rtso7362"), "530 Login incorrect.\n");
}

// What an agent may not do to the collector's own files, and the reply it gets.
TEST_F(CollectorUploads, TheCollectorsOwnFilesAreOutOfReach) {
  const std::string dir = folder.Dir();
  const std::string today = ProgramFolder::TodayEvents();  // "Log/yyyymmdd.log"
  const std::string ini = ReadFile(dir + "KelvadonMan.ini");
  const std::string program = ReadFile(dir + "KelvadonService");
  const std::string helper = ReadFile(dir + "Rekindler");
  WriteFile(local + "evil", "#!/bin/sh\n");
  WriteFile(dir + "mine.txt", "an agent's file");
  struct Case {
    std::string action;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"put:KelvadonService=" + local + "evil", "501 Permission Denied"},
      {"put:Rekindler=" + local + "evil", "501 Permission Denied"},
      {"put:libwsock32.so=" + local + "evil", "501 Permission Denied"},
      {"put:kelvadonman.INI=" + local + "evil", "501 Permission Denied"},
      {"put:RecvData/x.log=" + local + "evil", "501 Permission Denied"},
      {"put:log/new.log=" + local + "evil", "501 Permission Denied"},
      {"cmd:APPE\\ " + today, "500 Cannot APPE."},
      {"cmd:DELE\\ KelvadonService", "550 Cannot delete."},
      {"cmd:DELE\\ KelvadonMan.ini", "550 Cannot delete."},
      {"cmd:DELE\\ " + today, "550 Cannot delete."},
      {"cmd:RNFR\\ KelvadonMan.ini", "500 Cannot RNFR."},
      {"cmd:RNFR\\ RecvData", "500 Cannot RNFR."},
      {"cmd:RNFR\\ mine.txt", "350 File exists, ready for destination name."},
      {"cmd:RNTO\\ Rekindler", "500 Cannot RNTO."},
      {"cmd:RNTO\\ Log/mine.txt", "500 Cannot RNTO."},
      {"cmd:RMD\\ Log", "500 Cannot remove directory."},
      {"cmd:MKD\\ RecvData/sub", "550 '/RecvData/sub': can't create directory."},
      {"cmd:MFMT\\ 20200101000000\\ KelvadonService", "501 Permission Denied"},
      {"get:KelvadonMan.ini=" + local + "ini", "500 Cannot RETR."},
      {"get:" + today + "=" + local + "log", "500 Cannot RETR."},
      {"cmd:MD5\\ KelvadonMan.ini", "500 Cannot RETR."},
      {"get:../../etc/passwd=" + local + "passwd",
       "501 Cannot RETR. Cannot accept relative path using dot notation"},
      {"put:inbox/../../x=" + local + "evil",
       "501 Cannot STOR. Cannot accept relative path using dot notation"},
      // The agent's own files stay the agent's.
      {"cmd:RNTO\\ renamed.txt", "250 File '/mine.txt' renamed to '/renamed.txt'."},
      {"cmd:DELE\\ renamed.txt", "250 File '/renamed.txt' deleted."},
  };
  std::string actions;
  std::string expected = "230 User Brindlework logged in.\n";
  for (const Case& k : cases) {
    actions += " " + k.action;
    expected += k.reply + "\n";
  }
  expected += "221 Goodbye.\n";
  EXPECT_EQ(Agent("passive", actions), expected);
  EXPECT_EQ(ReadFile(dir + "KelvadonMan.ini"), ini);
  EXPECT_TRUE(ReadFile(dir + "KelvadonService") == program);
  EXPECT_TRUE(ReadFile(dir + "Rekindler") == helper);  // the rename onto it was refused
  EXPECT_FALSE(fs::exists(dir + "RecvData/x.log"));
  EXPECT_TRUE(fs::is_directory(dir + "Log"));
  EXPECT_TRUE(ReceivedEvents(folder).empty());
}

}  // namespace
}  // namespace collectortest
