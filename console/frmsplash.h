// The splash window TFrmBrindlework: the product picture, borderless at the desktop's centre,
// over the console's start-up and the hand-over from the service. The program makes it before
// the main window and keeps the reference through which the main window hides, shows and closes
// it (program.h). Owned by the application; GUI thread only.
#pragma once

#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"

class TFrmBrindlework : public TForm {
 public:
  // The window with its picture, client area 480 x 270. Its OnCreate (FormCreate) runs when the
  // maker calls AfterConstruction.
  explicit TFrmBrindlework(rtl::TComponent* Owner);
  // Clears the program's reference when it still points here.
  ~TFrmBrindlework() override;

  TImage* Image1;

  // The busy cursor over the program; the window's caption (seen only in the desktop's window
  // lists) the application title.
  void FormCreate(rtl::TObject* Sender);
};
