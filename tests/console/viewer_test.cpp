// The console's record viewer and details window, headless: day files written by the collector's
// day-file writer into a temporary program folder, the clock set through the wall-clock seam, the
// main window made as the program makes it (FormCreate loads today's file) without its first show.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "collector/dayfiles.h"
#include "console/frmsyosai.h"
#include "console/frmwatch.h"
#include "console/records.h"
#include "console/viewertexts.h"
#include "platform/msg/msg.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/datetime.h"
#include "tests/console/viewer_days.h"

namespace {

using Strings = std::vector<std::string>;

using viewertest::LocalMicros;
using viewertest::Rec;

class Viewer : public ::testing::Test {
 protected:
  void Write(int daysBack, const Strings& lines) { days_.Write(daysBack, lines); }

  // The windows as the program makes them: the main window (FormCreate shows today's records)
  // and the details window. The hand-over of the first show stays out (no service here).
  void Open() {
    kit_.App.CreateForm(form_);
    kit_.App.CreateForm(syosai_);
    form_->OnShow = nullptr;
    grid_ = form_->GrdWatch;
    tree_ = form_->TrePCList;
  }

  // One column's texts, top row first.
  Strings Column(const char* name) const {
    Strings texts;
    TKGridColumn* column = grid_->Columns()->FindByName(name);
    for (int r = 0; r < grid_->RowCount(); ++r)
      texts.push_back(column->GetRowText(r));
    return texts;
  }
  Strings Files() const { return Column("FileName"); }

  // The tree: every node's text, depth first, a child indented by two blanks.
  Strings Tree() const {
    Strings texts;
    for (TTreeNode* n = tree_->Items()->GetFirstNode(); n != nullptr; n = n->GetNext())
      texts.push_back(std::string(2 * n->Level(), ' ') + n->Text());
    return texts;
  }
  Strings Hosts() const {
    Strings hosts;
    for (int i = 0; i < form_->HostList->Count(); ++i)
      hosts.push_back(form_->HostList->Strings(i));
    return hosts;
  }
  TTreeNode* Root() const { return tree_->Items()->GetFirstNode(); }
  // The root's child called text.
  TTreeNode* HostNode(const std::string& text) const {
    for (int i = 0; i < Root()->Count(); ++i)
      if (Root()->Item(i)->Text() == text) return Root()->Item(i);
    ADD_FAILURE() << "no node " << text;
    return nullptr;
  }
  // A record arriving from an agent, through the collector's engine (which also stores it).
  void Arrive(const std::string& line) { form_->Engine->EventWrite(collector::kCodeRecord, line); }

