// The record grid on a real display (under xvfb-run): a sorted header, the focus row, the
// ellipsis button and an open multi-line editor, written to build/screenshots/ and sampled.
#include <gtest/gtest.h>

#include "console/controls/ksginplaceedit.h"
#include "console/controls/kstringgrid.h"
#include "platform/ui/core/application.h"
#include "platform/ui/fltk/offscreen.h"
#include "platform/ui/testkit/gui/gui.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::gui::ColorAt;
using uitest::gui::LooksDrawn;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;

// A grid with columns a (100 pixels), b and c and four rows, on form at top; its cells editable
// when editing holds.
TKStringGrid* MakeGrid(TForm* form, int top, bool editing = false) {
  TKStringGrid* grid = new TKStringGrid(form);
  grid->SetParent(form);
  grid->SetBounds(8, top, 400, 130);
  for (const char* name : {"a", "b", "c"}) {
    TKGridColumn* column = grid->Columns()->Add();
    column->SetName(name);
    column->SetCaption(name);
  }
  grid->VisibleColumns()[0]->SetWidth(100);
  if (editing) {
    TGridOptions options = grid->Options();
    options.Include(goEditing);
    grid->SetOptions(options);
  }
  grid->SetRowCount(4);
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 3; ++col)
      grid->SetCellText(col, row,
                        std::string(1, static_cast<char>('a' + col)) + std::to_string(3 - row));
  return grid;
}

TPoint InWindow(const TControl* control, int x, int y) {
  return control->ClientToWindow(Point(x, y));
}

TEST(KStringGridShots, SortMarkFocusRowButtonAndMultiLineEditor) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TForm* form;
  kit.App->CreateForm(form);
  form->SetBounds(40, 40, 420, 300);

  TKStringGrid* sorted = MakeGrid(form, 8);
  sorted->VisibleColumns()[0]->SetSortOrder(csAsc);
  sorted->SetCol(1);
  sorted->SetCurrentRow(1);
  sorted->SetCellFlags(1, 1, kCellButton);

  TKStringGrid* editing = MakeGrid(form, 150, true);
  editing->SetCol(1);
  editing->SetCurrentRow(0);
  editing->SetCellText(1, 0, "one\r\ntwo");
  form->Show();
  editing->SetFocus();
  editing->SetEditorMode(true);
  auto* editor = static_cast<TKSGInplaceEdit*>(editing->InplaceEditor());
  ASSERT_TRUE(editor && editor->MultiLine());

  TBitmap shot = Shot(form, "record-grid");
  ASSERT_FALSE(shot.Empty());
  EXPECT_TRUE(LooksDrawn(shot, form->Color()));

  // The ascending mark over column a's header (right edge 100): x = 80, y = 10.
  struct Sample {
    const char* what;
    int x, y;
    TColor color;
  } mark[] = {
      {"triangle inside", 84, 8, clSilver},
      {"outline, bottom edge", 84, 10, clBlack},
      {"white edge", 82, 7, clWhite},
      {"box", 78, 14, clBtnFace},
  };
  for (const Sample& s : mark) {
    TPoint p = InWindow(sorted, s.x, s.y);
    EXPECT_TRUE(ColorAt(shot, p.X, p.Y, s.color)) << s.what;
  }

  // The focus row away from the focus cell.
  TRect row = sorted->CellRect(2, 2);
  TPoint p = InWindow(sorted, row.Right - 3, row.Bottom - 3);
  EXPECT_TRUE(ColorAt(shot, p.X, p.Y, clInfoBk)) << "focus row";

  // The button: its face, and three middle dots on it.
  const TControl* button = sorted->EllipsisButton();
  ASSERT_TRUE(button && button->Visible());
  p = button->ClientToWindow(Point(2, button->Height() - 3));
  EXPECT_TRUE(ColorAt(shot, p.X, p.Y, clBtnFace)) << "button face";
  TPoint corner = button->ClientToWindow(Point(0, 0));
  EXPECT_TRUE(TextDrawnIn(shot, Bounds(corner.X, corner.Y, button->Width(), button->Height()),
                          "\xB7\xB7\xB7", button->Font()->Data(), clBtnFace));
  TFontData cp932 = button->Font()->Data();
  cp932.Charset = DEFAULT_CHARSET;
  EXPECT_NE(fltkpeer::RenderText("\xB7\xB7\xB7", button->Font()->Data(), clBtnFace).Pixels(),
            fltkpeer::RenderText("\xB7\xB7\xB7", cp932, clBtnFace).Pixels())
      << "the dots are no half-width katakana";

  // The editor: 100 high over the first data row, its border, its scroll bar just inside the
  // border (inactive: both lines show) and the selected lines.
  EXPECT_EQ(editor->Height(), 100);
  const TRect ins = editor->NonClientInsets();
  TPoint top = editor->ClientToWindow(Point(-ins.Left, -ins.Top));
  EXPECT_TRUE(ColorAt(shot, top.X + 20, top.Y, clWindowFrame)) << "border";
  const TControlScrollBars* bars = editor->ControlScrollBars();
  EXPECT_EQ(bars->BarRect(sbVertical), Bounds(editor->Width() - 1 - kScrollBarSize - ins.Left,
                                              1 - ins.Top, kScrollBarSize, 100 - 2));
  const TRect arrow = bars->PartRect(sbVertical, spLineBack);
  TPoint face = InWindow(editor, arrow.Left + 3, arrow.Top + 3);
  EXPECT_TRUE(ColorAt(shot, face.X, face.Y, clBtnFace)) << "the arrow's face";
  TPoint glyph = InWindow(editor, arrow.Left + arrow.Width() / 2, arrow.Top + arrow.Height() / 2);
  EXPECT_TRUE(ColorAt(shot, glyph.X, glyph.Y, clBtnShadow)) << "an inactive arrow";
  TFontData selected = editor->Font()->Data();
  selected.Color = clHighlightText;
  TPoint text = editor->ClientToWindow(Point(0, 0));
  EXPECT_TRUE(TextDrawnIn(shot, Bounds(text.X, text.Y, editor->ClientWidth(), 40), "two", selected,
                          clHighlight));
}

