#include "platform/ui/fltk/fltk.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <fontconfig/fontconfig.h>

#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/widgetset.h"

namespace fltkpeer {

std::unique_ptr<TWidgetSet> CreateFltkWidgetSet(std::string* error) {
  if (fl_display) return std::make_unique<TFltkWidgetSet>();
  // Opened here rather than by FLTK, whose failure ends the process.
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    const char* name = XDisplayName(nullptr);
    *error = std::string("cannot open the display \"") + (name ? name : "") + "\"";
    return nullptr;
  }
  fl_open_display(display);
  return std::make_unique<TFltkWidgetSet>();
}

std::string FontNameOf(const TFontData& font) {
  return FontNameFor(font);
}

std::string ResolvedFamilyOf(const TFontData& font) {
  // FLTK asks fontconfig for the name without its style byte.
  std::string family = FontNameFor(font).substr(1);
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
  if (!pattern) return "";
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string out;
  FcChar8* name = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
    out = reinterpret_cast<const char*>(name);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return out;
}

}  // namespace fltkpeer
