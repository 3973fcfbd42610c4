#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fixtures.h"
#include "imaging/codecs.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using namespace fixtures;
using fixtures::PrintTo;

constexpr Rgba kBlack{0, 0, 0, 0xFF};

// ---- fixture: BMP bytes written field by field from a known pattern ---------------------------

std::vector<Rgba> makePalette(std::size_t n) {
    std::vector<Rgba> palette;
    for (std::size_t i = 0; i < n; ++i) {
        palette.push_back(mixColour(static_cast<std::uint32_t>(i), 99));
    }
    return palette;
}

struct BmpCase {
    const char* desc;
    std::uint32_t headerSize = 40;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t width = 7;
    std::int32_t height = 4;  // negative: top-down
    std::vector<Rgba> palette = {};
    std::array<std::uint32_t, 4> masks = {};  // R, G, B, A for bit fields
    std::uint32_t valueMask = 0xFFFFFFFF;     // limits the raw pixel values of the pattern
};

bool bitfields(const BmpCase& c) {
    return c.compression == 3 || c.compression == 6;
}
std::uint32_t rows(const BmpCase& c) {
    return static_cast<std::uint32_t>(std::abs(static_cast<std::int64_t>(c.height)));
}

// The value stored in the file for image pixel (x, y): a palette index or a packed pixel.
std::uint32_t rawValue(const BmpCase& c, std::uint32_t x, std::uint32_t y) {
    if (c.bitCount <= 8) {
        const std::size_t range = std::min<std::size_t>(std::size_t{1} << c.bitCount,
                                                        c.palette.size() + 2);  // some past the end
        return static_cast<std::uint32_t>(mix(x, y) % range);
    }
    const std::uint32_t bits = c.bitCount == 32 ? 0xFFFFFFFF : (1u << c.bitCount) - 1;
    return mix(x, y) & bits & c.valueMask;
}

std::array<std::uint32_t, 4> effectiveMasks(const BmpCase& c) {
    if (bitfields(c)) {
        return c.masks;
    }
    if (c.bitCount == 16) {
        return {0x7C00, 0x03E0, 0x001F, 0};
    }
    return {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
}

std::uint8_t scaled(std::uint32_t raw, std::uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    std::uint32_t shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const double max = static_cast<double>(mask >> shift);
    return static_cast<std::uint8_t>(std::lround(((raw & mask) >> shift) * 255.0 / max));
}

Frame expectedFrame(const BmpCase& c) {
    Frame f = blankFrame(c.width, rows(c));
    const auto masks = effectiveMasks(c);
    bool anyAlpha = false;
    for (std::uint32_t y = 0; y < f.height; ++y) {
        for (std::uint32_t x = 0; x < f.width; ++x) {
            const std::uint32_t raw = rawValue(c, x, y);
            Rgba px;
            if (c.bitCount <= 8) {
                px = raw < c.palette.size() ? c.palette[raw] : kBlack;
            } else if (c.bitCount == 24) {
                px = Rgba{static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 8),
                          static_cast<std::uint8_t>(raw), 0xFF};
            } else {
                px = Rgba{scaled(raw, masks[0]), scaled(raw, masks[1]), scaled(raw, masks[2]),
                          masks[3] != 0 ? scaled(raw, masks[3]) : std::uint8_t{0xFF}};
                anyAlpha = anyAlpha || (raw & masks[3]) != 0;
            }
            std::copy(px.begin(), px.end(), f.pixel(x, y));
        }
    }
    if (!anyAlpha && c.bitCount > 8) {  // an alpha channel that is zero everywhere is unused
        for (std::size_t i = 3; i < f.rgba.size(); i += 4) {
            f.rgba[i] = 0xFF;
        }
    }
    return f;
}

