#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fixtures.h"
#include "imaging/codecs.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using namespace fixtures;
using fixtures::PrintTo;

// ---- fixture: PCX files written from a known pattern --------------------------------------------

Rgba egaEntry(std::uint32_t i) {
    return mixColour(i, 500);
}
Rgba vgaEntry(std::uint32_t i) {
    return mixColour(i, 600);
}

struct PcxCase {
    const char* desc;
    std::uint8_t bits = 8;
    std::uint8_t planes = 1;
    std::uint32_t width = 7;
    std::uint32_t height = 4;
    std::uint16_t xMin = 0;
    std::uint16_t yMin = 0;
    std::uint16_t extraBytesPerLine = 0;  // beyond the usual even length
    bool vgaPalette = false;
    std::uint8_t vgaMarker = 0x0C;
    bool runsCrossLines = false;  // encode the body as one stream, not line by line
};

std::size_t bytesPerLine(const PcxCase& c) {
    const std::size_t needed = (std::size_t{c.width} * c.bits + 7) / 8;
    return needed + needed % 2 + c.extraBytesPerLine;
}

// The value of plane `p` at pixel (x, y): an 8-bit channel, or a slice of the colour index.
std::uint32_t planeValue(const PcxCase& c, std::uint32_t x, std::uint32_t y, unsigned p) {
    const std::uint32_t m = mix(x, y);
    if (c.bits == 8) {
        return (m >> (8 * p)) & 0xFF;
    }
    const std::uint32_t index = m % (1u << (c.bits * c.planes));
    return (index >> (p * c.bits)) & ((1u << c.bits) - 1);
}

Rgba expectedPixel(const PcxCase& c, std::uint32_t x, std::uint32_t y) {
    if (c.bits == 8 && c.planes >= 3) {
        return Rgba{
            static_cast<std::uint8_t>(planeValue(c, x, y, 0)),
            static_cast<std::uint8_t>(planeValue(c, x, y, 1)),
            static_cast<std::uint8_t>(planeValue(c, x, y, 2)),
            c.planes == 4 ? static_cast<std::uint8_t>(planeValue(c, x, y, 3)) : std::uint8_t{0xFF}};
    }
    std::uint32_t index = 0;
    for (unsigned p = 0; p < c.planes; ++p) {
        index |= planeValue(c, x, y, p) << (p * c.bits);
    }
    if (c.bits == 8) {
        const auto grey = static_cast<std::uint8_t>(index);
        return c.vgaPalette && c.vgaMarker == 0x0C ? vgaEntry(index) : Rgba{grey, grey, grey, 0xFF};
    }
    if (c.bits == 1 && c.planes == 1) {
        return index == 1 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255};
    }
    return egaEntry(index);
}

Frame expectedFrame(const PcxCase& c) {
    return paintedFrame(c.width, c.height,
                        [&c](std::uint32_t x, std::uint32_t y) { return expectedPixel(c, x, y); });
}

Bytes scanline(const PcxCase& c, std::uint32_t y) {
    const std::size_t bpl = bytesPerLine(c);
    Bytes line(bpl * c.planes, 0);
    for (unsigned p = 0; p < c.planes; ++p) {
        for (std::uint32_t x = 0; x < c.width; ++x) {
            const std::uint32_t v = planeValue(c, x, y, p);
            const std::size_t bit = std::size_t{x} * c.bits;
            line[p * bpl + bit / 8] |= static_cast<std::uint8_t>(v << (8 - c.bits - bit % 8));
        }
    }
    return line;
}

// Runs of up to 63; a single byte under 0xC0 stands for itself.
void encodeRuns(const Bytes& data, Bytes& out) {
    for (std::size_t i = 0; i < data.size();) {
        std::size_t n = 1;
        while (i + n < data.size() && n < 63 && data[i + n] == data[i]) {
            ++n;
        }
        if (n > 1 || data[i] >= 0xC0) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | n));
        }
        out.push_back(data[i]);
        i += n;
    }
}

