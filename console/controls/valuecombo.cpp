#include "console/controls/valuecombo.h"

void TValComboBox::SetValues(const rtl::TStringList& values) {
  if (&values == &values_) return;
  values_.Clear();
  for (int i = 0; i < values.Count(); ++i)
    values_.Add(values[i]);
}
