// The product picture that the splash and the version window show: one 480 x 270 JPEG drawn for
// this program (drawpicture.cpp makes it at build time) and kept in the program, decoded with
// libjpeg when a window is made. Functions of the GUI thread.
#pragma once

#include <string_view>

class TForm;
class TImage;

namespace console {

constexpr int kPictureWidth = 480;
constexpr int kPictureHeight = 270;

// The picture's JPEG bytes (static; valid for the life of the program).
std::string_view ProductPictureJpeg();

// Puts image at the top left of its parent, kPictureWidth x kPictureHeight, holding the picture
// decoded from jpeg. Bytes that do not decode leave the picture empty and the image its size, so
// the window looks empty but keeps its size and its clicks. Returns whether the picture decoded.
bool ShowPicture(TImage& image, std::string_view jpeg);

// Makes form a window without border, title bar or buttons, in the font fontName (12 pixels,
// Shift-JIS), whose client area is the product picture: its picture control, named "Image1", at
// the top left and showing the picture (empty when it does not decode). The form owns it.
TImage* MakePictureWindow(TForm& form, const char* fontName);

}  // namespace console