// A multi-line cell of 12 lines: the editor's bar is active and its thumb follows the caret down.
TEST(KStringGridShots, ScrollTheMultiLineEditorByItsCaret) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TForm* form;
  kit.App->CreateForm(form);
  form->SetBounds(40, 40, 420, 160);
  TKStringGrid* grid = MakeGrid(form, 8, true);
  std::string text;
  for (int i = 1; i <= 12; ++i)
    text += (i > 1 ? "\r\n" : "") + std::string("line ") + std::to_string(i);
  grid->SetCol(1);
  grid->SetCurrentRow(0);
  grid->SetCellText(1, 0, text);
  form->Show();
  grid->SetFocus();
  grid->SetEditorMode(true);
  auto* editor = static_cast<TKSGInplaceEdit*>(grid->InplaceEditor());
  ASSERT_TRUE(editor && editor->MultiLine());
  editor->SetSelStart(0);
  for (int i = 0; i < 11; ++i)
    uitest::Key(form, VK_DOWN);
  ASSERT_GT(editor->TopLine(), 0);

  TBitmap shot = Shot(form, "Scroll-editor");
  ASSERT_FALSE(shot.Empty());
  const TControlScrollBars* bars = editor->ControlScrollBars();
  ASSERT_TRUE(bars->Active(sbVertical));
  const TRect thumb = bars->PartRect(sbVertical, spThumb);
  EXPECT_EQ(thumb.Bottom, bars->PartRect(sbVertical, spLineForward).Top) << "at the end";
  TPoint face = InWindow(editor, thumb.Left + 4, thumb.Top + thumb.Height() / 2);
  EXPECT_TRUE(ColorAt(shot, face.X, face.Y, clBtnFace)) << "the thumb";
  const TRect arrow = bars->PartRect(sbVertical, spLineBack);
  TPoint glyph = InWindow(editor, arrow.Left + arrow.Width() / 2, arrow.Top + arrow.Height() / 2);
  EXPECT_TRUE(ColorAt(shot, glyph.X, glyph.Y, clBtnText)) << "an active arrow";
  // The last line shows at the bottom of the lines, the first line is scrolled away.
  TCanvas measure;
  measure.SetFont(*editor->Font());
  const int lineHeight = measure.TextHeight("Wg");
  const int lastTop = (11 - editor->TopLine()) * lineHeight;
  TPoint at = InWindow(editor, 0, lastTop);
  EXPECT_TRUE(TextDrawnIn(shot, Bounds(at.X, at.Y, editor->ClientWidth(), lineHeight), "line 12",
                          editor->Font()->Data(), editor->Color()));
}

}  // namespace
