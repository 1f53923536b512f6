#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/ui/core/application.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/core/stdctrls.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/support/files.h"

namespace {

using uitest::TPaintOp;
using uitest::TTestApp;

// A shown form with a paint box at (0, 0) whose OnPaint runs a test's drawing.
struct PaintFixture {
  TTestApp kit;
  TForm* form;
  TPaintBox* box;
  PaintFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 400, 300);
    box = new TPaintBox(form);
    box->SetParent(form);
    box->SetBounds(0, 0, 200, 100);
    form->Show();
  }
  std::vector<TPaintOp> Draw(std::function<void(TCanvas*)> draw) {
    box->OnPaint = [this, draw](rtl::TObject*) { draw(box->Canvas()); };
    return uitest::Paint(form)->OpsOf(box);
  }
};

std::vector<TPaintOp> TextsOf(const std::vector<TPaintOp>& ops) {
  std::vector<TPaintOp> out;
  for (const TPaintOp& op : ops)
    if (op.kind == TPaintOp::Text) out.push_back(op);
  return out;
}

TEST(DrawText, PlacesCutsAndBreaksText) {
  struct Line {
    std::string text;
    int x, y;
  };
  const struct {
    const char* name;
    std::string text;
    TRect rect;
    UINT format;
    std::vector<Line> lines;
  } cases[] = {
      {"top left", "abc", Rect(10, 10, 100, 40), DT_SINGLELINE, {{"abc", 10, 10}}},
      {"centred",
       "abc",
       Rect(10, 10, 100, 40),
       DT_SINGLELINE | DT_CENTER | DT_VCENTER,
       {{"abc", 46, 19}}},
      {"right, bottom",
       "abc",
       Rect(10, 10, 100, 40),
       DT_SINGLELINE | DT_RIGHT | DT_BOTTOM,
       {{"abc", 82, 28}}},
      {"end ellipsis",
       "abcdefghijkl",
       Rect(0, 0, 40, 12),
       DT_SINGLELINE | DT_END_ELLIPSIS,
       {{"abc...", 0, 0}}},
      {"fits without ellipsis",
       "abcdef",
       Rect(0, 0, 36, 12),
       DT_SINGLELINE | DT_END_ELLIPSIS,
       {{"abcdef", 0, 0}}},
      // A path keeps its start and its last part; a backslash that is a trail byte (of "ソ", "表")
      // is no separator, and a double-byte character is kept whole or left out.
      {"path ellipsis",
       "C:\\dir\\sub\\file.txt",
       Rect(0, 0, 90, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"C:\\...\\file.txt", 0, 0}}},
      {"path that fits",
       "C:\\a\\b",
       Rect(0, 0, 90, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"C:\\a\\b", 0, 0}}},
      {"path without a separator",
       "abcdefghijkl",
       Rect(0, 0, 40, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"abc...", 0, 0}}},
      {"path whose last part alone is too wide",
       "C:\\abcdefghijkl",
       Rect(0, 0, 40, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"C:\\...", 0, 0}}},
      {"path with a trail byte 0x5C in its last part",
       "C:\\dir\\\x83\x5cx.txt",
       Rect(0, 0, 66, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"...\\\x83\x5cx.txt", 0, 0}}},
      {"path start cut at whole characters",
       "\x95\x5c\x95\x5c\x95\x5c\\f.txt",
       Rect(0, 0, 63, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"...\\f.txt", 0, 0}}},
      {"path start with one whole character",
       "\x95\x5c\x95\x5c\x95\x5c\\f.txt",
       Rect(0, 0, 69, 12),
       DT_SINGLELINE | DT_PATH_ELLIPSIS,
       {{"\x95\x5c...\\f.txt", 0, 0}}},
      {"word break at blanks",
       "aa bb cc",
       Rect(0, 0, 36, 40),
       DT_WORDBREAK,
       {{"aa bb", 0, 0}, {"cc", 0, 12}}},
      {"word break keeps double-byte characters whole",
       "\x82\xa0\x82\xa0\x82\xa0",
       Rect(0, 0, 27, 40),
       DT_WORDBREAK,
       {{"\x82\xa0\x82\xa0", 0, 0}, {"\x82\xa0", 0, 12}}},
      {"line breaks",
       "a\r\nb\nc",
       Rect(0, 0, 90, 40),
       0,
       {{"a", 0, 0}, {"b", 0, 12}, {"c", 0, 24}}},
      {"prefix", "&File", Rect(0, 0, 90, 12), DT_SINGLELINE, {{"File", 0, 0}}},
      {"double ampersand", "a&&b", Rect(0, 0, 90, 12), DT_SINGLELINE, {{"a&b", 0, 0}}},
      {"no prefix", "&File", Rect(0, 0, 90, 12), DT_SINGLELINE | DT_NOPREFIX, {{"&File", 0, 0}}},
  };
  for (const auto& c : cases) {
    PaintFixture f;
    auto texts = TextsOf(f.Draw([&](TCanvas* canvas) {
      TRect r = c.rect;
      DrawText(canvas, c.text, r, c.format);
    }));
    ASSERT_EQ(texts.size(), c.lines.size()) << c.name;
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(texts[i].text, c.lines[i].text) << c.name;
      EXPECT_EQ(texts[i].rect.TopLeft(), Point(c.lines[i].x, c.lines[i].y)) << c.name;
    }
  }
  // The accelerator is underlined: a line under "F", at the bottom of the text line.
  PaintFixture f;
  auto ops = f.Draw([](TCanvas* canvas) {
    TRect r{0, 0, 90, 12};
    DrawText(canvas, "&File", r, DT_SINGLELINE);
  });
  ASSERT_EQ(ops.back().kind, TPaintOp::Line);
  EXPECT_EQ(ops.back().points, (std::vector<TPoint>{Point(0, 11), Point(6, 11)}));
  // DT_CALCRECT measures and draws nothing.
  TCanvas measure;
  TRect r{5, 5, 36, 5};
  EXPECT_EQ(DrawText(&measure, "aa bb cc", r, DT_WORDBREAK | DT_CALCRECT), 24);
  EXPECT_EQ(r, Rect(5, 5, 35, 29));
}

