// The framework's Base64 for enciphered strings: the standard alphabet with "=" padding and no
// line breaks. The decoder reads whole groups of four characters and ignores a shorter rest;
// "=" ends a group early wherever it stands; a character outside the alphabet counts as 0. Pure
// functions, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Encodes Size bytes at In into Out, which must hold (Size + 2) / 3 * 4 characters. Returns the
// number of characters written.
size_t KcBase64EncodeBuf(const void* In, void* Out, size_t Size);
std::string KcBase64EncodeText(std::string_view Text);

// Decodes Size characters at In into Out, which must hold Size / 4 * 3 bytes: Size / 4 groups,
// each giving 1 byte when its third character is "=", 2 when only its fourth is, else 3. Fewer
// than 4 characters give nothing. Returns the number of bytes written.
size_t KcBase64DecodeBuf(const void* In, void* Out, size_t Size);
std::string KcBase64DecodeText(std::string_view Text);
