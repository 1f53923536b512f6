#include "console/controls/delimtable.h"

#include <istream>

#include "collector/password.h"
#include "rtl/cp932.h"
#include "rtl/files.h"

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kTab = '\t';

}  // namespace

// Reads a file field by field, in chunks of kReadChunk bytes with one byte of look-ahead, so a
// file of any size is read in one pass without holding it whole.
class TDelimTable::TFieldReader {
 public:
  TFieldReader(std::istream& in, const TDelimTable& table)
      : in_(in),
        quote_(table.QuoteChar.size() == 1 ? static_cast<unsigned char>(table.QuoteChar[0]) : -1),
        separator_(table.Separator.size() == 1 ? static_cast<unsigned char>(table.Separator[0])
                                               : -1),
        // Record files: a CR inside a value is text (see LoadFromFile).
        crEndsOnlyLines_(table.Separator == std::string(1, kTab) && table.QuoteChar.empty()) {}

  // Reads the next field. Afterwards Text() is its value, Quoted() tells whether it began with
  // the quote character, LineEnded() whether a CR ended it, Ended() whether the file has no byte
  // left.
  void ReadField() {
    text_.clear();
    quoted_ = false;
    terminator_ = 0;
    bool inQuotes = false;
    while (report_ == kMore && terminator_ == 0) {
      report_ = ReadChar();
      if (report_ == kEndOfFile) break;
      const int c = cur_;  // unsigned byte value
      if (inQuotes) {
        if (c != quote_) {
          text_ += static_cast<char>(cur_);
        } else if (report_ == kMore && next_ == quote_) {
          text_ += static_cast<char>(cur_);
          report_ = ReadChar();  // the second quote of the pair
        } else {
          inQuotes = false;
        }
      } else if (c == quote_) {
        quoted_ = inQuotes = true;
      } else if (c == kLF) {
        // skipped outside quotes: CR LF ends a line as CR alone does
      } else if (IsFieldEnd(c)) {
        terminator_ = c;
      } else {
        text_ += static_cast<char>(cur_);
      }
    }
  }

  const std::string& Text() const { return text_; }
  bool Quoted() const { return quoted_; }
  bool LineEnded() const { return terminator_ == kCR; }
  bool Ended() const { return report_ != kMore; }
  // True when the file ended before the field had any byte of its own (the LF of a last CR LF).
  bool NothingRead() const { return Ended() && text_.empty() && !quoted_ && terminator_ == 0; }

 private:
  // What ReadChar found: a byte with another after it (next_ holds that one), nothing, or the
  // file's last byte.
  enum TReport { kMore, kEndOfFile, kLastChar };

  TReport ReadChar() {
    if (pos_ >= len_ && !Fill()) return kEndOfFile;
    cur_ = static_cast<unsigned char>(buf_[pos_++]);
    if (pos_ >= len_ && !Fill()) return kLastChar;
    next_ = static_cast<unsigned char>(buf_[pos_]);
    return kMore;
  }

  // Loads the next chunk; false at the end of the file or after a read error (the stream stays
  // failed, so the load ends there).
  bool Fill() {
    pos_ = len_ = 0;
    if (!in_.good()) return false;
    in_.read(buf_, kReadChunk);
    len_ = static_cast<size_t>(in_.gcount());
    return len_ > 0;
  }

  bool IsFieldEnd(int c) const {
    if (c == kCR)
      return !crEndsOnlyLines_ || report_ == kLastChar || (report_ == kMore && next_ == kLF);
    return c == separator_;
  }

  std::istream& in_;
  // The quote and separator bytes as unsigned values, -1 when they never match.
  const int quote_;
  const int separator_;
  const bool crEndsOnlyLines_;

  char buf_[kReadChunk];
  size_t pos_ = 0;
  size_t len_ = 0;
  unsigned char cur_ = 0;
  unsigned char next_ = 0;
  TReport report_ = kMore;
  std::string text_;
  bool quoted_ = false;
  int terminator_ = 0;  // the byte that ended the field, 0 when none
};

TDelimTable::TDelimTable() {
  Reset();
}

TDelimTable::~TDelimTable() = default;

void TDelimTable::Reset() {
  Clear();
  fieldNames_.Clear();
  fieldTypes_.Clear();
}

void TDelimTable::Clear() {
  records_.clear();
  current_ = -1;
  bof_ = eof_ = true;
}

bool TDelimTable::LoadFromFile(const std::string& fileName) {
  rtl::TFileReadStream in;
  if (in.Open(fileName) != 0) return false;

  const std::string base = rtl::ExtractFileName(fileName);
  const size_t dot = base.rfind('.');
  Name = dot == std::string::npos ? std::string() : base.substr(0, dot);
  Reset();

  TFieldReader reader(in, *this);
  do {
    reader.ReadField();
    if (!reader.Text().empty()) AddField(reader.Text());
  } while (!reader.LineEnded() && !reader.Ended());

  while (!reader.Ended()) {
    int fieldNo = 1;
    bool firstField = true;
    do {
      reader.ReadField();
      if (reader.NothingRead()) break;
      if (firstField) {
        firstField = false;
        Append();
        if (fieldTypes_.Count() > 0) {
          const bool number = !reader.Text().empty() && !reader.Quoted();
          fieldTypes_.SetString(0, number ? kTypeFloat : kTypeString);
        }
      }
      if (!reader.Text().empty()) {
        // Values beyond the last field fail here and are dropped.
        SetFieldValue(fieldNo,
                      Decipher ? DecryptSetting(reader.Text(), kSettingPassphrase) : reader.Text());
      }
      ++fieldNo;
    } while (!reader.LineEnded() && !reader.Ended());
  }
  return true;
}

bool TDelimTable::AddField(const std::string& name) {
  if (rtl::TrimLeft(name).empty()) return false;
  if (fieldNames_.IndexOf(name) >= 0) return false;
  fieldNames_.Add(name);
  fieldTypes_.Add(kTypeString);
  for (auto& record : records_)
    record->Add("");
  return true;
}

void TDelimTable::Append() {
  auto record = std::make_unique<rtl::TStringList>();
  for (int i = 0; i < fieldNames_.Count(); ++i)
    record->Add("");
  records_.push_back(std::move(record));
  Last();
}

bool TDelimTable::Position(int index) {
  if (records_.empty()) {
    current_ = -1;
    bof_ = eof_ = true;
    return false;
  }
  current_ = index;
  bof_ = eof_ = false;
  return true;
}

bool TDelimTable::First() {
  return Position(0);
}

bool TDelimTable::Last() {
  return Position(RecordCount() - 1);
}

bool TDelimTable::Next() {
  if (records_.empty() || current_ >= RecordCount() - 1) {
    bof_ = records_.empty();
    eof_ = true;
    return false;
  }
  return Position(current_ + 1);
}

const rtl::TStringList* TDelimTable::GetRecord(int index) const {
  if (index < 0 || index >= RecordCount()) return nullptr;
  return records_[index].get();
}

std::string TDelimTable::GetFieldValue(std::string_view name) const {
  const int field = fieldNames_.IndexOf(name);
  if (field < 0 || current_ < 0) return std::string();
  return records_[current_]->Strings(field);
}

bool TDelimTable::SetFieldValue(int fieldNo, const std::string& value) {
  if (fieldNo < 1 || fieldNo > fieldNames_.Count() || current_ < 0) return false;
  records_[current_]->SetString(fieldNo - 1, value);
  return true;
}
