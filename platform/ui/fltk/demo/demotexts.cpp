// The demo form's Japanese texts, compiled to CP932.
#include <cstddef>

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

extern const char* const kDemoFontName = "ＭＳ Ｐゴシック";
extern const char* const kDemoFixedFontName = "ＭＳ ゴシック";
extern const char* const kDemoConsoleTab = "管理コンソール";
extern const char* const kDemoComputer = "コンピュータ";
extern const char* const kDemoRecord = "受信データ";
extern const char* const kDemoMemoLine = "メモ: 日本語の行";
