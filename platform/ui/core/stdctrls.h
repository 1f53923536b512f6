// The standard controls: label, single-line edit, memo, push button, check box, radio button,
// group box and combo box. Each paints itself on its canvas and takes its input from the form
// (mouse in client coordinates, keys and typed text while focused). Text is CP932: carets and
// deletions move by whole characters. Ownership and threads as for every control (control.h).
#pragma once

#include <string>

#include "platform/ui/core/control.h"
#include "rtl/classes.h"

enum TTextLayout { tlTop, tlCenter, tlBottom };

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

// Shared by TEdit and TMemo: text with a caret and a selection, editing keys, clipboard.
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

  TNotifyEvent OnChange;

 protected:
  // Turns typed or pasted text into what the control stores.
  virtual std::string FilterInput(const std::string& text) const = 0;
  // The sunken edge around the text (the 2 pixels of NonClientInsets).
  void PaintNonClient(TCanvas& canvas) override;
  void ReplaceSelection(const std::string& text);
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  void TextInput(const std::string& text) override;
  void TextChanged() override;
  void DoEnter() override;
  bool WantsKey(WORD key, TShiftState shift) const override;

 private:
  int selStart_ = 0;
  int selLength_ = 0;
  bool editing_ = false;
};

class TEdit : public TCustomEdit {
 public:
  explicit TEdit(rtl::TComponent* owner);
  // Shown instead of every character when not 0.
  char PasswordChar = 0;
  bool AutoSelect = true;
  TRect NonClientInsets() const override { return TRect{2, 2, 2, 2}; }

 protected:
  std::string FilterInput(const std::string& text) const override;
  void Paint() override;
};

// A multi-line edit. Its text always has CR LF line breaks, whatever was typed, pasted or set
// (a lone CR or LF becomes CR LF).
class TMemo : public TCustomEdit {
 public:
  explicit TMemo(rtl::TComponent* owner);
  // The lines, read from the text (a final CR LF ends the last line, it adds no empty one).
  std::vector<std::string> Lines() const;
  void SetLines(const std::vector<std::string>& lines);
  void AddLine(const std::string& line);
  TScrollStyle ScrollBars = ssNone;
  bool WordWrap = true;
  bool WantReturns = true;
  bool WantTabs = false;
  TRect NonClientInsets() const override { return TRect{2, 2, 2, 2}; }

 protected:
  std::string FilterInput(const std::string& text) const override;
  void TextChanged() override;
  void Paint() override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  void KeyPress(char& Key) override;
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

// A combo box. The drop-down list is drawn below the box while DroppedDown; choosing from it
// (a click on an item, Enter on the hot item) sets ItemIndex and fires OnChange.
class TComboBox : public TWinControl {
 public:
  explicit TComboBox(rtl::TComponent* owner);
  TComboBoxStyle Style = csDropDown;
  rtl::TStringList* Items() { return &items_; }
  int ItemIndex() const { return itemIndex_; }
  // -1 clears; out of range is ignored. Never fires OnChange (only the user's choice does).
  void SetItemIndex(int value);
  int DropDownCount = 8;
  bool DroppedDown() const { return dropped_; }
  void SetDroppedDown(bool value);
  // The item the list shows as hot while dropped down.
  int HotIndex() const { return hot_; }
  // What a choice from the list does: ItemIndex and, when it changed, OnChange.
  void Choose(int index);

  TNotifyEvent OnChange;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnCloseUp;

 protected:
  void Paint() override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool WantsKey(WORD key, TShiftState shift) const override;

 private:
  rtl::TStringList items_;
  int itemIndex_ = -1;
  bool dropped_ = false;
  int hot_ = -1;
};
