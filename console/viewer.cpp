// The record viewer on TabAdmin: the day chooser ValHistory, the host tree TrePCList and the
// record grid GrdWatch, loaded from the record day files, and the live insertion of the records
// that arrive while the console collects.
#include <algorithm>

#include "collector/dayfiles.h"
#include "console/frmsyosai.h"
#include "console/frmwatch.h"
#include "console/records.h"
#include "console/texts.h"
#include "console/viewertexts.h"

namespace {

constexpr char kRootText[] = "All Computer";
// The tree's pictures (ImgTree).
constexpr int kRootImage = 0;
constexpr int kHostImage = 1;
// FitColumnWidths after a load: no column narrower than this; a cell's text gets this much room.
constexpr int kMinColumnWidth = 64;
constexpr int kCellPadding = 10;

}  // namespace

void TFrmWatch::WireViewer() {
  // The grid's look: the Japanese face, the toolkit's selection colours, no highlight of the focus
  // row or header, whole rows selected, columns sized by dragging, both scroll bars.
  GrdWatch->Font()->SetName(console::text::kFontName);
  GrdWatch->Font()->SetHeight(-12);
  GrdWatch->HeaderFont()->SetName(console::text::kFontName);
  GrdWatch->HeaderFont()->SetHeight(-12);
  GrdWatch->HeaderFont()->SetStyle(TFontStyles{fsBold});
  GrdWatch->ActiveHeaderColor = clNone;
  GrdWatch->ActiveHeaderFont()->SetColor(clNone);
  GrdWatch->ActiveRowColor = clNone;
  GrdWatch->ActiveFixedColor = clNone;
  GrdWatch->HeaderColor = clBtnFace;
  GrdWatch->FixedColor = clBtnFace;
  GrdWatch->SelectedColor = clHighlight;
  GrdWatch->SelectedFontColor = clHighlightText;
  GrdWatch->SetOptions(TGridOptions{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine,
                                    goRangeSelect, goColSizing, goRowSelect});
  GrdWatch->SetScrollBars(ssBoth);
  GrdWatch->SetRowCount(0);
  for (int i = 0; i < GrdWatch->Columns()->Count(); ++i) {
    TKGridColumn* column = GrdWatch->Columns()->Items(i);
    column->SetWidth(kMinColumnWidth);
    column->SetParentFont(true);
    column->SetParentHeaderFont(true);
    column->ReadOnly = false;
    column->ImeMode = 0;  // the input method off
  }

  // The day chooser: item i is i days back.
  for (int i = 0; i < console::text::kDayChoices; ++i) {
    ValHistory->Items()->Add(console::text::kDayChoice[i]);
    ValHistory->Values()->Add(std::to_string(i));
  }
  ValHistory->SetItemIndex(0);

  ValHistory->OnChange = [this](rtl::TObject* s) { ValHistoryChange(s); };
  TrePCList->OnChange = [this](rtl::TObject* s, TTreeNode* n) { TrePCListChange(s, n); };
  GrdWatch->OnDblClick = [this](rtl::TObject* s) { GrdWatchDblClick(s); };
}

std::string TFrmWatch::LogFileName(int DaysBack) {
  // Whole days off the local date itself, never DaysBack times 24 hours of clock time.
  return ProgramDir + collector::kRecordFolder + collector::DayFileName(rtl::Date() - DaysBack);
}

TTreeNode* TFrmWatch::RootNode() {
  return TrePCList->Items()->GetFirstNode();
}

template <typename Value>
void TFrmWatch::FillTopRow(Value value) {
  GrdWatch->InsertRow(0);
  for (int i = 0; i < console::kRecordFieldCount; ++i)
    if (TKGridColumn* column = GrdWatch->Columns()->FindByName(console::kRecordFields[i]))
      column->SetRowText(0, value(i));
}

bool TFrmWatch::LearnHost(const std::string& host) {
  if (host.empty() || HostList->IndexOf(host) >= 0) return false;
  HostList->Add(host);
  return true;
}

