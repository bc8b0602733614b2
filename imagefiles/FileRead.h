#pragma once
// Reading pictures and templates from the file system. Only regular files are read: a FIFO, a
// device or a socket is refused at once, so that a stray path cannot hang a render or feed it
// endless bytes. The file is opened without blocking and then examined through the open
// descriptor, so a swap between the check and the open cannot slip through.
#include <cstdint>
#include <string>
#include <vector>

#include "raster/PixelStore.h"

namespace quirlon::imagefiles {

// The reason given when the path is a FIFO, a device, a socket or a folder.
inline constexpr const char* kNotRegularFile = "Not a regular file";

// A read-only descriptor of FileName (links followed), or -1 with Reason set to the system's
// text or kNotRegularFile. The caller closes the descriptor.
int OpenRegularFile(const std::string& FileName, std::string& Reason);

// Appends the bytes of FileName to Bytes, reading at most MaxBytes + 1 of them so that a caller
// can tell a file over its limit without reading it whole. False with Reason set when the file
// cannot be opened, is not a regular file or cannot be read.
bool TryReadRegularFile(const std::string& FileName, std::string& Bytes, std::uint64_t MaxBytes, std::string& Reason);

// A file's bytes, in the pixel stores' memory: a picture file of megabytes lands in huge pages
// where the system has them, a few faults instead of one per 4 KiB.
using TFileBytes = std::vector<std::uint8_t, raster::TZeroedAllocator<std::uint8_t>>;

// The whole file. Throws EFOpenError("Cannot open file \"%s\". %s") naming the file with the
// system's reason, kNotRegularFile, or "File too large" when it holds more than MaxBytes.
TFileBytes ReadRegularFile(const std::string& FileName, std::uint64_t MaxBytes);

}  // namespace quirlon::imagefiles
