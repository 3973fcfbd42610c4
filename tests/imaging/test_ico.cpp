#include <gtest/gtest.h>
#include <png.h>

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

// ---- fixture: icon entries and files written field by field ------------------------------------

struct DibLayout {
    std::uint32_t width = 5;
    std::uint32_t height = 3;
    std::uint16_t bits = 8;
    std::uint32_t seed = 1;  // varies the pattern and palette between entries
    bool zeroAlpha = false;  // 32 bit: leave the fourth byte 0
    bool withMask = true;    // write the AND mask after the colour rows
    std::uint32_t compression = 0;
};

std::size_t paletteSize(const DibLayout& s) {
    return s.bits <= 8 ? std::size_t{1} << s.bits : 0;
}

Rgba paletteEntry(const DibLayout& s, std::uint32_t i) {
    return mixColour(i, 1000, s.seed);
}

std::uint32_t rawValue(const DibLayout& s, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t m = mix(x, y, s.seed);
    if (s.bits <= 8) {
        return m % static_cast<std::uint32_t>(paletteSize(s));
    }
    if (s.bits == 24 || s.zeroAlpha) {
        return m & 0x00FFFFFF;
    }
    return m;
}

bool maskBit(std::uint32_t x, std::uint32_t y) {
    return (x + 2 * y) % 3 == 0;
}

// A DIB as an icon entry stores it: the height counts colour and mask rows, bottom-up.
Bytes iconDib(const DibLayout& s) {
    Bytes out;
    putLe32(out, 40);
    putLe32(out, s.width);
    putLe32(out, s.height * 2);
    putLe16(out, 1);
    putLe16(out, s.bits);
    putLe32(out, s.compression);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, static_cast<std::uint32_t>(paletteSize(s)));
    putLe32(out, 0);
    for (std::uint32_t i = 0; i < paletteSize(s); ++i) {
        const Rgba p = paletteEntry(s, i);
        out.insert(out.end(), {p[2], p[1], p[0], 0});
    }
    for (std::uint32_t r = 0; r < s.height; ++r) {
        const std::uint32_t y = s.height - 1 - r;
        putDibRow(out, s.bits, s.width, [&](std::uint32_t x) { return rawValue(s, x, y); });
    }
    for (std::uint32_t r = 0; s.withMask && r < s.height; ++r) {
        const std::uint32_t y = s.height - 1 - r;
        putDibRow(out, 1, s.width, [y](std::uint32_t x) { return maskBit(x, y) ? 1u : 0u; });
    }
    return out;
}

Frame expectedIcon(const DibLayout& s) {
    const bool usesAlpha = s.bits == 32 && !s.zeroAlpha;
    return paintedFrame(s.width, s.height, [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t raw = rawValue(s, x, y);
        Rgba p = s.bits <= 8 ? paletteEntry(s, raw)
                             : Rgba{static_cast<std::uint8_t>(raw >> 16),
                                    static_cast<std::uint8_t>(raw >> 8),
                                    static_cast<std::uint8_t>(raw), 0xFF};
        if (usesAlpha) {
            p[3] = static_cast<std::uint8_t>(raw >> 24);
        } else if (s.withMask && maskBit(x, y)) {
            p[3] = 0;
        }
        return p;
    });
}

Frame patternFrame(std::uint32_t width, std::uint32_t height) {
    Frame f = blankFrame(width, height);
    for (std::size_t i = 0; i < f.rgba.size(); ++i) {
        f.rgba[i] = static_cast<std::uint8_t>(mix(static_cast<std::uint32_t>(i), 5, 5));
    }
    return f;
}

// A PNG written by libpng itself, as modern icons store their large entries.
Bytes pngFile(const Frame& f) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = f.width;
    image.height = f.height;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, f.rgba.data(), 0, nullptr)) {
        return {};
    }
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, f.rgba.data(), 0, nullptr)) {
        return {};
    }
    out.resize(size);
    return out;
}

struct DirEntry {
    std::uint8_t width;  // 0 means 256
    std::uint8_t height;
    std::uint16_t planes;    // a cursor's hot spot x
    std::uint16_t bitCount;  // a cursor's hot spot y; 0 for an icon means "see the entry"
    Bytes data;
    std::optional<std::uint32_t> offset = std::nullopt;  // overrides where the data is said to be
    std::optional<std::uint32_t> size = std::nullopt;
};

