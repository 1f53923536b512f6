#include "net/socket/netlogger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/msg/msg.h"
#include "tests/support/files.h"

namespace {

using testsupport::ReadFile;

class NetLoggerTest : public ::testing::Test {
 protected:
  testsupport::TempDir tmp{"netlogger"};
  std::string path = tmp.File("log.txt");
};

TEST_F(NetLoggerTest, FileLineWithStamp) {
  TNetLogger logger;
  logger.SetLogOptions({loDestFile, loAddStamp});
  logger.SetLogFileName(path);
  logger.DoDebugLog(nullptr, loWsockInfo, "hello");
  logger.SetLogFileName(path + ".2");  // closes the first file
  EXPECT_TRUE(std::regex_match(ReadFile(path), std::regex(R"(\d\d:\d\d:\d\d:\d\d\d hello\r\n)")))
      << ReadFile(path);
}

TEST_F(NetLoggerTest, DestinationsInOrder) {
  TNetLogger logger;
  std::string seen;
  logger.SetOnNetLogEvent([&](rtl::TObject*, TLogOption o, const std::string& m) {
    seen += std::to_string(o) + ":" + m + ";";
  });
  std::string debug;
  SetDebugSink([&](const std::string& s) { debug += s; });
  logger.SetLogOptions({loDestEvent, loDestOutDebug});
  logger.DoDebugLog(nullptr, loProtSpecDump, "x");
  SetDebugSink(nullptr);
  EXPECT_EQ(seen, std::to_string(loProtSpecDump) + ":x;");
  EXPECT_EQ(debug, "x");
}

TEST_F(NetLoggerTest, EmptyFileNameRaises) {
  TNetLogger logger;
  logger.SetLogOptions({loDestFile});
  try {
    logger.DoDebugLog(nullptr, loWsockErr, "x");
    ADD_FAILURE();
  } catch (const ELoggerException& e) {
    EXPECT_EQ(e.Message, "File name empty");
    EXPECT_STREQ(e.ClassName(), "ELoggerException");
  }
}

TEST_F(NetLoggerTest, AppendAndOverwrite) {
  {
    std::ofstream f(path, std::ios::binary);
    f << "old\r\n";
  }
  {
    TNetLogger logger;
    logger.SetLogOptions({loDestFile});
    logger.SetLogFileName(path);
    logger.DoDebugLog(nullptr, loWsockErr, "a");
  }
  EXPECT_EQ(ReadFile(path), "old\r\na\r\n");
  {
    TNetLogger logger;
    logger.SetLogOptions({loDestFile});
    logger.SetLogFileOption(lfoOverwrite);
    logger.SetLogFileName(path);
    logger.DoDebugLog(nullptr, loWsockErr, "b");
    // The same name does not reopen (which would empty the file again).
    logger.SetLogFileName(path);
    logger.DoDebugLog(nullptr, loWsockErr, "c");
  }
  EXPECT_EQ(ReadFile(path), "b\r\nc\r\n");
}

// A log file that cannot be opened raises the system's text for the reason; the logger opens it
// again at the next file line, once the reason is gone.
TEST_F(NetLoggerTest, OpenFailureRaisesTheSystemText) {
  const struct {
    std::string name;
    std::string text;
  } cases[] = {
      {tmp.File("missing/log.txt"), "No such file or directory"},
      {tmp.path(), "Is a directory"},
  };
  for (const auto& c : cases) {
    TNetLogger logger;
    logger.SetLogOptions({loDestFile});
    logger.SetLogFileName(c.name);
    try {
      logger.DoDebugLog(nullptr, loWsockErr, "x");
      ADD_FAILURE() << c.name;
    } catch (const ELoggerException& e) {
      EXPECT_EQ(e.Message, c.text) << c.name;
    }
  }
  TNetLogger logger;
  logger.SetLogOptions({loDestFile});
  logger.SetLogFileName(tmp.File("later/log.txt"));
  EXPECT_THROW(logger.DoDebugLog(nullptr, loWsockErr, "lost"), ELoggerException);
  ASSERT_TRUE(std::filesystem::create_directory(tmp.File("later")));
  logger.DoDebugLog(nullptr, loWsockErr, "kept");
  EXPECT_EQ(ReadFile(tmp.File("later/log.txt")), "kept\r\n");
}

// Two loggers on one file in append mode: each line lands whole at the end, none overwrites
// another's.
TEST_F(NetLoggerTest, TwoLoggersAppendToOneFile) {
  TNetLogger a, b;
  for (TNetLogger* l : {&a, &b}) {
    l->SetLogOptions({loDestFile});
    l->SetLogFileName(path);
  }
  for (int i = 0; i < 3; ++i) {
    a.DoDebugLog(nullptr, loWsockInfo, "a" + std::to_string(i));
    b.DoDebugLog(nullptr, loWsockInfo, "b" + std::to_string(i));
  }
  EXPECT_EQ(ReadFile(path), "a0\r\nb0\r\na1\r\nb1\r\na2\r\nb2\r\n");
}

}  // namespace
