#include "platform/ui/core/boxes.h"

namespace {

struct BoxKind {
  UINT flags;
  int buttons[3];   // answers, 0 ends the list
  int closeResult;  // closed without a button
};

// The button kinds a box offers, with the answer of a box closed from its title bar.
constexpr BoxKind kBoxKinds[] = {
    {MB_OK, {IDOK, 0, 0}, IDOK},
    {MB_OKCANCEL, {IDOK, IDCANCEL, 0}, IDCANCEL},
    {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, IDCANCEL},
    {MB_YESNO, {IDYES, IDNO, 0}, IDNO},
};

const char* CaptionOf(int answer) {
  switch (answer) {
    case IDYES:
      return kBoxCaptionYes;
    case IDNO:
      return kBoxCaptionNo;
    case IDCANCEL:
      return kBoxCaptionCancel;
    default:
      return kBoxCaptionOk;
  }
}

}  // namespace

TMessageBoxRequest MakeBoxRequest(const std::string& text, const std::string& caption, UINT flags) {
  const BoxKind* kind = &kBoxKinds[0];
  for (const BoxKind& k : kBoxKinds)
    if (k.flags == (flags & 0xF)) kind = &k;
  TMessageBoxRequest r;
  r.Text = text;
  r.Caption = caption;
  r.Icon = flags & 0xF0;
  for (int answer : kind->buttons)
    if (answer != 0) r.Buttons.push_back(TBoxButton{CaptionOf(answer), answer});
  int def = (flags & MB_DEFBUTTON3) ? 2 : (flags & MB_DEFBUTTON2) ? 1 : 0;
  r.DefaultButton = def < static_cast<int>(r.Buttons.size()) ? def : 0;
  r.CloseResult = kind->closeResult;
  return r;
}
