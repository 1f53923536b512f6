#include "collector/dayfiles.h"

#include <cmath>

#include "collector/messages.h"
#include "rtl/files.h"

namespace collector {

namespace {

// The path of a day file: programDir + folder + the day's name. Every record asks for it, and
// almost always for the same day as the record before, so each thread keeps the last path it made
// and makes a new one only for another folder or another calendar day (the name depends on the
// date alone: a TDateTime counts local days). Costs a compare of the folder texts otherwise.
class TDayPath {
 public:
  const std::string& Of(const std::string& programDir, std::string_view folder,
                        rtl::TDateTime when) {
    const double day = std::floor(when);
    if (day != day_ || programDir != programDir_ || folder != folder_) {
      programDir_ = programDir;
      folder_ = folder;
      day_ = day;
      path_ = programDir + std::string(folder) + DayFileName(when);
    }
    return path_;
  }

 private:
  std::string programDir_;
  std::string folder_;
  double day_ = std::nan("");
  std::string path_;
};

const std::string& DayPath(const std::string& programDir, std::string_view folder,
                           rtl::TDateTime when) {
  thread_local TDayPath cache;
  return cache.Of(programDir, folder, when);
}

}  // namespace

std::string DayFileName(rtl::TDateTime when) {
  return rtl::FormatDateTime("yyyymmdd", when) + ".log";
}

void AppendRecordLine(const std::string& programDir, std::string_view record, rtl::TDateTime when) {
  rtl::AppendLineToFile(DayPath(programDir, kRecordFolder, when), kRecordHeader, record, "\r\n");
}

std::string EventStamp(rtl::TDateTime when) {
  // The stamp's "/" is the date separator, which the programs fix to "/" at start-up.
  return rtl::FormatDateTime("yyyy/mm/dd hh:mm:ss", when);
}

std::string EventEntryHead(int code, rtl::TDateTime when) {
  return EventStamp(when) + " " + (code == kCodeInfo ? msg::kInfoHeading : msg::kErrorHeading);
}

void AppendEventEntry(const std::string& programDir, int code, std::string_view text,
                      rtl::TDateTime when) {
  std::string entry;
  if (code == kCodeInfo || code == kCodeError) {
    entry = EventEntryHead(code, when) + "\r\n";
    entry += text;
    entry += "\r\n\r\n\r\n";
  }
  rtl::AppendToFile(DayPath(programDir, kEventFolder, when), "", entry);
}

}  // namespace collector
