// Where the program lies, the file-name and folder helpers the programs use, and the file I/O they
// do outside the FTP server's confined tree (fs.h): whole-file reads and replacements, appends
// of one entry at a time, a log file kept open for appending, and a read stream. Paths use "/"
// as the delimiter and are byte strings: CP932 names pass through unchanged (no CP932 trail byte
// is "/"). Failures are errno values (the appends raise EInOutError instead); their system texts
// come from fs::ErrorText. Only a TAppendFile or a TFileReadStream keeps a descriptor open, until
// it is closed or destroyed. Every function is safe from any thread; each object is used by one
// thread at a time.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace rtl {

// The absolute path of the running program file with every symbolic link resolved (the realpath
// of /proc/self/exe). It is found at the first call and kept for the life of the process, so a
// program file replaced while the program runs does not change it. Empty when it cannot be found.
std::string ProgramFileName();

// The folder of ProgramFileName() with a trailing "/"; empty when the program file is unknown.
std::string ProgramDir();

// The seam for tests: ProgramDir() returns dir (a "/" added when missing) instead, until it is
// called again; an empty dir gives the program's own folder back.
void SetProgramDir(std::string_view dir);

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
// The same for a file that may never have a permission bit beyond mode (0660: owner and group
// only): a file that did not exist gets mode less the umask, one that existed keeps those of its
// bits that mode holds too.
int WriteFileAtomic(std::string_view path, std::string_view data, unsigned mode);

// Appends data to the file path, opening and closing it for this one call. When the file does not
// exist it is created (0666 less the umask) and header is written before data. The bytes go in
// whole or not at all: a write that fails half-way cuts the file back to its old length. Raises
// EInOutError on failure, with the run-time's text for the cause ("Path not found" when a folder
// of the path is missing, "File access denied", "Disk full", else "I/O error <errno>") and the
// errno as ErrorCode. Never follows a symbolic link at the last component, never waits on a FIFO
// or device at the name, and writes only to a plain file (a folder there fails with EISDIR, any
// other kind with EINVAL, "I/O error 21" and "I/O error 22"). Header and data go to the file in
// one writev (another only after a short write), without being joined in memory.
void AppendToFile(std::string_view path, std::string_view header, std::string_view data);

// Appends `line` ended by `lineEnd` to the file path, as AppendToFile does (one open, one
// writev, one close; whole or not at all; the same errors and texts). A file made by this call
// first gets headerLine ended by lineEnd; an empty headerLine writes nothing there. No piece is
// copied: the caller's line goes to the file as it is.
void AppendLineToFile(std::string_view path, std::string_view headerLine, std::string_view line,
                      std::string_view lineEnd);

// The run-time's text for an I/O errno, as AppendToFile reports it.
std::string InOutErrorText(int err);

// Reads the whole file path (symbolic links followed) into out. Returns 0, or the errno of the
// open or read that failed (EISDIR for a folder; EINVAL for a FIFO, device or socket, whose open
// never waits; ENOENT for an empty path or one holding a NUL byte, which names no file); out is
// empty then. The texts for these codes: fs::ErrorText.
int ReadWholeFile(std::string_view path, std::string& out);

// A file that lines are added to and that stays open between them (a debug log). Opening follows
// symbolic links and creates a missing file (0666 less the umask); every write goes to the end of
// the file, also after another writer added to it. The descriptor is close-on-exec and is closed by
// Close or the destructor. Move-only; one thread at a time.
class TAppendFile {
 public:
  enum class TOpenMode {
    Append,     // what the file holds stays
    Overwrite,  // the file is emptied at the opening
  };

  TAppendFile() = default;
  ~TAppendFile();
  TAppendFile(TAppendFile&& other) noexcept;
  TAppendFile& operator=(TAppendFile&& other) noexcept;
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  // Opens path; 0 or errno (EISDIR for a folder; the file stays closed on failure). A file already
  // open is closed first.
  int Open(std::string_view path, TOpenMode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes text followed by lineEnd with one writev, going on after short writes and signals;
  // 0 or errno (EBADF when closed). What a failed write left in the file stays there.
  int WriteLine(std::string_view text, std::string_view lineEnd);
  void Close();

 private:
  int fd_ = -1;
};

// A stream that reads a file from its start (symbolic links followed), for whoever wants the
// bytes as a std::istream. A failed read sets the stream's badbit, so it is never taken for the end
// of the file. The descriptor is close-on-exec and closed by the destructor. One thread at a time.
class TFileReadStream : public std::istream {
 public:
  TFileReadStream();
  ~TFileReadStream() override;
  TFileReadStream(const TFileReadStream&) = delete;
  TFileReadStream& operator=(const TFileReadStream&) = delete;

  // Opens path for reading; 0 or errno (EISDIR for a folder; EINVAL for a FIFO, device or
  // socket, never waited on; ENOENT for an empty path or one holding a NUL byte).
  // REQUIRES: not opened before.
  int Open(std::string_view path);

 private:
  class TBuffer;
  std::unique_ptr<TBuffer> buffer_;
};

}  // namespace rtl
