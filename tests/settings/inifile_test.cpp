#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "rtl/exception.h"
#include "rtl/files.h"
#include "rtl/fs.h"
#include "settings/inifilecompo.h"
#include "settings/keys.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

// A temporary folder per test and settings components set up as both programs set theirs up.
class SettingsFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return PathOf(name);
  }

  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  // AutoUpdate off, names without letter case, dfUser, UpdateAtOnce on, then the full path.
  static std::unique_ptr<TIniFileCompo> Open(const std::string& path) {
    auto ini = std::make_unique<TIniFileCompo>();
    ini->AutoUpdate = false;
    ini->SetCaseSensitive(false);
    ini->SetDefaultFolder(dfUser);
    ini->UpdateAtOnce = true;
    ini->SetFileName(path);
    return ini;
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::TempDir tmp_{"kw_settings_test"};
  fs::path dir_ = tmp_.path();
};

constexpr char kMissing[] = "<default>";

TEST_F(SettingsFileTest, LoadingAndReading) {
  struct Case {
    const char* what;
    std::string file;
    const char *section, *key, *value;
  } cases[] = {
      {"names without letter case", "[MailEnv]\r\nSmtpServer=mail\r\n", "mailenv", "SMTPSERVER",
       "mail"},
      {"value trimmed, inner blanks kept", "[S]\r\n  Key \t=  a  b \t\r\n", "S", "Key", "a  b"},
      {"control bytes trimmed", "[S]\r\n\x01Key=v\x1f\r\n", "S", "Key", "v"},
      {"empty value is empty, not the default", "[KelvadonManager]\r\nPort=\r\n", "KelvadonManager",
       "Port", ""},
      {"value after the first =", "[S]\r\nA=b=c\r\n", "S", "A", "b=c"},
      {"LF-only lines", "[S]\nA=1\nB=2\n", "S", "B", "2"},
      {"CR-only lines", "[S]\rA=1\rB=2", "S", "B", "2"},
      {"section name trimmed", "[  S  ]\r\nA=1\r\n", "S", "A", "1"},
      {"section line trimmed", "  [S]  \r\nA=1\r\n", "S", "A", "1"},
      {"key before any section", "A=1\r\n[S]\r\nB=2\r\n", "S", "A", kMissing},
      {"comment line", "[S]\r\n;A=1\r\n", "S", "A", kMissing},
      {"first of two keys", "[S]\r\nA=1\r\nA=2\r\n", "S", "A", "1"},
      {"section named twice", "[S]\r\nA=1\r\n[T]\r\n[s]\r\nB=2\r\n", "S", "B", "2"},
      {"no key in other section", "[S]\r\nA=1\r\n[T]\r\n", "T", "A", kMissing},
      {"no section", "[S]\r\nA=1\r\n", "X", "A", kMissing},
      {"Shift-JIS name and value", "[S]\r\n\x83\x5C\x83\x74\x83\x67=\x95\x5C\r\n", "S",
       "\x83\x5C\x83\x74\x83\x67", "\x95\x5C"},
      // A trail byte is never folded: ア (83 41) and ッ (83 61) are different names.
      {"trail bytes keep their case", "[S]\r\n\x83\x41=1\r\n", "S", "\x83\x61", kMissing},
      {"empty file", "", "S", "A", kMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto ini = Open(Write("t.ini", c.file));
    EXPECT_EQ(ini->ReadString(c.section, c.key, kMissing), c.value);
    EXPECT_EQ(ini->ValueExists(c.section, c.key), std::string(c.value) != kMissing);
  }
}

TEST_F(SettingsFileTest, SavingRewritesTheWholeFile) {
  struct Change {
    const char *section, *key, *value;
  };
  struct Case {
    const char* what;
    std::string before;
    std::vector<Change> writes;
    std::string after;
  } cases[] = {
      {"new file: CR LF and an empty line after each section",
       "",
       {{"MailEnv", "SmtpServer", "mail"}, {"Mail", "Word1", "a,b"}, {"MailEnv", "SmtpPort", "25"}},
       "[MailEnv]\r\nSmtpServer=mail\r\nSmtpPort=25\r\n\r\n[Mail]\r\nWord1=a,b\r\n\r\n"},
      {"unknown keys survive, the key keeps its place",
       "[KelvadonManager]\nPort=4020\n[MailEnv]\nSmtpServer=a\nOther=1\n",
       {{"mailenv", "SMTPSERVER", "b"}},
       "[KelvadonManager]\r\nPort=4020\r\n\r\n[MailEnv]\r\nSMTPSERVER=b\r\nOther=1\r\n\r\n"},
      {"comments and lines before the first section do not survive",
       "; settings\r\nstray=1\r\n[S]\r\n; note\r\nA=1\r\n",
       {{"S", "B", "2"}},
       "[S]\r\nA=1\r\nB=2\r\n\r\n"},
      {"a line without = stays as it is",
       "[S]\r\n  some text  \r\nA = 1 \r\n",
       {{"S", "B", "2"}},
       "[S]\r\nsome text\r\nA=1\r\nB=2\r\n\r\n"},
      {"an empty value is written as such", "", {{"S", "A", ""}}, "[S]\r\nA=\r\n\r\n"},
      {"line breaks in a value never split the line",
       "[S]\r\nA=1\r\n",
       {{"S", "A", "x\r\n[KelvadonManager]\r\nPort=1"}},
       "[S]\r\nA=x  [KelvadonManager]  Port=1\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = PathOf("save.ini");
    fs::remove(path);
    if (!c.before.empty()) Write("save.ini", c.before);
    auto ini = Open(path);
    for (const Change& w : c.writes)
      ini->WriteString(w.section, w.key, w.value);
    EXPECT_EQ(Read(path), c.after);
    // What was written reads back the same from the file.
    auto again = Open(path);
    for (const Change& w : c.writes)
      EXPECT_EQ(again->ReadString(w.section, w.key, kMissing),
                ini->ReadString(w.section, w.key, ""));
  }
}

TEST_F(SettingsFileTest, WhenTheFileIsWritten) {
  const std::string path = Write("when.ini", "[S]\r\nA=1\r\n");
  int updates = 0, loads = 0;
  {
    TIniFileCompo ini;
    ini.AutoUpdate = false;
    ini.OnUpdate = [&](rtl::TObject* sender) {
      EXPECT_EQ(sender, &ini);
      ++updates;
    };
    ini.OnLoad = [&](rtl::TObject*) { ++loads; };
    ini.SetDefaultFolder(dfUser);
    ini.SetFileName(path);
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(ini.Path(), path);

    // UpdateAtOnce off: memory only, until UpdateFile.
    ini.WriteString("S", "B", "2");
    EXPECT_EQ(Read(path), "[S]\r\nA=1\r\n");
    EXPECT_EQ(ini.ReadString("S", "B", ""), "2");
    ini.UpdateFile();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(Read(path), "[S]\r\nA=1\r\nB=2\r\n\r\n");

    // UpdateAtOnce on: every write rewrites the file.
    ini.UpdateAtOnce = true;
    ini.WriteString("S", "C", "3");
    EXPECT_EQ(Read(path), "[S]\r\nA=1\r\nB=2\r\nC=3\r\n\r\n");
    ini.WriteString("S", "A", "0");
    EXPECT_EQ(Read(path), "[S]\r\nA=0\r\nB=2\r\nC=3\r\n\r\n");
    EXPECT_EQ(updates, 3);

    // AutoUpdate off: nothing is written at destruction.
    ini.UpdateAtOnce = false;
    ini.WriteString("S", "D", "4");
  }
  EXPECT_EQ(Read(path), "[S]\r\nA=0\r\nB=2\r\nC=3\r\n\r\n");
  {
    auto ini = Open(path);
    ini->UpdateAtOnce = false;
    ini->AutoUpdate = true;
    ini->WriteString("S", "D", "4");
  }
  EXPECT_EQ(Read(path), "[S]\r\nA=0\r\nB=2\r\nC=3\r\nD=4\r\n\r\n");
}

TEST_F(SettingsFileTest, ReadsComeFromMemory) {
  const std::string path = Write("mem.ini", "[KelvadonManager]\r\nPort=4020\r\n");
  auto ini = Open(path);
  Write("mem.ini", "[KelvadonManager]\r\nPort=5000\r\n");
  EXPECT_EQ(ini->ReadString("KelvadonManager", "Port", "4016"), "4020");
  ini->SetFileName(path);  // setting the name loads again
  EXPECT_EQ(ini->ReadString("KelvadonManager", "Port", "4016"), "5000");
  fs::remove(path);
  ini->SetFileName(path);  // a missing file is an empty ini
  EXPECT_EQ(ini->ReadString("KelvadonManager", "Port", "4016"), "4016");
}

TEST_F(SettingsFileTest, CaseSensitiveNames) {
  auto ini = Open(Write("case.ini", "[Mail]\r\nWord1=a\r\n"));
  ini->SetCaseSensitive(true);
  EXPECT_EQ(ini->ReadString("Mail", "word1", kMissing), kMissing);
  EXPECT_EQ(ini->ReadString("MAIL", "Word1", kMissing), kMissing);
  EXPECT_EQ(ini->ReadString("Mail", "Word1", kMissing), "a");
  ini->WriteString("Mail", "word1", "b");
  ini->SetCaseSensitive(false);
  EXPECT_EQ(ini->ReadString("mail", "WORD1", kMissing), "a");  // the first of the two
}

TEST_F(SettingsFileTest, PathFollowsFolderAndName) {
  TIniFileCompo ini;
  ini.AutoUpdate = false;
  EXPECT_EQ(ini.DefaultFolder(), dfApplication);
  EXPECT_EQ(ini.Path(), rtl::ProgramDir() + "settings_test.ini");
  ini.SetFileName("other.ini");
  EXPECT_EQ(ini.Path(), rtl::ProgramDir() + "other.ini");
  ini.SetDefaultFolder(dfUser);
  EXPECT_EQ(ini.Path(), "other.ini");
  ini.SetDefaultFolder(dfWindows);
  EXPECT_EQ(ini.Path(), "/etc/other.ini");
  ini.SetFileName("");
  EXPECT_EQ(ini.Path(), "/etc/settings_test.ini");

  // The user's data folder gets a sub-folder named after the program, made when it is chosen.
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir_.c_str(), 1);
  ini.SetDefaultFolder(dfAppData);
  if (old)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(ini.Path(), PathOf("settings_test/settings_test.ini"));
  EXPECT_TRUE(fs::is_directory(dir_ / "settings_test"));
}

TEST_F(SettingsFileTest, EraseEntryRemovesTypedSubEntries) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"plain key", "[S]\r\nW=1\r\nW.left=1\r\nX=2\r\n", "[S]\r\nW.left=1\r\nX=2\r\n\r\n"},
      {"form",
       "[S]\r\nW=form\r\nW.flags=0\r\nW.show=1\r\nW.state=0\r\nW.maxx=1\r\nW.maxy=1\r\n"
       "W.left=1\r\nW.top=1\r\nW.width=1\r\nW.height=1\r\nW.cwidth=1\r\nW.cheight=1\r\n"
       "W.right=1\r\nX=2\r\n",
       "[S]\r\nW.right=1\r\nX=2\r\n\r\n"},
      {"rect", "[S]\r\nW=RECT\r\nW.left=1\r\nW.top=1\r\nW.right=1\r\nW.bottom=1\r\nW.width=1\r\n",
       "[S]\r\nW.width=1\r\n\r\n"},
      {"bounds",
       "[S]\r\nW=Bounds\r\nW.left=1\r\nW.top=1\r\nW.width=1\r\nW.height=1\r\nW.right=1\r\n",
       "[S]\r\nW.right=1\r\n\r\n"},
      {"list of three",
       "[S]\r\nW=LIST\r\nW.count=3\r\nW.0=a\r\nw.1=b\r\nW.2=c\r\nW.3=d\r\nW.01=e\r\nW.x=f\r\n",
       "[S]\r\nW.3=d\r\nW.01=e\r\nW.x=f\r\n\r\n"},
      {"list with a huge count",
       "[S]\r\nW=LIST\r\nW.count=2000000000\r\nW.0=a\r\nW.1999999999=b\r\nW.2000000000=c\r\n",
       "[S]\r\nW.2000000000=c\r\n\r\n"},
      {"list with a bad count", "[S]\r\nW=LIST\r\nW.count=many\r\nW.0=a\r\n",
       "[S]\r\nW.0=a\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto ini = Open(Write("erase.ini", c.before));
    ini->EraseEntry("s", "w");
    EXPECT_EQ(Read(PathOf("erase.ini")), c.after);
  }
}

