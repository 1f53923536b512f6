// The record file the controls' tests read: data/records.log, a day's record file as the
// collector's day-file writer makes it (header line, nine TAB-separated values per record, CR LF,
// CP932), with a few hundred records of five hosts and the odd lines agents send: a value with a
// double quote, one with ";", a line with fewer values, one with more, an empty host and a value
// with a CR inside. The lines here are the source of that file and of what the tests expect.
#pragma once

#include <string>
#include <vector>

namespace controlstest {

// The committed fixture file.
std::string FixturePath();

// The record lines of the fixture in file order, CP932, without line ends.
const std::vector<std::string>& FixtureLines();

// Indices into FixtureLines of the odd lines.
struct FixtureSpecials {
  static constexpr int kQuote = 40;       // its Comment holds a double quote
  static constexpr int kSemicolon = 77;   // its FileName holds ";"
  static constexpr int kFewer = 120;      // seven values only
  static constexpr int kMore = 150;       // eleven values
  static constexpr int kEmptyHost = 200;  // HostName empty
  static constexpr int kInnerCR = 250;    // its Comment holds a CR
};

// The nine field values a reader should find for line: the line split at TAB, cut or padded with
// empty values to nine.
std::vector<std::string> FixtureValues(const std::string& line);

// Writes FixtureLines with the collector's day-file writer into programDir/RecvData/ (which must
// exist) and returns the path of the file it wrote.
std::string WriteFixture(const std::string& programDir);

}  // namespace controlstest
