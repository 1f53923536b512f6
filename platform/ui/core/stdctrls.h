// The standard controls: label, single-line edit, memo, push button, check box, radio button,
// group box and combo box. Each paints itself on its canvas and takes its input from the form
// (mouse in client coordinates, keys and typed text while focused). Text is CP932: carets and
// deletions move by whole characters. Ownership and threads as for every control (control.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/core/control.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/core/scrollbar.h"
#include "rtl/classes.h"

enum TTextLayout { tlTop, tlCenter, tlBottom };
// How a label shortens a text too wide for it: not at all (cut at its edge), at the end, or as a
// path (its start, "...", its last "\" part).
enum TEllipsisPosition { epNone, epPathEllipsis, epEndEllipsis };

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(rtl::TComponent* owner);
  // With AutoSize the label takes the size of its text whenever the text or font changes.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  TAlignment Alignment = taLeftJustify;
  TTextLayout Layout = tlTop;
  bool WordWrap = false;
  bool Transparent = false;
  TEllipsisPosition EllipsisPosition = epNone;
  // "&" marks the accelerator unless this is false.
  bool ShowAccelChar = true;
  // The control that gets the focus when the accelerator is pressed.
  TWinControl* FocusControl = nullptr;

 protected:
  void Paint() override;
  void TextChanged() override;
  void FontChanged() override;

 private:
  void AdjustSize();
  bool autoSize_ = true;
};

using TEditCharCase = int;

// Shared by TEdit and TMemo: text with a caret and a selection, editing keys, clipboard. The caret
// stands at the selection's end, never between a CR and its LF.
//
// A click puts the caret at the character boundary nearest to it, a double click selects the word
// there (a run of letters and digits, of double-byte characters, of blanks or of other signs).
// While focused the edit shows its caret, or its selection highlighted.
//
// A multi-line edit (MultiLine) shows its text in display lines: its lines, each broken where it
// meets the right edge when the edit wraps (WrapsLines). TopLine is the first that shows. Up and
// Down move the caret a display line, keeping its x; Page Up and Page Down by the lines that show;
// Home and End to the ends of its display line, Ctrl+Home and Ctrl+End to the text's. The view
// follows the caret and the wheel scrolls it; a vertical scroll bar, where the edit has one,
// shows always (inactive while every line shows).
class TCustomEdit : public TWinControl {
 public:
  explicit TCustomEdit(rtl::TComponent* owner);

  bool ReadOnly = false;
  // 0: no limit, else the most bytes the user may type (text set by code is not cut).
  int MaxLength = 0;
  int SelStart() const { return selStart_; }
  void SetSelStart(int value);
  int SelLength() const { return selLength_; }
  void SetSelLength(int value);
  std::string SelText() const;
  void SelectAll();
  void ClearSelection() { ReplaceSelection(""); }
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();

  virtual bool MultiLine() const { return false; }
  // The display lines, as byte ranges of the text.
  std::vector<TTextSpan> DisplayLines() const;
  // The first display line shown, and how many show whole (at least 1).
  int TopLine() const { return topLine_; }
  void SetTopLine(int value);
  int VisibleLines() const;
  // The client area: the bounds less the frame, the scroll bar and the padding.
  TRect NonClientInsets() const override;

  TNotifyEvent OnChange;

 protected:
  // Turns typed or pasted text into what the control stores.
  virtual std::string FilterInput(const std::string& text) const = 0;
  // The frame inside the bounds (the sunken edge: 2 pixels), inside which a scroll bar lies,
  // and the space between that and the text.
  virtual TRect FrameInsets() const { return TRect{2, 2, 2, 2}; }
  virtual TRect TextPadding() const { return TRect{}; }
  // Whether a multi-line edit breaks its lines at the right edge.
  virtual bool WrapsLines() const { return false; }
  // Where the display lines are laid out and drawn, in client coordinates.
  virtual TRect LinesRect() const { return ClientRect(); }
  // The height of a display line in the edit's font.
  int LineHeight() const;
  // The text as drawn: the text itself, or as many password characters as it has bytes.
  virtual std::string DisplayText() const { return Text(); }
  // The scroll bars a multi-line edit shows (always: inactive while all fits).
  void SetEditScrollBars(TScrollStyle style);
  // Draws the display lines from TopLine in LinesRect with the canvas font: the selection
  // highlighted when showSelection holds, and the caret while focused with nothing selected.
  void PaintLines(TCanvas* canvas, bool showSelection);
  // The sunken edge around the text (the 2 pixels of FrameInsets).
  void PaintNonClient(TCanvas& canvas) override;
  void ReplaceSelection(const std::string& text);
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  void TextInput(const std::string& text) override;
  void TextChanged() override;
  void FontChanged() override;
  void Resize() override;
  void DoEnter() override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  // A multi-line edit scrolls three lines a notch.
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
  // The caret to the click, or the word at a double click selected.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  int Caret() const { return selStart_ + selLength_; }
  // The display line of byte position pos, and the position on line nearest to x pixels.
  static int LineOf(const std::vector<TTextSpan>& lines, int pos);
  int PositionAt(const TTextSpan& line, int x) const;
  int CaretX(const std::vector<TTextSpan>& lines, int pos) const;
  // Moves the caret (nothing selected) keeping the x that Up and Down aim for when keepX.
  void MoveCaret(int pos, bool keepX = false);
  // Brings the caret's line into view.
  void ScrollToCaret();
  void ClampTopLine();
  TScrollRange ScrollRangeOf(TScrollBarKind kind) const;

