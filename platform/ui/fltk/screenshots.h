// Screenshots of the program's windows. With the environment variable KELVADON_SCREENSHOTS set
// to a folder (the programs take no arguments of ours), every window is written there as a PNG
// the first time it is drawn after being shown, named "<nn>-<caption>.png" (nn counts the
// program's shots from 01, the caption keeps its ASCII letters and digits). Shots are drawn
// offscreen by the form itself (offscreen.h). GUI thread only.
#pragma once

#include <string>

class TCustomForm;

namespace fltkpeer {

class TFltkWindowPeer;

constexpr char kScreenshotsVariable[] = "KELVADON_SCREENSHOTS";

// The folder shots go to, "" when the variable is unset or empty.
std::string ScreenshotDir();

// Writes the window of form as a PNG at path. On failure (not shown on the display, a file
// error) returns false with the reason in *error.
bool WriteScreenshot(TCustomForm& form, const std::string& path, std::string* error);

// The automatic shot of a window that has just been drawn for the first time; a failure is
// reported on stderr and otherwise ignored (a shot never stops the program).
void WriteAutomaticScreenshot(TFltkWindowPeer& peer);
// How many automatic shots have been written so far.
int AutomaticScreenshots();

}  // namespace fltkpeer
