// Stand-alone Base64 of the stored mail password: standard alphabet, "=" padding, no line breaks.
// Console and service must read each other's text, so the decoder keeps its strict length rule and
// its lenient alphabet exactly. Pure functions on byte strings, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace net::mail {

// Returns the Base64 text of bytes: 4 * ((n + 2) / 3) characters, "=" or "==" padding.
std::string Base64Encode(std::string_view bytes);

// Returns the bytes of text. An empty text gives no bytes.
// Raises rtl::Exception "Base64: Incorrect string format" when the length of text is not a
// multiple of 4. No character is rejected: "A"-"Z", "a"-"z", "0"-"9" and "+" have their values
// and every other character (including "/", CR and LF) counts as 63. The last group gives 1 byte
// when its third character is "=", else 2 when its fourth is "=", else 3.
std::string Base64Decode(std::string_view text);

}  // namespace net::mail
