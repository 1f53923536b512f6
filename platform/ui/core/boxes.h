// Message box flags and answers, and the table that turns flags into the buttons a box peer
// shows. Pure values; safe from any thread.
#pragma once

#include "platform/ui/core/peer.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The buttons' captions (CP932 bytes).
extern const char* const kBoxCaptionOk;
extern const char* const kBoxCaptionYes;
extern const char* const kBoxCaptionNo;
extern const char* const kBoxCaptionCancel;

// The request for a box with text, caption and flags. Unknown button kinds give an OK box.
TMessageBoxRequest MakeBoxRequest(const std::string& text, const std::string& caption, UINT flags);
