// The console on a real display (under xvfb-run, in a network namespace of its own), each case
// with its own scmd and the test service installed as "KelvadonManager" and stopped: the main
// window's pages drawn with their own controls, the unattended screenshot run of the program, and
// a renamed program reading its own settings file.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/ui/fltk/png.h"
#include "platform/ui/fltk/screenshots.h"
#include "platform/ui/testkit/gui/gui.h"
#include "rtl/files.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/service_fixture.h"

namespace {

using uitest::gui::InWindow;
using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;

constexpr char kPages[][16] = {"TabAdmin", "TabMail", "TamMailEnv"};

// How many pixels differ inside rect.
int Differing(const TBitmap& a, const TBitmap& b, const TRect& rect) {
  int n = 0;
  for (int y = rect.Top; y < rect.Bottom && y < a.Height() && y < b.Height(); ++y)
    for (int x = rect.Left; x < rect.Right && x < a.Width() && x < b.Width(); ++x)
      n += a.Pixel(x, y) != b.Pixel(x, y);
  return n;
}

class ConsoleGui : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    // The console's listeners take these ports (free in a namespace of our own).
    for (testsupport::FixedPort* port : {&collectorPort_, &ftpPort_})
      if (!port->Take()) GTEST_SKIP() << port->Error();
    ServiceTest::SetUp();
    service_ = Install("KelvadonManager");
  }
  void TearDown() override {
    if (scmd_) ServiceTest::TearDown();
  }

  // The program copied with its libraries into a program folder of the state folder, as name.
  std::string ProgramAs(const std::string& name) {
    namespace fs = std::filesystem;
    const std::string program = ReachableCopy(KELVADON_MAN_PATH);
    const fs::path dir = fs::path(program).parent_path();
    fs::create_directories(dir / "RecvData");
    fs::create_directories(dir / "Log");
    if (name == "KelvadonMan") return program;
    fs::copy_file(program, dir / name, fs::copy_options::overwrite_existing);
    return (dir / name).string();
  }

  // Runs program unattended with its shots in shots; its exit code (-1 when it did not end in
  // 120 s) and its stderr. With a user, as that user with groups (the display's key made readable
  // for it).
  int RunUnattended(const std::string& program, const std::string& shots, std::string* err,
                    uid_t user = 0, const std::vector<gid_t>& groups = {}) {
    const std::string errFile = dir_.File("console.err");
    std::string xauthority;
    if (const char* x = getenv("XAUTHORITY"); x && user) {
      xauthority = dir_.File("xauthority");
      std::filesystem::copy_file(x, xauthority, std::filesystem::copy_options::overwrite_existing);
      chmod(xauthority.c_str(), 0644);
    }
    // The sanitizer build's leak suppressions lie in the checkout, which another user may not
    // reach (a clone in a 0700 folder): that user's program gets a copy beside it.
    std::string lsanOptions;
    if (const char* o = getenv("LSAN_OPTIONS"); o && user) {
      lsanOptions = o;
      const std::string key = "suppressions=";
      if (const size_t at = lsanOptions.find(key); at != std::string::npos) {
        const size_t from = at + key.size();
        const size_t end = std::min(lsanOptions.find(':', from), lsanOptions.size());
        const std::string copy =
            (std::filesystem::path(program).parent_path() / "lsan.supp").string();
        std::filesystem::copy_file(lsanOptions.substr(from, end - from), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        chmod(copy.c_str(), 0644);
        lsanOptions.replace(from, end - from, copy);
      }
    }
    const pid_t pid = fork();
    if (pid == 0) {
      setenv(fltkpeer::kScreenshotsVariable, shots.c_str(), 1);
      const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd >= 0) dup2(fd, 2);
      if (user) {
        if (!xauthority.empty()) setenv("XAUTHORITY", xauthority.c_str(), 1);
        if (!lsanOptions.empty()) setenv("LSAN_OPTIONS", lsanOptions.c_str(), 1);
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(user) != 0 || setuid(user) != 0)
          _exit(126);
      }
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    if (!testsupport::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 120000)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
    }
    *err = testsupport::ReadFile(errFile);
    return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testsupport::FixedPort collectorPort_{4016};
  testsupport::FixedPort ftpPort_{9021};
  testsupport::ScHandle service_;
};

