// MD5 digests as the FTP server shows them: the 16 digest bytes as 32 upper-case hexadecimal
// digits, first byte first. The digest itself is the run-time's (rtl::Digest over libcrypto).
// Plain functions, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rtl/crypto.h"

// Feeds len bytes of buffer to an MD5 context in blocks of at most kFtpMd5BlockSize bytes.
constexpr size_t kFtpMd5BlockSize = 16384;
void MD5UpdateBuffer(rtl::Digest& context, const void* buffer, size_t len);

// Upper-case hexadecimal of bytes.
std::string HexUpper(std::string_view bytes);

// The digest of len bytes at buffer, and of the bytes of s.
std::string BufferMD5Hex(const void* buffer, size_t len);
std::string StrMD5Hex(std::string_view s);

// Files are read in blocks of this size.
constexpr size_t kFtpFileMd5ReadSize = 102400;

// The digest of the plain file path, read from its start. A file that cannot be opened (missing,
// a folder, a link, a special file, no permission) or read raises rtl::EInOutError with the
// system's text and errno.
std::string FileMD5Hex(const std::string& path);
