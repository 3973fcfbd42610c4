// File-system operations every module calls. Failures are never reported: each has a fallback
// (empty bytes, false, nothing written) that the caller relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::files {

using Bytes = std::vector<std::uint8_t>;

// The folder that holds the running executable, without a trailing "/"; empty if unknown.
std::string executableDirectory();
// Makes `path` the current directory; false when it cannot.
bool changeDirectory(const std::string& path);

// True when `path` names a directory (symbolic links followed).
bool isDirectory(const std::string& path);
// True when a file or directory of that name exists (symbolic links followed).
bool pathExists(const std::string& path);
// Creates every missing directory along `path`; true also when all exist already.
bool makeDirectoryPath(const std::string& path);

// Files larger than this are no sample picture and are read as empty bytes, so a huge or
// sparse file cannot make the tool take gigabytes of memory.
inline constexpr std::size_t kMaxFileBytes = std::size_t{1} << 30;

// The whole content of a regular file of at most kMaxFileBytes; anything else, or a failure,
// gives empty bytes. Never blocks on a FIFO or a device.
Bytes readWholeFile(const std::string& path);

// Replaces `path` atomically: a temporary file in the same folder is written, flushed to disk
// and renamed over the target, so the target holds its old content or the complete new one.
// A failure leaves no temporary file behind. An empty path writes nothing.
bool writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);
inline bool writeWholeFile(const std::string& path, const Bytes& bytes) {
    return writeWholeFile(path, bytes.data(), bytes.size());
}
inline bool writeWholeFile(const std::string& path, const std::string& text) {
    return writeWholeFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Removes a file; false when it could not (missing, a directory, no permission).
bool deleteFile(const std::string& path);

}  // namespace sorvane::files
