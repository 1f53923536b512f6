#include "tests/collector/program_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "collector/dayfiles.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "tests/support/faketime.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;

namespace collectortest {

namespace {

// How far the collectors' clock is moved: to local noon of the day this process first asks.
int64_t ClockOffsetSeconds() {
  static const int64_t offset = [] {
    if (!testsupport::FakeTimeAvailable()) return int64_t{0};
    const int64_t now = testsupport::MachineSeconds();
    rtl::TSystemTime noon = rtl::LocalTimeOf(now * 1000000);
    noon.Hour = 12;
    noon.Minute = noon.Second = noon.Millisecond = 0;
    return rtl::EpochOfLocal(noon) / 1000000 - now;
  }();
  return offset;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ProgramFolder::ClockEnv() {
  if (!testsupport::FakeTimeAvailable()) return {};
  return testsupport::FakeTimeEnv(ClockOffsetSeconds());
}

rtl::TDateTime ProgramFolder::CollectorNow() {
  return rtl::EpochMicrosToDateTime((testsupport::MachineSeconds() + ClockOffsetSeconds()) *
                                    1000000);
}

std::string ProgramFolder::TodayRecords() {
  return collector::kRecordFolder + collector::DayFileName(CollectorNow());
}

std::string ProgramFolder::TodayEvents() {
  return collector::kEventFolder + collector::DayFileName(CollectorNow());
}

std::vector<std::string> ProgramFolder::Records() const {
  return RecordLines(Read(TodayRecords()));
}

std::vector<std::string> ProgramFolder::WaitForRecords(size_t count, int timeoutMs) const {
  std::vector<std::string> lines;
  testsupport::WaitFor(
      [&] {
        lines = Records();
        return lines.size() >= count;
      },
      timeoutMs);
  return lines;
}

std::vector<std::string> ProgramFolder::Errors() const {
  std::vector<std::string> texts;
  for (const auto& e : EventEntries(Read(TodayEvents())))
    if (e.text != "Service Started") texts.push_back(e.text);
  return texts;
}

ProgramFolder::ProgramFolder()
    : tmp_(std::in_place, "kwcollector"), dir_(tmp_->path() + "/"), port_(testsupport::FreePort()) {
  const std::string bin = rtl::ProgramDir();
  fs::copy_file(bin + "KelvadonService", dir_ + "KelvadonService");
  // The daily restart runs the helper from the service's own folder.
  fs::copy_file(bin + "Rekindler", dir_ + "Rekindler");
  for (const auto& e : fs::directory_iterator(bin)) {
    const std::string name = e.path().filename();
    if (name.starts_with("lib") && name.ends_with(".so")) fs::copy_file(e.path(), dir_ + name);
  }
  fs::create_directory(dir_ + "RecvData");
  fs::create_directory(dir_ + "Log");
  WriteSettings();
}

ProgramFolder::ProgramFolder(const std::string& dir)
    : dir_(dir + "/"), port_(testsupport::FreePort()) {
  WriteSettings();
}

void ProgramFolder::WriteSettings(const std::string& more) {
  std::ofstream(dir_ + "KelvadonMan.ini", std::ios::binary)
      << "[KelvadonManager]\r\nPort=" << port_ << "\r\n"
      << more;
}

void ProgramFolder::SetMailSettings(const Keys& mailEnv, const Keys& mail) {
  std::string more;
  for (const auto& [section, keys] : {std::pair{"MailEnv", &mailEnv}, std::pair{"Mail", &mail}}) {
    more += std::string("[") + section + "]\r\n";
    for (const auto& [key, value] : *keys)
      more += key + "=" + value + "\r\n";
  }
  WriteSettings(more);
}

ProgramFolder::~ProgramFolder() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ProgramFolder::Start(const std::vector<std::string>& extraEnv) {
  if (!Launch(extraEnv)) return false;
  return testsupport::WaitFor([&] {
    int fd = testsupport::ConnectTcp(port_);
    if (fd < 0) return false;
    close(fd);
    return Read(TodayEvents()).find("Service Started") != std::string::npos;
  });
}

bool ProgramFolder::Launch(const std::vector<std::string>& extraEnv) {
  if (!ftpPort_.Take()) {
    std::ofstream(dir_ + "stderr.log", std::ios::app) << ftpPort_.Error() << "\n";
    return false;
  }
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(127);
    int fd = open((dir_ + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) dup2(fd, 2);
    close_range(3, ~0U, 0);
    if (descriptorLimit_ > 0) {
      const rlimit limit{static_cast<rlim_t>(descriptorLimit_),
                         static_cast<rlim_t>(descriptorLimit_)};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    for (const auto& [name, value] : ClockEnv())
      setenv(name.c_str(), value.c_str(), 1);
    for (const auto& kv : extraEnv)
      putenv(strdup(kv.c_str()));
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const std::string program = dir_ + "KelvadonService";
    execl(program.c_str(), program.c_str(), "-FOREGROUND", static_cast<char*>(nullptr));
    _exit(127);
  }
  return true;
}

int ProgramFolder::WaitExit(int timeoutMs) {
  if (pid_ <= 0) return -1;
  int status = -1;
  if (!testsupport::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs))
    return -1;
  pid_ = -1;
  return status;
}

int ProgramFolder::Stop(int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGINT);
  int status = -1;
  const bool ended =
      testsupport::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return status;
}

std::vector<std::string> RecordLines(const std::string& content) {
  std::vector<std::string> lines;
  if (content.empty()) return lines;
  const std::string header = std::string(collector::kRecordHeader) + "\r\n";
  if (content.compare(0, header.size(), header) != 0) {
    lines.push_back("<no header>");
    return lines;
  }
  size_t pos = header.size();
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back("<unterminated>" + content.substr(pos));
      break;
    }
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::vector<EventEntry> EventEntries(const std::string& content) {
  std::vector<EventEntry> entries;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t head = content.find("\r\n", pos);
    size_t end = content.find("\r\n\r\n\r\n", head);
    if (head == std::string::npos || end == std::string::npos) break;
    entries.push_back({content.substr(pos, head - pos), content.substr(head + 2, end - head - 2)});
    pos = end + 6;
  }
  return entries;
}

std::map<std::string, int> Counted(const std::vector<std::string>& lines) {
  std::map<std::string, int> m;
  for (const auto& l : lines)
    ++m[l];
  return m;
}

}  // namespace collectortest
