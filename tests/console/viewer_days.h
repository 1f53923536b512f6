// What the viewer's tests stand on: a temporary program folder with its "RecvData" folder, the
// clock stopped at a chosen local time, and record lines written to its day files by the
// collector's day-file writer. One object per test; it puts the program folder and the clock back
// when it goes. Threads: the test's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "collector/dayfiles.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "tests/support/files.h"

namespace viewertest {

// The epoch microseconds of a local time.
inline int64_t LocalMicros(int year, int month, int day, int hour, int minute) {
  return rtl::EpochOfLocal(rtl::TSystemTime{year, month, day, hour, minute, 0, 0, 0});
}

// A record line of the nine fields: its host, and a FileName that tells the records apart.
inline std::string Rec(const std::string& host, const std::string& file,
                       const std::string& date = "2026/12/09 08:30:00",
                       const std::string& comment = "desk") {
  return date + "\tCopy\t" + host + "\t" + comment + "\t10.0.0.9\tuser\tE:\tUSB DISK\t" + file;
}

class TViewerDays {
 public:
  // The program folder's clock stands at 10:00 on 9 December 2026, local time.
  TViewerDays() {
    Now = LocalMicros(2026, 12, 9, 10, 0);
    oldClock_ = rtl::SetWallClock([this] { return Now; });
    dir_.Write("RecvData/.keep", "");
    rtl::SetProgramDir(dir_.path());
  }
  ~TViewerDays() {
    rtl::SetProgramDir("");
    rtl::SetWallClock(oldClock_);
  }
  TViewerDays(const TViewerDays&) = delete;
  TViewerDays& operator=(const TViewerDays&) = delete;

  // The program folder, without a trailing "/".
  const std::string& Dir() const { return dir_.path(); }
  // Appends lines to the record file of daysBack days before today.
  void Write(int daysBack, const std::vector<std::string>& lines) const {
    for (const std::string& line : lines)
      collector::AppendRecordLine(dir_.path() + "/", line, rtl::Date() - daysBack + 0.5);
  }

  // The clock's time, epoch microseconds; a test may move it.
  int64_t Now;

 private:
  testsupport::TempDir dir_{"kwviewer"};
  rtl::WallClock oldClock_;
};

}  // namespace viewertest