// Each page drawn in the main window: the tabs' Japanese captions where the tabs are, and each
// page's own controls (the viewer's tree and grid only on its page).
TEST_F(ConsoleGui, EachPageShowsItsOwnControls) {
  testsupport::TempDir folder("kwconsole");
  std::filesystem::create_directory(folder.File("RecvData"));
  std::filesystem::create_directory(folder.File("Log"));
  testsupport::ScopedEnv libDir("KELVADON_LIBDIR", rtl::ExtractFilePath(rtl::ProgramFileName()));
  rtl::SetProgramDir(folder.path());
  {
    uitest::gui::TGuiApp kit;
    ASSERT_TRUE(kit.Ready());
    CreateKelvadonMan(*kit.App);
    FrmWatch->UnattendedExitAnswer = IDNO;
    std::vector<TBitmap> shots;
    for (const char* name : kPages) {
      TPageControl* pages = FrmWatch->PagWatch;
      for (int i = 0; i < pages->PageCount(); ++i)
        if (pages->Pages(i)->Name == name) pages->SetActivePage(pages->Pages(i));
      shots.push_back(Shot(FrmWatch, name));
      ASSERT_FALSE(shots.back().Empty()) << name;
      EXPECT_TRUE(LooksDrawn(shots.back(), FrmWatch->Color())) << name;
    }
    EXPECT_TRUE(FrmWatch->FirstShowDone);
    EXPECT_TRUE(RealJapaneseGlyphs(FrmWatch->Font()->Data()));
    TPageControl* pages = FrmWatch->PagWatch;
    for (TTabSheet* tab : {FrmWatch->TabAdmin, FrmWatch->TabMail, FrmWatch->TamMailEnv})
      EXPECT_TRUE(TextDrawnIn(shots[0], InWindow(pages, pages->TabRect(tab)), tab->Caption(),
                              pages->Font()->Data(), pages->Color()))
          << tab->Name;
    // The viewer's page differs from the mail pages where its tree and grid are.
    const TRect tree = InWindow(FrmWatch->TrePCList, FrmWatch->TrePCList->ClientRect());
    const TRect grid = InWindow(FrmWatch->GrdWatch, FrmWatch->GrdWatch->ClientRect());
    for (int other : {1, 2}) {
      EXPECT_GT(Differing(shots[0], shots[other], tree), tree.Width() * tree.Height() / 2);
      EXPECT_GT(Differing(shots[0], shots[other], grid), grid.Width() * grid.Height() / 2);
    }
    // The tabs mark the page shown.
    const TRect tabs = InWindow(pages, Rect(0, 0, pages->Width(), pages->TabHeight));
    EXPECT_GT(Differing(shots[1], shots[2], tabs), 0);
    FrmWatch->Close();
  }
  rtl::SetProgramDir("");
}

// KELVADON_SCREENSHOTS: the program writes its main window once per page, asks nothing and ends
// as after the exit answer No (the service stays stopped).
TEST_F(ConsoleGui, TheUnattendedRunWritesEachPageAndEnds) {
  const std::string program = ProgramAs("KelvadonMan");
  testsupport::TempDir shots("kwshots");
  std::string err;
  ASSERT_EQ(RunUnattended(program, shots.path(), &err), 0) << err;
  EXPECT_EQ(err.find("message box"), std::string::npos) << err;
  std::vector<TBitmap> pictures;
  for (const char* page : kPages) {
    TBitmap picture;
    std::string error;
    ASSERT_TRUE(
        fltkpeer::ReadPng(shots.File(std::string("TFrmWatch-") + page + ".png"), &picture, &error))
        << page << ": " << error;
    EXPECT_TRUE(LooksDrawn(picture, clBtnFace)) << page;
    pictures.push_back(picture);
  }
  const TRect all = Rect(0, 0, pictures[0].Width(), pictures[0].Height());
  EXPECT_GT(Differing(pictures[0], pictures[1], all), 0);
  EXPECT_GT(Differing(pictures[1], pictures[2], all), 0);
  EXPECT_GT(Differing(pictures[0], pictures[2], all), 0);
  EXPECT_EQ(Status(service_).dwCurrentState, DWORD(SERVICE_STOPPED));
}

// Taking the service over needs the right to control it: root or a member of the group
// "kelvadon" may; another user's console ends with the GetServiceStatus message.
TEST_F(ConsoleGui, OnlyMembersOfTheGroupKelvadonTakeTheServiceOver) {
  if (!testsupport::UsersCanSwitch()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  const group* kelvadon = getgrnam("kelvadon");
  ASSERT_NE(kelvadon, nullptr) << "scripts/setup makes the group kelvadon";
  constexpr uid_t kNobody = 65534;
  const std::string program = ProgramAs("KelvadonMan");
  testsupport::TempDir shots("kwshots", 0777);
  std::string err;
  EXPECT_EQ(RunUnattended(program, shots.path(), &err, kNobody), 1);
  EXPECT_NE(err.find("システムエラーが発生いたしました。（GetServiceStatus）"), std::string::npos)
      << err;
  EXPECT_EQ(RunUnattended(program, shots.path(), &err, kNobody, {kelvadon->gr_gid}), 0) << err;
  EXPECT_TRUE(std::filesystem::exists(shots.File("TFrmWatch-TabAdmin.png")));
}

// A renamed program reads the settings file of its own name: with a port another program holds
// in it, that program ends with the port-in-use message, while the same folder's KelvadonMan,
// reading KelvadonMan.ini, runs.
TEST_F(ConsoleGui, ARenamedProgramReadsItsOwnSettingsFile) {
  const std::string renamed = ProgramAs("OtherMan");
  const std::string folder = rtl::ExtractFilePath(renamed);
  const int held = testsupport::FreePort();
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(held));
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  testsupport::TempDir shots("kwshots");
  const auto write = [&](const std::string& file, int port) {
    FILE* f = fopen((folder + file).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fprintf(f, "[KelvadonManager]\r\nPort=%d\r\n", port);
    fclose(f);
  };
  write("OtherMan.ini", held);
  write("KelvadonMan.ini", testsupport::FreePort());
  std::string err;
  EXPECT_EQ(RunUnattended(renamed, shots.path(), &err), 1);
  EXPECT_NE(err.find("すでに設定プログラムを起動しています。\r\nプログラムを終了します。"),
            std::string::npos)
      << err;
  EXPECT_EQ(RunUnattended(folder + "KelvadonMan", shots.path(), &err), 0) << err;
  close(holder);
}

}  // namespace