// The settings hold enciphered passwords: a save keeps the file's mode but for other users' bits,
// which it drops, and a new file is the owner's and the group's (0660 under the programs' mask).
TEST_F(SettingsFileTest, SaveKeepsTheFileModeButNeverLeavesItToOtherUsers) {
  const struct {
    fs::perms before, after;
  } cases[] = {
      {fs::perms(0640), fs::perms(0640)}, {fs::perms(0600), fs::perms(0600)},
      {fs::perms(0660), fs::perms(0660)}, {fs::perms(0604), fs::perms(0600)},
      {fs::perms(0644), fs::perms(0640)}, {fs::perms(0666), fs::perms(0660)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.before));
    const std::string path = Write("mode.ini", "[S]\r\nA=1\r\n");
    fs::permissions(path, c.before);
    auto ini = Open(path);
    ini->WriteString("S", "A", "2");
    EXPECT_EQ(fs::status(path).permissions(), c.after);
    EXPECT_EQ(Read(path), "[S]\r\nA=2\r\n\r\n");
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"mode.ini"});  // no temporary file left

  const mode_t mask = umask(rtl::fs::kSharedFileMask);
  auto ini = Open(PathOf("new.ini"));
  ini->WriteString("S", "A", "1");
  umask(mask);
  EXPECT_EQ(fs::status(PathOf("new.ini")).permissions(), fs::perms(0660));
}

