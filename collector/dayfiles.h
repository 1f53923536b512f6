// The record and event day files below a program folder, shared by the collector service and the
// console: "RecvData/yyyymmdd.log" holds one line per agent record under a header line,
// "Log/yyyymmdd.log" the information and error entries. Text is CP932, lines end in CR LF. Each
// write opens, appends and closes its file (a few microseconds, kept because every record must be
// on disk when it is handled and another program may read the files at any time). Neither writer
// creates the folders. Stateless; a caller that writes from two threads serialises the calls.
#pragma once

#include <string>
#include <string_view>

#include "rtl/datetime.h"

namespace collector {

// Event codes.
constexpr int kCodeRecord = 50;
constexpr int kCodeInfo = 98;
constexpr int kCodeError = 99;

// The header line of a record day file (without its line end).
inline constexpr char kRecordHeader[] =
    "Date\tOperation\tHostName\tComment\tIPAddress\tUserName\tDriveName\tDeviceName\tFileName";
inline constexpr char kRecordFolder[] = "RecvData/";
inline constexpr char kEventFolder[] = "Log/";

// "yyyymmdd.log" of the local date of when.
std::string DayFileName(rtl::TDateTime when);

// Appends one record line to the record day file of when; a file made by this call gets the
// header first. Raises rtl::EInOutError when the file cannot be written (nothing of the line is
// left behind then).
void AppendRecordLine(const std::string& programDir, std::string_view record, rtl::TDateTime when);

// The stamp of an event entry: "yyyy/mm/dd hh:mm:ss" of when.
std::string EventStamp(rtl::TDateTime when);

// The first line of an event entry of code 98 or 99 (without its line end): the stamp of when, a
// blank and the heading.
std::string EventEntryHead(int code, rtl::TDateTime when);

// Appends one event entry (code 98 or 99: stamp, blank, heading; the text; two empty lines) to
// the event day file of when. Any other code only creates the file when it is missing. Raises
// rtl::EInOutError when the file cannot be written.
void AppendEventEntry(const std::string& programDir, int code, std::string_view text,
                      rtl::TDateTime when);

}  // namespace collector