Bytes header(const PcxCase& c) {
    Bytes h(128, 0);
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = c.bits;
    setLe(h, 4, c.xMin, 2);
    setLe(h, 6, c.yMin, 2);
    setLe(h, 8, c.xMin + c.width - 1, 2);
    setLe(h, 10, c.yMin + c.height - 1, 2);
    setLe(h, 12, 72, 2);
    setLe(h, 14, 72, 2);
    for (std::uint32_t i = 0; i < 16; ++i) {
        const Rgba p = egaEntry(i);
        std::copy(p.begin(), p.begin() + 3, h.begin() + 16 + i * 3);
    }
    h[65] = c.planes;
    setLe(h, 66, static_cast<std::uint32_t>(bytesPerLine(c)), 2);
    setLe(h, 68, 1, 2);
    return h;
}

Bytes body(const PcxCase& c) {
    Bytes out;
    Bytes all;
    for (std::uint32_t y = 0; y < c.height; ++y) {
        const Bytes line = scanline(c, y);
        if (c.runsCrossLines) {
            all.insert(all.end(), line.begin(), line.end());
        } else {
            encodeRuns(line, out);
        }
    }
    if (c.runsCrossLines) {
        encodeRuns(all, out);
    }
    return out;
}

Bytes buildPcx(const PcxCase& c) {
    Bytes out = header(c);
    const Bytes b = body(c);
    out.insert(out.end(), b.begin(), b.end());
    if (c.vgaPalette) {
        out.push_back(c.vgaMarker);
        for (std::uint32_t i = 0; i < 256; ++i) {
            const Rgba p = vgaEntry(i);
            out.insert(out.end(), p.begin(), p.begin() + 3);
        }
    }
    return out;
}

std::optional<Frame> decodeOne(ByteView bytes) {
    return decodeOneFrame(detail::decodePcx, bytes);
}

// ---- every layout, pixel for pixel -------------------------------------------------------------

class PcxVariant : public testing::TestWithParam<PcxCase> {};

TEST_P(PcxVariant, DecodesPixelForPixel) {
    const PcxCase& c = GetParam();
    const auto frame = decodeOne(buildPcx(c));
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PcxVariant,
    testing::Values(
        PcxCase{.desc = "8 bit, VGA palette", .vgaPalette = true},
        PcxCase{.desc = "8 bit 5x3, VGA palette", .width = 5, .height = 3, .vgaPalette = true},
        PcxCase{.desc = "8 bit without a palette: grey ramp"},
        PcxCase{.desc = "8 bit, palette marker missing: grey ramp",
                .vgaPalette = true,
                .vgaMarker = 0x0B},
        PcxCase{.desc = "24 bit in three planes 5x3", .planes = 3, .width = 5, .height = 3},
        PcxCase{.desc = "24 bit in three planes 7x4", .planes = 3},
        PcxCase{.desc = "32 bit in four planes", .planes = 4},
        PcxCase{.desc = "1 bit monochrome", .bits = 1},
        PcxCase{.desc = "1 bit monochrome 17 wide", .bits = 1, .width = 17, .height = 2},
        PcxCase{.desc = "1 bit in four planes, header palette", .bits = 1, .planes = 4},
        PcxCase{
            .desc = "1 bit in four planes 19x5", .bits = 1, .planes = 4, .width = 19, .height = 5},
        PcxCase{.desc = "1 bit in two planes", .bits = 1, .planes = 2},
        PcxCase{.desc = "2 bit in one plane", .bits = 2},
        PcxCase{.desc = "2 bit in two planes", .bits = 2, .planes = 2},
        PcxCase{.desc = "4 bit in one plane", .bits = 4, .width = 5, .height = 3},
        PcxCase{.desc = "window away from the origin", .xMin = 10, .yMin = 20, .vgaPalette = true},
        PcxCase{.desc = "lines longer than the picture needs", .planes = 3, .extraBytesPerLine = 3},
        PcxCase{.desc = "runs cross scanline ends, 8 bit",
                .width = 5,
                .height = 3,
                .runsCrossLines = true},
        PcxCase{.desc = "runs cross scanline ends, four planes",
                .bits = 1,
                .planes = 4,
                .runsCrossLines = true},
        PcxCase{.desc = "64 wide (runs longer than 63)", .planes = 3, .width = 64, .height = 2}));

TEST(PcxDecode, LongRunsAndZeroRunsAreRead) {
    // 100 x 1 grey: a run of 63, a run of 0 (nothing), then a run of 37.
    PcxCase c{.desc = "", .width = 100, .height = 1};
    Bytes file = header(c);
    file.insert(file.end(), {0xFF, 0x20, 0xC0, 0x99, 0xE5, 0x40});
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->pixel(62, 0)[0], 0x20);
    EXPECT_EQ(frame->pixel(63, 0)[0], 0x40);
    EXPECT_EQ(frame->pixel(99, 0)[0], 0x40);
}

