// The confined tree: names from clients never lead outside the session's home folder.
#include "net/ftp/ftppath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
#include "tests/net/ftp/ftp_fixture.h"

namespace fs = std::filesystem;

namespace {

using ftptest::RawClient;
using ftptest::ServerFixture;
using testsupport::TempDir;

// "表" in CP932: its trail byte is 0x5C, the code of "\".
const std::string kHyou = "\x95\x5c";

using Names = std::vector<std::string>;

TEST(FtpPath, SplitsAtBothSeparatorsButNotAtTrailBytes) {
  struct Case {
    std::string text;
    Names names;
  } cases[] = {
      {"", {}},
      {"/", {}},
      {"a/b\\c", {"a", "b", "c"}},
      {"//a//", {"a"}},
      {kHyou, {kHyou}},
      {kHyou + "\\x", {kHyou, "x"}},
      {"a" + kHyou + "b", {"a" + kHyou + "b"}},
      // A lead byte before a separator: the separator still separates (it cannot be a trail).
      {"\x81/..", {"\x81", ".."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SplitFtpPath(c.text), c.names);
  }
}

TEST(FtpPath, CombinesInsideTheRootOnly) {
  struct Case {
    const char* current;
    std::string arg;
    TFtpDotDot rule;
    Names names;        // when no error
    const char* error;  // else the message
  } cases[] = {
      {"/", "..", TFtpDotDot::StopAtRoot, {}, nullptr},
      {"/a/b/", "../../../..", TFtpDotDot::StopAtRoot, {}, nullptr},
      {"/a/b/", "..\\c", TFtpDotDot::StopAtRoot, {"a", "c"}, nullptr},
      {"/a/", "./x/./y", TFtpDotDot::StopAtRoot, {"a", "x", "y"}, nullptr},
      {"/a/", "\\x", TFtpDotDot::StopAtRoot, {"x"}, nullptr},
      {"/a/", "", TFtpDotDot::StopAtRoot, {"a"}, nullptr},
      {"/a/", "../x", TFtpDotDot::Refuse, {"x"}, nullptr},
      {"/a/", "../../x", TFtpDotDot::Refuse, {}, kFtpPathAboveRoot},
      {"/", "..", TFtpDotDot::Refuse, {}, kFtpPathAboveRoot},
      {"/", "C:", TFtpDotDot::StopAtRoot, {}, kFtpPathBadSyntax},
      {"/", "D:\\", TFtpDotDot::StopAtRoot, {}, kFtpPathBadSyntax},
      {"/", "file:stream", TFtpDotDot::Refuse, {}, kFtpPathBadSyntax},
      {"/", std::string("a\0b", 3), TFtpDotDot::Refuse, {}, kFtpPathBadSyntax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.current) + " + " + c.arg);
    if (c.error) {
      try {
        CombineFtpPath(c.current, c.arg, c.rule);
        ADD_FAILURE() << "accepted";
      } catch (const EFtpPathError& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
    } else {
      EXPECT_EQ(CombineFtpPath(c.current, c.arg, c.rule), c.names);
    }
  }
  EXPECT_EQ(FtpPathText({}, true), "/");
  EXPECT_EQ(FtpPathText({"a", "b"}, true), "/a/b/");
  EXPECT_EQ(FtpPathText({"a", "b"}, false), "/a/b");
}

// A home folder with the kinds of entries a client could try to use to get out, and a folder
// outside it holding a secret.
class FtpConfinedTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path h = home.path();
    fs::create_directories(h / "sub");
    fs::create_directories(h / "Docs");
    fs::create_directories(h / kHyou);
    fs::create_directories(h / "\x95");  // where a wrong split of "表" would lead
    home.Write("sub/File.TXT", "data");
    outside.Write("secret.txt", "secret");
    fs::create_directory_symlink(outside.path(), h / "escape");
    fs::create_symlink(outside.File("secret.txt"), h / "linkfile");
    const std::string fifo = (h / "fifo").string();
    ASSERT_EQ(std::system(("mkfifo " + ftptest::ShellQuote(fifo)).c_str()), 0);
    ASSERT_EQ(rtl::fs::RealPath(home.path(), root), 0);
  }

  TempDir home;
  TempDir outside;
  std::string root;
};

