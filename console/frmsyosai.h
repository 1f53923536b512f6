// The details window TFrmSyosai: one record's fields, stepping through the
// grid. An empty window until that step.
#pragma once

#include "platform/ui/core/forms.h"

class TFrmSyosai : public TForm {
 public:
  explicit TFrmSyosai(rtl::TComponent* Owner);
};

extern TFrmSyosai* FrmSyosai;
