#include "output/converter.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "app/files.h"
#include "imaging/image.h"
#include "labelling/characters.h"

namespace sorvane {
namespace {

struct Codec {
    std::string_view extension;
    imaging::Bytes (*encode)(const imaging::Frame&);
};

std::optional<Codec> codecFor(int format) {
    switch (format) {
        case kBmp:
            return Codec{".bmp", imaging::encodeBmp};
        case kJpeg:
            return Codec{".jpg", imaging::encodeJpeg};
        case kGif:
            return Codec{".gif", imaging::encodeGif};
        case kTiff:
            return Codec{".tiff", imaging::encodeTiff};
        case kPng:
            return Codec{".png", imaging::encodePng};
        default:
            return std::nullopt;
    }
}

// Draws every pixel over white and makes it opaque: out = c * a + 255 * (1 - a), rounded.
void flattenOverWhite(imaging::Frame& frame) {
    for (std::size_t i = 0; i + 3 < frame.rgba.size(); i += 4) {
        const unsigned alpha = frame.rgba[i + 3];
        for (std::size_t c = i; c < i + 3; ++c) {
            frame.rgba[c] = static_cast<std::uint8_t>(
                (frame.rgba[c] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
        frame.rgba[i + 3] = 0xFF;
    }
}

// True when the path holds nothing but ASCII spaces and ideographic spaces (U+3000, E3 80 80 in
// UTF-8): trimming them from its ends leaves nothing.
bool isBlank(std::string_view path) {
    constexpr std::string_view kSpace = " ";
    constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    while (!path.empty()) {
        if (path.starts_with(kSpace)) {
            path.remove_prefix(kSpace.size());
        } else if (path.starts_with(kIdeographicSpace)) {
            path.remove_prefix(kIdeographicSpace.size());
        } else {
            return false;
        }
    }
    return true;
}

// The path as given when it already ends in the extension (ASCII case ignored), else the path
// with the extension appended. The path is not trimmed: "x.bmp " becomes "x.bmp .bmp".
std::string withExtension(const std::string& path, std::string_view extension) {
    const std::string_view tail =
        std::string_view(path).substr(path.size() - std::min(path.size(), extension.size()));
    if (toLower(tail) == toLower(extension)) {
        return path;
    }
    return path + std::string(extension);
}

}  // namespace

bool convertImage(const std::vector<std::uint8_t>& source, int format,
                  const std::string& targetPath, std::vector<std::uint8_t>& encoded, bool flatten) {
    if (source.size() < 3) {
        return false;
    }
    const auto codec = codecFor(format);
    if (!codec) {
        return false;
    }
    auto image = imaging::decode(source);
    if (!image || image->frames.empty()) {
        return false;
    }
    imaging::Frame& frame = image->frames.front();  // later frames of an animation are dropped
    if (flatten) {
        flattenOverWhite(frame);
    }
    imaging::Bytes bytes = codec->encode(frame);
    if (bytes.empty()) {
        return false;
    }
    if (!isBlank(targetPath)) {
        // The caller keeps the bytes either way; a failed write is not reported.
        files::writeWholeFile(withExtension(targetPath, codec->extension), bytes);
    }
    encoded = std::move(bytes);
    return true;
}

}  // namespace sorvane
