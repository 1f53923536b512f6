// The fixture of the console's tests on a real scmd: the console's fixed ports taken, a program
// folder of its own (with "RecvData" and "Log") that the console takes for its own folder, the
// build's libraries loaded by name, and the headless application whose scripted boxes answer the
// console's messages. The test program defines SCMD_PATH and TEST_SERVICE_PATH and runs in a
// network namespace of its own. One fixture per test, on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/files.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace consoletest {

constexpr int kCollectorPort = 4016;  // no settings file, or one without a port: the default
constexpr int kFtpPort = 9021;

class ConsoleInFolder : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    for (testsupport::FixedPort* port : {&collectorPort_, &ftpPort_})
      if (!port->Take()) GTEST_SKIP() << port->Error();
    ServiceTest::SetUp();
    std::filesystem::create_directory(folder_.File("RecvData"));
    std::filesystem::create_directory(folder_.File("Log"));
    // The libraries loaded by name stay the build's, beside this program.
    libDir_ = std::make_unique<testsupport::ScopedEnv>(
        "KELVADON_LIBDIR", rtl::ExtractFilePath(rtl::ProgramFileName()));
    programDir_ = std::make_unique<uitest::ScopedProgramDir>(folder_.path());
    kit_ = std::make_unique<uitest::TTestApp>();
  }

  void TearDown() override {
    kit_.reset();  // the console's windows, listeners and server
    programDir_.reset();
    libDir_.reset();
    if (scmd_) ServiceTest::TearDown();
  }

  // The console's settings file (the program's name with ".ini", in the folder).
  std::string IniFile() const {
    return folder_.File(rtl::ExtractFileName(rtl::ChangeFileExt(rtl::ProgramFileName(), ".ini")));
  }
  void ExpectBox(const std::string& text, int answer) { kit_->WidgetSet.ExpectBox(text, answer); }
  // The texts of the boxes shown so far.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const TMessageBoxRequest& r : kit_->WidgetSet.Shown)
      texts.push_back(r.Text);
    return texts;
  }

  testsupport::FixedPort collectorPort_{kCollectorPort};
  testsupport::FixedPort ftpPort_{kFtpPort};
  testsupport::TempDir folder_{"kwconsole", 0755};
  std::unique_ptr<testsupport::ScopedEnv> libDir_;
  std::unique_ptr<uitest::ScopedProgramDir> programDir_;
  std::unique_ptr<uitest::TTestApp> kit_;
  testsupport::ScHandle service_;
};

}  // namespace consoletest
