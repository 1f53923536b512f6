#include "net/socket/netlogger.h"

#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
