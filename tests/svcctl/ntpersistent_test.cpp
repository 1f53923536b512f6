// The base component: when it connects to a remote machine's IPC$ share, the may-act test, and the
// list synchronisation. The connections are read back from the network layer's table.
#include "svcctl/ntpersistent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win/win.h"

namespace {

// The table entry for share, removed whatever it holds; true when there was one.
bool Forget(const std::string& share) {
  return WNetCancelConnection2A(share.c_str(), 0, FALSE) == 0;
}

void Record(const std::string& share, const char* user, const char* password) {
  NETRESOURCEA resource{};
  std::string name = share;
  resource.lpRemoteName = name.data();
  ASSERT_EQ(WNetAddConnection2A(&resource, password, user, 0), 0u);
}

// True when the share is recorded with exactly these credentials.
bool RecordedWith(const std::string& share, const char* user, const char* password) {
  NETRESOURCEA resource{};
  std::string name = share;
  resource.lpRemoteName = name.data();
  // Other credentials conflict only when an entry exists; the same ones never do.
  if (WNetAddConnection2A(&resource, "?", "nobody-else", 0) != ERROR_SESSION_CREDENTIAL_CONFLICT) {
    WNetCancelConnection2A(name.c_str(), 0, FALSE);
    return false;
  }
  return WNetAddConnection2A(&resource, password, user, 0) == 0;
}

TEST(NTPersistent, ConnectsOnlyToARemoteMachineWithCredentials) {
  const std::string local = GetLocalComputerName();
  ASSERT_FALSE(local.empty());
  const struct {
    std::string machine, user, password;
    bool connects;
  } cases[] = {
      {"", "admin", "pw", false},
      {local, "admin", "pw", false},
      {" " + local + " ", "admin", "pw", false},
      {"FARHOST", "", "", false},
      {"FARHOST", "  ", " ", false},
      {"FARHOST", "admin", "", true},
      {"FARHOST", "", "pw", true},
  };
  for (const auto& c : cases) {
    TNTPersistent component;
    component.LogonAs().UserName = c.user;
    component.LogonAs().Password = c.password;
    component.SetMachineName(c.machine);
    EXPECT_EQ(RecordedWith(c.machine + "\\IPC$", c.user.c_str(), c.password.c_str()), c.connects)
        << "'" << c.machine << "' '" << c.user << "'";
    Forget(c.machine + "\\IPC$");
  }
}

// A connection made with other credentials is cancelled and made again with ours; a change of
// machine cancels the old machine's connection.
TEST(NTPersistent, ReplacesOtherCredentialsAndLeavesTheOldMachine) {
  Record("HOSTA\\IPC$", "someone", "else");
  TNTPersistent component;
  component.LogonAs().UserName = "admin";
  component.LogonAs().Password = "pw";
  component.SetMachineName("HOSTA");
  EXPECT_TRUE(RecordedWith("HOSTA\\IPC$", "admin", "pw"));

  component.SetMachineName("HOSTB");
  EXPECT_FALSE(Forget("HOSTA\\IPC$"));
  EXPECT_TRUE(Forget("HOSTB\\IPC$"));
}

TEST(NTPersistent, LoadingDefersTheConnectionAndTheRightToAct) {
  TNTPersistent component;
  component.LogonAs().UserName = "admin";
  component.BeginLoading();
  EXPECT_FALSE(component.MayAct());
  component.SetMachineName("HOSTC");
  EXPECT_FALSE(Forget("HOSTC\\IPC$"));
  component.EndLoading();
  EXPECT_TRUE(component.MayAct());
  EXPECT_TRUE(Forget("HOSTC\\IPC$"));

  component.SetDesigning(true);
  EXPECT_FALSE(component.MayAct());
}

std::vector<std::string> Strings(const rtl::TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i)
    out.push_back(list[i]);
  return out;
}

// The target runs parallel to the source (here: the same names with a prefix); entries gone from
// the new list leave it at their own places, new ones come at its end.
TEST(NTPersistent, SynchronizeListDeletesInPlaceAndAppendsNewEntries) {
  rtl::TStringList source, fresh, target;
  for (const char* s : {"a", "b", "c", "d"}) {
    source.Add(s);
    target.Add(std::string("t-") + s);
  }
  for (const char* s : {"d", "x", "b", "y"})
    fresh.Add(s);
  TNTPersistent component;
  component.SynchronizeList(source, fresh, target);
  EXPECT_EQ(Strings(target), (std::vector<std::string>{"t-b", "t-d", "x", "y"}));
}

}  // namespace
