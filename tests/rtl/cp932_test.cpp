#include "rtl/cp932.h"

#include <gtest/gtest.h>

namespace rtl {
namespace {

TEST(Cp932, LeadBytes) {
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0x9F));
  EXPECT_TRUE(IsLeadByte(0xE0));
  EXPECT_TRUE(IsLeadByte(0xFC));
  EXPECT_FALSE(IsLeadByte(0x80));
  EXPECT_FALSE(IsLeadByte(0xA0));
  EXPECT_FALSE(IsLeadByte(0xDF));
  EXPECT_FALSE(IsLeadByte(0xFD));
  EXPECT_FALSE(IsLeadByte('a'));
}

}  // namespace
}  // namespace rtl
