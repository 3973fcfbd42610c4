// Re-encodes image bytes in another format and writes them to a file, hands them back, or both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

// The format codes of convertImage.
enum ImageFormat : int { kBmp = 1, kJpeg = 2, kGif = 3, kTiff = 4, kPng = 5 };

// Decodes `source` and encodes its first frame in `format`. True when the encoder produced
// bytes; then `encoded` receives them, and unless `targetPath` is blank (only ASCII spaces and
// U+3000) the file is written atomically, with the format's extension appended when the path
// does not already end in it (compared without regard to ASCII case). `flatten` draws the image
// over white and drops transparency first. False (nothing written, `encoded` untouched) for fewer
// than 3 bytes, undecodable bytes or an unknown format.
bool convertImage(const std::vector<std::uint8_t>& source, int format,
                  const std::string& targetPath, std::vector<std::uint8_t>& encoded,
                  bool flatten = false);

}  // namespace sorvane