void TFrmWatch::LoadLogFile(const std::string& Path, const std::string& Host) {
  GrdWatch->ClearRows();
  if (Host.empty()) HostList->Clear();
  const int named = std::min(GrdWatch->Columns()->Count(), console::kRecordFieldCount);
  for (int i = 0; i < named; ++i) {
    TKGridColumn* column = GrdWatch->Columns()->Items(i);
    column->SetName(console::kRecordFields[i]);
    column->SetCaption(console::kRecordFields[i]);
  }
  if (RecordTable->LoadFromFile(Path)) {
    const auto field = [this](int i) {
      return RecordTable->GetFieldValue(console::kRecordFields[i]);
    };
    for (RecordTable->First(); !RecordTable->Eof(); RecordTable->Next()) {
      const std::string host = field(console::kHostField);
      // With a host, the exact spelling; without, every record that names a host (a spelling
      // that differs only in case belongs to the host first seen).
      const bool shown =
          Host.empty() ? (LearnHost(host) || HostList->IndexOf(host) >= 0) : host == Host;
      if (shown) FillTopRow(field);
    }
    FitColumnWidths(GrdWatch, kMinColumnWidth);
  }
  if (Host.empty()) RebuildTree();
}

void TFrmWatch::RebuildTree() {
  // Deleting the old root takes the selection with it; the change reports that the tree sends
  // meanwhile start no load.
  rebuildingTree_ = true;
  TTreeNodes* nodes = TrePCList->Items();
  nodes->BeginUpdate();
  try {
    nodes->Delete(nodes->GetFirstNode());
    TTreeNode* root = TrePCList->AddNode(nodes, nullptr, kRootText);
    root->ImageIndex = kRootImage;
    root->SelectedIndex = kRootImage;
    for (int i = 0; i < HostList->Count(); ++i) {
      TTreeNode* host = TrePCList->AddChildNode(nodes, root, HostList->Strings(i));
      host->ImageIndex = kHostImage;
      host->SelectedIndex = kHostImage;
    }
    root->Expand(true);
  } catch (...) {
    nodes->EndUpdate();
    rebuildingTree_ = false;
    throw;
  }
  nodes->EndUpdate();
  rebuildingTree_ = false;
}

void TFrmWatch::FitColumnWidths(TKStringGrid* Grid, int MinWidth) {
  TCanvas* canvas = Grid->Canvas();
  canvas->SetFont(*Grid->Font());
  for (int c = 0; c < Grid->Columns()->Count(); ++c) {
    TKGridColumn* column = Grid->Columns()->Items(c);
    int width = MinWidth;
    for (int r = 0; r < Grid->RowCount(); ++r)
      width = std::max(width, canvas->TextWidth(column->GetRowText(r)) + kCellPadding);
    column->SetWidth(width);
  }
}

void TFrmWatch::ValHistoryChange(rtl::TObject* Sender) {
  const int day = ValHistory->ItemIndex();
  if (day == ShownDay || day < 0) return;
  ShownDay = day;
  HostList->Clear();
  LoadLogFile(LogFileName(day), "");
}

void TFrmWatch::TrePCListChange(rtl::TObject* Sender, TTreeNode* Node) {
  if (rebuildingTree_ || Node == nullptr) return;
  const int day = std::max(ValHistory->ItemIndex(), 0);
  // The root by identity: a host may be called "All Computer" too.
  LoadLogFile(LogFileName(day), Node == RootNode() ? std::string() : Node->Text());
}

void TFrmWatch::GrdWatchDblClick(rtl::TObject* Sender) {
  if (GrdWatch->CurrentRow() == -1 || FrmSyosai == nullptr) return;
  FrmSyosai->ShowModal();
}

void TFrmWatch::ShowArrivedRecord(const std::string& Line) {
  const console::TRecordFields fields = console::SplitRecordLine(Line);
  const std::string& host = fields[console::kHostField];
  const bool newHost = LearnHost(host);
  if (ValHistory->ItemIndex() != 0) return;  // another day is shown
  TTreeNode* root = RootNode();
  if (newHost && root != nullptr) {
    TTreeNode* node = TrePCList->AddChildNode(TrePCList->Items(), root, host);
    node->ImageIndex = kHostImage;
    node->SelectedIndex = kHostImage;
  }
  // The root stands for every host; a host node for its own spelling only.
  TTreeNode* selected = TrePCList->Selected();
  const bool shown =
      !host.empty() && (selected == nullptr || selected == root || selected->Text() == host);
  if (shown) FillTopRow([&fields](int i) { return fields[i]; });
}
