// The record viewer's and the details window's Japanese texts, as CP932 bytes: written in UTF-8
// in viewertexts.cpp, which is compiled with -fexec-charset=CP932 (kelvadon_messages).
#pragma once

namespace console::text {

// The day chooser's items: "今日", "1日前" .. "6日前" (item i is i days back).
constexpr int kDayChoices = 7;
extern const char* const kDayChoice[kDayChoices];

// The details window: its caption "詳細" and the captions of its ten value rows, top to bottom.
extern const char* const kSyosaiCaption;
extern const char* const kSyosaiRows[10];

}  // namespace console::text