TEST(Canvas, RecordsToolsColoursAndClip) {
  PaintFixture f;
  auto ops = f.Draw([](TCanvas* c) {
    c->Brush()->SetColor(clBtnFace);
    c->FillRect(Rect(0, 0, 10, 10));
    c->FillRect(Rect(300, 0, 310, 10));  // beyond the paint box: clipped away
    c->Brush()->SetStyle(bsClear);
    c->FillRect(Rect(0, 0, 5, 5));  // a clear brush fills nothing
    c->Font()->SetColor(clRed);
    TFontStyles bold{fsBold};
    c->Font()->SetStyle(bold);
    c->Font()->SetHeight(-12);
    c->TextOut(20, 30, "hi");
    c->Pen()->SetColor(clBlue);
    c->MoveTo(0, 50);
    c->LineTo(40, 50);
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(clSilver);
    c->Polygon({Point(0, 0), Point(8, 0), Point(4, 5)});
    c->SetClipRect(Rect(0, 0, 50, 50));
    c->TextOut(60, 60, "gone");
    c->DrawFocusRect(Rect(1, 1, 9, 9));
  });
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].kind, TPaintOp::Fill);
  EXPECT_EQ(ops[0].color, clBtnFace);  // the peer resolves system colours
  EXPECT_EQ(ops[1].kind, TPaintOp::Text);
  EXPECT_EQ(ops[1].text, "hi");
  EXPECT_EQ(ops[1].font.Color, clRed);
  EXPECT_EQ(ops[1].font.PixelHeight, 12);
  EXPECT_TRUE(ops[1].font.Style.Contains(fsBold));
  EXPECT_EQ(ops[2].points, (std::vector<TPoint>{Point(0, 50), Point(40, 50)}));
  EXPECT_EQ(ops[2].color, clBlue);
  EXPECT_EQ(ops[3].kind, TPaintOp::Polygon);
  EXPECT_EQ(ops[3].color, clSilver);
  EXPECT_EQ(ops[3].outline, clBlue);
  EXPECT_EQ(ops[4].kind, TPaintOp::FocusRect);

  // Outside a paint nothing is drawn, but measuring works.
  TCanvas* idle = f.box->Canvas();
  EXPECT_FALSE(idle->Drawing());
  EXPECT_EQ(idle->TextWidth("abcd"), 24);
  EXPECT_EQ(idle->TextHeight("abcd"), 12);
}