  int selStart_ = 0;
  int selLength_ = 0;
  bool editing_ = false;
  int topLine_ = 0;
  // The x that Up and Down keep while they move on, or -1.
  int preferredX_ = -1;
  TControlScrollBars scrollBars_{this};
};

class TEdit : public TCustomEdit {
 public:
  explicit TEdit(rtl::TComponent* owner);
  // Shown instead of every character when not 0.
  char PasswordChar = 0;
  bool AutoSelect = true;

 protected:
  std::string FilterInput(const std::string& text) const override;
  // The one line, one pixel in from the left, centred in the height.
  TRect LinesRect() const override;
  std::string DisplayText() const override;
  void Paint() override;
};

// A multi-line edit. Its text always has CR LF line breaks, whatever was typed, pasted or set
// (a lone CR or LF becomes CR LF). Its lines are laid out one pixel inside its client area.
class TMemo : public TCustomEdit {
 public:
  explicit TMemo(rtl::TComponent* owner);
  // The lines, read from the text (a final CR LF ends the last line, it adds no empty one).
  std::vector<std::string> Lines() const;
  void SetLines(const std::vector<std::string>& lines);
  void AddLine(const std::string& line);
  // ssVertical and ssBoth give the memo its vertical bar; it has no horizontal one (without
  // WordWrap a long line is cut at the right edge).
  TScrollStyle ScrollBars() const { return scrollStyle_; }
  void SetScrollBars(TScrollStyle value);
  bool WordWrap = true;
  bool WantReturns = true;
  bool WantTabs = false;
  bool MultiLine() const override { return true; }

 protected:
  std::string FilterInput(const std::string& text) const override;
  bool WrapsLines() const override { return WordWrap; }
  TRect LinesRect() const override { return ClientRect().Inflate(-1, -1); }
  void TextChanged() override;
  void Paint() override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  void KeyPress(char& Key) override;

 private:
  TScrollStyle scrollStyle_ = ssNone;
};

// The text with every CR LF, lone CR and lone LF turned into CR LF.
std::string NormalizeLineBreaks(const std::string& text);

class TButton : public TWinControl {
 public:
  explicit TButton(rtl::TComponent* owner);
  // Enter on the form clicks the default button, Escape the cancel button.
  bool Default = false;
  bool Cancel = false;
  // Set on the form when clicked (a modal form then closes with it).
  TModalResult ModalResult = mrNone;
  void Click() override;

 protected:
  void Paint() override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool down_ = false;
};

// A push button with a picture before its caption.
class TBitBtn : public TButton {
 public:
  explicit TBitBtn(rtl::TComponent* owner) : TButton(owner) {}
  TBitmap Glyph;

 protected:
  void Paint() override;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(rtl::TComponent* owner);
  bool Checked() const { return state_ == cbChecked; }
  // A change fires OnClick.
  void SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return state_; }
  void SetState(TCheckBoxState value);
  bool AllowGrayed = false;
  // Toggles (through grayed when allowed), which fires OnClick.
  void Click() override;

 protected:
  void Paint() override;
  void KeyDown(WORD& Key, TShiftState Shift) override;

 private:
  TCheckBoxState state_ = cbUnchecked;
};

// Of the radio buttons of one parent, at most one is checked.
class TRadioButton : public TWinControl {
 public:
  explicit TRadioButton(rtl::TComponent* owner);
  bool Checked() const { return checked_; }
  // Checking one unchecks its siblings; a change fires OnClick.
  void SetChecked(bool value);
  void Click() override { SetChecked(true); }

 protected:
  void Paint() override;

 private:
  bool checked_ = false;
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(rtl::TComponent* owner);

 protected:
  TRect AlignRect() const override;
  void Paint() override;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

class TDropDownList;

// A combo box. While DroppedDown its list shows in a popup window of its own below the box
// (dropdownlist.h); choosing from it (a click on an item, Enter on the hot item, or a press on the
// box dragged onto an item and let go there) sets ItemIndex and fires OnChange. A press on the
// box opens or closes the list; a press anywhere else, Escape, or the box losing the focus closes
// it. The box keeps the keyboard meanwhile: Up and Down move the hot item.
class TComboBox : public TWinControl {
 public:
  explicit TComboBox(rtl::TComponent* owner);
  ~TComboBox() override;
  TComboBoxStyle Style = csDropDown;
  rtl::TStringList* Items() { return &items_; }
  int ItemIndex() const { return itemIndex_; }
  // -1 clears; out of range is ignored. Never fires OnChange (only the user's choice does).
  void SetItemIndex(int value);
  // The most rows the list shows at once.
  int DropDownCount = 8;
  bool DroppedDown() const { return dropped_; }
  void SetDroppedDown(bool value);
  // The item the list shows as hot while dropped down (the pointer over it, or the arrow keys).
  int HotIndex() const { return hot_; }
  void SetHotIndex(int index);
  // What a choice from the list does: the list closes, ItemIndex and, when it changed, OnChange.
  void Choose(int index);
  // The list's window (null before the list first dropped down).
  TDropDownList* DropDownList() const { return list_.get(); }

  TNotifyEvent OnChange;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnCloseUp;

 protected:
  void Paint() override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  void DoExit() override;

 private:
  // The item of the list under client point p of the box (-1: none), for a press dragged there.
  int ListItemAt(TPoint p) const;

  rtl::TStringList items_;
  int itemIndex_ = -1;
  bool dropped_ = false;
  int hot_ = -1;
  std::unique_ptr<TDropDownList> list_;
};
