#include "platform/ui/fltk/demo/demoform.h"

namespace {

// A size x size picture: a frame in edge around a fill.
TBitmap Swatch(int size, uint32_t fill, uint32_t edge) {
  TBitmap b(size, size, fill);
  for (int i = 0; i < size; ++i) {
    b.SetPixel(i, 0, edge);
    b.SetPixel(i, size - 1, edge);
    b.SetPixel(0, i, edge);
    b.SetPixel(size - 1, i, edge);
  }
  return b;
}

TMenuItem* AddItem(rtl::TComponent* owner, TMenuItem* parent, const char* caption) {
  auto* item = new TMenuItem(owner);
  item->Caption = caption;
  parent->Add(item);
  return item;
}

// A control of type T made by owner, placed in parent at bounds, with caption.
template <typename T>
T* Place(rtl::TComponent* owner, TWinControl* parent, const TRect& bounds, const char* caption) {
  T* control = new T(owner);
  control->SetParent(parent);
  control->SetBoundsRect(bounds);
  control->SetCaption(caption);
  return control;
}

}  // namespace

TDemoForm::TDemoForm(rtl::TComponent* owner) : TForm(owner) {
  SetCaption("Kelvadon UI demo");
  Font()->SetName(kDemoFontName);
  Font()->SetHeight(-12);
  Position = poScreenCenter;

  MainMenu = new TMainMenu(this);
  TMenuItem* file = AddItem(this, MainMenu->Items(), "&File");
  AddItem(this, file, "&Open...");
  AddItem(this, file, "-");
  AddItem(this, file, "E&xit")->OnClick = [this](rtl::TObject*) { Close(); };
  TMenuItem* help = AddItem(this, MainMenu->Items(), "&Help");
  AddItem(this, help, "&About");
  SetMenu(MainMenu);
  // After the menu, which takes its height from the form's.
  SetClientWidth(kDemoClientWidth);
  SetClientHeight(kDemoClientHeight);
  PopupMenu = new TPopupMenu(this);
  AddItem(this, PopupMenu->Items(), "&Copy");
  AddItem(this, PopupMenu->Items(), "&Paste");

  Images = new TImageList(this);
  Images->Add(Swatch(16, 0xFF3080E0u, 0xFF103060u));
  Images->Add(Swatch(16, 0xFF40C040u, 0xFF106010u));
  Images->Add(Swatch(16, 0xFFE0A030u, 0xFF604010u));

  ToolBar = new TToolBar(this);
  ToolBar->SetParent(this);
  ToolBar->SetAlign(alTop);
  ToolBar->Images = Images;
  for (int i = 0; i < 3; ++i) {
    ToolButtons[i] = new TToolButton(this);
    ToolButtons[i]->ImageIndex = i;
    ToolButtons[i]->SetParent(ToolBar);
  }
  ToolBar->Realign();  // places the buttons side by side

  StatusPanel = new TPanel(this);
  StatusPanel->SetParent(this);
  StatusPanel->SetAlign(alBottom);
  StatusPanel->SetHeight(22);
  StatusPanel->SetBevelOuter(bvLowered);
  StatusPanel->Alignment = taLeftJustify;
  StatusPanel->SetCaption(kDemoUserText);

  LeftPanel = new TPanel(this);
  LeftPanel->SetParent(this);
  LeftPanel->SetAlign(alLeft);
  LeftPanel->SetWidth(240);

  GroupBox = Place<TGroupBox>(this, LeftPanel, Bounds(8, 8, 224, 92), kDemoComputer);
  Radio1 = Place<TRadioButton>(this, GroupBox, Bounds(10, 20, 200, 18), "&All Computer");
  Radio1->SetChecked(true);
  Radio2 = Place<TRadioButton>(this, GroupBox, Bounds(10, 42, 200, 18), kDemoRecord);
  CheckBox = Place<TCheckBox>(this, GroupBox, Bounds(10, 64, 200, 18), "&Report");
  CheckBox->SetChecked(true);
  MailLabel = Place<TLabel>(this, LeftPanel, Bounds(8, 112, 224, 16), "");
  MailLabel->ShowAccelChar = false;  // before the text, which sizes the label
  MailLabel->SetCaption(kDemoMailText);
  MailEdit = Place<TEdit>(this, LeftPanel, Bounds(8, 132, 224, 22), kDemoMailText);
  ComboBox = new TComboBox(this);
  ComboBox->SetParent(LeftPanel);
  ComboBox->SetBounds(8, 162, 224, 22);
  ComboBox->Style = csDropDownList;
  ComboBox->Items()->Add(kDemoComputer);
  ComboBox->Items()->Add(kDemoRecord);
  ComboBox->SetItemIndex(0);
  Button = Place<TButton>(this, LeftPanel, Bounds(8, 194, 100, 25), "&OK");
  Button->Default = true;
  BitBtn = Place<TBitBtn>(this, LeftPanel, Bounds(116, 194, 116, 25), "&Send");
  BitBtn->Glyph = Swatch(16, 0xFFE04040u, 0xFF601010u);

  Splitter = new TSplitter(this);
  Splitter->SetParent(this);
  Splitter->SetAlign(alLeft);
  Splitter->SetLeft(LeftPanel->Width());

  Pages = new TPageControl(this);
  Pages->SetParent(this);
  Pages->SetAlign(alClient);
  ConsoleSheet = new TTabSheet(this);
  ConsoleSheet->SetPageControl(Pages);
  ConsoleSheet->SetCaption(kDemoConsoleTab);
  Header = new THeaderControl(this);
  Header->SetParent(ConsoleSheet);
  Header->SetAlign(alTop);
  const char* columns[] = {kDemoComputer, "Address", kDemoRecord};
  for (const char* column : columns) {
    THeaderSection* s = Header->Sections()->Add();
    s->Text = column;
    s->SetWidth(180);
  }
  Grid = new TStringGrid(this);
  Grid->SetParent(ConsoleSheet);
  Grid->SetAlign(alClient);
  Grid->SetColCount(3);
  Grid->SetRowCount(6);
  Grid->SetFixedCols(0);
  TGridOptions options = Grid->Options();
  options.Include(goRowSelect);
  Grid->SetOptions(options);
  for (int c = 0; c < 3; ++c)
    Grid->SetColWidths(c, 180);
  for (int r = 1; r < 6; ++r) {
    Grid->SetCells(0, r, kDemoComputer);
    Grid->SetCells(1, r, kDemoUserText);
    Grid->SetCells(2, r, kDemoRecord);
  }
  Grid->SetRow(2);

  MoreSheet = new TTabSheet(this);
  MoreSheet->SetPageControl(Pages);
  MoreSheet->SetCaption("&More");
  Memo = new TMemo(this);
  Memo->SetParent(MoreSheet);
  Memo->SetBounds(8, 8, 300, 120);
  Memo->SetLines({kDemoMemoLine, kDemoMailText});
  Memo->Font()->SetName(kDemoFixedFontName);
  Image = new TImage(this);
  Image->SetParent(MoreSheet);
  Image->SetBounds(320, 8, 64, 64);
  Image->Picture()->SetBitmap(Swatch(64, 0xFF2060A0u, 0xFF000000u));
  PaintBox = new TPaintBox(this);
  PaintBox->SetParent(MoreSheet);
  PaintBox->SetBounds(400, 8, 64, 64);
  PaintBox->OnPaint = [this](rtl::TObject*) {
    TCanvas* c = PaintBox->Canvas();
    c->Brush()->SetColor(clYellow);
    c->Pen()->SetColor(clMaroon);
    c->Rectangle(0, 0, PaintBox->Width(), PaintBox->Height());
    c->MoveTo(0, 0);
    c->LineTo(PaintBox->Width(), PaintBox->Height());
  };
  DrawGrid = new TDrawGrid(this);
  DrawGrid->SetParent(MoreSheet);
  DrawGrid->SetBounds(8, 140, 300, 120);
  Tree = new TTreeView(this);
  Tree->SetParent(MoreSheet);
  Tree->SetBounds(320, 140, 250, 180);
  TTreeNode* root = Tree->Items()->AddChild(nullptr, "All Computer");
  for (const char* host : {kDemoComputer, kDemoUserText})
    Tree->Items()->AddChild(root, host);
  root->Expand(false);
  Pages->SetActivePage(ConsoleSheet);
  Hint = new THintWindow(this);

  Timer = new TTimer(this);
  Timer->SetEnabled(false);
}
