// Files as the system keeps them: whole-file replacement through a temporary
// file and a rename, so a crash never leaves half a file.
//
// Paths are in the file system's encoding (UTF-8). Error texts are
// Shift-JIS, like every text of the engine.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brelo {

// A file could not be created, read or written. what() is Shift-JIS.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(const std::string& sjisMessage) : std::runtime_error(sjisMessage) {}
};

// The path as it appears inside a Shift-JIS message.
std::string PathText(std::string_view path);
// "%s に書き込めません" with the path; with an errno, the system's reason
// follows in parentheses.
std::string CannotWriteText(std::string_view path);
std::string CannotWriteText(std::string_view path, int err);
// "%s を読めません" with the path and the system's reason.
std::string CannotReadText(std::string_view path, int err);
// The system's reason for errno err, as a short Shift-JIS text.
std::string ReasonText(int err);
// The errno our opens set for a pipe, a device or a folder where a regular
// file was to be (no system errno says that); ReasonText names it.
constexpr int kErrNotRegular = 4096;

// Whether a host folder can take a pass: it is (or can be made) a folder,
// a file can be created, written, synced and removed there, and at least
// minFreeBytes are free on its file system. Empty when it can; otherwise
// what is wrong, naming the folder, in Shift-JIS.
std::string CheckWritableFolder(const std::string& folder, unsigned long long minFreeBytes);
// The free space a pass needs in the host folder before it starts.
constexpr unsigned long long kPassMinFreeBytes = 8ull << 20;

// Keeps a damaged file aside as NAME.broken-yyyymmdd-hhmmss (a copy; the
// file itself stays until something replaces it). The newest copy, when it
// holds the same bytes, is the one returned: a file left damaged is kept
// aside once, not at every load. Returns the copy's path, or "" when no
// copy could be made (a file that is not regular has none).
std::string KeepAside(const std::string& path);
// The largest file KeepAside copies.
constexpr size_t kMaxKeptAsideBytes = 64u << 20;

// Removes temporary files of whole-file replacements in folder that a
// process which has ended left behind (a crash between write and rename).
void RemoveStaleTemporaries(const std::string& folder);

bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
// Creates one folder level; true when it exists afterwards.
bool MakeDir(const std::string& path);
// Creates the folder and its missing parents.
bool MakePath(const std::string& path);
std::string DirName(const std::string& path);  // with the trailing "/"; "" without a folder
std::string JoinPath(const std::string& folder, const std::string& name);
std::string WithSlash(std::string folder);

// The most any settings or text file of the program is read: far beyond
// what it writes, and a bound on memory whatever the file turns out to be.
constexpr size_t kMaxTextFileBytes = 16u << 20;

// Whether a link is followed when a file is opened. The program's own files
// are never opened through one (kRefuse); a file the user names may be.
enum class ELinks { kFollow, kRefuse };

// The whole file, or nothing when it does not exist. Raises EInOutError
// ("%s を読めません" with the reason) for a file that exists but cannot be
// read, that is no regular file (a folder, a device, a pipe: a link to
// /dev/zero is never read without end), that holds more than maxBytes, or,
// with ELinks::kRefuse, that is a symbolic link.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes = kMaxTextFileBytes,
                                         ELinks links = ELinks::kRefuse);
// Why path cannot be read as a regular file, in Shift-JIS (the same text
// ReadWholeFile raises); empty when it is one or does not exist.
std::string NotARegularFile(const std::string& path, ELinks links = ELinks::kFollow);

// Replaces path with bytes: temporary file in the same folder, flushed, then
// renamed over the old one. `mode` applies to a new file (an existing file
// keeps its own). Raises EInOutError("%s に書き込めません"), and so for a
// path that is a link, a pipe, a device or a folder, which is left as it is.
void WriteFileAtomic(const std::string& path, std::string_view bytes, unsigned mode = 0644);
// How WriteFileAtomic flushes: the temporary file's data before the rename
// (fsync), the folder after it (fsync), so that neither the old nor the new
// file can come back empty after a power cut. A test puts a recorder here
// that passes the call on.
extern int (*ReplaceSyncData)(int fd);
extern int (*ReplaceSyncFolder)(int fd);

// Splits Shift-JIS text at CR LF (a lone LF also ends a line; a final line
// break adds no empty line).
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinLinesCRLF(const std::vector<std::string>& lines);
// Text whose last line ends in CR LF, as text files are kept (an empty text stays empty).
std::string WithFinalLineBreak(std::string text);

}  // namespace brelo
