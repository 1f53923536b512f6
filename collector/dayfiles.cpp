#include "collector/dayfiles.h"

#include "collector/messages.h"
#include "rtl/files.h"

namespace collector {

std::string DayFileName(rtl::TDateTime when) {
  return rtl::FormatDateTime("yyyymmdd", when) + ".log";
}

void AppendRecordLine(const std::string& programDir, std::string_view record, rtl::TDateTime when) {
  rtl::AppendLineToFile(programDir + kRecordFolder + DayFileName(when), kRecordHeader, record,
                        "\r\n");
}

std::string EventEntryHead(int code, rtl::TDateTime when) {
  // The stamp's "/" is the date separator, which the programs fix to "/" at start-up.
  return rtl::FormatDateTime("yyyy/mm/dd hh:mm:ss", when) + " " +
         (code == kCodeInfo ? msg::kInfoHeading : msg::kErrorHeading);
}

void AppendEventEntry(const std::string& programDir, int code, std::string_view text,
                      rtl::TDateTime when) {
  std::string entry;
  if (code == kCodeInfo || code == kCodeError) {
    entry = EventEntryHead(code, when) + "\r\n";
    entry += text;
    entry += "\r\n\r\n\r\n";
  }
  rtl::AppendToFile(programDir + kEventFolder + DayFileName(when), "", entry);
}

}  // namespace collector
