// A delimited text file held in memory as a table: the first line names the fields, every further
// line is one record, and a cursor walks the records. The console reads a day's record file with
// it. The table only reads files; it never writes one.
//
// Ownership and threads: the table owns its records; GetRecord lends one until the next load,
// Reset or Clear. A table belongs to one thread. No operation raises an error of its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/classes.h"

class TDelimTable {
 public:
  // Type names of the fields.
  static constexpr char kTypeString[] = "STRING";
  static constexpr char kTypeFloat[] = "FLOAT";
  // A file is read in chunks of this many bytes.
  static constexpr size_t kReadChunk = 1000;

  // An empty table: QuoteChar the double quote, Separator ";", Bof and Eof true.
  TDelimTable();
  ~TDelimTable();
  TDelimTable(const TDelimTable&) = delete;
  TDelimTable& operator=(const TDelimTable&) = delete;

  // Frees every record and forgets the fields; no current record, Bof and Eof true.
  void Reset();
  // Frees every record and keeps the fields; no current record, Bof and Eof true.
  void Clear();

  // Replaces fields and records with those of the file fileName and sets Name to its file name
  // without folder and extension (empty when it has no "."). Returns false, leaving the table as
  // it was, when the file cannot be opened; true otherwise. A read error ends the load there, as
  // the end of the file would. Afterwards the last record is the current one.
  //
  // The first line's fields become the fields (AddField: blank and repeated names are skipped,
  // so the names after them move left against the values). A field ends at a byte equal to the
  // whole Separator (so a longer Separator never matches) or at CR; an LF outside quotes is
  // skipped, so lines end at CR LF or CR, never at LF alone. A field that starts with QuoteChar
  // is quoted: inside, a doubled QuoteChar stands for one and CR, LF and Separator are text; the
  // quotes are dropped. Values beyond the field count are dropped; missing ones stay empty. With
  // Separator TAB and an empty QuoteChar (the record files), a line ends only at CR LF or at a CR
  // that is the file's last byte: any other CR is part of its value.
  bool LoadFromFile(const std::string& fileName);

  // Adds a field with type "STRING" and an empty value in every record. False, changing nothing,
  // when name is blank after its leading blanks or already a field name (ASCII letters compared
  // without case).
  bool AddField(const std::string& name);

  // Adds a record with one empty value per field at the end and makes it current.
  void Append();

  // Positioning: true and Bof, Eof false when the table holds a record; else false with no
  // current record and Bof, Eof true. Next on the last record returns false, leaves it current
  // and sets Eof.
  bool First();
  bool Last();
  bool Next();

  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return records_.empty(); }
  int RecordCount() const { return static_cast<int>(records_.size()); }
  // The current record's index, -1 when there is none.
  int RecNo() const { return current_; }

  // Record index's values, one per field in field order; null when index is out of range.
  const rtl::TStringList* GetRecord(int index) const;

  // The current record's value of the field name (ASCII letters compared without case); empty
  // when there is no such field or no current record.
  std::string GetFieldValue(std::string_view name) const;

  // Stores value into field fieldNo (1-based) of the current record. False, storing nothing,
  // when fieldNo is out of range or there is no current record.
  bool SetFieldValue(int fieldNo, const std::string& value);

  const rtl::TStringList& FieldNames() const { return fieldNames_; }
  // "STRING" or "FLOAT", parallel to FieldNames. A load sets the first field's type from the
  // first value of each line (the last line decides): "FLOAT" for an unquoted non-empty value.
  const rtl::TStringList& FieldTypes() const { return fieldTypes_; }

  std::string Name;
  std::string QuoteChar = "\"";
  std::string Separator = ";";
  // When set, a load deciphers each non-empty value with the stored-setting decoding
  // (DecryptSetting with the programs' passphrase) before storing it; a value that cannot be
  // deciphered becomes empty.
  bool Decipher = false;

 private:
  class TFieldReader;

  bool Position(int index);

  rtl::TStringList fieldNames_;
  rtl::TStringList fieldTypes_;
  std::vector<std::unique_ptr<rtl::TStringList>> records_;
  int current_ = -1;
  bool bof_ = true;
  bool eof_ = true;
};
