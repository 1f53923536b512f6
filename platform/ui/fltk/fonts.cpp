#include "platform/ui/fltk/fonts.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <cstring>

#include "platform/ui/fltk/text.h"

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
// The face of the peer's own texts.
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
  std::string name = Utf8Of(font.Name);
  for (int i = 0; i < kFaceCount; ++i)
    if (name == kFaces[i].face) return i;
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
  int face = FaceIndex(font);
  int style = StyleIndex(font);
  fl_font(face < 0 ? kSansFonts[style] : MappedFont(face, style), font.PixelHeight);
}

int TFltkMeasurer::TextWidth(const TFontData& font, std::string_view text) {
  if (text.empty()) return 0;
  SelectFont(font);
  const std::string& utf8 = Utf8Of(text, font.Charset);
  return static_cast<int>(fl_width(utf8.data(), static_cast<int>(utf8.size())) + 0.5);
}

int TFltkMeasurer::TextHeight(const TFontData& font) {
  SelectFont(font);
  return fl_height();
}

}  // namespace fltkpeer