TEST(Graphics, FontSizesColoursAndParentFonts) {
  const struct { int points, height; } sizes[] = {{8, -11}, {9, -12}, {10, -13}, {12, -16}};
  for (const auto& s : sizes) {
    TFont font;
    font.SetSize(s.points);
    EXPECT_EQ(font.Height(), s.height);
    EXPECT_EQ(font.Data().PixelHeight, -s.height);
    font.SetHeight(s.height);
    EXPECT_EQ(font.Size(), s.points);
  }
  EXPECT_EQ(ColorToRGB(clBtnFace), RGBColor(212, 208, 200));
  EXPECT_EQ(ColorToRGB(clHighlight), RGBColor(10, 36, 106));
  EXPECT_EQ(ColorToRGB(clInfoBk), RGBColor(255, 255, 225));
  EXPECT_EQ(ColorToRGB(RGBColor(1, 2, 3)), RGBColor(1, 2, 3));
  EXPECT_EQ(ColorToRGB(SystemColor(200)), clBlack);

  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  auto* label = new TLabel(form);
  label->SetParent(panel);
  form->Font()->SetName("IPAGothic");
  EXPECT_EQ(label->Font()->Name(), "IPAGothic");  // through the panel
  label->Font()->SetColor(clRed);                 // its own font now
  EXPECT_FALSE(label->ParentFont());
  form->Font()->SetName("Other");
  EXPECT_EQ(label->Font()->Name(), "IPAGothic");
  EXPECT_EQ(panel->Font()->Name(), "Other");
  // An auto-sized label takes the size of its text.
  label->SetCaption("&Name");
  EXPECT_EQ(label->Width(), 24);
  EXPECT_EQ(label->Height(), 12);
}

TEST(Menu, BarTakesItsRowAndClicksItsItems) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  form->SetBounds(0, 0, 400, 300);
  const int clientHeight = form->ClientHeight();
  auto* menu = new TMainMenu(form);
  std::vector<std::string> clicked;
  for (const char* caption : {"&File", "&Help"}) {
    auto* item = new TMenuItem(form);
    item->Caption = caption;
    item->OnClick = [&clicked, item](rtl::TObject*) { clicked.push_back(item->Caption); };
    menu->Items()->Add(item);
  }
  form->SetMenu(menu);
  EXPECT_EQ(form->ClientHeight(), clientHeight - kMenuBarHeight);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetAlign(alClient);
  form->Show();
  EXPECT_EQ(panel->ClientToWindow(Point(0, 0)), Point(0, kMenuBarHeight));
  // "File" spans 0..38 (4 characters and 7 pixels each side), "Help" 38..76.
  auto& target = form->PeerTarget();
  target.PeerMouseDown(mbLeft, {}, Point(50, 5));
  target.PeerMouseUp(mbLeft, {}, Point(50, 5));
  target.PeerMouseDown(mbLeft, {}, Point(90, 5));  // beyond the items
  EXPECT_EQ(clicked, (std::vector<std::string>{"&Help"}));
  EXPECT_EQ(menu->Items()->FindByAccelerator('F')->Caption, "&File");
  auto painted = uitest::Paint(form);
  auto texts = painted->Texts(form);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 2),
            (std::vector<std::string>{"File", "Help"}));
}

// The menu bars and the hint window are in the desktop's UI font, as on a Japanese desktop:
// "ＭＳ Ｐゴシック" 12 pixels high with the Shift-JIS character set, whatever the form's font.
TEST(Menu, TheBarAndTheHintsAreInTheDesktopsJapaneseFont) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  form->SetBounds(0, 0, 400, 300);
  form->SetShowHint(true);
  auto* menu = new TMainMenu(form);
  auto* item = new TMenuItem(form);
  item->Caption = "&File";
  menu->Items()->Add(item);
  form->SetMenu(menu);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetAlign(alClient);
  panel->Hint = "Records";
  form->Show();
  uitest::Move(panel, 5, 5);
  THintController& hints = kit.App.Hints();
  uitest::FireTimer(*hints.ShowTimer());
  ASSERT_TRUE(hints.Window()->Active());

  const auto isUiFont = [](const TFontData& f) {
    return f.Name == "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E" &&
           f.PixelHeight == 12 && f.Charset == SHIFTJIS_CHARSET;
  };
  const struct {
    TControl* painted;
    const char* text;
  } cases[] = {{form, "File"}, {hints.Window(), "Records"}};
  for (const auto& c : cases) {
    int found = 0;
    const auto painted = uitest::Paint(c.painted);
    for (const TPaintOp& op : painted->Ops)
      if (op.kind == TPaintOp::Text && op.text == c.text) {
        ++found;
        EXPECT_TRUE(isUiFont(op.font))
            << c.text << " in \"" << op.font.Name << "\" " << op.font.PixelHeight;
      }
    EXPECT_EQ(found, 1) << c.text;
  }
  EXPECT_EQ(form->Font()->Name(), "MS Sans Serif");
}