// The whole file; its DIB (from byte 14) is what an ICO entry or a clipboard would hold.
Bytes buildBmp(const BmpCase& c) {
    Bytes out{'B', 'M'};
    putLe32(out, 0);  // file size, set below
    putLe32(out, 0);
    putLe32(out, 0);  // bfOffBits, set below
    putLe32(out, c.headerSize);
    if (c.headerSize == 12) {
        putLe16(out, c.width);
        putLe16(out, static_cast<std::uint32_t>(c.height));
        putLe16(out, 1);
        putLe16(out, c.bitCount);
    } else {
        putLe32(out, c.width);
        putLe32(out, static_cast<std::uint32_t>(c.height));
        putLe16(out, 1);
        putLe16(out, c.bitCount);
        if (c.headerSize >= 40) {
            putLe32(out, c.compression);
            putLe32(out, 0);
            putLe32(out, 2835);
            putLe32(out, 2835);
            putLe32(out, static_cast<std::uint32_t>(c.palette.size()));
            putLe32(out, 0);
        }
        const bool masksInHeader = c.headerSize >= 52 && c.headerSize != 64;
        if (masksInHeader) {
            for (std::size_t i = 0; i < (c.headerSize >= 56 ? 4u : 3u); ++i) {
                putLe32(out, c.masks[i]);
            }
        }
        out.resize(14 + c.headerSize, 0);
        if (bitfields(c) && !masksInHeader) {
            for (std::size_t i = 0; i < (c.compression == 6 ? 4u : 3u); ++i) {
                putLe32(out, c.masks[i]);
            }
        }
    }
    for (const Rgba& p : c.palette) {
        out.insert(out.end(), {p[2], p[1], p[0]});
        if (c.headerSize != 12) {
            out.push_back(0);
        }
    }
    setLe(out, 10, static_cast<std::uint32_t>(out.size()), 4);
    for (std::uint32_t r = 0; r < rows(c); ++r) {
        const std::uint32_t y = c.height < 0 ? r : rows(c) - 1 - r;
        putDibRow(out, c.bitCount, c.width, [&](std::uint32_t x) { return rawValue(c, x, y); });
    }
    setLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
    return out;
}

std::optional<Frame> decodeOne(ByteView bytes) {
    return decodeOneFrame(detail::decodeBmp, bytes);
}

// ---- every header, bit depth and layout, pixel for pixel ---------------------------------------