TEST_F(SettingsFileTest, FileErrorsAreRaised) {
  // A missing folder: the save fails as a file error and the value stays in memory.
  auto ini = Open(PathOf("missing/KelvadonMan.ini"));
  try {
    ini->WriteString("S", "A", "1");
    ADD_FAILURE() << "no exception";
  } catch (const rtl::EInOutError& e) {
    EXPECT_STREQ(e.ClassName(), "EInOutError");
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_NE(e.Message.find("missing/KelvadonMan.ini"), std::string::npos) << e.Message;
  }
  EXPECT_EQ(ini->ReadString("S", "A", ""), "1");

  // A folder where the file should be can be neither read nor replaced.
  fs::create_directory(dir_ / "dir.ini");
  EXPECT_THROW(Open(PathOf("dir.ini")), rtl::EInOutError);
  ini->SetFileName(PathOf("later.ini"));
  fs::create_directory(dir_ / "later.ini");
  EXPECT_THROW(ini->UpdateFile(), rtl::EInOutError);
  EXPECT_TRUE(fs::is_directory(dir_ / "later.ini"));
}

// The messages name the file and give the system's text for the reason.
TEST_F(SettingsFileTest, FileErrorTexts) {
  fs::create_directory(dir_ / "dir.ini");
  const struct {
    const char* what;
    std::string path;
    bool save;  // else load; a save goes to a name that becomes a folder after it was set
    std::string message;
    int err;
  } cases[] = {
      {"load a folder", PathOf("dir.ini"), false,
       "Cannot open file \"" + PathOf("dir.ini") + "\". Is a directory", EISDIR},
      {"load what cannot be read", "/proc/self/mem", false,
       "Cannot open file \"/proc/self/mem\". Input/output error", EIO},
      {"save into a missing folder", PathOf("missing/a.ini"), true,
       "Cannot create file \"" + PathOf("missing/a.ini") + "\". No such file or directory", ENOENT},
      {"save over a folder", PathOf("later.ini"), true,
       "Cannot create file \"" + PathOf("later.ini") + "\". Is a directory", EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      auto ini = Open(c.path);
      if (c.save) {
        std::error_code ec;
        fs::create_directory(c.path, ec);  // fails where the folder above is missing
        ini->WriteString("S", "A", "1");
      }
      ADD_FAILURE() << "no exception";
    } catch (const rtl::EInOutError& e) {
      EXPECT_EQ(e.Message, c.message);
      EXPECT_EQ(e.ErrorCode, c.err);
    }
  }
}