  viewertest::TViewerDays days_;
  uitest::TTestApp kit_;
  TFrmWatch* form_ = nullptr;
  TFrmSyosai* syosai_ = nullptr;
  TKStringGrid* grid_ = nullptr;
  TTreeList* tree_ = nullptr;
};

const Strings kTreeAB = {"All Computer", "  A", "  B"};

TEST_F(Viewer, TodaysFileShowsItsLastRecordOnTopAndItsHostsInOrderOfFirstAppearance) {
  Write(0, {Rec("A", "a1"), Rec("B", "b1"), Rec("", "nohost"), Rec("A", "a2")});
  Open();
  EXPECT_EQ(Files(), (Strings{"a2", "b1", "a1"}));
  EXPECT_EQ(Column("HostName"), (Strings{"A", "B", "A"}));
  EXPECT_EQ(Column("Date"), Strings(3, "2026/12/09 08:30:00"));
  EXPECT_EQ(Column("DeviceName"), Strings(3, "USB DISK"));
  EXPECT_EQ(Hosts(), (Strings{"A", "B"}));
  EXPECT_EQ(Tree(), kTreeAB);
  EXPECT_EQ(Root()->ImageIndex, 0);
  EXPECT_EQ(Root()->SelectedIndex, 0);
  EXPECT_TRUE(Root()->Expanded());
  EXPECT_EQ(HostNode("B")->ImageIndex, 1);
  EXPECT_EQ(HostNode("B")->SelectedIndex, 1);
  for (int i = 0; i < console::kRecordFieldCount; ++i) {
    EXPECT_EQ(grid_->Columns()->Items(i)->Name(), console::kRecordFields[i]);
    EXPECT_EQ(grid_->Columns()->Items(i)->Caption(), console::kRecordFields[i]);
  }

  // A host's records alone; the record without a host name shows nowhere.
  tree_->SetSelected(HostNode("A"));
  EXPECT_EQ(Files(), (Strings{"a2", "a1"}));
  EXPECT_EQ(Tree(), kTreeAB);
  tree_->SetSelected(Root());
  EXPECT_EQ(Files(), (Strings{"a2", "b1", "a1"}));
  EXPECT_EQ(Tree(), kTreeAB);
}

TEST_F(Viewer, HostNamesThatDifferOnlyInLetterCaseAreOneNodeThatShowsItsOwnSpelling) {
  // Two katakana whose trail bytes are "A" and "a": different characters, never folded.
  const std::string a = "\x83\x41", small = "\x83\x61";
  Write(0, {Rec("pc1", "1"), Rec("PC1", "2"), Rec(a, "3"), Rec("pc1", "4"), Rec(small, "5")});
  Open();
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  pc1", "  " + a, "  " + small}));
  EXPECT_EQ(Files(), (Strings{"5", "4", "3", "2", "1"}));
  tree_->SetSelected(HostNode("pc1"));
  EXPECT_EQ(Files(), (Strings{"4", "1"}));
  tree_->SetSelected(HostNode(a));
  EXPECT_EQ(Files(), (Strings{"3"}));
}

TEST_F(Viewer, ADayWithoutAFileShowsAnEmptyGridAndTheRootAlone) {
  Write(0, {Rec("A", "a1"), Rec("B", "b1")});
  Open();
  form_->ValHistory->Choose(2);
  EXPECT_EQ(form_->ShownDay, 2);
  EXPECT_EQ(grid_->RowCount(), 0);
  EXPECT_EQ(Tree(), Strings{"All Computer"});
  EXPECT_TRUE(Hosts().empty());

  // The same day again loads nothing, even when its file has turned up since.
  Write(2, {Rec("C", "c1")});
  form_->ValHistoryChange(form_->ValHistory);
  EXPECT_EQ(grid_->RowCount(), 0);
  EXPECT_EQ(Tree(), Strings{"All Computer"});

  // With a host chosen, a file gone leaves the tree as it was.
  form_->ValHistory->Choose(0);
  EXPECT_EQ(Tree(), kTreeAB);
  ASSERT_EQ(std::remove(form_->LogFileName(0).c_str()), 0);
  tree_->SetSelected(HostNode("B"));
  EXPECT_EQ(grid_->RowCount(), 0);
  EXPECT_EQ(Tree(), kTreeAB);
}

TEST_F(Viewer, TheDayChooserOffersTodayAndTheSixDaysBefore) {
  Open();
  ASSERT_EQ(form_->ValHistory->Items()->Count(), console::text::kDayChoices);
  for (int i = 0; i < console::text::kDayChoices; ++i) {
    EXPECT_EQ(form_->ValHistory->Items()->Strings(i), console::text::kDayChoice[i]);
    EXPECT_EQ(form_->ValHistory->Values()->Strings(i), std::to_string(i));
  }
  EXPECT_EQ(form_->ValHistory->ItemIndex(), 0);
  EXPECT_EQ(form_->ValHistory->Items()->Strings(0), "\x8d\xa1\x93\xfa");  // "今日" in CP932
}

TEST_F(Viewer, LogFileNameCountsCalendarDaysAcrossDaylightSavingAndMonthEnds) {
  Open();
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  const struct {
    int64_t now;
    int daysBack;
    const char* file;
  } cases[] = {
      // 29 March 2026 has 23 hours: 24 hours before 00:30 on the 30th is the 28th.
      {LocalMicros(2026, 3, 30, 0, 30), 1, "20260329.log"},
      {LocalMicros(2026, 3, 30, 0, 30), 0, "20260330.log"},
      // 25 October 2026 has 25 hours.
      {LocalMicros(2026, 10, 26, 23, 30), 1, "20261025.log"},
      {LocalMicros(2027, 1, 1, 9, 0), 1, "20261231.log"},
      {LocalMicros(2026, 3, 1, 12, 0), 6, "20260223.log"},
  };
  for (const auto& c : cases) {
    days_.Now = c.now;
    EXPECT_EQ(form_->LogFileName(c.daysBack), days_.Dir() + "/RecvData/" + c.file)
        << c.daysBack << " days before " << c.now;
  }
  if (oldTz)
    setenv("TZ", savedTz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(Viewer, AHostCalledAllComputerIsAHostNodeThatShowsItsOwnRecords) {
  Write(0, {Rec("All Computer", "x1"), Rec("B", "b1"), Rec("All Computer", "x2")});
  Open();
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  All Computer", "  B"}));
  tree_->SetSelected(HostNode("All Computer"));
  EXPECT_EQ(Files(), (Strings{"x2", "x1"}));
  // Arriving records: only that host's show under its node.
  Arrive(Rec("B", "b2"));
  Arrive(Rec("All Computer", "x3"));
  EXPECT_EQ(Files(), (Strings{"x3", "x2", "x1"}));
  tree_->SetSelected(Root());
  EXPECT_EQ(Files(), (Strings{"x3", "b2", "x2", "b1", "x1"}));
}

TEST_F(Viewer, ArrivingRecordsOfTodayGoOnTopAndANewHostGetsItsNode) {
  Write(0, {Rec("A", "a1")});
  Open();
  const int width = grid_->Columns()->FindByName("FileName")->Width();

  // Nothing selected: every record; a new host's node under the root; widths stay.
  Arrive(Rec("B", "b-with-a-very-long-file-name-that-would-widen-its-column"));
  EXPECT_EQ(Files()[0], "b-with-a-very-long-file-name-that-would-widen-its-column");
  EXPECT_EQ(Tree(), kTreeAB);
  EXPECT_EQ(HostNode("B")->ImageIndex, 1);
  EXPECT_EQ(grid_->Columns()->FindByName("FileName")->Width(), width);
  // A record without a host name shows nowhere and names no host.
  Arrive(Rec("", "nohost"));
  EXPECT_EQ(grid_->RowCount(), 2);
  EXPECT_EQ(Tree(), kTreeAB);

  // A host node selected: only its records; a new host still gets its node.
  tree_->SetSelected(HostNode("A"));
  ASSERT_EQ(Files(), Strings{"a1"});
  Arrive(Rec("A", "a2"));
  Arrive(Rec("B", "b2"));
  Arrive(Rec("C", "c1"));
  Arrive(Rec("a", "a-lower"));  // another spelling of A's host is not A's
  EXPECT_EQ(Files(), (Strings{"a2", "a1"}));
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  A", "  B", "  C"}));
  EXPECT_EQ(Hosts(), (Strings{"A", "B", "C"}));

  // The root selected (a choice of the root reloads and drops the selection, so it is selected
  // here without the change report): every record.
  tree_->SetSelected(Root());
  const TTVChangedEvent change = tree_->OnChange;
  tree_->OnChange = nullptr;
  tree_->SetSelected(Root());
  tree_->OnChange = change;
  ASSERT_EQ(tree_->Selected(), Root());
  const int rows = grid_->RowCount();
  Arrive(Rec("C", "c2"));
  EXPECT_EQ(grid_->RowCount(), rows + 1);
  EXPECT_EQ(Files()[0], "c2");

  // What arrived was stored too: a reload shows it.
  form_->ValHistory->Choose(1);
  form_->ValHistory->Choose(0);
  EXPECT_EQ(Files(), (Strings{"c2", "a-lower", "c1", "b2", "a2",
                              "b-with-a-very-long-file-name-that-would-widen-its-column", "a1"}));
}

TEST_F(Viewer, ArrivingRecordsWhileAnotherDayIsShownOnlyTeachTheHostList) {
  Write(1, {Rec("Y", "y1")});
  Open();
  form_->ValHistory->Choose(1);
  ASSERT_EQ(Files(), Strings{"y1"});
  Arrive(Rec("Y", "y2"));
  Arrive(Rec("N", "n1"));
  EXPECT_EQ(Files(), Strings{"y1"});
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  Y"}));
  EXPECT_EQ(Hosts(), (Strings{"Y", "N"}));
}

TEST_F(Viewer, RebuildingTheTreeWithAHostNodeSelectedStartsOneLoad) {
  Write(0, {Rec("A", "a1"), Rec("B", "b1"), Rec("A", "a2")});
  Write(1, {Rec("C", "c1"), Rec("D", "d1")});
  Open();
  // Deleting the selected B moves the selection to A and then to the root: neither may load
  // (a load there would rebuild the tree inside its own rebuild, deleting the root twice).
  tree_->SetSelected(HostNode("B"));
  ASSERT_EQ(Files(), Strings{"b1"});
  Strings deleted;
  tree_->OnDeletion = [&](rtl::TObject*, TTreeNode* node) { deleted.push_back(node->Text()); };
  form_->ValHistory->Choose(1);
  tree_->OnDeletion = nullptr;
  EXPECT_EQ(deleted, (Strings{"B", "A", "All Computer"}));
  EXPECT_EQ(Files(), (Strings{"d1", "c1"}));
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  C", "  D"}));
  EXPECT_EQ(tree_->Selected(), nullptr);

  // The root chosen reloads the day and rebuilds the tree under itself.
  tree_->SetSelected(Root());
  EXPECT_EQ(Files(), (Strings{"d1", "c1"}));
  EXPECT_EQ(Tree(), (Strings{"All Computer", "  C", "  D"}));

  // A change without a node does nothing.
  tree_->SetSelected(HostNode("C"));
  form_->TrePCListChange(tree_, nullptr);
  EXPECT_EQ(Files(), Strings{"c1"});
}

TEST_F(Viewer, FitColumnWidthsMeasuresTheCellsButNotTheCaptions) {
  // The test measurer gives 6 pixels a byte.
  Write(0, {Rec("A", std::string(20, 'f')), Rec("HOST", std::string(5, 'f'))});
  Open();
  EXPECT_EQ(grid_->Columns()->FindByName("FileName")->Width(), 20 * 6 + 10);
  EXPECT_EQ(grid_->Columns()->FindByName("HostName")->Width(), 64);
  // "Date" (19 bytes) is wider than 64; "DeviceName" holds "USB DISK" and keeps the minimum
  // though its caption is wider than its cells.
  EXPECT_EQ(grid_->Columns()->FindByName("Date")->Width(), 19 * 6 + 10);
  EXPECT_EQ(grid_->Columns()->FindByName("DeviceName")->Width(), 64);
}

// ---- scrolling a long day ----

// A 120-byte path whose file name part, after its last "\", is "report-NNN.xls".
std::string LongPath(int i) {
  std::string number = std::to_string(1000 + i).substr(1);
  std::string path = "C:\\Users\\kelvadon\\";
  path += std::string(120 - path.size() - 15, 'd') + "\\report-" + number + ".xls";
  return path;
}
const std::string kLongHost(60, 'h');

// A day of 500 records with a 60-byte host name and 120-byte paths, shown.
class LongDay : public Viewer {
 protected:
  void SetUp() override {
    Strings lines;
    for (int i = 0; i < 500; ++i)
      lines.push_back(Rec(kLongHost, LongPath(i)));
    Write(0, lines);
    Open();
    form_->Show();
    bars_ = grid_->ControlScrollBars();
    ASSERT_EQ(LongPath(0).size(), 120u);
  }
  // The display position of "FileName" and its header cell.
  int FileCol() const { return grid_->Columns()->FindByName("FileName")->DisplayPosition(); }
  TRect FileHeader() const { return grid_->CellRect(FileCol(), 0); }
  bool InClient(const TRect& r) const {
    return !r.IsEmpty() && r.Left >= 0 && r.Left < grid_->ClientWidth();
  }
  TControlScrollBars* bars_ = nullptr;
};

TEST_F(LongDay, TheHorizontalBarReachesTheLastColumnByArrowTrackAndThumb) {
  ASSERT_TRUE(bars_->Showing(sbHorizontal));
  EXPECT_FALSE(InClient(FileHeader())) << "cut off at first";
  // Each click on the right arrow: one column more, up to the last position.
  int clicks = 0;
  for (int left = grid_->LeftCol(); clicks < 10; ++clicks) {
    uitest::ClickScrollBar(grid_, sbHorizontal, spLineForward);
    if (grid_->LeftCol() == left) break;
    EXPECT_EQ(grid_->LeftCol(), left + 1);
    left = grid_->LeftCol();
  }
  ASSERT_LT(clicks, 10) << "the arrow stops at the last position";
  const int last = grid_->LeftCol();
  EXPECT_TRUE(InClient(FileHeader())) << "FileName's cell starts in the client area";

  // A held press on the track's far end pages there; the thumb dragged to the end goes there.
  grid_->SetLeftCol(0);
  const TRect forward = bars_->PartRect(sbHorizontal, spLineForward);
  uitest::Press(grid_, forward.Left - 2, forward.Top + 8);
  for (int i = 0; i < 20; ++i)
    uitest::FireTimer(*bars_->RepeatTimer());
  uitest::Release(grid_, forward.Left - 2, forward.Top + 8);
  EXPECT_EQ(grid_->LeftCol(), last);
  grid_->SetLeftCol(0);
  uitest::DragThumb(grid_, sbHorizontal, 2000);
  EXPECT_EQ(grid_->LeftCol(), last);
  EXPECT_TRUE(InClient(FileHeader()));
  EXPECT_EQ(grid_->CurrentRow(), 0) << "the focus row stays";

  // Holding the left arrow repeats.
  const TPoint back = uitest::ScrollBarPoint(grid_, sbHorizontal, spLineBack);
  uitest::Press(grid_, back.X, back.Y);
  uitest::FireTimer(*bars_->RepeatTimer());
  uitest::Release(grid_, back.X, back.Y);
  EXPECT_EQ(grid_->LeftCol(), last - 2);
}

TEST_F(LongDay, TheVerticalBarReachesTheLastRecordAndSortsOrOpensNothing) {
  ASSERT_TRUE(bars_->Showing(sbVertical));
  uitest::DragThumb(grid_, sbVertical, 5000);
  // The last grid row, the day's first record, shows whole at the bottom.
  const TRect last = grid_->CellRect(0, 500);
  EXPECT_FALSE(last.IsEmpty());
  EXPECT_LE(last.Bottom, grid_->ClientHeight());
  EXPECT_EQ(grid_->GetCellText(FileCol(), 499), LongPath(0));
  EXPECT_EQ(grid_->CurrentRow(), 0) << "the focus row stays";

  // The top arrow lies beside the header band: it scrolls and sorts nothing.
  int headerClicks = 0;
  grid_->OnHeaderClick = [&](rtl::TObject*, int) { ++headerClicks; };
  const int top = grid_->TopRow();
  uitest::ClickScrollBar(grid_, sbVertical, spLineBack);
  EXPECT_EQ(grid_->TopRow(), top - 1);
  EXPECT_EQ(headerClicks, 0);
  for (int i = 0; i < grid_->Columns()->Count(); ++i)
    EXPECT_EQ(grid_->Columns()->Items(i)->SortOrder(), csNone);

  // A double click on a bar opens no details window; whatever opens is closed again.
  bool opened = false;
  HWND closer = AllocateHWnd([&](TMessage&) {
    opened = syosai_->Visible();
    if (opened) syosai_->BtnOk->Click();
  });
  PostMessage(closer, WM_USER, 0, 0);
  const TPoint track = uitest::ScrollBarPoint(grid_, sbVertical, spPageBack);
  uitest::DblClick(grid_, track.X, track.Y);
  uitest::Pump();
  DeallocateHWnd(closer);
  EXPECT_FALSE(opened);
}

TEST_F(LongDay, TheHostTreeOfSixtyHostsScrollsToItsLastHost) {
  Strings lines;
  for (int i = 0; i < 60; ++i)
    lines.push_back(Rec("pc-" + std::to_string(i), "f"));
  Write(1, lines);
  form_->ValHistory->Choose(1);
  ASSERT_EQ(Root()->Count(), 60);
  TControlScrollBars* bars = tree_->ControlScrollBars();
  ASSERT_TRUE(bars->Showing(sbVertical));
  TTreeNode* last = Root()->GetLastChild();
  EXPECT_TRUE(last->DisplayRect(false).IsEmpty());
  uitest::DragThumb(tree_, sbVertical, 2000);
  const TRect row = last->DisplayRect(false);
  EXPECT_FALSE(row.IsEmpty());
  EXPECT_LE(row.Bottom, tree_->ClientHeight());
  EXPECT_EQ(tree_->Selected(), nullptr) << "the bar chose no host";
}

TEST_F(Viewer, BarsComeWhenArrivingRecordsOverflowTheGridAndGoWithTheRows) {
  Open();
  form_->Show();
  TControlScrollBars* bars = grid_->ControlScrollBars();
  EXPECT_FALSE(bars->Showing(sbVertical));
  int arrived = 0;
  for (; arrived < 200 && !bars->Showing(sbVertical); ++arrived)
    Arrive(Rec("A", "f" + std::to_string(arrived)));
  ASSERT_TRUE(bars->Showing(sbVertical));
  // One row fewer fitted: the bar came with the row that overflowed.
  const int rowExtent = grid_->DefaultRowHeight() + grid_->GridLineWidth;
  EXPECT_GT((arrived + 1) * rowExtent - grid_->GridLineWidth, grid_->Height());
  EXPECT_LE(arrived * rowExtent - grid_->GridLineWidth, grid_->Height());
  EXPECT_FALSE(bars->Showing(sbHorizontal)) << "the columns fit";
  grid_->ClearRows();
  EXPECT_FALSE(bars->Showing(sbVertical));
  for (int i = 0; i < arrived; ++i)
    Arrive(Rec("A", "g"));
  ASSERT_TRUE(bars->Showing(sbVertical));
  form_->ValHistory->Choose(3);  // a day without a file
  EXPECT_FALSE(bars->Showing(sbVertical));
  EXPECT_FALSE(bars->Showing(sbHorizontal));
}

TEST(SplitRecordLine, CutsEightFieldsOffTheFrontAndKeepsTheRestAsTheFileName) {
  const struct {
    std::string line;
    console::TRecordFields fields;
  } cases[] = {
      {"d\to\th\tc\ti\tu\tdr\tde\tf", {"d", "o", "h", "c", "i", "u", "dr", "de", "f"}},
      // Fewer TABs: empty fields in the middle, the last piece as the file name.
      {"a\tb\tc", {"a", "b", "", "", "", "", "", "", "c"}},
      {"", {"", "", "", "", "", "", "", "", ""}},
      // More TABs stay in the file name.
      {"1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11", {"1", "2", "3", "4", "5", "6", "7", "8", "9\t10\t11"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(console::SplitRecordLine(c.line), c.fields) << c.line;
  std::string text = "no tab";
  EXPECT_EQ(console::CutTabField(text), "");
  EXPECT_EQ(text, "no tab");
}

// ---- the details window ----

TEST(DatePart, CutsWholeCharactersAndKeepsAShorterTextWhole) {
  const std::string kanji = "\x93\xfa";  // "日", whose trail byte is no ASCII
  const std::string nine = kanji + kanji + kanji + kanji + kanji + kanji + kanji + kanji + kanji;
  const struct {
    std::string date, day, time;
  } cases[] = {
      {"2026/12/09 08:30:00", "2026/12/09", "08:30:00"},
      {"12/09", "12/09", "12/09"},
      {"", "", ""},
      {"ab" + nine, "ab" + nine.substr(0, 16), nine.substr(2)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DatePart(c.date, 10, true), c.day) << c.date;
    EXPECT_EQ(DatePart(c.date, 8, false), c.time) << c.date;
  }
}

TEST_F(Viewer, DetailsShowTheCurrentRowAndStepThroughTheGrid) {
  Write(0, {"2026/12/09 08:30:00\tCopy\tpc1\tdesk & co\t10.0.0.1\tsato\tE:\tUSB\tone.txt",
            Rec("pc2", "two.txt", "2026/12/09 09:00:00"),
            Rec("pc3", "three.txt", "2026/12/09 09:30:00")});
  Open();
  const auto shown = [&] {
    return Strings{syosai_->LblDate->Caption(),       syosai_->LblTime->Caption(),
                   syosai_->LblOperation->Caption(),  syosai_->LblHostName->Caption(),
                   syosai_->LblComment->Caption(),    syosai_->LblIPAddress->Caption(),
                   syosai_->LblUserName->Caption(),   syosai_->LblDriveName->Caption(),
                   syosai_->LblDeviceName->Caption(), syosai_->LblFileName->Caption()};
  };
  grid_->SetCurrentRow(0);
  syosai_->FormShow(syosai_);
  EXPECT_EQ(syosai_->LblFileName->Caption(), "three.txt");
  syosai_->BtnUpClick(syosai_->BtnUp);  // the top row: nothing above
  EXPECT_EQ(grid_->CurrentRow(), 0);
  EXPECT_EQ(syosai_->LblFileName->Caption(), "three.txt");
  syosai_->BtnDownClick(syosai_->BtnDown);
  syosai_->BtnDownClick(syosai_->BtnDown);
  EXPECT_EQ(grid_->CurrentRow(), 2);
  EXPECT_EQ(shown(), (Strings{"2026/12/09", "08:30:00", "Copy", "pc1", "desk & co", "10.0.0.1",
                              "sato", "E:", "USB", "one.txt"}));
  syosai_->BtnDownClick(syosai_->BtnDown);  // the last row: nothing below
  EXPECT_EQ(grid_->CurrentRow(), 2);
  syosai_->BtnUpClick(syosai_->BtnUp);
  EXPECT_EQ(grid_->CurrentRow(), 1);
  EXPECT_EQ(shown()[1], "09:00:00");
  EXPECT_EQ(shown()[3], "pc2");
}

// A value too wide for its label ends in "...", "FileName" keeps its start and its file name, and
// the cut value is the label's hint, whole ("|" too); values that fit have no hint.
TEST_F(Viewer, DetailsShortenLongValuesAndHintThemWhole) {
  const std::string comment = "desk|" + std::string(60, 'c');
  std::string head = "D:\\";
  for (int i = 0; i < 40; ++i)
    head += "\x95\x5c";  // "表", whose trail byte is a backslash
  const std::string tail = "\\\x83\x5c\x83\x74\x83\x67.txt";  // "\ソフト.txt"
  Write(0, {"2026/12/09 08:30:00\tCopy\t" + kLongHost + "\t" + comment +
                "\t10.0.0.1\tsato\tE:\tUSB\t" + head + tail,
            Rec("pc1", LongPath(7))});
  Open();
  EXPECT_EQ(syosai_->LblHostName->Width(), 214) << "beside the buttons";
  EXPECT_EQ(syosai_->LblComment->Width(), 297) << "to the panel's inner right edge";
  EXPECT_EQ(syosai_->LblFileName->Width(), 297);
  const auto drawn = [&](TLabel* label) {
    const Strings texts = uitest::Paint(syosai_)->Texts(label);
    return texts.empty() ? std::string() : texts.front();
  };

  grid_->SetCurrentRow(0);  // the second record: a 120-byte path
  syosai_->FormShow(syosai_);
  // 297 pixels hold 49 bytes: "...\report-007.xls" takes 18, the path's first 31 the rest.
  EXPECT_EQ(drawn(syosai_->LblFileName), LongPath(7).substr(0, 31) + "...\\report-007.xls");
  EXPECT_EQ(syosai_->LblFileName->Hint, LongPath(7));
  EXPECT_EQ(syosai_->LblHostName->Hint, "");
  EXPECT_EQ(syosai_->LblComment->Hint, "");

  syosai_->BtnDownClick(syosai_->BtnDown);
  // The last real "\" is the one before "ソ"; the start is cut between whole characters.
  EXPECT_EQ(drawn(syosai_->LblFileName), head.substr(0, 3 + 16 * 2) + "..." + tail);
  EXPECT_EQ(drawn(syosai_->LblHostName), kLongHost.substr(0, 32) + "...");
  EXPECT_EQ(syosai_->LblHostName->Hint, kLongHost);
  EXPECT_EQ(syosai_->LblComment->Hint, comment);
  EXPECT_EQ(syosai_->LblComment->ShortHint(), comment) << "a \"|\" shows too";
  EXPECT_TRUE(syosai_->LblComment->ShowHint());
  EXPECT_EQ(syosai_->LblUserName->Hint, "");
  EXPECT_EQ(drawn(syosai_->LblUserName), "sato");
}

TEST_F(Viewer, DoubleClickOpensTheDetailsOfTheClickedRowAndNothingOnAnEmptyGrid) {
  Open();
  form_->Show();
  // Whatever is open when the posted message comes is noted and closed with OK.
  bool opened = false;
  std::string host;
  HWND closer = AllocateHWnd([&](TMessage&) {
    opened = syosai_->Visible();
    host = syosai_->LblHostName->Caption();
    if (opened) syosai_->BtnOk->Click();
  });
  const auto dblClickRow = [&](int row) {
    PostMessage(closer, WM_USER, 0, 0);
    const TRect cell = grid_->CellRect(2, row + 1);
    uitest::DblClick(grid_, cell.Left + 3, cell.Top + 3);
    uitest::Pump();
  };
  dblClickRow(0);
  EXPECT_FALSE(opened);

  Write(0, {Rec("A", "a1"), Rec("B", "b1"), Rec("C", "c1")});
  form_->ValHistory->Choose(1);
  form_->ValHistory->Choose(0);
  dblClickRow(1);
  EXPECT_TRUE(opened);
  EXPECT_EQ(host, "B");
  EXPECT_FALSE(syosai_->Visible());
  DeallocateHWnd(closer);
}

TEST_F(Viewer, TheDetailsWindowHasItsSizeCaptionAndButtons) {
  Open();
  EXPECT_EQ(syosai_->Width(), 457);
  EXPECT_EQ(syosai_->Height(), 402);
  EXPECT_EQ(syosai_->Position, poScreenCenter);
  EXPECT_EQ(syosai_->Caption(), "\x8f\xda\x8d\xd7");  // "詳細" in CP932
  EXPECT_TRUE(syosai_->BorderIcons.Contains(biHelp));
  EXPECT_EQ(syosai_->Font()->Height(), -12);
  for (TBitBtn* arrow : {syosai_->BtnUp, syosai_->BtnDown}) {
    EXPECT_EQ(arrow->Width(), 75);
    EXPECT_EQ(arrow->Height(), 41);
    EXPECT_FALSE(arrow->Glyph.Empty());
  }
  EXPECT_EQ(syosai_->BtnCancel->Caption(), "Cancel");
  EXPECT_EQ(syosai_->BtnOk->ModalResult, mrOk);
  EXPECT_EQ(syosai_->BtnCancel->ModalResult, mrCancel);
}

}  // namespace
