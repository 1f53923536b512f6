// An agent record as the console shows it: the nine fields of a record line in file and grid
// order, the cut of one TAB-separated field off a line, and the split of a line into the nine
// fields. Pure functions on CP932 bytes (TAB is one byte and never a trail byte); safe from any
// thread.
#pragma once

#include <array>
#include <string>

namespace console {

constexpr int kRecordFieldCount = 9;
// The record fields: the names of the day file's header line and of the grid's columns.
inline constexpr std::array<const char*, kRecordFieldCount> kRecordFields = {
    "Date",     "Operation", "HostName",   "Comment", "IPAddress",
    "UserName", "DriveName", "DeviceName", "FileName"};
// The field that names the host a record came from.
constexpr int kHostField = 2;

using TRecordFields = std::array<std::string, kRecordFieldCount>;

// Cuts the first field off text: the bytes before text's first TAB, with text keeping what follows
// that TAB. Without a TAB the field is empty and text stays whole.
std::string CutTabField(std::string& text);

// The nine fields of a record line: eight cut off the front with CutTabField, and what is left as
// the ninth ("FileName"). A line with fewer than eight TABs has empty fields in the middle and its
// last piece in "FileName"; a line with more keeps the extra TABs in "FileName".
TRecordFields SplitRecordLine(std::string line);

// The record line of the nine fields: joined with one TAB between each two (eight TABs at least).
std::string JoinRecordFields(const TRecordFields& fields);

}  // namespace console