Bytes iconFile(std::uint16_t type, const std::vector<DirEntry>& entries) {
    Bytes out;
    putLe16(out, 0);
    putLe16(out, type);
    putLe16(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const DirEntry& e : entries) {
        out.insert(out.end(), {e.width, e.height, 0, 0});
        putLe16(out, e.planes);
        putLe16(out, e.bitCount);
        putLe32(out, e.size.value_or(static_cast<std::uint32_t>(e.data.size())));
        putLe32(out, e.offset.value_or(offset));
        offset += static_cast<std::uint32_t>(e.data.size());
    }
    for (const DirEntry& e : entries) {
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

DirEntry icoEntry(const DibLayout& s) {
    return DirEntry{static_cast<std::uint8_t>(s.width), static_cast<std::uint8_t>(s.height), 1,
                    s.bits, iconDib(s)};
}

// ---- decoding and choosing entries ---------------------------------------------------------

struct IcoCase {
    std::string desc;
    Bytes file;
    std::optional<Frame> expected;
};

std::vector<IcoCase> iconCases() {
    std::vector<IcoCase> cases;
    const auto single = [&](const char* desc, const DibLayout& s) {
        cases.push_back({desc, iconFile(1, {icoEntry(s)}), expectedIcon(s)});
    };
    single("1 bit 7x4, AND mask", {.width = 7, .height = 4, .bits = 1});
    single("4 bit 7x4, AND mask", {.width = 7, .height = 4, .bits = 4});
    single("8 bit 5x3, AND mask", {.bits = 8});
    single("24 bit 5x3, AND mask", {.bits = 24});
    single("32 bit 5x3 uses its alpha, not the mask", {.bits = 32});
    single("32 bit 5x3 with zero alpha uses the mask", {.bits = 32, .zeroAlpha = true});
    single("8 bit without its AND mask is opaque", {.bits = 8, .withMask = false});
    single("32 bit 33x2 (mask rows over 32 bits)", {.width = 33, .height = 2, .bits = 32});
    single("1 bit 33x2 (mask rows over 32 bits)", {.width = 33, .height = 2, .bits = 1});

    {
        const DibLayout small{.width = 16, .height = 16, .bits = 32, .seed = 1};
        const DibLayout big4{.width = 32, .height = 32, .bits = 4, .seed = 2};
        const DibLayout big8{.width = 32, .height = 32, .bits = 8, .seed = 3};
        cases.push_back(
            {"the largest entry wins, then the deepest",
             iconFile(1, {icoEntry(small), icoEntry(big4), icoEntry(big8), icoEntry(small)}),
             expectedIcon(big8)});
    }
    {
        const DibLayout s48{.width = 48, .height = 48, .bits = 32, .seed = 1};
        const DibLayout s256{.width = 256, .height = 256, .bits = 1, .seed = 2};
        DirEntry e256 = icoEntry(s256);
        e256.width = e256.height = 0;
        cases.push_back(
            {"a size byte of 0 means 256", iconFile(1, {icoEntry(s48), e256}), expectedIcon(s256)});
    }
    {
        const DibLayout s4{.width = 16, .height = 16, .bits = 4, .seed = 1};
        const DibLayout s32{.width = 16, .height = 16, .bits = 32, .seed = 2};
        DirEntry e4 = icoEntry(s4);
        DirEntry e32 = icoEntry(s32);
        e4.bitCount = e32.bitCount = 0;
        cases.push_back({"bit count 0 in the directory: the entry's own depth decides",
                         iconFile(1, {e4, e32}), expectedIcon(s32)});
    }
    {
        // The hot spots would rank the 8-bit entry first if read as bit counts.
        const DibLayout s8{.width = 16, .height = 16, .bits = 8, .seed = 1};
        const DibLayout s32{.width = 16, .height = 16, .bits = 32, .seed = 2};
        DirEntry e8 = icoEntry(s8);
        DirEntry e32 = icoEntry(s32);
        e8.planes = e8.bitCount = 40;
        e32.planes = e32.bitCount = 1;
        cases.push_back({"cursor: hot spots in the directory, depth from the entry",
                         iconFile(2, {e8, e32}), expectedIcon(s32)});
    }
    {
        const DibLayout small{.width = 16, .height = 16, .bits = 8, .seed = 1};
        const DibLayout big{.width = 32, .height = 32, .bits = 8, .seed = 2};
        DirEntry outside = icoEntry(big);
        outside.offset = 0xFFFFFF00;
        cases.push_back({"an entry starting past the end of the file is skipped",
                         iconFile(1, {outside, icoEntry(small)}), expectedIcon(small)});
        DirEntry tooLong = icoEntry(big);
        tooLong.size = 0xFFFFFFFF;
        cases.push_back({"an entry running past the end of the file is skipped",
                         iconFile(1, {tooLong, icoEntry(small)}), expectedIcon(small)});
        DirEntry empty = icoEntry(big);
        empty.size = 0;
        cases.push_back({"an empty entry is skipped", iconFile(1, {empty, icoEntry(small)}),
                         expectedIcon(small)});
        DirEntry broken = icoEntry(big);
        broken.data[0] = 7;  // header size 7: no DIB
        cases.push_back({"an entry that does not decode gives way to the next",
                         iconFile(1, {broken, icoEntry(small)}), expectedIcon(small)});
        DirEntry rle = icoEntry(big);
        rle.data[16] = 1;  // BI_RLE8
        cases.push_back({"a run-length coded entry is refused", iconFile(1, {rle, icoEntry(small)}),
                         expectedIcon(small)});
        cases.push_back({"no entry decodes", iconFile(1, {broken, outside}), std::nullopt});
    }
    return cases;
}

class IcoDecode : public testing::TestWithParam<IcoCase> {};

TEST_P(IcoDecode, PicksAndDecodesTheRightEntry) {
    const IcoCase& c = GetParam();
    const auto image = decodeWithBudget(detail::decodeIco, c.file);
    ASSERT_EQ(image.has_value(), c.expected.has_value());
    if (image) {
        ASSERT_EQ(image->frames.size(), 1u);
        EXPECT_TRUE(samePixels(image->frames.front(), *c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, IcoDecode, testing::ValuesIn(iconCases()));

TEST(IcoDecode, RecognisedAsIconAndCursor) {
    const DibLayout s{.bits = 32};
    for (std::uint16_t type : {1, 2}) {
        const auto image = decode(iconFile(type, {icoEntry(s)}));
        ASSERT_TRUE(image.has_value()) << type;
        EXPECT_TRUE(samePixels(image->frames.front(), expectedIcon(s)));
    }
}

// These need the PNG decoder (imaging/png.cpp).
TEST(IcoPng, PngEntryDecodes) {
    const Frame source = patternFrame(5, 3);
    const Bytes png = pngFile(source);
    ASSERT_FALSE(png.empty());
    const auto image =
        decodeWithBudget(detail::decodeIco, iconFile(1, {DirEntry{5, 3, 1, 32, png}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_TRUE(samePixels(image->frames.front(), source));
}

TEST(IcoPng, LargestPngEntryWinsOverASmallerDib) {
    const Frame source = patternFrame(32, 32);
    const DibLayout small{.width = 16, .height = 16, .bits = 32};
    const auto image = decodeWithBudget(
        detail::decodeIco, iconFile(1, {icoEntry(small), DirEntry{32, 32, 1, 0, pngFile(source)}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_TRUE(samePixels(image->frames.front(), source));
}

// ---- hostile input ---------------------------------------------------------------------------

TEST(IcoHostile, EveryCutGivesNothing) {
    // One entry: any cut leaves the entry running past the end, or the directory incomplete.
    const Bytes file = iconFile(1, {icoEntry({.width = 7, .height = 4, .bits = 4})});
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        EXPECT_FALSE(decodeWithBudget(detail::decodeIco, ByteView(file).first(cut)).has_value())
            << cut;
    }
}

Bytes validIcon() {
    return iconFile(1, {icoEntry({.bits = 8})});
}

// The DIB starts at byte 22 of a one-entry file.
constexpr std::size_t kDibAt = 22;

class IcoHostileField : public testing::TestWithParam<HostileCase> {};

TEST_P(IcoHostileField, GivesNothingWithoutAllocating) {
    expectHostileFile(detail::decodeIco, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IcoHostileField,
    testing::Values(
        HostileCase{"empty", {}}, HostileCase{"five bytes", {0, 0, 1, 0, 1}},
        HostileCase{"reserved not 0", withField(validIcon(), 0, 1, 2)},
        HostileCase{"type 0", withField(validIcon(), 2, 0, 2)},
        HostileCase{"type 3", withField(validIcon(), 2, 3, 2)},
        HostileCase{"no entries", withField(validIcon(), 4, 0, 2)},
        HostileCase{"offset at the end of the file",
                    withField(validIcon(), 18, static_cast<std::uint32_t>(validIcon().size()), 4)},
        HostileCase{"offset and size wrap around",
                    withField(withField(validIcon(), 18, 0xFFFFFFFF, 4), 14, 0xFFFFFFFF, 4)},
        HostileCase{"DIB width 65535", withField(validIcon(), kDibAt + 4, 65535, 4)},
        HostileCase{"DIB 30000 x 30000 in a few bytes",
                    withField(withField(validIcon(), kDibAt + 4, 30000, 4), kDibAt + 8, 60000, 4)},
        HostileCase{"DIB height 1: no colour rows", withField(validIcon(), kDibAt + 8, 1, 4)},
        HostileCase{"DIB height INT32_MIN", withField(validIcon(), kDibAt + 8, 0x80000000, 4)},
        HostileCase{"DIB header size past the entry", withField(validIcon(), kDibAt, 0x10000, 4)},
        HostileCase{"DIB bit count 0 in the entry and the directory",
                    withField(withField(validIcon(), kDibAt + 14, 0, 2), 12, 0, 2)},
        HostileCase{"PNG signature then nothing",
                    iconFile(1, {DirEntry{8, 8, 1, 0,
                                          Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}})}));

TEST(IcoHostile, ManyEntriesPointingAtOneBrokenDibFinishQuickly) {
    Bytes dib = iconDib({.width = 255, .height = 255, .bits = 32});
    dib.resize(dib.size() / 2);  // colour rows cut short
    std::vector<DirEntry> entries;
    for (int i = 0; i < 65535; ++i) {
        entries.push_back(
            DirEntry{255, 255, 1, 32, {}, 6 + 16 * 65535, static_cast<std::uint32_t>(dib.size())});
    }
    Bytes file = iconFile(1, entries);
    file.insert(file.end(), dib.begin(), dib.end());
    PixelBudget budget;
    EXPECT_FALSE(detail::decodeIco(file, budget).has_value());
    EXPECT_EQ(budget.remaining(), kMaxPixelBytes);
}

}  // namespace
}  // namespace sorvane::imaging
