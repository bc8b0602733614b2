#pragma once
// The platform services that need no window: where the program lives, folder listing, text files
// read into lines, and the text rule of the error report. The window services (dialogs, pointer,
// message box, shell) live with the window.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quirlon::core {

inline constexpr char kPathSeparator = '/';

// Full path of the running executable (from /proc/self/exe). Falls back to the current folder
// when the link cannot be read, so callers always get a usable path.
std::string ExecutableFileName();

// Folder of the running executable, ending in kPathSeparator; data folders are appended to it.
std::string ExecutableFolder();

// The user's own template folder, ending in kPathSeparator: "$XDG_DATA_HOME/quirlon/Templates/",
// or "~/.local/share/quirlon/Templates/" when XDG_DATA_HOME is unset, empty or not absolute (as the
// base directory rules say); "" when neither it nor HOME is set. It need not exist.
std::string UserTemplatesFolder();

// The memory a render may take by default: half of what the machine gives this program, that is
// half of its physical memory, or of the memory limit of its control group (a container) when that
// is lower. Worked out once per process.
std::int64_t MachineMemoryBudget();

// Appends the plain names of the entries of Folder (which ends in a separator) that are not
// folders: hidden files and files of any name or extension included, symbolic links to folders
// excluded. Sorted by byte-wise comparison, so the numbering stays the same between calls.
// A missing, empty or unreadable folder appends nothing; nothing is raised.
void ListFiles(const std::string& Folder, std::vector<std::string>& List);

// Appends the bytes of a regular file to Bytes; false, with the reason in Reason when given, when it
// cannot be opened or read or is not a regular file (a folder, FIFO or device). Reading stops once
// more than MaxBytes bytes have been appended, so a caller that limits the size sees
// Bytes.size() > MaxBytes and never reads a huge file whole.
bool TryReadFile(const std::string& FileName, std::string& Bytes, std::size_t MaxBytes = SIZE_MAX,
                 std::string* Reason = nullptr);

// Reads a text file into lines. A line ends at LF, CR or CR LF; a last line without a line end
// counts, a final line end does not start another line; a leading UTF-8 byte order mark is
// dropped. Throws EFOpenError("Cannot open file \"%s\". %s") with the file name and the system's
// reason when the file cannot be opened or read.
std::vector<std::string> ReadTextFileLines(const std::string& FileName);

// The first line of a text file (the data files that name a skin or a link). Raises as
// ReadTextFileLines, and EListError("List index out of bounds (0)") for a file without lines.
std::string ReadFirstLine(const std::string& FileName);

// The text the error report shows: Message followed by "." when its last character sorts after
// "." (byte-wise); an empty message stays empty.
std::string ErrorReportText(const std::string& Message);

}  // namespace quirlon::core
