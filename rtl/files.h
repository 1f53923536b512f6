// Where the program lies, and the file-name and folder helpers the programs use. Paths use "/" as
// the delimiter and are byte strings: CP932 names pass through unchanged (no CP932 trail byte is
// "/"). Nothing here keeps a descriptor open. Every function is safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// The absolute path of the running program file with every symbolic link resolved (the realpath
// of /proc/self/exe). It is found at the first call and kept for the life of the process, so a
// program file replaced while the program runs does not change it. Empty when it cannot be found.
std::string ProgramFileName();

// The folder of ProgramFileName() with a trailing "/"; empty when the program file is unknown.
std::string ProgramDir();

// The part of path up to and including its last "/"; empty when path holds no "/".
std::string ExtractFilePath(std::string_view path);

// The part of path after its last "/"; the whole path when it holds no "/".
std::string ExtractFileName(std::string_view path);

// path with the extension of its file name replaced by ext, which carries its own "." (".ini");
// an empty ext removes the extension. The extension starts at the last "." after the last "/";
// when the file name has no ".", ext is appended.
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// path with a "/" at its end (added when missing). An empty path stays empty, so that a missing
// folder never turns into the root folder.
std::string IncludeTrailingPathDelimiter(std::string_view path);

// True when path names an existing file that is not a folder (symbolic links followed).
bool FileExists(std::string_view path);

// True when path names an existing folder (symbolic links followed).
bool DirectoryExists(std::string_view path);

// Creates the folder path and every missing folder above it (mode 0777 less the umask), like
// "mkdir -p". Returns true when path is a folder afterwards, also when it already was or another
// process created it meanwhile; false when path is empty or a folder cannot be created (errno
// tells why).
bool ForceDirectories(std::string_view path);

// Replaces the contents of the file path with data so that the file always holds either its old
// contents whole or the new ones whole, whatever fails or crashes on the way: data goes to a new
// temporary file in the same folder, which is flushed to disk (fsync) and renamed over path; the
// folder is then flushed as well (best effort). The new file keeps the old one's permission bits
// and, where the caller may set them, its owner and group; a file that did not exist gets 0666
// less the umask. When path is a symbolic link, the file it points to is replaced.
// Returns 0 on success, else the errno of the step that failed; the temporary file is then removed
// and path is left as it was. Safe from any thread (two writers of one path: the last rename wins).
int WriteFileAtomic(std::string_view path, std::string_view data);

// Appends data to the file path, opening and closing it for this one call. When the file does not
// exist it is created (0666 less the umask) and header is written before data. The bytes go in
// whole or not at all: a write that fails half-way cuts the file back to its old length. Raises
// EInOutError on failure, with the run-time's text for the cause ("Path not found" when a folder
// of the path is missing, "File access denied", "Disk full", else "I/O error <errno>") and the
// errno as ErrorCode. Never follows a symbolic link at the last component.
void AppendToFile(std::string_view path, std::string_view header, std::string_view data);

// The run-time's text for an I/O errno, as AppendToFile reports it.
std::string InOutErrorText(int err);

}  // namespace rtl
