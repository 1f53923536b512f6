// PNG files of pictures (libpng): how screenshots are written and read back by the tests.
// Safe from any thread.
#pragma once

#include <string>

#include "platform/ui/core/graphics.h"

namespace fltkpeer {

// Writes picture to path as 8-bit RGB (alpha dropped), replacing the file. On failure returns
// false with the reason in *error.
bool WritePng(const TBitmap& picture, const std::string& path, std::string* error);
// Reads the PNG at path into *picture (opaque pixels, 0xFFRRGGBB). On failure returns false with
// the reason in *error and leaves *picture empty.
bool ReadPng(const std::string& path, TBitmap* picture, std::string* error);

}  // namespace fltkpeer