class BmpVariant : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpVariant, DecodesPixelForPixel) {
    const BmpCase& c = GetParam();
    const Bytes file = buildBmp(c);
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

TEST_P(BmpVariant, DibWithoutFileHeaderFindsPixelsAfterPalette) {
    const BmpCase& c = GetParam();
    const Bytes file = buildBmp(c);
    PixelBudget budget;
    const auto frame = detail::decodeDib(ByteView(file).subspan(14), budget, false);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

constexpr std::array<std::uint32_t, 4> k565{0xF800, 0x07E0, 0x001F, 0};

INSTANTIATE_TEST_SUITE_P(
    Layouts, BmpVariant,
    testing::Values(
        BmpCase{.desc = "1 bit", .bitCount = 1, .palette = makePalette(2)},
        BmpCase{.desc = "2 bit", .bitCount = 2, .palette = makePalette(4)},
        BmpCase{.desc = "4 bit", .bitCount = 4, .palette = makePalette(16)},
        BmpCase{.desc = "4 bit, 5-colour palette", .bitCount = 4, .palette = makePalette(5)},
        BmpCase{.desc = "8 bit", .bitCount = 8, .palette = makePalette(256)},
        BmpCase{.desc = "8 bit, 3-colour palette", .bitCount = 8, .palette = makePalette(3)},
        BmpCase{.desc = "8 bit top-down", .bitCount = 8, .height = -4, .palette = makePalette(40)},
        BmpCase{.desc = "1 bit 33 wide", .bitCount = 1, .width = 33, .palette = makePalette(2)},
        BmpCase{.desc = "16 bit 5-5-5", .bitCount = 16},
        BmpCase{.desc = "16 bit 5-5-5, 5 wide", .bitCount = 16, .width = 5, .height = 3},
        BmpCase{.desc = "16 bit 5-6-5 masks after 40-byte header",
                .bitCount = 16,
                .compression = 3,
                .masks = k565},
        BmpCase{.desc = "16 bit 5-6-5 in a 52-byte header",
                .headerSize = 52,
                .bitCount = 16,
                .compression = 3,
                .masks = k565},
        BmpCase{.desc = "16 bit 4-4-4-4 in a 56-byte header",
                .headerSize = 56,
                .bitCount = 16,
                .compression = 3,
                .masks = {0x0F00, 0x00F0, 0x000F, 0xF000}},
        BmpCase{.desc = "16 bit 1-5-5-5 alpha bit fields after 40-byte header",
                .bitCount = 16,
                .compression = 6,
                .masks = {0x7C00, 0x03E0, 0x001F, 0x8000}},
        BmpCase{.desc = "24 bit", .bitCount = 24},
        BmpCase{.desc = "24 bit 5x3", .bitCount = 24, .width = 5, .height = 3},
        BmpCase{.desc = "24 bit top-down", .bitCount = 24, .height = -4},
        BmpCase{.desc = "24 bit with an unused palette", .palette = makePalette(3)},
        BmpCase{
            .desc = "32 bit, fourth byte zero: opaque", .bitCount = 32, .valueMask = 0x00FFFFFF},
        BmpCase{.desc = "32 bit, fourth byte is alpha", .bitCount = 32},
        BmpCase{.desc = "32 bit masks after 40-byte header, no alpha",
                .bitCount = 32,
                .compression = 3,
                .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0}},
        BmpCase{.desc = "32 bit V4 header with alpha mask",
                .headerSize = 108,
                .bitCount = 32,
                .compression = 3,
                .masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},
        BmpCase{.desc = "32 bit V5 header, 10-10-10-2",
                .headerSize = 124,
                .bitCount = 32,
                .compression = 3,
                .masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
        BmpCase{.desc = "32 bit V5 header top-down, RGBA byte order",
                .headerSize = 124,
                .bitCount = 32,
                .compression = 3,
                .height = -3,
                .masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}},
        BmpCase{.desc = "OS/2 12-byte header, 8 bit",
                .headerSize = 12,
                .bitCount = 8,
                .palette = makePalette(256)},
        BmpCase{.desc = "OS/2 12-byte header, 1 bit",
                .headerSize = 12,
                .bitCount = 1,
                .palette = makePalette(2)},
        BmpCase{.desc = "OS/2 12-byte header, 24 bit", .headerSize = 12, .bitCount = 24},
        BmpCase{.desc = "OS/2 16-byte header, 24 bit", .headerSize = 16, .bitCount = 24},
        BmpCase{.desc = "OS/2 64-byte header, 4 bit",
                .headerSize = 64,
                .bitCount = 4,
                .palette = makePalette(16)}));

TEST(BmpDecode, KnownPixelsOfA565File) {
    // Anchors the scaling: full masks give 255, the middle values round to nearest.
    const BmpCase c{
        .desc = "", .bitCount = 16, .compression = 3, .width = 4, .height = 1, .masks = k565};
    Bytes file = buildBmp(c);
    const std::size_t pixels = file.size() - 8;
    const std::array<std::uint16_t, 4> values{0xF800, 0x07E0, 0x001F, 0x8410};
    for (std::size_t i = 0; i < 4; ++i) {
        file[pixels + 2 * i] = static_cast<std::uint8_t>(values[i]);
        file[pixels + 2 * i + 1] = static_cast<std::uint8_t>(values[i] >> 8);
    }
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    const std::vector<std::uint8_t> expected{255, 0, 0,   255, 0,   255, 0,   255,
                                             0,   0, 255, 255, 132, 130, 132, 255};
    EXPECT_EQ(frame->rgba, expected);
}

TEST(BmpDecode, BottomUpRowsComeOutTopFirst) {
    // 1x2, 24 bit: the file's first row is the bottom one.
    const Bytes file{'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  //
                     40,  0,   0,  0, 1, 0, 0, 0, 2, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                     0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 1, 2, 3, 0, 4, 5, 6, 0};
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->rgba, (std::vector<std::uint8_t>{6, 5, 4, 255, 3, 2, 1, 255}));
}

