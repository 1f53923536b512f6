#include "console/records.h"

namespace console {

std::string CutTabField(std::string& text) {
  const size_t tab = text.find('\t');
  if (tab == std::string::npos) return std::string();
  std::string field = text.substr(0, tab);
  text.erase(0, tab + 1);
  return field;
}

TRecordFields SplitRecordLine(std::string line) {
  TRecordFields fields;
  for (int i = 0; i < kRecordFieldCount - 1; ++i)
    fields[i] = CutTabField(line);
  fields[kRecordFieldCount - 1] = std::move(line);
  return fields;
}

std::string JoinRecordFields(const TRecordFields& fields) {
  std::string line = fields[0];
  for (int i = 1; i < kRecordFieldCount; ++i)
    line += '\t' + fields[i];
  return line;
}

}  // namespace console