// A hint as wide as a long value (the details window's cut path) stays on one line, and one that
// would reach past the screen's right edge moves left onto it.
TEST(Hint, ALongHintKeepsToOneLineOnTheScreen) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  form->SetBorderStyle(bsNone);
  form->SetShowHint(true);
  const TRect screen = kit.App.WidgetSet().WorkArea();
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetAlign(alClient);
  panel->Hint = "C:\\Users\\kelvadon\\" + std::string(60, 'd') + "\\report.xls";
  const int textWidth = kit.App.WidgetSet().Measurer().TextWidth(
      kit.App.Hints().Window()->Font()->Data(), panel->Hint);
  ASSERT_LT(textWidth, screen.Width() / 2);
  for (int left : {100, screen.Right - 200}) {
    SCOPED_TRACE(left);
    form->SetBounds(left, 100, 150, 100);
    form->Show();
    uitest::Move(panel, 50, 50);
    THintController& hints = kit.App.Hints();
    uitest::FireTimer(*hints.ShowTimer());
    ASSERT_TRUE(hints.Window()->Active());
    const TRect r = hints.Window()->BoundsRect();
    EXPECT_EQ(r.Height(), uitest::kLineHeight + 2) << "one line";
    EXPECT_GE(r.Width(), textWidth);
    EXPECT_LE(r.Right, screen.Right);
    EXPECT_GE(r.Left, screen.Left);
    hints.Cancel();
  }
}

TEST(ToolBar, ButtonsSeparatorsHintsAndImages) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  form->SetBounds(0, 0, 400, 300);
  form->SetShowHint(true);
  auto* images = new TImageList(form);
  // A strip of three 16 x 16 pictures on a magenta key colour.
  TBitmap strip(48, 16, 0xFFFF00FFu);
  strip.SetPixel(20, 3, 0xFF123456u);
  EXPECT_EQ(images->AddMasked(strip, 0xFF00FF), 0);
  ASSERT_EQ(images->Count(), 3);
  EXPECT_EQ(images->Image(1).Pixel(4, 3), 0xFF123456u);
  EXPECT_EQ(images->Image(1).Pixel(0, 0) >> 24, 0u);  // transparent

  auto* bar = new TToolBar(form);
  bar->SetParent(form);
  bar->Images = images;
  std::vector<TToolButton*> buttons;
  const TToolButtonStyle styles[] = {tbsButton, tbsSeparator, tbsCheck};
  for (TToolButtonStyle style : styles) {
    auto* b = new TToolButton(form);
    b->Style = style;
    b->SetWidth(style == tbsSeparator ? 8 : 30);
    b->ImageIndex = static_cast<int>(buttons.size());
    b->SetParent(bar);
    buttons.push_back(b);
  }
  EXPECT_EQ(buttons[0]->BoundsRect(), Bounds(0, 0, 23, 22));
  EXPECT_EQ(buttons[1]->BoundsRect(), Bounds(23, 0, 8, 22));
  EXPECT_EQ(buttons[2]->BoundsRect(), Bounds(31, 0, 23, 22));
  form->Show();
  int clicks = 0;
  buttons[2]->OnClick = [&](rtl::TObject*) { ++clicks; };
  uitest::Click(buttons[2], 5, 5);
  EXPECT_TRUE(buttons[2]->Down());
  EXPECT_EQ(clicks, 1);

  // The hint shows when the show timer fires, only its part before "|", and goes on a press.
  buttons[0]->Hint = "Refresh|Reads the records again";
  uitest::Move(buttons[0], 5, 5);
  THintController& hints = kit.App.Hints();
  EXPECT_TRUE(hints.ShowTimer()->Enabled());
  EXPECT_FALSE(hints.Window()->Active());
  uitest::FireTimer(*hints.ShowTimer());
  ASSERT_TRUE(hints.Window()->Active());
  EXPECT_EQ(hints.Window()->Caption(), "Refresh");
  uitest::Press(buttons[0], 5, 5);
  EXPECT_FALSE(hints.Window()->Active());
  uitest::Release(buttons[0], 5, 5);
  // A control without ShowHint asks for nothing.
  buttons[2]->Hint = "Check";
  buttons[2]->SetShowHint(false);
  uitest::Move(buttons[2], 5, 5);
  EXPECT_FALSE(hints.ShowTimer()->Enabled());
  // The images are drawn: the button's picture at the centre of its box.
  auto painted = uitest::Paint(form);
  int pictures = 0;
  for (const TPaintOp& op : painted->OpsOf(buttons[0]))
    if (op.kind == TPaintOp::Bitmap) {
      ++pictures;
      EXPECT_EQ(op.rect, Bounds(3, 3, 16, 16));
    }
  EXPECT_EQ(pictures, 1);
}