// A save that fails half-way (here the file-size limit stops the write, as a full disk would)
// leaves the old file whole and no temporary file behind.
TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFileWhole) {
  const std::string old = "[KelvadonManager]\r\nPort=4016\r\n\r\n";
  const std::string path = Write("KelvadonMan.ini", old);
  const std::string tool = rtl::ProgramDir() + "settings_save_tool";
  const std::string out = (dir_.parent_path() / (dir_.filename().string() + ".out")).string();
  auto run = [&](int length) {
    const std::string cmd = "trap '' XFSZ; ulimit -f 1; exec '" + tool + "' '" + path + "' " +
                            std::to_string(length) + " >'" + out + "' 2>&1";
    int status = std::system(cmd.c_str());
    std::string text = Read(out);
    fs::remove(out);
    return std::make_pair(status, text);
  };

  auto [status, text] = run(100000);
  EXPECT_NE(status, 0);
  EXPECT_EQ(text.rfind("EInOutError : Cannot create file \"" + path + "\".", 0), 0u) << text;
  EXPECT_EQ(Read(path), old);
  EXPECT_EQ(Listing(), std::vector<std::string>{"KelvadonMan.ini"});

  // Under the limit the same save goes through.
  std::tie(status, text) = run(10);
  EXPECT_EQ(status, 0) << text;
  EXPECT_EQ(Read(path),
            "[KelvadonManager]\r\nPort=4016\r\n\r\n[MailEnv]\r\nBody=xxxxxxxxxx\r\n\r\n");
}

