#include "rtl/exception.h"

#include <gtest/gtest.h>

#include <functional>

namespace rtl {
namespace {

RTL_DECLARE_EXCEPTION(ESampleError, EConvertError);

TEST(Exception, SubclassesReportTheirClassNames) {
  struct Case {
    std::function<void()> raise;
    const char* name;
  } cases[] = {
      {[] { throw Exception("m"); }, "Exception"},
      {[] { throw EInOutError("m", 2); }, "EInOutError"},
      {[] { throw EOSError("m", 5); }, "EOSError"},
      {[] { throw EConvertError("m"); }, "EConvertError"},
      {[] { throw EListError("m"); }, "EListError"},
      {[] { throw EStringListError("m"); }, "EStringListError"},
      {[] { throw ESampleError("m"); }, "ESampleError"},
  };
  for (const auto& c : cases) {
    try {
      c.raise();
      ADD_FAILURE() << "nothing thrown for " << c.name;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.name);
      EXPECT_EQ(e.Message, "m");
      EXPECT_STREQ(e.what(), "m");
    }
  }
  try {
    throw EInOutError("disk full", 28);
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 28);
  }
  EXPECT_THROW(throw ESampleError("derived"), EConvertError);
}

}  // namespace
}  // namespace rtl