// A JPEG of the given size in one colour, made with the library.
std::string MakeJpeg(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  for (int x = 0; x < width; ++x) {
    row[x * 3] = r;
    row[x * 3 + 1] = g;
    row[x * 3 + 2] = b;
  }
  while (info.next_scanline < info.image_height) {
    unsigned char* p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  std::string data(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&info);
  free(out);
  return data;
}

TEST(Image, ReadsAJpegAndDrawsIt) {
  PaintFixture f;
  testsupport::TempDir dir;
  const std::string jpeg = MakeJpeg(40, 30, 200, 20, 20);
  const std::string path = dir.Write("logo.jpg", jpeg);
  auto* image = new TImage(f.form);
  image->SetParent(f.form);
  image->SetBounds(250, 10, 100, 80);
  image->LoadFromFile(path);
  ASSERT_EQ(image->Picture()->Width(), 40);
  EXPECT_EQ(image->Picture()->Height(), 30);
  uint32_t p = image->Picture()->Bitmap().Pixel(20, 15);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 200, 8);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 20, 8);
  EXPECT_EQ(image->BoundsRect(), Bounds(250, 10, 100, 80));  // no AutoSize
  // A file cut short is refused as a whole.
  TBitmap cut;
  std::string error;
  EXPECT_FALSE(DecodeJpeg(jpeg.substr(0, jpeg.size() / 2), cut, &error));
  EXPECT_TRUE(cut.Empty());
  EXPECT_FALSE(error.empty());
  image->Center = true;
  auto ops = uitest::Paint(f.form)->OpsOf(image);
  ASSERT_EQ(ops.back().kind, TPaintOp::Bitmap);
  EXPECT_EQ(ops.back().rect, Bounds(30, 25, 40, 30));
}

// An edit draws its sunken edge in the two pixels around its text; a radio button's mark is
// round (polygons), the chosen one with a dot in the text colour.
TEST(Controls, EditEdgeAndRoundRadioMarks) {
  PaintFixture f;
  auto* edit = new TEdit(f.form);
  edit->SetParent(f.form);
  edit->SetBounds(210, 10, 100, 21);
  auto* chosen = new TRadioButton(f.form);
  chosen->SetParent(f.form);
  chosen->SetBounds(210, 40, 80, 17);
  chosen->SetChecked(true);
  auto* other = new TRadioButton(f.form);
  other->SetParent(f.form);
  other->SetBounds(210, 60, 80, 17);
  auto painted = uitest::Paint(f.form);

  auto fills = [](const std::vector<TPaintOp>& ops, TColor colour) {
    std::vector<TRect> rects;
    for (const TPaintOp& op : ops)
      if (op.kind == TPaintOp::Fill && op.color == colour) rects.push_back(op.rect);
    return rects;
  };
  const auto edge = painted->OpsOf(edit);
  EXPECT_EQ(fills(edge, clBtnShadow), (std::vector<TRect>{Rect(0, 0, 99, 1), Rect(0, 0, 1, 20)}));
  EXPECT_EQ(fills(edge, cl3DDkShadow), (std::vector<TRect>{Rect(1, 1, 98, 2), Rect(1, 1, 2, 19)}));
  EXPECT_EQ(fills(edge, clBtnHighlight),
            (std::vector<TRect>{Rect(0, 20, 100, 21), Rect(99, 0, 100, 21)}));

  auto marks = [](const std::vector<TPaintOp>& ops) {
    std::vector<TColor> colours;
    for (const TPaintOp& op : ops)
      if (op.kind == TPaintOp::Polygon) colours.push_back(op.color);
    return colours;
  };
  EXPECT_EQ(marks(painted->OpsOf(chosen)), (std::vector<TColor>{clWindow, clWindowText}));
  EXPECT_EQ(marks(painted->OpsOf(other)), (std::vector<TColor>{clWindow}));
}

}  // namespace
