// The details window TFrmSyosai: the fields of the record in the main window's current grid row,
// one per line, with BtnUp and BtnDown to step to the newer (above) and older (below) record.
// OK and Cancel close it. The values are drawn as data text: "&" and the like show as they are. A
// value too long for its label ends in "..." ("FileName" keeps its file name: its start, "...",
// its last "\" part) and is the label's hint, whole.
//
// Ownership: the application owns the form (CreateForm), the form its controls. It reads
// FrmWatch->GrdWatch and borrows nothing else. Threads: the GUI thread only.
#pragma once

#include <string>

#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"
#include "platform/ui/core/stdctrls.h"

class TKStringGrid;

class TFrmSyosai : public TForm {
 public:
  // Caption "詳細", 457 x 402 centred on the screen, close and help title-bar buttons (help does
  // nothing), "ＭＳ Ｐゴシック" 12 pixels.
  explicit TFrmSyosai(rtl::TComponent* Owner);

  TPanel* PnlSyosai;
  // The value labels, top to bottom.
  TLabel* LblDate;
  TLabel* LblTime;
  TLabel* LblOperation;
  TLabel* LblHostName;
  TLabel* LblComment;
  TLabel* LblIPAddress;
  TLabel* LblUserName;
  TLabel* LblDriveName;
  TLabel* LblDeviceName;
  TLabel* LblFileName;
  TBitBtn* BtnUp;    // an upward arrow: the row above, the next newer record
  TBitBtn* BtnDown;  // a downward arrow: the row below
  TButton* BtnOk;
  TButton* BtnCancel;

  // Fills the value labels from GrdWatch's current row: "Date" as its first 10 and its last 8
  // characters (a shorter text whole; double-byte characters are never cut), the other fields
  // as they are. Nothing when the grid has no rows.
  void ShowCurrentRow();
  void FormShow(rtl::TObject* Sender);
  // The current row one up (when it is not the top row), shown.
  void BtnUpClick(rtl::TObject* Sender);
  // The current row one down (when it is not the last row), shown.
  void BtnDownClick(rtl::TObject* Sender);

 private:
  // The main window's grid, or null when there is no main window.
  static TKStringGrid* Grid();
  // Makes row the grid's current row and shows it.
  void StepTo(int row);
  // Shows value in label; the label's hint is value when it does not fit, else empty.
  static void ShowValue(TLabel* label, const std::string& value);
};

// "Date"'s first (Head true) or last count characters; the whole text when it has no more.
// Characters are CP932 characters: a double-byte one counts once and is never cut.
std::string DatePart(const std::string& date, size_t count, bool head);

extern TFrmSyosai* FrmSyosai;