TEST(BmpDecode, PaletteCutShortByPixelOffsetGivesBlackPastIt) {
    // clrUsed 0 claims 256 entries, but bfOffBits leaves room for the 3 written.
    BmpCase c{.desc = "", .bitCount = 8, .palette = makePalette(3)};
    Bytes file = buildBmp(c);
    setLe(file, 14 + 32, 0, 4);
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

TEST(BmpDecode, PixelOffsetInsideTheHeaderIsIgnored) {
    const BmpCase c{.desc = "", .bitCount = 4, .palette = makePalette(16)};
    Bytes file = buildBmp(c);
    setLe(file, 10, 0, 4);
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

TEST(BmpDecode, PixelOffsetPastPaletteIsHonoured) {
    const BmpCase c{.desc = "", .bitCount = 24};
    Bytes file = buildBmp(c);
    file.insert(file.begin() + 54, {9, 9, 9, 9, 9});  // a gap before the pixels
    setLe(file, 10, 59, 4);
    const auto frame = decodeOne(file);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

// ---- run-length coding ----------------------------------------------------------------------

struct RleCase {
    const char* desc;
    std::uint16_t bitCount;  // 8 or 4
    std::int32_t height;
    Bytes stream;
    std::vector<std::string> expected;  // rows top to bottom; hex palette index, '.' never set
};

constexpr std::uint32_t kRleWidth = 6;

Bytes buildRle(const RleCase& c) {
    Bytes out{'B', 'M'};
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 14 + 40 + 16 * 4);
    putLe32(out, 40);
    putLe32(out, kRleWidth);
    putLe32(out, static_cast<std::uint32_t>(c.height));
    putLe16(out, 1);
    putLe16(out, c.bitCount);
    putLe32(out, c.bitCount == 8 ? 1 : 2);
    putLe32(out, static_cast<std::uint32_t>(c.stream.size()));
    putLe32(out, 2835);
    putLe32(out, 2835);
    putLe32(out, 16);
    putLe32(out, 0);
    for (const Rgba& p : makePalette(16)) {
        out.insert(out.end(), {p[2], p[1], p[0], 0});
    }
    out.insert(out.end(), c.stream.begin(), c.stream.end());
    setLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
    return out;
}

Frame gridFrame(const std::vector<std::string>& grid) {
    const auto palette = makePalette(16);
    Frame f = blankFrame(static_cast<std::uint32_t>(grid.front().size()),
                         static_cast<std::uint32_t>(grid.size()));
    for (std::uint32_t y = 0; y < f.height; ++y) {
        for (std::uint32_t x = 0; x < f.width; ++x) {
            const char ch = grid[y][x];
            if (ch != '.') {
                const auto& p = palette[std::stoul(std::string(1, ch), nullptr, 16)];
                std::copy(p.begin(), p.end(), f.pixel(x, y));
            }
        }
    }
    return f;
}

class BmpRle : public testing::TestWithParam<RleCase> {};

TEST_P(BmpRle, DecodesOrRefuses) {
    const RleCase& c = GetParam();
    const auto frame = decodeOne(buildRle(c));
    if (c.expected.empty()) {
        EXPECT_FALSE(frame.has_value());
        return;
    }
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, gridFrame(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BmpRle,
    testing::Values(
        RleCase{"rle8 runs, absolute run with padding, end of line, end of bitmap",
                8,
                3,
                {3, 1, 3, 2, 0, 0, 0, 3, 5, 6, 7, 0, 3, 4, 0, 0, 6, 8, 0, 1},
                {"888888", "567444", "111222"}},
        RleCase{"rle8 top-down",
                8,
                -3,
                {3, 1, 3, 2, 0, 0, 0, 3, 5, 6, 7, 0, 3, 4, 0, 0, 6, 8, 0, 1},
                {"111222", "567444", "888888"}},
        RleCase{"rle8 delta skips pixels, which stay transparent",
                8,
                3,
                {2, 1, 0, 2, 2, 1, 2, 3, 0, 1},
                {"......", "....33", "11...."}},
        RleCase{"rle8 run past the row end is clipped, not wrapped",
                8,
                3,
                {10, 5, 0, 0, 2, 6, 0, 1},
                {"......", "66....", "555555"}},
        RleCase{"rle8 absolute run past the row end is clipped",
                8,
                2,
                {0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1},
                {"......", "123456"}},
        RleCase{"rle8 delta out of the picture ends it",
                8,
                2,
                {1, 9, 0, 2, 200, 200, 4, 4},
                {"......", "9....."}},
        RleCase{"rle8 delta past the row end hides the next run",
                8,
                2,
                {0, 2, 250, 0, 3, 3, 0, 0, 1, 1, 0, 1},
                {"1.....", "......"}},
        RleCase{"rle8 end of line after the last row is a complete picture",
                8,
                2,
                {6, 1, 0, 0, 6, 2, 0, 0},
                {"222222", "111111"}},
        RleCase{"rle8 stream without end of bitmap gives nothing", 8, 2, {6, 1, 0, 0, 6, 2}, {}},
        RleCase{"rle8 stream cut inside a delta gives nothing", 8, 2, {0, 2, 1}, {}},
        RleCase{"rle8 stream cut inside an absolute run gives nothing", 8, 2, {0, 5, 1, 2}, {}},
        RleCase{"rle4 runs alternate nibbles, absolute runs pad to 16 bits",
                4,
                3,
                {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 3, 0xAB, 0, 0, 0, 5, 0x9A, 0xBC, 0xD0, 0, 0, 1},
                {"9abcd.", "345aba", "12121."}},
        RleCase{"rle4 run past the row end is clipped",
                4,
                2,
                {9, 0xEF, 0, 0, 1, 0x70, 0, 1},
                {"7.....", "efefef"}},
        RleCase{"rle4 stream cut inside an absolute run gives nothing", 4, 1, {0, 7, 0x12}, {}}));

TEST(BmpRle, IndexPastThePaletteIsOpaqueBlack) {
    const RleCase c{"", 8, 1, {2, 200, 0, 1}, {}};
    const auto frame = decodeOne(buildRle(c));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->rgba, (std::vector<std::uint8_t>{0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0,
                                                      0, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0}));
}

// ---- the encoder -----------------------------------------------------------------------------

Frame patternFrame(std::uint32_t width, std::uint32_t height, bool withAlpha) {
    return paintedFrame(width, height, [withAlpha](std::uint32_t x, std::uint32_t y) {
        Rgba p = mixColour(x, y);
        if (withAlpha) {
            p[3] = static_cast<std::uint8_t>(mix(x, y) >> 24);
        }
        return p;
    });
}

std::uint32_t le32At(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

std::uint32_t le16At(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8;
}

struct EncodeCase {
    const char* desc;
    std::uint32_t width;
    std::uint32_t height;
    bool withAlpha;
};

class BmpEncode : public testing::TestWithParam<EncodeCase> {};

TEST_P(BmpEncode, RoundTripsThroughOurDecoder) {
    const EncodeCase& c = GetParam();
    const Frame source = patternFrame(c.width, c.height, c.withAlpha);
    const Bytes file = encodeBmp(source);
    ASSERT_FALSE(file.empty());
    const auto image = decode(file);  // through format recognition
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 1u);
    EXPECT_TRUE(samePixels(image->frames.front(), source));
}

TEST_P(BmpEncode, WritesConsistentHeaders) {
    const EncodeCase& c = GetParam();
    const Bytes file = encodeBmp(patternFrame(c.width, c.height, c.withAlpha));
    ASSERT_GE(file.size(), 54u);
    const std::uint32_t headerSize = c.withAlpha ? 124 : 40;
    const std::uint32_t bits = c.withAlpha ? 32 : 24;
    const std::uint32_t stride = (c.width * bits / 8 + 3) / 4 * 4;
    EXPECT_EQ(le32At(file, 2), file.size());             // bfSize
    EXPECT_EQ(le32At(file, 10), 14 + headerSize);        // bfOffBits
    EXPECT_EQ(le32At(file, 14), headerSize);             // biSize
    EXPECT_EQ(le32At(file, 18), c.width);                // biWidth
    EXPECT_EQ(le32At(file, 22), c.height);               // positive: bottom-up
    EXPECT_EQ(le16At(file, 26), 1u);                     // planes
    EXPECT_EQ(le16At(file, 28), bits);                   // biBitCount
    EXPECT_EQ(le32At(file, 30), c.withAlpha ? 3u : 0u);  // BI_BITFIELDS or BI_RGB
    EXPECT_EQ(le32At(file, 34), stride * c.height);      // biSizeImage
    EXPECT_EQ(le32At(file, 38), 2835u);                  // pixels per metre
    EXPECT_EQ(le32At(file, 42), 2835u);
    EXPECT_EQ(file.size(), 14 + headerSize + stride * c.height);
    if (c.withAlpha) {
        EXPECT_EQ(le32At(file, 54), 0x00FF0000u);
        EXPECT_EQ(le32At(file, 58), 0x0000FF00u);
        EXPECT_EQ(le32At(file, 62), 0x000000FFu);
        EXPECT_EQ(le32At(file, 66), 0xFF000000u);
        EXPECT_EQ(le32At(file, 70), 0x73524742u);  // LCS_sRGB
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, BmpEncode,
                         testing::Values(EncodeCase{"opaque 7x4", 7, 4, false},
                                         EncodeCase{"opaque 5x3", 5, 3, false},
                                         EncodeCase{"opaque 1x1", 1, 1, false},
                                         EncodeCase{"alpha 7x4", 7, 4, true},
                                         EncodeCase{"alpha 5x3", 5, 3, true}));

TEST(BmpEncode, BottomRowComesFirst) {
    Frame f = patternFrame(1, 2, false);
    const Bytes file = encodeBmp(f);
    ASSERT_EQ(file.size(), 54u + 8u);
    EXPECT_EQ(file[54], f.pixel(0, 1)[2]);  // blue of the bottom pixel
    EXPECT_EQ(file[58], f.pixel(0, 0)[2]);
}

TEST(BmpEncode, InvalidFramesGiveNothing) {
    EXPECT_TRUE(encodeBmp(Frame{}).empty());
    Frame mismatched = patternFrame(3, 3, false);
    mismatched.rgba.pop_back();
    EXPECT_TRUE(encodeBmp(mismatched).empty());
    Frame noPixels;
    noPixels.width = 4;
    noPixels.height = 4;
    EXPECT_TRUE(encodeBmp(noPixels).empty());
    Frame tooWide;
    tooWide.width = kMaxDimension + 1;
    tooWide.height = 1;
    tooWide.rgba.resize(std::size_t{tooWide.width} * 4);
    EXPECT_TRUE(encodeBmp(tooWide).empty());
}

// ---- hostile input ---------------------------------------------------------------------------

TEST(BmpHostile, EveryCutGivesNothingOrTheWholePicture) {
    const std::vector<Bytes> files{
        buildBmp(BmpCase{.desc = "", .bitCount = 24}),
        buildBmp(BmpCase{.desc = "", .bitCount = 8, .palette = makePalette(20)}),
        buildBmp(BmpCase{.desc = "",
                         .headerSize = 124,
                         .bitCount = 32,
                         .compression = 3,
                         .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}}),
        buildBmp(BmpCase{.desc = "", .headerSize = 12, .bitCount = 4, .palette = makePalette(16)}),
        buildRle(
            RleCase{"", 8, 3, {3, 1, 3, 2, 0, 0, 0, 3, 5, 6, 7, 0, 3, 4, 0, 0, 6, 8, 0, 1}, {}}),
    };
    for (const Bytes& file : files) {
        const auto whole = decodeOne(file);
        ASSERT_TRUE(whole.has_value());
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const auto part = decodeOne(ByteView(file).first(cut));
            if (part) {
                SCOPED_TRACE("cut at " + std::to_string(cut));
                EXPECT_TRUE(samePixels(*part, *whole));
            }
        }
        // Only the last row's padding may be missing.
        EXPECT_FALSE(decodeOne(ByteView(file).first(file.size() - 4 - 4)).has_value());
    }
}

// A valid 24-bit file changed in one field.
Bytes patched(std::size_t at, std::uint32_t value, std::size_t width = 4) {
    return withField(buildBmp(BmpCase{.desc = "", .bitCount = 24}), at, value, width);
}

Bytes headerOnly(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                 std::uint32_t compression = 0) {
    Bytes file = buildBmp(BmpCase{.desc = "", .bitCount = 24, .width = 1, .height = 1});
    setLe(file, 18, width, 4);
    setLe(file, 22, height, 4);
    file[28] = static_cast<std::uint8_t>(bits);
    setLe(file, 30, compression, 4);
    return file;
}

class BmpHostileField : public testing::TestWithParam<HostileCase> {};

TEST_P(BmpHostileField, NeverAllocatesForWhatTheFileCannotHold) {
    expectHostileFile(detail::decodeBmp, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BmpHostileField,
    testing::Values(
        HostileCase{"65535 x 65535", headerOnly(65535, 65535, 24), false},
        HostileCase{"8192 x 8192 (in budget) with no pixel data", headerOnly(8192, 8192, 24),
                    false},
        HostileCase{"8192 x 8192 at 1 bit with no pixel data", headerOnly(8192, 8192, 1), false},
        HostileCase{"32768 x 1 at 32 bit with no pixel data", headerOnly(32768, 1, 32), false},
        HostileCase{"height INT32_MIN", headerOnly(1, 0x80000000, 24), false},
        HostileCase{"height -1 is a one-row top-down picture", headerOnly(1, 0xFFFFFFFF, 24), true},
        HostileCase{"width negative", headerOnly(0xFFFFFFFF, 1, 24), false},
        HostileCase{"width 0", headerOnly(0, 1, 24), false},
        HostileCase{"height 0", headerOnly(1, 0, 24), false},
        HostileCase{"0 bits", headerOnly(1, 1, 0), false},
        HostileCase{"3 bits", headerOnly(1, 1, 3), false},
        HostileCase{"64 bits", headerOnly(1, 1, 64), false},
        HostileCase{"embedded JPEG", headerOnly(1, 1, 24, 4), false},
        HostileCase{"embedded PNG", headerOnly(1, 1, 24, 5), false},
        HostileCase{"unknown compression", headerOnly(1, 1, 24, 0x7FFFFFFF), false},
        HostileCase{"rle8 at 24 bits", headerOnly(1, 1, 24, 1), false},
        HostileCase{"rle4 at 8 bits", headerOnly(1, 1, 8, 2), false},
        HostileCase{"bit fields at 24 bits", headerOnly(1, 1, 24, 3), false},
        HostileCase{"bit fields with the masks missing",
                    firstBytes(buildBmp(BmpCase{
                                   .desc = "", .bitCount = 16, .compression = 3, .masks = k565}),
                               54),
                    false},
        HostileCase{"header size 0", patched(14, 0), false},
        HostileCase{"header size 8", patched(14, 8), false},
        HostileCase{"header size 13", patched(14, 13), false},
        HostileCase{"header size past the file", patched(14, 0xFFFFFFFF), false},
        HostileCase{"bfOffBits huge", patched(10, 0xFFFFFFF0), false},
        HostileCase{"bfOffBits at the last byte", patched(10, 54 + 4 * 24 - 1), false},
        HostileCase{"clrUsed huge, palette bounded by bfOffBits", patched(46, 0xFFFFFFFF), true},
        HostileCase{"not BM", patched(0, 'B' | 'A' << 8, 2), false},
        HostileCase{"only the file header", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                    false}));

TEST(BmpHostile, ClrUsedHugeInADibIsRefused) {
    // Without bfOffBits the pixels would start past a palette of 2^32 entries.
    Bytes file = buildBmp(BmpCase{.desc = "", .bitCount = 8, .palette = makePalette(4)});
    setLe(file, 46, 0xFFFFFFFF, 4);
    PixelBudget budget;
    EXPECT_FALSE(detail::decodeDib(ByteView(file).subspan(14), budget, false).has_value());
    EXPECT_EQ(budget.remaining(), kMaxPixelBytes);
}

TEST(BmpHostile, Os2HuffmanAndRle24AreRefused) {
    for (std::uint32_t compression : {3u, 4u}) {
        Bytes file = buildBmp(BmpCase{.desc = "", .headerSize = 64, .bitCount = 24});
        setLe(file, 30, compression, 4);
        EXPECT_FALSE(decodeOne(file).has_value()) << compression;
    }
}

TEST(BmpHostile, ZeroMasksGiveBlackNotACrash) {
    const BmpCase c{.desc = "", .headerSize = 56, .bitCount = 32, .compression = 3};
    const auto frame = decodeOne(buildBmp(c));
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(samePixels(*frame, expectedFrame(c)));
}

}  // namespace
}  // namespace sorvane::imaging
