#include "platform/ui/fltk/fonts.h"

// For fl_xftfont (FL/x.H): the Xft font that FLTK draws with now, whose character set says which
// characters the face holds.
#define FL_INTERNALS
#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>
#include <FL/x.H>
#include <X11/Xft/Xft.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ui/fltk/text.h"
#include "rtl/cp932.h"

namespace fltkpeer {

namespace {

// The faces the forms use for Japanese text, and the fonts drawn for them (fonts-ipafont-gothic).
// The leading blank is part of the name: FLTK's Xft back-end reads a font name's first byte as its
// style (blank plain, "B" bold, "I" italic, "P" both), so "IPAPGothic" without it would ask for an
// italic "PAPGothic", which does not exist, and every Japanese character would come out as a box.
struct FaceMapping {
  const char* face;  // UTF-8
  const char* font;  // FLTK name, plain style
};
constexpr FaceMapping kFaces[] = {
    {"ＭＳ ゴシック", " IPAGothic"},
    {"ＭＳ Ｐゴシック", " IPAPGothic"},
};
constexpr int kFaceCount = sizeof(kFaces) / sizeof(kFaces[0]);
// The face of the peer's own texts, which also draws what another face lacks.
constexpr int kUiFace = 1;

// The style bytes, indexed by bold + 2 * italic.
constexpr char kStyleBytes[4] = {' ', 'B', 'I', 'P'};

// FLTK's own sans faces, indexed the same way.
constexpr Fl_Font kSansFonts[4] = {FL_HELVETICA, FL_HELVETICA_BOLD, FL_HELVETICA_ITALIC,
                                   FL_HELVETICA_BOLD_ITALIC};

int StyleIndex(const TFontData& font) {
  return (font.Style.Contains(fsBold) ? 1 : 0) + (font.Style.Contains(fsItalic) ? 2 : 0);
}

// The mapped face of font, -1 for any other face.
int FaceIndex(const TFontData& font) {
  // Compared as CP932, the form a font's name has: Utf8Of would overwrite the text it last gave,
  // which a caller may be measuring or drawing.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const FaceMapping& f : kFaces)
      out.push_back(rtl::Utf8ToCp932(f.face));
    return out;
  }();
  for (int i = 0; i < kFaceCount; ++i)
    if (font.Name == names[i]) return i;
  return -1;
}

// The FLTK font number of face i in style s. The numbers after FL_FREE_FONT are given to the
// mapped faces on first use, four per face; FLTK keeps the name pointer, so the names live as
// long as the program.
Fl_Font MappedFont(int face, int style) {
  static bool registered[kFaceCount][4] = {};
  Fl_Font number = FL_FREE_FONT + face * 4 + style;
  if (!registered[face][style]) {
    std::string name = kFaces[face].font;
    name[0] = kStyleBytes[style];
    Fl::set_font(number, strdup(name.c_str()));
    registered[face][style] = true;
  }
  return number;
}

// The FLTK font of font's own face in its style.
Fl_Font FaceFont(const TFontData& font) {
  int face = FaceIndex(font);
  int style = StyleIndex(font);
  return face < 0 ? kSansFonts[style] : MappedFont(face, style);
}

// One piece of a text drawn from one FLTK font: bytes [begin, end) of the text.
struct Run {
  size_t begin, end;
  Fl_Font font;
};

// utf8 cut into runs: the characters that font's face has stay in it, the others go to the
// fallback face in the same style. Every face holds ASCII, so a text of ASCII alone (most of what a
// grid shows) is one run without a look at the face. Leaves FLTK's current font unspecified.
void CutIntoRuns(const TFontData& font, std::string_view utf8, std::vector<Run>& runs) {
  runs.clear();
  const Fl_Font own = FaceFont(font);
  const Fl_Font fallback = MappedFont(kUiFace, StyleIndex(font));
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const XftFont* xft = nullptr;
  if (!ascii && own != fallback) {
    fl_font(own, font.PixelHeight);
    xft = static_cast<const XftFont*>(fl_xftfont);
  }
  if (!xft || !xft->charset) {
    runs.push_back(Run{0, utf8.size(), own});
    return;
  }
  const char* const begin = utf8.data();
  const char* const end = begin + utf8.size();
  for (const char* p = begin; p < end;) {
    int len = 1;
    const unsigned c = fl_utf8decode(p, end, &len);
    const Fl_Font f = c < 0x80 || FcCharSetHasChar(xft->charset, c) ? own : fallback;
    const size_t at = static_cast<size_t>(p - begin);
    if (runs.empty() || runs.back().font != f) runs.push_back(Run{at, at, f});
    p += len > 0 ? len : 1;
    runs.back().end = static_cast<size_t>(p - begin);
  }
}

}  // namespace

std::string FontNameFor(const TFontData& font) {
  int face = FaceIndex(font);
  if (face < 0) return Fl::get_font(kSansFonts[StyleIndex(font)]);
  std::string name = kFaces[face].font;
  name[0] = kStyleBytes[StyleIndex(font)];
  return name;
}

int UiFontNumber() {
  return MappedFont(kUiFace, 0);
}

void SelectUiFont(int pixelHeight) {
  fl_font(UiFontNumber(), pixelHeight);
}

void SelectFont(const TFontData& font) {
  fl_font(FaceFont(font), font.PixelHeight);
}

namespace {

// Draws the runs of utf8 in font from x on at baseline when draw holds, and returns their width.
// Each run's width is Xft's advance, a whole number of pixels, so the runs of a text and of any
// of its starts add up alike: what a caret, an ellipsis or a fit measures is what is drawn.
int WalkRuns(const TFontData& font, std::string_view utf8, bool draw, int x, int baseline) {
  static std::vector<Run> runs;
  CutIntoRuns(font, utf8, runs);
  double advance = 0;
  for (const Run& r : runs) {
    fl_font(r.font, font.PixelHeight);
    const char* text = utf8.data() + r.begin;
    const int n = static_cast<int>(r.end - r.begin);
    if (draw) fl_draw(text, n, x + static_cast<int>(advance + 0.5), baseline);
    advance += fl_width(text, n);
  }
  SelectFont(font);
  return static_cast<int>(advance + 0.5);
}

}  // namespace

int DrawUtf8(const TFontData& font, std::string_view utf8, int x, int baseline) {
  return WalkRuns(font, utf8, true, x, baseline);
}

int TFltkMeasurer::TextWidth(const TFontData& font, std::string_view text) {
  if (text.empty()) return 0;
  return WalkRuns(font, Utf8Of(text, font.Charset), false, 0, 0);
}

int TFltkMeasurer::TextHeight(const TFontData& font) {
  SelectFont(font);
  return fl_height();
}

}  // namespace fltkpeer
