// A form that holds one of every control class of platform/ui (and owns a hint window), laid out in
// a 1024 x 768 client area with Japanese and ASCII texts, for looking at the display peer
// (screenshots, the demo program) and for the screenshot tests, which find its texts and colours
// where its layout puts them. The controls are public so the tests can ask where they are.
//
// Ownership: the form owns its controls; the application owns the form (CreateForm). GUI thread.
#pragma once

#include "platform/msg/timer.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"
#include "platform/ui/core/grids.h"
#include "platform/ui/core/hintwindow.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/core/stdctrls.h"
#include "platform/ui/core/treeview.h"

extern const char* const kDemoFontName;       // the proportional Japanese gothic face
extern const char* const kDemoFixedFontName;  // the fixed-pitch one
extern const char* const kDemoConsoleTab;     // the first tab's caption
extern const char* const kDemoComputer;
extern const char* const kDemoRecord;
extern const char* const kDemoMemoLine;

// Texts with "@" and "&" that must show as given.
constexpr char kDemoMailText[] = "a@b&c";
constexpr char kDemoUserText[] = "user@host";
constexpr int kDemoClientWidth = 1024;
constexpr int kDemoClientHeight = 768;

class TDemoForm : public TForm {
 public:
  explicit TDemoForm(rtl::TComponent* owner);

  TMainMenu* MainMenu;
  TPopupMenu* PopupMenu;
  TImageList* Images;
  TToolBar* ToolBar;
  TToolButton* ToolButtons[3];
  TPanel* StatusPanel;
  TPanel* LeftPanel;
  TGroupBox* GroupBox;
  TRadioButton* Radio1;
  TRadioButton* Radio2;
  TCheckBox* CheckBox;
  TLabel* MailLabel;
  TEdit* MailEdit;
  TComboBox* ComboBox;
  TButton* Button;
  TBitBtn* BitBtn;
  TSplitter* Splitter;
  TPageControl* Pages;
  TTabSheet* ConsoleSheet;
  THeaderControl* Header;
  TStringGrid* Grid;
  TTabSheet* MoreSheet;
  TMemo* Memo;
  TImage* Image;
  TPaintBox* PaintBox;
  TDrawGrid* DrawGrid;
  TTreeView* Tree;
  // A window of its own, shown by ActivateHint.
  THintWindow* Hint;
  TTimer* Timer;
};