TEST_F(SettingsFileTest, SharedKeysAndTheirDefaults) {
  auto ini = Open(Write("KelvadonMan.ini", "[KelvadonManager]\r\n[MailEnv]\r\nSmtpServer=mx\r\n"));
  struct Case {
    settings::KeyDef key;
    const char* value;
  } cases[] = {
      {settings::kPort, "4016"},   {settings::kSmtpServer, "mx"},   {settings::kSmtpPort, "25"},
      {settings::kPopPort, "110"}, {settings::kPopBeforeSmtp, "0"}, {settings::kReportSend, "0"},
      {settings::kWord[4], ""},    {settings::kPopPasswd, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(settings::ReadSetting(*ini, c.key), c.value) << c.key.Ident;
  EXPECT_STREQ(settings::kWord[0].Ident, "Word1");
  EXPECT_STREQ(settings::kWord[4].Section, "Mail");

  // A Port key with an empty value is an empty port, not 4016.
  auto empty = Open(Write("empty.ini", "[KelvadonManager]\r\nPort=\r\n"));
  EXPECT_EQ(settings::ReadSetting(*empty, settings::kPort), "");
}

TEST(SettingsValues, FlagsAsEachProgramReadsThem) {
  struct Case {
    const char* value;
    bool service, console;
  } cases[] = {
      {"1", true, true},  {"0", false, false},  {"", false, true},
      {"2", false, true}, {"yes", false, true}, {"01", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::ServiceFlagOn(c.value), c.service) << c.value;
    EXPECT_EQ(settings::ConsoleFlagOn(c.value), c.console) << c.value;
  }
  EXPECT_STREQ(settings::FlagText(true), "1");
  EXPECT_STREQ(settings::FlagText(false), "0");
}

TEST_F(SettingsFileTest, BodyIsStoredOnOneLine) {
  struct Case {
    std::string text, stored, back;
  } cases[] = {
      {"line one\r\nline two", "line one\tline two", "line one\r\nline two"},
      {"a\tb", "a\tb", "a\r\nb"},            // a typed TAB comes back as a line break
      {"\r\nline\r\n", "\tline\t", "line"},  // the load trims the ends
      {"no break", "no break", "no break"},
  };
  const std::string path = PathOf("body.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(settings::BodyToSetting(c.text), c.stored);
    settings::WriteSetting(*Open(path), settings::kBody, settings::BodyToSetting(c.text));
    EXPECT_EQ(settings::BodyFromSetting(settings::ReadSetting(*Open(path), settings::kBody)),
              c.back);
  }
}

}  // namespace
