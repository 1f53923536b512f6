// The version window TFrmVersion and the help. An empty window, and
// handlers that do nothing, until that step.
#pragma once

#include "platform/ui/core/forms.h"

class TFrmVersion : public TForm {
 public:
  explicit TFrmVersion(rtl::TComponent* Owner);
};

extern TFrmVersion* FrmVersion;
