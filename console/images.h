// The console's pictures, drawn by the program itself (16 x 16, transparent background): the
// tool bar's and menu's (0 save, 1 unused, 2 version, 3 help, 4 close), the host tree's (0 root,
// 1 host) and the pages' (0 console, 1 mail, 2 mail environment).
#pragma once

#include <vector>

#include "platform/ui/core/graphics.h"

namespace console {

std::vector<TBitmap> ToolBarImages();
std::vector<TBitmap> TreeImages();
std::vector<TBitmap> PageImages();

}  // namespace console
