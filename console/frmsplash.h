// The splash window: until then a plain borderless window. The program's
// reference to it and the main window's uses (show, hide, close) are in program.h.
#pragma once

#include "platform/ui/core/forms.h"

class TFrmSplash : public TForm {
 public:
  explicit TFrmSplash(rtl::TComponent* Owner);
};
