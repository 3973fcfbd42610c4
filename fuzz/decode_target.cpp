#include "fuzz/decode_target.h"

#include <cstdlib>

#include "imaging/image.h"

namespace sorvane::fuzz {
namespace {

// Colours must match exactly; alpha too, except that a BMP whose alpha is zero everywhere reads
// back opaque, as BMP readers commonly take an all-zero alpha channel for an unused one.
bool samePicture(const imaging::Frame& written, const imaging::Frame& read) {
    if (written.width != read.width || written.height != read.height) {
        return false;
    }
    bool anyAlpha = false;
    for (std::size_t i = 3; i < written.rgba.size(); i += 4) {
        anyAlpha = anyAlpha || written.rgba[i] != 0;
    }
    for (std::size_t i = 0; i < written.rgba.size(); ++i) {
        const bool alpha = i % 4 == 3;
        if (alpha && !anyAlpha) {
            if (read.rgba[i] != 0xFF) {
                return false;
            }
        } else if (written.rgba[i] != read.rgba[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

void decodeOnce(const std::uint8_t* data, std::size_t size) {
    const auto image = imaging::decode(imaging::ByteView(data, size));
    if (!image) {
        return;
    }
    const imaging::Frame& first = image->frames.front();
    if (std::uint64_t{first.width} * first.height > (std::uint64_t{1} << 20)) {
        return;  // big pictures are fine; re-encoding them only slows the fuzzer down
    }
    const auto bmp = imaging::encodeBmp(first);
    const auto again = imaging::decode(bmp);
    if (!again || !samePicture(first, again->frames.front())) {
        std::abort();  // the writer must keep every pixel
    }
}

}  // namespace sorvane::fuzz
