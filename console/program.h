// The program entry of KelvadonMan, on an application made by the caller (the
// program's FLTK one, or a test's headless one), and the program's splash reference.
#pragma once

#include "platform/ui/core/application.h"

class TFrmBrindlework;

// The splash window while it is shown (null before it is made and after it is closed).
extern TFrmBrindlework* FrmSplash;
// Shows (and paints at once), hides, or hides and closes the splash window; nothing when there
// is none.
void ShowSplash();
void HideSplash();
void CloseSplash();

// Steps 1 to 3 of the program entry: the title, UpdateMetricSettings off, the splash shown, then
// TFrmWatch (the main form, whose FormCreate runs now), TFrmSyosai and TFrmVersion. False when a
// form could not be made (its constructor raised: the settings file cannot be read): the
// exception's message has been shown and the application is terminated.
bool CreateKelvadonMan(TApplication& App);
