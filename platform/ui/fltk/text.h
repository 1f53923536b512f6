// The display's text: the window classes hold CP932 bytes, FLTK draws UTF-8. Each distinct text
// is converted once and kept in a bounded cache, so repainting a grid converts nothing.
// GUI thread only.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui/core/graphics.h"

namespace fltkpeer {

// How many converted texts are kept; the cache starts afresh when it is full.
constexpr size_t kTextCacheLimit = 4096;

// The UTF-8 form of cp932. Bytes that are no CP932 character become "?"; never throws. The
// reference stays valid until the next call.
const std::string& Utf8Of(std::string_view cp932);

// The UTF-8 form of text for a font of charset: a Western (ANSI_CHARSET) font's bytes are
// Latin-1 characters (0xB7 is a middle dot), every other font's text is CP932 (Utf8Of above).
// The reference stays valid until the next call of either.
const std::string& Utf8Of(std::string_view text, TFontCharset charset);

// The CP932 form of text typed or pasted on the display (characters CP932 lacks become "?").
std::string Cp932Of(std::string_view utf8);

}  // namespace fltkpeer
