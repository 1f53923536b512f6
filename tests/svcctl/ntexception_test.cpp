// Error codes as texts and as exceptions.
#include "svcctl/ntexception.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(NTErrorText, SystemTextsAndTheNetworkTable) {
  const struct {
    DWORD code;
    std::string text;
  } rows[] = {
      {5, "5: Access is denied.\r\n"},
      {1060, "1060: The specified service does not exist as an installed service.\r\n"},
      {2099, "2099: "},  // no text of the system's and not in the table
      {2100, "2100: "},
      {2101, "2101: "},
      {2102, "2102:  The workstation driver is not installed."},
      {2105, "2105:  A network resource shortage occurred ."},
      {2104,
       "2104:  An internal error occurred.  The network cannot access a shared memory "
       "segment."},
      {2137, "2137: Unknown error"},
      {2182, "2182:  The requested service has already been started."},
      {2208, "2208: "},  // a gap of the table
      {2377, "2377:  Log file %1 is full."},
      {2500, "2500:  The program below returned an MS-DOS error code:"},
      {2610,
       "2610: Service failed to start since none of the network adapters started with this "
       "service."},
      {2690, "2690: Dfs internal error"},
      {2691, "2691: "},
      {1722, "1722: The RPC server is unavailable.\r\n"},
      {123456, "123456: "},
  };
  for (const auto& r : rows)
    EXPECT_EQ(NTErrorMessage(r.code), r.text) << r.code;
  EXPECT_EQ(SysErrorText(2182), "2182: ");  // the table is NTErrorMessage's only
}

// Every row has its range's form: 2102-2550 (but 2137) a leading blank and, but for 2500-2502,
// a closing full stop; 2610-2641 a full stop only; 2660-2690 neither.
TEST(NTErrorText, EveryRowHasItsRangesForm) {
  int rows = 0;
  for (DWORD code = 2100; code <= 2700; ++code) {
    const char* text = NetManagementText(code);
    if (!text) continue;
    ++rows;
    const std::string t = text;
    ASSERT_FALSE(t.empty()) << code;
    const bool blank = t.front() == ' ', stop = t.back() == '.';
    if (code == 2137) {
      EXPECT_EQ(t, "Unknown error");
    } else if (code <= 2550) {
      EXPECT_TRUE(blank) << code;
      EXPECT_EQ(stop, code < 2500 || code > 2502) << code;
    } else if (code <= 2641) {
      EXPECT_TRUE(!blank && stop) << code;
    } else {
      EXPECT_TRUE(!blank && !stop) << code;
    }
  }
  EXPECT_EQ(rows, 285);
}

TEST(NTRaise, TheThreeWays) {
  SetLastError(0);
  EXPECT_NO_THROW(RaiseLastNTError());
  EXPECT_NO_THROW(RaiseNTErrorCode(0));
  try {
    SetLastError(1060);
    RaiseLastNTError();
    FAIL();
  } catch (const ENTException& e) {
    EXPECT_EQ(e.ErrorCode, 1060);
    EXPECT_EQ(e.Message, "1060: The specified service does not exist as an installed service.\r\n");
    EXPECT_STREQ(e.ClassName(), "ENTException");
  }
  try {
    RaiseNTErrorCode(2182);
    FAIL();
  } catch (const ENTException& e) {
    EXPECT_EQ(e.ErrorCode, 2182);
    EXPECT_EQ(e.Message, "2182:  The requested service has already been started.");
  }
  try {
    RaiseNTException("own", -1);
    FAIL();
  } catch (const ENTException& e) {
    EXPECT_EQ(e.ErrorCode, -1);
    EXPECT_EQ(e.Message, "own");
  }
  // The last error is the thread's own: another thread's failure raises nothing here.
  SetLastError(0);
  std::thread([] { SetLastError(5); }).join();
  EXPECT_NO_THROW(RaiseLastNTError());
}

}  // namespace
