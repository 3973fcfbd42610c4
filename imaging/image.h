// The one image model of the tool: frames of 8-bit RGBA pixels, decoded from and encoded to files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sorvane::imaging {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Limits on hostile input, checked before any pixel memory is allocated.
inline constexpr std::uint32_t kMaxDimension = 32768;
inline constexpr std::uint64_t kMaxPixelBytes = std::uint64_t{256} << 20;  // all frames together

// One picture: rows top to bottom, 4 bytes a pixel in the order R, G, B, A (not premultiplied).
struct Frame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;
    int delayMs = 0;  // how long the frame stays up in an animation; 0 for a still picture

    std::uint8_t* pixel(std::uint32_t x, std::uint32_t y) {
        return rgba.data() + (std::size_t{y} * width + x) * 4;
    }
    const std::uint8_t* pixel(std::uint32_t x, std::uint32_t y) const {
        return rgba.data() + (std::size_t{y} * width + x) * 4;
    }
    bool isOpaque() const;
};

struct Image {
    std::vector<Frame> frames;  // never empty in a decoded image; all frames share one size
    int loopCount = 1;          // how many times an animation plays; 0 means for ever

    std::uint32_t width() const { return frames.empty() ? 0 : frames.front().width; }
    std::uint32_t height() const { return frames.empty() ? 0 : frames.front().height; }
};

// Tracks what a decoder may still allocate. Every decoder asks it before it allocates pixels,
// so no file can make the tool take more than kMaxPixelBytes or a side over kMaxDimension.
class PixelBudget {
public:
    // True (and the bytes are spent) when a width x height RGBA frame fits the limits.
    bool take(std::uint64_t width, std::uint64_t height);
    std::uint64_t remaining() const { return remaining_; }

private:
    std::uint64_t remaining_ = kMaxPixelBytes;
};

// A transparent black frame of the given size, or nothing when the budget refuses it.
std::optional<Frame> makeFrame(std::uint64_t width, std::uint64_t height, PixelBudget& budget);

enum class Format { Bmp, Jpeg, Png, Gif, Ico, Cur, Pcx };

// Recognises a format from the first 8 bytes only; fewer than 8 bytes are never recognised.
std::optional<Format> recognise(ByteView bytes);

// Decodes any recognised format. Any bytes are safe to pass: hostile input gives nothing
// (or, for an animation cut short, the frames that decoded) and never crashes or hangs.
std::optional<Image> decode(ByteView bytes);

// Encoders write the first frame only. An empty result means the encoder failed.
Bytes encodeBmp(const Frame& frame);   // 24-bit when opaque, else 32-bit with alpha (V5 header)
Bytes encodeJpeg(const Frame& frame);  // quality 75, alpha dropped
Bytes encodeGif(const Frame& frame);   // exact palette up to 256 colours, else quantised
Bytes encodeTiff(const Frame& frame);  // LZW, RGB or RGBA
Bytes encodePng(const Frame& frame);   // RGB or RGBA, 8 bits a channel

}  // namespace sorvane::imaging
