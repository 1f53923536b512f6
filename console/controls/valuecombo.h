// TValComboBox: a combo box that carries, beside its display items, a list of values: entry i of
// Values stands for item i (the box does not keep the two lists the same length). A reader takes
// Values at the item index. The box owns Values; assigning copies the strings. Threads: the GUI
// thread (control.h).
#pragma once

#include "platform/ui/core/stdctrls.h"
#include "rtl/classes.h"

class TValComboBox : public TComboBox {
 public:
  explicit TValComboBox(rtl::TComponent* owner) : TComboBox(owner) {}

  rtl::TStringList* Values() { return &values_; }
  const rtl::TStringList* Values() const { return &values_; }
  // Copies the strings of values into the box's own list, which stays the same object.
  void SetValues(const rtl::TStringList& values);

 private:
  rtl::TStringList values_;
};
