// Helpers shared by the imaging tests (and the converter's): frames painted from a pattern, files
// written field by field, decoding with a budget of its own, and the hostile-input table cases.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <utility>

#include "imaging/image.h"

namespace sorvane::imaging::fixtures {

using Rgba = std::array<std::uint8_t, 4>;

// ---- table cases -------------------------------------------------------------------------

// Names any table case by its `desc` in test output. gtest finds it by argument-dependent lookup,
// so a test file whose cases live in its own namespace brings it in: `using fixtures::PrintTo;`.
template <typename Case>
requires requires(const Case& c, std::ostream& os) {
    os << c.desc;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.desc;
}

// ---- patterns ----------------------------------------------------------------------------

// A well-stirred value for a pixel or palette position; `seed` gives another pattern.
inline std::uint32_t mix(std::uint32_t x, std::uint32_t y, std::uint32_t seed = 0) {
    std::uint32_t v = (x + 1) * 0x9E3779B1u ^ (y + 7) * 0x85EBCA77u ^ seed * 0xC2B2AE35u;
    v ^= v >> 15;
    v *= 0x2C1B3C6Du;
    v ^= v >> 12;
    return v;
}

// An opaque colour from the low three bytes of mix().
inline Rgba mixColour(std::uint32_t x, std::uint32_t y, std::uint32_t seed = 0) {
    const std::uint32_t m = mix(x, y, seed);
    return Rgba{static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8),
                static_cast<std::uint8_t>(m >> 16), 0xFF};
}

// ---- frames ------------------------------------------------------------------------------

// A frame of the given size, every pixel transparent black.
inline Frame blankFrame(std::uint32_t width, std::uint32_t height) {
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.rgba.assign(std::size_t{width} * height * 4, 0);
    return frame;
}

// A frame whose pixel (x, y) is colourAt(x, y), an Rgba.
template <typename ColourAt>
Frame paintedFrame(std::uint32_t width, std::uint32_t height, ColourAt colourAt) {
    Frame frame = blankFrame(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgba colour = colourAt(x, y);
            std::copy(colour.begin(), colour.end(), frame.pixel(x, y));
        }
    }
    return frame;
}

// The same size and the same RGBA bytes at every pixel; a failure names the first pixel that
// differs.
inline testing::AssertionResult samePixels(const Frame& actual, const Frame& expected) {
    if (actual.width != expected.width || actual.height != expected.height ||
        actual.rgba.size() != expected.rgba.size()) {
        return testing::AssertionFailure()
               << "size " << actual.width << "x" << actual.height << " (" << actual.rgba.size()
               << " bytes), expected " << expected.width << "x" << expected.height << " ("
               << expected.rgba.size() << " bytes)";
    }
    for (std::uint32_t y = 0; y < expected.height; ++y) {
        for (std::uint32_t x = 0; x < expected.width; ++x) {
            const std::uint8_t* a = actual.pixel(x, y);
            const std::uint8_t* e = expected.pixel(x, y);
            if (!std::equal(a, a + 4, e)) {
                return testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << int{a[0]} << "," << int{a[1]}
                       << "," << int{a[2]} << "," << int{a[3]} << ", expected " << int{e[0]} << ","
                       << int{e[1]} << "," << int{e[2]} << "," << int{e[3]};
            }
        }
    }
    return testing::AssertionSuccess();
}

// ---- files written field by field --------------------------------------------------------

// Little-endian fields appended to `out`.
inline void putLe16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void putLe32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// Overwrites the little-endian field of `width` bytes at `at`.
inline void setLe(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A copy of `file` with one little-endian field changed.
inline Bytes withField(Bytes file, std::size_t at, std::uint32_t value, std::size_t width) {
    setLe(file, at, value, width);
    return file;
}

inline Bytes firstBytes(Bytes file, std::size_t n) {
    file.resize(n);
    return file;
}

// One row of a DIB (a BMP's pixels, an icon's colour or mask rows): values of up to 8 bits packed
// high bits first, wider ones as bits / 8 little-endian bytes, the row padded to 4 bytes.
template <typename ValueAt>
void putDibRow(Bytes& out, unsigned bits, std::uint32_t width, ValueAt valueAt) {
    const std::size_t start = out.size();
    std::uint32_t acc = 0;
    unsigned filled = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t value = valueAt(x);
        if (bits <= 8) {
            acc = (acc << bits) | value;
            filled += bits;
            if (filled == 8) {
                out.push_back(static_cast<std::uint8_t>(acc));
                acc = filled = 0;
            }
        } else {
            for (unsigned b = 0; b < bits / 8; ++b) {
                out.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
            }
        }
    }
    if (filled > 0) {
        out.push_back(static_cast<std::uint8_t>(acc << (8 - filled)));
    }
    while ((out.size() - start) % 4 != 0) {
        out.push_back(0);
    }
}

// ---- decoding ----------------------------------------------------------------------------

// One format's decoder, as imaging/codecs.h declares them.
using Decoder = std::optional<Image> (*)(ByteView, PixelBudget&);

// Decodes with a budget of its own, as a call from decode() would.
inline std::optional<Image> decodeWithBudget(Decoder decoder, ByteView bytes) {
    PixelBudget budget;
    return decoder(bytes, budget);
}

// The frame of a still picture, or nothing where the decoder refuses the bytes.
inline std::optional<Frame> decodeOneFrame(Decoder decoder, ByteView bytes) {
    auto image = decodeWithBudget(decoder, bytes);
    if (!image) {
        return std::nullopt;
    }
    EXPECT_EQ(image->frames.size(), 1u);
    return std::move(image->frames.front());
}

// ---- hostile input -----------------------------------------------------------------------

// A hostile file, and whether the decoder must still accept it (most must be refused).
struct HostileCase {
    const char* desc;
    Bytes file;
    bool decodes = false;
};

// Accepted or refused as the case says; a refused file leaves the budget untouched, as nothing
// may be allocated for a picture the file cannot hold.
inline void expectHostileFile(Decoder decoder, const HostileCase& c) {
    PixelBudget budget;
    const auto image = decoder(c.file, budget);
    EXPECT_EQ(image.has_value(), c.decodes);
    if (!c.decodes) {
        EXPECT_EQ(budget.remaining(), kMaxPixelBytes) << "allocated for a picture it refused";
    }
}

// A hostile file made only when its test runs (some are large), and whether it must decode.
struct HostileRecipe {
    const char* desc;
    std::function<Bytes()> make;
    bool decodes;
};

// Accepted or refused as the case says, and never a crash on the way.
inline void expectHostileRecipe(Decoder decoder, const HostileRecipe& c) {
    const Bytes file = c.make();
    PixelBudget budget;
    const auto image = decoder(file, budget);
    EXPECT_EQ(image.has_value(), c.decodes);
}

}  // namespace sorvane::imaging::fixtures
