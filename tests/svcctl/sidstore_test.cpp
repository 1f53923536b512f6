// The SID store: its two orders and its lookups.
#include "svcctl/sidstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

TEST(SidStore, EmptyStoreFindsNothingAndClearsTheTexts) {
  TSidStore store;
  const Bytes sid{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  std::string domain = "old", name = "old";
  EXPECT_FALSE(store.FindName(sid.data(), sid.size(), domain, name));
  EXPECT_EQ(domain, "");
  EXPECT_EQ(name, "");
  EXPECT_EQ(store.FindSid("SYSTEM", ""), nullptr);
}

// Every stored SID is found again, whatever order they came in: the search only works when the
// order puts length first and reads bytes as unsigned (0x80 and above after 0x7F).
TEST(SidStore, FindsEverySidByLengthThenUnsignedBytes) {
  const std::vector<Bytes> sids = {
      {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0},
      {1, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0},
      {1, 1, 0, 0, 0, 0, 0, 5, 0x80, 0, 0, 0},
      {1, 1, 0, 0, 0, 0, 0, 5, 0x7F, 0, 0, 0},
      {1, 0, 0, 0, 0, 0, 0, 1},
      {1, 1, 0, 0, 0, 0, 0, 5, 0x81, 0, 0, 0},
      {1, 2, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  TSidStore store;
  for (size_t i = 0; i < sids.size(); ++i)
    store.Add(sids[i].data(), sids[i].size(), "D", "n" + std::to_string(i));
  for (size_t i = 0; i < sids.size(); ++i) {
    std::string domain, name;
    EXPECT_TRUE(store.FindName(sids[i].data(), sids[i].size(), domain, name)) << i;
    EXPECT_EQ(name, "n" + std::to_string(i));
  }

  TSidHolder shortHigh, longLow, high, low;
  shortHigh.Assign(sids[1].data(), 12, "", "");
  longLow.Assign(sids[6].data(), 16, "", "");
  high.Assign(sids[2].data(), 12, "", "");
  low.Assign(sids[3].data(), 12, "", "");
  EXPECT_LT(TSidStore::CompareSid(&shortHigh, &longLow), 0);
  EXPECT_GT(TSidStore::CompareSid(&high, &low), 0);
}

// Names are found with ASCII letters in any case; the trail byte of a double-byte character is
// never folded, so "ア" (83 41) and "ャ" (83 61) stay two names.
TEST(SidStore, NamesMatchInAnyAsciiCaseButNeverFoldATrailByte) {
  TSidStore store;
  const Bytes user{1, 1, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0};
  const Bytes kana{1, 1, 0, 0, 0, 0, 0, 5, 2, 0, 0, 0};
  store.Add(user.data(), user.size(), "machine", "daemon");
  store.Add(kana.data(), kana.size(), "machine", "x\x83\x61");

  const BYTE* found = store.FindSid("DAEMON", "MACHINE");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Bytes(found, found + user.size()), user);
  EXPECT_EQ(store.FindSid("daemon", ""), nullptr);  // the domain is part of the key

  found = store.FindSid("X\x83\x61", "Machine");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Bytes(found, found + kana.size()), kana);
  EXPECT_EQ(store.FindSid("x\x83\x41", "machine"), nullptr);

  std::string domain, name;
  EXPECT_TRUE(store.FindName(user.data(), user.size(), domain, name));
  EXPECT_EQ(domain + "\\" + name, "machine\\daemon");  // stored as given
}

// An equal entry goes before the one stored first: both lookups then give the newer answer.
TEST(SidStore, EqualEntryIsInsertedBeforeTheOlder) {
  TSidStore store;
  const Bytes a{1, 1, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0};
  const Bytes b{1, 1, 0, 0, 0, 0, 0, 5, 2, 0, 0, 0};
  store.Add(a.data(), a.size(), "D", "first");
  store.Add(a.data(), a.size(), "D", "second");
  store.Add(a.data(), a.size(), "D", "name");
  store.Add(b.data(), b.size(), "d", "NAME");

  std::string domain, name;
  EXPECT_TRUE(store.FindName(a.data(), a.size(), domain, name));
  EXPECT_EQ(name, "name");
  const BYTE* found = store.FindSid("Name", "D");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Bytes(found, found + b.size()), b);
}

}  // namespace
