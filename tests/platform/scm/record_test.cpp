// Service records: the file text, and the folder that holds one file per service.
#include "platform/scm/record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/files.h"

namespace scm {
namespace {

ServiceRecord Hostile() {
  ServiceRecord r;
  r.config.name = "Odd%Name";
  r.config.displayName = "line1\nline2\r=%41\x7F\x83\x5C";
  r.config.binaryPathName = "/opt/x y/prog -a \"b c\"";
  r.config.dependencies = {"dep=1", "%"};
  r.config.serviceStartName = "LocalSystem";
  r.password = "pa%ss=word\n";
  static const char kDescription[] = "utf-8 \xE3\x81\x82 and a NUL \0 inside";
  r.description = std::string(kDescription, sizeof kDescription - 1);
  r.failure.resetPeriod = 3600;
  r.failure.rebootMessage = "\n";
  r.failure.command = "/bin/true";
  r.failure.actions = {{kActionRestart, 250}, {kActionNone, 0}};
  r.security = std::string("\x01\x00\x04\x80\x00\xFF", 6);
  return r;
}

TEST(RecordText, HostileValuesReadBackAndNeverBreakALine) {
  const ServiceRecord r = Hostile();
  const std::string text = EncodeRecord(r);
  ServiceRecord back;
  ASSERT_TRUE(DecodeRecord(text, back));
  EXPECT_EQ(back, r);
  // Every value stays on its own line: as many lines as keys written.
  size_t lines = 0;
  for (char c : text)
    lines += c == '\n';
  // The heading, the fixed keys, the dependencies, the password, the description, the actions.
  EXPECT_EQ(lines, 1u + 13 + 2 + 1 + 1 + 2);
}

TEST(RecordText, ABrokenFileIsNoRecord) {
  const std::string good = EncodeRecord(Hostile());
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"other heading", "kelvadon-scm-service 2\n" + good.substr(good.find('\n') + 1)},
      {"cut-off last line", good.substr(0, good.size() - 1)},
      {"bad number", good + "start=12a\n"},
      {"number too large", good + "type=4294967296\n"},
      {"bad escape", good + "display=%4\n"},
      {"no path", "kelvadon-scm-service 1\nname=x\n"},
      {"no name", "kelvadon-scm-service 1\npath=/bin/true\n"},
      {"line without =", good + "garbage\n"},
      {"odd hex", good + "security=ABC\n"},
  };
  for (const auto& c : cases) {
    ServiceRecord r;
    EXPECT_FALSE(DecodeRecord(c.text, r)) << c.what;
  }
  ServiceRecord r;
  EXPECT_TRUE(DecodeRecord(good + "unknown=kept out\n", r));
}

// Records written before descriptors were enforced kept opaque bytes under "security": they are
// read for their form and dropped, and the descriptor is what the record holds under
// "descriptor". Such records have no password and no dependency lines either.
TEST(RecordText, OpaqueBytesOfAnOlderRecordAreDropped) {
  const std::string old =
      "kelvadon-scm-service 1\nname=Old\npath=/bin/true\nsecurity=0100048000FF\n";
  ServiceRecord r;
  ASSERT_TRUE(DecodeRecord(old, r));
  EXPECT_EQ(r.config.name, "Old");
  EXPECT_TRUE(r.security.empty());
  EXPECT_TRUE(r.password.empty());
  EXPECT_TRUE(r.config.dependencies.empty());
  EXPECT_EQ(EncodeRecord(r).find("\npassword="), std::string::npos);
  ASSERT_TRUE(DecodeRecord(old + "descriptor=01000080\n", r));
  EXPECT_EQ(r.security, std::string("\x01\x00\x00\x80", 4));
  EXPECT_NE(EncodeRecord(r).find("\ndescriptor=01000080\n"), std::string::npos);
  EXPECT_EQ(EncodeRecord(r).find("\nsecurity="), std::string::npos);
}

class StoreTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir_{"kwscm", 0755};
  ServiceStore store_{dir_.path()};
};

TEST_F(StoreTest, SavedRecordsLoadBackAndReplaceTheirOldFile) {
  ServiceRecord a = Hostile();
  ServiceRecord b;
  b.config.name = "second";
  b.config.binaryPathName = "/bin/true";
  ASSERT_TRUE(store_.Save(a));
  ASSERT_TRUE(store_.Save(b));
  a.config.displayName = "changed";
  ASSERT_TRUE(store_.Save(a));

  std::vector<std::string> bad;
  auto all = store_.LoadAll(&bad);
  EXPECT_TRUE(bad.empty());
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].config.name == "second" ? all[1] : all[0], a);
  // Nothing but the two records is left in the folder; they are private to scmd.
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_.File("services"))) {
    ++files;
    struct stat st;
    ASSERT_EQ(stat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(files, 2u);

  EXPECT_TRUE(store_.Remove("ODD%NAME"));  // names in any letter case
  EXPECT_TRUE(store_.Remove("never there"));
  EXPECT_EQ(store_.LoadAll(nullptr).size(), 1u);
}

// A record holds its account's password: the folder is made 0700 again when it was opened, and a
// file left under the temporary name (here a hard link to a file of someone else's) is replaced,
// never written through, whatever the umask.
TEST_F(StoreTest, RecordsStayPrivateWhateverWasLeftInTheFolder) {
  ServiceRecord r = Hostile();
  const std::string folder = dir_.File("services");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string other = dir_.File("other");
  std::ofstream(other) << "someone else's";
  chmod(other.c_str(), 0644);
  ASSERT_EQ(link(other.c_str(), (store_.FileOf(r.config.name) + ".tmp").c_str()), 0);

  const mode_t umaskBefore = umask(0277);
  const bool saved = store_.Save(r);
  umask(umaskBefore);
  ASSERT_TRUE(saved);
  EXPECT_EQ(testsupport::ReadFile(other), "someone else's");
  struct stat st;
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(stat(store_.FileOf(r.config.name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(store_.LoadAll(nullptr), std::vector<ServiceRecord>{r});
}

TEST_F(StoreTest, FileNamesStayInsideTheFolderWhateverTheName) {
  for (const char* name : {"../../etc/passwd", "a/b", ".", "..", "x\ny", "\x83\x5C"}) {
    const std::string file = store_.FileOf(name);
    EXPECT_EQ(file.rfind(dir_.File("services") + "/", 0), 0u) << name;
    EXPECT_EQ(file.find('/', dir_.File("services/").size()), std::string::npos) << name;
  }
  EXPECT_EQ(store_.FileOf("Kelvadon"), store_.FileOf("KELVADON"));
}

TEST_F(StoreTest, CorruptFilesAreReportedAndSkippedAndLeftoverTempsRemoved) {
  ServiceRecord good;
  good.config.name = "good";
  good.config.binaryPathName = "/bin/true";
  ASSERT_TRUE(store_.Save(good));
  std::ofstream(dir_.File("services/BROKEN.service")) << "not a record";
  // A record whose name does not match its file is not trusted either.
  ServiceRecord moved = good;
  moved.config.name = "other";
  std::ofstream(dir_.File("services/MOVED.service")) << EncodeRecord(moved);
  std::ofstream(dir_.File("services/GOOD.service.tmp")) << "half";

  std::vector<std::string> bad;
  auto all = store_.LoadAll(&bad);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], good);
  EXPECT_EQ(bad.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("services/GOOD.service.tmp")));
}

}  // namespace
}  // namespace scm