TEST(PcxDecode, RunPastTheLastLineIsDropped) {
    PcxCase c{.desc = "", .width = 4, .height = 2};
    Bytes file = header(c);
    file.insert(file.end(), {0xFF, 0x33});  // 63 bytes for 8
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->pixel(3, 1)[0], 0x33);
}

TEST(PcxDecode, RecognisedThroughDecode) {
    for (const PcxCase& c :
         {PcxCase{.desc = "", .vgaPalette = true}, PcxCase{.desc = "", .planes = 3}}) {
        const auto image = decode(buildPcx(c));
        ASSERT_TRUE(image.has_value());
        EXPECT_TRUE(samePixels(image->frames.front(), expectedFrame(c)));
    }
}

// ---- hostile input ---------------------------------------------------------------------------

TEST(PcxHostile, ShortBodyGivesNothing) {
    for (const PcxCase& c : {PcxCase{.desc = "grey"}, PcxCase{.desc = "rgb", .planes = 3},
                             PcxCase{.desc = "ega", .bits = 1, .planes = 4},
                             PcxCase{.desc = "one stream", .runsCrossLines = true}}) {
        const Bytes file = buildPcx(c);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            EXPECT_FALSE(decodeOne(ByteView(file).first(cut)).has_value())
                << c.desc << " cut at " << cut;
        }
    }
}

TEST(PcxHostile, CutPaletteFallsBackToGrey) {
    PcxCase c{.desc = "", .vgaPalette = true};
    const Bytes file = buildPcx(c);
    const std::size_t bodyEnd = file.size() - 769;
    c.vgaPalette = false;
    const Frame grey = expectedFrame(c);
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const auto frame = decodeOne(ByteView(file).first(cut));
        ASSERT_EQ(frame.has_value(), cut >= bodyEnd) << cut;
        if (frame) {
            EXPECT_TRUE(samePixels(*frame, grey));
        }
    }
}

Bytes validPcx() {
    return buildPcx(PcxCase{.desc = ""});
}

Bytes window(std::uint32_t xMax, std::uint32_t yMax) {
    return withField(withField(validPcx(), 8, xMax, 2), 10, yMax, 2);
}

Bytes layout(std::uint8_t bits, std::uint8_t planes) {
    return withField(withField(validPcx(), 3, bits, 1), 65, planes, 1);
}

class PcxHostileField : public testing::TestWithParam<HostileCase> {};

TEST_P(PcxHostileField, GivesNothingWithoutAllocating) {
    expectHostileFile(detail::decodePcx, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PcxHostileField,
    testing::Values(
        HostileCase{"empty", {}},
        HostileCase{"header only", header(PcxCase{.desc = "", .width = 1, .height = 1})},
        HostileCase{"127 bytes", firstBytes(validPcx(), 127)},
        HostileCase{"65536 x 65536", withField(window(65535, 65535), 66, 65535, 2)},
        HostileCase{"8192 x 8192 with a tiny body", withField(window(8191, 8191), 66, 8192, 2)},
        HostileCase{"32768 x 1 in four planes with a tiny body",
                    withField(withField(window(32767, 0), 66, 32768, 2), 65, 4, 1)},
        HostileCase{"x max below x min", withField(validPcx(), 4, 9, 2)},
        HostileCase{"y max below y min", withField(validPcx(), 6, 9, 2)},
        HostileCase{"bytes per line 0", withField(validPcx(), 66, 0, 2)},
        HostileCase{"bytes per line shorter than a row", withField(validPcx(), 66, 6, 2)},
        HostileCase{"8 bits in two planes", layout(8, 2)},
        HostileCase{"8 bits in no plane", layout(8, 0)},
        HostileCase{"24 bits in one plane", layout(24, 1)},
        HostileCase{"16 bits in one plane", layout(16, 1)},
        HostileCase{"1 bit in five planes", layout(1, 5)},
        HostileCase{"4 bits in two planes", layout(4, 2)}, HostileCase{"0 bits", layout(0, 1)},
        HostileCase{"not run-length coded", withField(validPcx(), 2, 0, 1)},
        HostileCase{"wrong manufacturer", withField(validPcx(), 0, 0x0B, 1)}));

}  // namespace
}  // namespace sorvane::imaging
