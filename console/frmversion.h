// The version window TFrmVersion (the product picture, borderless, centred on the screen, closed
// by a click on the picture) and the main window's version and help commands
// (TFrmWatch::BtnVersionClick, TFrmWatch::BtnHelpClick). Made once at start-up and reused; owned
// by the application; GUI thread only.
#pragma once

#include <string_view>

#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"

namespace console {
// The help page that BtnHelpClick opens.
inline constexpr char kHelpAddress[] = "https://www.kelvadon.example/manager/help/";
}  // namespace console

class TFrmVersion : public TForm {
 public:
  // The window, hidden, with the product picture; client area 480 x 270.
  explicit TFrmVersion(rtl::TComponent* Owner);
  ~TFrmVersion() override;

  TImage* Image1;

  // Shows jpeg instead of the product picture. Bytes that do not decode leave an empty window of
  // the same size, which a click on it still closes. Returns whether the picture decoded.
  bool ShowPicture(std::string_view jpeg);

  // A click on the picture closes the window, which ends its modal showing: the window's only
  // way out (it has no title bar and no buttons).
  void Image1Click(rtl::TObject* Sender);
};

extern TFrmVersion* FrmVersion;