TEST_F(FtpConfinedTree, LocatesExactThenFoldedAndRefusesLinksAndSpecialFiles) {
  struct Case {
    std::vector<std::string> names;
    std::string local;  // relative to the root, when found or missing
    rtl::fs::TFileKind kind;
    const char* error;
  } cases[] = {
      {{}, "", rtl::fs::TFileKind::Directory, nullptr},
      {{"sub", "File.TXT"}, "/sub/File.TXT", rtl::fs::TFileKind::Regular, nullptr},
      {{"SUB", "file.txt"}, "/sub/File.TXT", rtl::fs::TFileKind::Regular, nullptr},
      {{"docs"}, "/Docs", rtl::fs::TFileKind::Directory, nullptr},
      {{kHyou}, "/" + kHyou, rtl::fs::TFileKind::Directory, nullptr},
      {{"new", "deeper"}, "/new/deeper", rtl::fs::TFileKind::Missing, nullptr},
      {{"escape"}, "", rtl::fs::TFileKind::Missing, kFtpPathNoPermission},
      {{"escape", "secret.txt"}, "", rtl::fs::TFileKind::Missing, kFtpPathNoPermission},
      {{"ESCAPE", "secret.txt"}, "", rtl::fs::TFileKind::Missing, kFtpPathNoPermission},
      {{"linkfile"}, "", rtl::fs::TFileKind::Missing, kFtpPathNoPermission},
      {{"fifo"}, "", rtl::fs::TFileKind::Missing, kFtpPathNoPermission},
      {{"sub", "File.TXT", "x"}, "", rtl::fs::TFileKind::Missing, kFtpPathNotDirectory},
      {{".."}, "", rtl::fs::TFileKind::Missing, kFtpPathBadSyntax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.empty() ? std::string("(root)") : c.names.front());
    if (c.error) {
      try {
        LocateFtpPath(root, c.names);
        ADD_FAILURE() << "located";
      } catch (const EFtpPathError& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
      continue;
    }
    const TFtpLocation loc = LocateFtpPath(root, c.names);
    EXPECT_EQ(loc.Local, root + c.local);
    EXPECT_EQ(loc.Kind, c.kind);
  }
}

// CWD over a real session: each argument, the reply, and the folder shown afterwards. The folder
// the session is in must always lie inside the home folder on disk.
TEST_F(FtpConfinedTree, ChangeOfFolderNeverLeavesTheHome) {
  ServerFixture fx;
  const std::string h = home.path();
  fx.Server().OnAuthenticate = [h](rtl::TObject*, TFtpCtrlSocket* client, const std::string&,
                                   const std::string&, bool&) { client->HomeDir = h; };
  struct Case {
    std::string arg;
    std::string reply;
    std::string pwd;
  } cases[] = {
      {"..", "250 CWD command successful. \"/\" is current directory.", "/"},
      {"sub", "250 CWD command successful. \"/sub\" is current directory.", "/sub"},
      {"/", "250 CWD command successful. \"/\" is current directory.", "/"},
      {"sub", "250 CWD command successful. \"/sub\" is current directory.", "/sub"},
      {"\\", "250 CWD command successful. \"/\" is current directory.", "/"},
      {"C:", "501 CWD failed. Invalid directory name syntax", "/"},
      {"D:\\", "501 CWD failed. Invalid directory name syntax", "/"},
      {"escape", "501 CWD failed. No permission", "/"},
      {"/Escape/", "501 CWD failed. No permission", "/"},
      {"linkfile", "501 CWD failed. No permission", "/"},
      {"sub/../../../..", "250 CWD command successful. \"/\" is current directory.", "/"},
      {kHyou, "250 CWD command successful. \"/" + kHyou + "\" is current directory.", "/" + kHyou},
      {"/SUB", "250 CWD command successful. \"/sub\" is current directory.", "/sub"},
      {"file.txt", "501 CWD failed. Not a directory", "/sub"},
      {"../DOCS", "250 CWD command successful. \"/Docs\" is current directory.", "/Docs"},
      {"..\\..\\..\\etc", "250 CWD command successful. \"/etc\" is current directory.", "/etc"},
  };
  RawClient c(fx.Port());
  ASSERT_TRUE(c.Login());
  ASSERT_EQ(fx.Server().ClientCount(), 1);
  TFtpCtrlSocket* session = fx.Server().Client(0);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.arg);
    EXPECT_EQ(c.Command("CWD " + k.arg), k.reply);
    EXPECT_EQ(c.Command("PWD"), "257 \"" + k.pwd + "\" is current directory.");
    const TFtpLocation where =
        LocateFtpPath(session->HomeRoot(), SplitFtpPath(session->Directory()));
    EXPECT_EQ(where.Local.rfind(root, 0), 0u) << where.Local;
  }
  EXPECT_EQ(session->HomeRoot(), root);
}

TEST_F(FtpConfinedTree, FileArgumentsResolveInsideTheHomeOrAreRefused) {
  ServerFixture fx;
  const std::string h = home.path();
  fx.Server().OnAuthenticate = [h](rtl::TObject*, TFtpCtrlSocket* client, const std::string&,
                                   const std::string&, bool&) { client->HomeDir = h; };
  RawClient c(fx.Port());
  ASSERT_TRUE(c.Login());
  ASSERT_EQ(c.Command("CWD sub"), "250 CWD command successful. \"/sub\" is current directory.");
  TFtpServer& s = fx.Server();
  TFtpCtrlSocket* session = s.Client(0);
  struct Case {
    std::string name;
    std::string local;  // relative to the root
    const char* error;
  } cases[] = {
      {"file.txt", "/sub/File.TXT", nullptr},
      {"new.txt", "/sub/new.txt", nullptr},
      {"../Docs", "/Docs", nullptr},
      {"/" + kHyou + "/x", "/" + kHyou + "/x", nullptr},
      {"../../x", "", kFtpPathAboveRoot},
      {"..\\..\\x", "", kFtpPathAboveRoot},
      {"/escape/secret.txt", "", kFtpPathNoPermission},
      {"/linkfile", "", kFtpPathNoPermission},
      {"/fifo", "", kFtpPathNoPermission},
      {"C:\\x", "", kFtpPathBadSyntax},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.error) {
      try {
        s.ResolveFilePath(session, session->Directory(), k.name);
        ADD_FAILURE() << "resolved";
      } catch (const EFtpPathError& e) {
        EXPECT_STREQ(e.what(), k.error);
      }
    } else {
      EXPECT_EQ(s.ResolveFilePath(session, session->Directory(), k.name), root + k.local);
    }
  }
  // The application may place a file itself; its answer is used as given.
  s.OnBuildFilePath = [](rtl::TObject*, TFtpCtrlSocket*, const std::string&,
                         const std::string& name, std::string& result) {
    if (name == "special") result = "/placed/by/application";
  };
  EXPECT_EQ(s.ResolveFilePath(session, session->Directory(), "special"), "/placed/by/application");
  EXPECT_EQ(s.LocateFile(session, "FILE.txt").Virtual(), "/sub/File.TXT");
}

}  // namespace
