// The window classes' own texts, compiled to CP932: the message box button captions and the
// desktop's UI face.
#include <cstddef>

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

extern const char* const kBoxCaptionOk = "OK";
extern const char* const kBoxCaptionYes = "はい(&Y)";
extern const char* const kBoxCaptionNo = "いいえ(&N)";
extern const char* const kBoxCaptionCancel = "キャンセル";

extern const char* const kUiFontName = "ＭＳ Ｐゴシック";
