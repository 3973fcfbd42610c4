#include "imaging/image.h"

#include <algorithm>

#include "imaging/codecs.h"

namespace sorvane::imaging {

bool Frame::isOpaque() const {
    for (std::size_t i = 3; i < rgba.size(); i += 4) {
        if (rgba[i] != 0xFF) {
            return false;
        }
    }
    return true;
}

bool PixelBudget::take(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
        return false;
    }
    const std::uint64_t bytes = width * height * 4;  // at most 2^32 bytes: no overflow
    if (bytes > remaining_) {
        return false;
    }
    remaining_ -= bytes;
    return true;
}

std::optional<Frame> makeFrame(std::uint64_t width, std::uint64_t height, PixelBudget& budget) {
    if (!budget.take(width, height)) {
        return std::nullopt;
    }
    Frame frame;
    frame.width = static_cast<std::uint32_t>(width);
    frame.height = static_cast<std::uint32_t>(height);
    frame.rgba.assign(static_cast<std::size_t>(width * height * 4), 0);
    return frame;
}

std::optional<Format> recognise(ByteView b) {
    if (b.size() < 8) {
        return std::nullopt;
    }
    if (b[0] == 'B' && b[1] == 'M') {
        return Format::Bmp;
    }
    if (b[0] == 0xFF && b[1] == 0xD8) {
        return Format::Jpeg;
    }
    if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
        return Format::Png;
    }
    if (b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8' && (b[4] == '7' || b[4] == '9') &&
        b[5] == 'a') {
        return Format::Gif;
    }
    const bool iconCount = b[4] != 0 || b[5] != 0;
    if (b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0 && iconCount) {
        return Format::Ico;
    }
    if (b[0] == 0 && b[1] == 0 && b[2] == 2 && b[3] == 0 && iconCount) {
        return Format::Cur;
    }
    // PCX: manufacturer 0x0A, version at most 5, run-length encoding, 8 bits a pixel plane;
    // or the 1-bit form with version 3.
    if (b[0] == 0x0A &&
        ((b[1] <= 5 && b[2] == 1 && b[3] == 8) || (b[1] == 3 && b[2] == 1 && b[3] == 1))) {
        return Format::Pcx;
    }
    return std::nullopt;
}

std::optional<Image> decode(ByteView bytes) {
    const auto format = recognise(bytes);
    if (!format) {
        return std::nullopt;
    }
    PixelBudget budget;
    switch (*format) {
        case Format::Bmp:
            return detail::decodeBmp(bytes, budget);
        case Format::Jpeg:
            return detail::decodeJpeg(bytes, budget);
        case Format::Png:
            return detail::decodePng(bytes, budget);
        case Format::Gif:
            return detail::decodeGif(bytes, budget);
        case Format::Ico:
        case Format::Cur:
            return detail::decodeIco(bytes, budget);
        case Format::Pcx:
            return detail::decodePcx(bytes, budget);
    }
    return std::nullopt;
}

}  // namespace sorvane::imaging
