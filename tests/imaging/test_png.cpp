// PNG decoding of every colour type and bit depth, the encoder's round trip, and hostile files.
// Fixtures are written here with libpng itself (or chunk by chunk, for files libpng would not
// write), then read back with our decoder.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <optional>
#include <string>

#include "fixtures.h"
#include "imaging/codecs.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using namespace fixtures;
using fixtures::PrintTo;

// ---- fixtures written with libpng ----------------------------------------------------------

struct PngSpec {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;       // tRNS of a palette image
    std::optional<png_color_16> transparent;  // tRNS of a grey or RGB image
};

int channelsOf(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE:
            return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        default:
            return 4;
    }
}

// The samples of a picture before packing: one value (within the bit depth) per channel.
using Samples = std::vector<std::uint16_t>;

Samples makeSamples(const PngSpec& spec) {
    const int channels = channelsOf(spec.colorType);
    const std::uint32_t limit = spec.colorType == PNG_COLOR_TYPE_PALETTE
                                    ? static_cast<std::uint32_t>(spec.palette.size())
                                    : (1u << spec.bitDepth);
    Samples samples(std::size_t{spec.width} * spec.height * channels);
    std::uint32_t state = 12345;
    for (auto& s : samples) {
        state = state * 1103515245u + 12345u;
        s = static_cast<std::uint16_t>((state >> 8) % limit);
    }
    if (spec.transparent) {  // every third pixel gets the transparent colour
        const png_color_16& t = *spec.transparent;
        for (std::uint32_t i = 0; i < spec.width * spec.height; i += 3) {
            if (channels == 1) {
                samples[i] = t.gray;
            } else {
                samples[i * 3] = t.red;
                samples[i * 3 + 1] = t.green;
                samples[i * 3 + 2] = t.blue;
            }
        }
    }
    return samples;
}

// Rows as PNG stores them: big-endian 16-bit samples, sub-byte samples packed high bits first.
std::vector<Bytes> packRows(const PngSpec& spec, const Samples& samples) {
    const int channels = channelsOf(spec.colorType);
    const std::size_t perRow = std::size_t{spec.width} * channels;
    std::vector<Bytes> rows(spec.height, Bytes((perRow * spec.bitDepth + 7) / 8));
    for (std::uint32_t y = 0; y < spec.height; ++y) {
        for (std::size_t i = 0; i < perRow; ++i) {
            const std::uint16_t v = samples[y * perRow + i];
            if (spec.bitDepth == 16) {
                rows[y][i * 2] = static_cast<std::uint8_t>(v >> 8);
                rows[y][i * 2 + 1] = static_cast<std::uint8_t>(v);
            } else {
                const std::size_t bit = i * spec.bitDepth;
                const int shift = 8 - spec.bitDepth - static_cast<int>(bit % 8);
                rows[y][bit / 8] |= static_cast<std::uint8_t>(v << shift);
            }
        }
    }
    return rows;
}

void appendOutput(png_structp png, png_bytep data, std::size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// libpng long-jumps on errors: the setjmp lives here, in a frame with plain pointers only.
bool writeWithLibpng(png_structp png, png_infop info, const PngSpec* spec, png_bytepp rows,
                     Bytes* out) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, out, appendOutput, nullptr);
    png_set_check_for_invalid_index(png, 0);  // lets a test write indices past the palette
    png_set_IHDR(png, info, spec->width, spec->height, spec->bitDepth, spec->colorType,
                 spec->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec->palette.empty()) {
        png_set_PLTE(png, info, spec->palette.data(), static_cast<int>(spec->palette.size()));
    }
    if (!spec->paletteAlpha.empty()) {
        png_set_tRNS(png, info, spec->paletteAlpha.data(),
                     static_cast<int>(spec->paletteAlpha.size()), nullptr);
    }
    if (spec->transparent) {
        png_set_tRNS(png, info, nullptr, 0, &*spec->transparent);
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

Bytes writePng(const PngSpec& spec, const Samples& samples) {
    std::vector<Bytes> packed = packRows(spec, samples);
    std::vector<png_bytep> rows;
    for (auto& row : packed) {
        rows.push_back(row.data());
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    const bool ok = writeWithLibpng(png, info, &spec, rows.data(), &out);
    png_destroy_write_struct(&png, &info);
    EXPECT_TRUE(ok);
    return out;
}

// What our decoder must make of the samples: 8-bit RGBA, 16-bit samples rounded.
std::uint8_t to8(std::uint32_t v, int bitDepth) {
    if (bitDepth == 16) {
        return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
    }
    return static_cast<std::uint8_t>(v * 255 / ((1u << bitDepth) - 1));
}

Bytes expectedRgba(const PngSpec& spec, const Samples& samples) {
    const int channels = channelsOf(spec.colorType);
    Bytes out;
    for (std::size_t p = 0; p < std::size_t{spec.width} * spec.height; ++p) {
        const std::uint16_t* s = &samples[p * channels];
        if (spec.colorType == PNG_COLOR_TYPE_PALETTE) {
            const png_color& c = spec.palette[s[0]];
            const std::uint8_t a = s[0] < spec.paletteAlpha.size() ? spec.paletteAlpha[s[0]] : 255;
            out.insert(out.end(), {c.red, c.green, c.blue, a});
            continue;
        }
        const bool grey = channels <= 2;
        const std::uint16_t r = s[0], g = grey ? s[0] : s[1], b = grey ? s[0] : s[2];
        std::uint8_t a = 255;
        if (channels == 2 || channels == 4) {
            a = to8(s[channels - 1], spec.bitDepth);
        } else if (spec.transparent) {
            const png_color_16& t = *spec.transparent;
            const bool match = grey ? r == t.gray : (r == t.red && g == t.green && b == t.blue);
            a = match ? 0 : 255;
        }
        out.insert(out.end(),
                   {to8(r, spec.bitDepth), to8(g, spec.bitDepth), to8(b, spec.bitDepth), a});
    }
    return out;
}

std::vector<png_color> makePalette(int entries) {
    std::vector<png_color> palette;
    for (int i = 0; i < entries; ++i) {
        palette.push_back({static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11),
                           static_cast<png_byte>(i * 5 + 3)});
    }
    return palette;
}

png_color_16 greyKey(png_uint_16 grey) {
    png_color_16 c{};
    c.gray = grey;
    return c;
}
png_color_16 rgbKey(png_uint_16 r, png_uint_16 g, png_uint_16 b) {
    png_color_16 c{};
    c.red = r;
    c.green = g;
    c.blue = b;
    return c;
}

// ---- every colour type and bit depth ---------------------------------------------------------

struct VariantCase {
    const char* desc;
    PngSpec spec;
};

PngSpec spec(std::uint32_t w, std::uint32_t h, int colorType, int bitDepth) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.colorType = colorType;
    s.bitDepth = bitDepth;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        s.palette =
            makePalette(1 << std::min(bitDepth, 7));  // 128 entries at 8 bits: a partial palette
    }
    return s;
}
PngSpec interlaced(PngSpec s) {
    s.interlaced = true;
    return s;
}
PngSpec withKey(PngSpec s, png_color_16 key) {
    s.transparent = key;
    return s;
}
PngSpec withPaletteAlpha(PngSpec s, std::vector<png_byte> alpha) {
    s.paletteAlpha = std::move(alpha);
    return s;
}

class PngVariants : public testing::TestWithParam<VariantCase> {};

TEST_P(PngVariants, DecodeToTheExactRgbaPixels) {
    const PngSpec& s = GetParam().spec;
    const Samples samples = makeSamples(s);
    const Bytes file = writePng(s, samples);
    PixelBudget budget;
    const auto image = detail::decodePng(file, budget);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 1u);
    const Frame& frame = image->frames[0];
    EXPECT_EQ(frame.width, s.width);
    EXPECT_EQ(frame.height, s.height);
    EXPECT_EQ(frame.rgba, expectedRgba(s, samples));
    EXPECT_EQ(budget.remaining(), kMaxPixelBytes - std::uint64_t{s.width} * s.height * 4);
}

INSTANTIATE_TEST_SUITE_P(
    ColourTypesAndDepths, PngVariants,
    testing::Values(
        VariantCase{"grey 1", spec(13, 7, PNG_COLOR_TYPE_GRAY, 1)},
        VariantCase{"grey 2", spec(13, 7, PNG_COLOR_TYPE_GRAY, 2)},
        VariantCase{"grey 4", spec(13, 7, PNG_COLOR_TYPE_GRAY, 4)},
        VariantCase{"grey 8", spec(13, 7, PNG_COLOR_TYPE_GRAY, 8)},
        VariantCase{"grey 16", spec(13, 7, PNG_COLOR_TYPE_GRAY, 16)},
        VariantCase{"grey+alpha 8", spec(13, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 8)},
        VariantCase{"grey+alpha 16", spec(13, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 16)},
        VariantCase{"rgb 8", spec(13, 7, PNG_COLOR_TYPE_RGB, 8)},
        VariantCase{"rgb 16", spec(13, 7, PNG_COLOR_TYPE_RGB, 16)},
        VariantCase{"rgba 8", spec(13, 7, PNG_COLOR_TYPE_RGB_ALPHA, 8)},
        VariantCase{"rgba 16", spec(13, 7, PNG_COLOR_TYPE_RGB_ALPHA, 16)},
        VariantCase{"palette 1", spec(13, 7, PNG_COLOR_TYPE_PALETTE, 1)},
        VariantCase{"palette 2", spec(13, 7, PNG_COLOR_TYPE_PALETTE, 2)},
        VariantCase{"palette 4", spec(13, 7, PNG_COLOR_TYPE_PALETTE, 4)},
        VariantCase{"palette 8", spec(13, 7, PNG_COLOR_TYPE_PALETTE, 8)},
        VariantCase{"one pixel", spec(1, 1, PNG_COLOR_TYPE_RGB, 8)},
        VariantCase{"grey 2 with tRNS", withKey(spec(13, 7, PNG_COLOR_TYPE_GRAY, 2), greyKey(1))},
        VariantCase{"grey 8 with tRNS", withKey(spec(13, 7, PNG_COLOR_TYPE_GRAY, 8), greyKey(77))},
        VariantCase{"grey 16 with tRNS",
                    withKey(spec(13, 7, PNG_COLOR_TYPE_GRAY, 16), greyKey(0x1234))},
        VariantCase{"rgb 8 with tRNS",
                    withKey(spec(13, 7, PNG_COLOR_TYPE_RGB, 8), rgbKey(10, 20, 30))},
        VariantCase{"rgb 16 with tRNS",
                    withKey(spec(13, 7, PNG_COLOR_TYPE_RGB, 16), rgbKey(0x0102, 0xA0B0, 0xFFFF))},
        VariantCase{"palette 8 with tRNS shorter than the palette",
                    withPaletteAlpha(spec(13, 7, PNG_COLOR_TYPE_PALETTE, 8), {0, 128, 255, 7})},
        VariantCase{"palette 2 with tRNS",
                    withPaletteAlpha(spec(13, 7, PNG_COLOR_TYPE_PALETTE, 2), {0, 50, 100, 200})},
        VariantCase{"interlaced rgba 8", interlaced(spec(13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 8))},
        VariantCase{"interlaced rgb 16", interlaced(spec(9, 10, PNG_COLOR_TYPE_RGB, 16))},
        VariantCase{"interlaced grey 1", interlaced(spec(17, 9, PNG_COLOR_TYPE_GRAY, 1))},
        VariantCase{"interlaced palette 4 with tRNS",
                    interlaced(withPaletteAlpha(spec(13, 11, PNG_COLOR_TYPE_PALETTE, 4), {9, 0}))},
        VariantCase{"interlaced, smaller than one Adam7 block",
                    interlaced(spec(3, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 8))}));

// ---- encoder round trip --------------------------------------------------------------------

Frame patternFrame(std::uint32_t w, std::uint32_t h, bool opaque) {
    Frame frame = blankFrame(w, h);
    std::uint32_t state = 99;
    for (std::size_t i = 0; i < frame.rgba.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        frame.rgba[i] = static_cast<std::uint8_t>(state >> 24);
        if (i % 4 == 3) {
            frame.rgba[i] = opaque ? 255 : static_cast<std::uint8_t>(i % 3 == 0 ? 0 : state >> 24);
        }
    }
    return frame;
}

TEST(EncodePng, OpaqueFrameIsWrittenAsRgbAndReadsBackExactly) {
    const Frame frame = patternFrame(21, 5, true);
    const Bytes file = encodePng(frame);
    ASSERT_GT(file.size(), 33u);
    EXPECT_EQ(file[24], 8);                   // bit depth in IHDR
    EXPECT_EQ(file[25], PNG_COLOR_TYPE_RGB);  // colour type in IHDR
    const auto image = decode(file);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->frames[0].width, 21u);
    EXPECT_EQ(image->frames[0].rgba, frame.rgba);
}

TEST(EncodePng, TranslucentFrameIsWrittenAsRgbaAndReadsBackExactly) {
    const Frame frame = patternFrame(6, 17, false);
    const Bytes file = encodePng(frame);
    ASSERT_GT(file.size(), 33u);
    EXPECT_EQ(file[25], PNG_COLOR_TYPE_RGB_ALPHA);
    const auto image = decode(file);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->frames[0].height, 17u);
    EXPECT_EQ(image->frames[0].rgba, frame.rgba);
}

TEST(EncodePng, InconsistentFramesGiveNothing) {
    Frame empty;
    EXPECT_TRUE(encodePng(empty).empty());
    Frame shortPixels = patternFrame(4, 4, true);
    shortPixels.rgba.pop_back();
    EXPECT_TRUE(encodePng(shortPixels).empty());
}

// ---- hostile files, built chunk by chunk ---------------------------------------------------

void put32(Bytes& out, std::uint32_t v) {
    out.insert(out.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

void putChunk(Bytes& out, const char* type, const Bytes& data, bool badCrc = false) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    put32(out, static_cast<std::uint32_t>(badCrc ? crc ^ 1 : crc));
}

Bytes signature() {
    return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
}

Bytes ihdr(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colorType) {
    Bytes data;
    put32(data, w);
    put32(data, h);
    data.insert(data.end(), {depth, colorType, 0, 0, 0});
    return data;
}

// A zlib stream of `zeros` zero bytes (every row filter byte 0 and every pixel black).
Bytes zlibZeros(std::size_t zeros) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, Z_BEST_SPEED), Z_OK);
    const Bytes input(std::size_t{1} << 20, 0);
    Bytes out;
    Bytes chunk(std::size_t{1} << 16);
    while (true) {
        const std::size_t take = std::min(zeros, input.size());
        zeros -= take;
        z.next_in = const_cast<Bytef*>(input.data());
        z.avail_in = static_cast<uInt>(take);
        const int flush = zeros == 0 ? Z_FINISH : Z_NO_FLUSH;
        int status;
        do {
            z.next_out = chunk.data();
            z.avail_out = static_cast<uInt>(chunk.size());
            status = deflate(&z, flush);
            out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
        } while (z.avail_out == 0);
        if (flush == Z_FINISH) {
            EXPECT_EQ(status, Z_STREAM_END);
            break;
        }
    }
    deflateEnd(&z);
    return out;
}

// A 2x2 RGB picture: ancillary `extra` chunks go between IHDR and IDAT.
Bytes smallPng(bool badIhdrCrc, bool badIdatCrc, const Bytes& extra = {}) {
    Bytes out = signature();
    putChunk(out, "IHDR", ihdr(2, 2, 8, PNG_COLOR_TYPE_RGB), badIhdrCrc);
    out.insert(out.end(), extra.begin(), extra.end());
    const Bytes rows = {0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 255, 9, 9, 9};
    Bytes idat(compressBound(static_cast<uLong>(rows.size())));
    uLongf length = static_cast<uLongf>(idat.size());
    compress(idat.data(), &length, rows.data(), static_cast<uLong>(rows.size()));
    idat.resize(length);
    putChunk(out, "IDAT", idat, badIdatCrc);
    putChunk(out, "IEND", {});
    return out;
}

Bytes textChunk(bool badCrc) {
    Bytes out;
    const char text[] = "Comment\0made here";
    putChunk(out, "tEXt", Bytes(text, text + sizeof text - 1), badCrc);
    return out;
}

Bytes hugeWithZeros(std::uint32_t w, std::uint32_t h, std::size_t zeros) {
    Bytes out = signature();
    putChunk(out, "IHDR", ihdr(w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA));
    putChunk(out, "IDAT", zlibZeros(zeros));
    putChunk(out, "IEND", {});
    return out;
}

class PngHostile : public testing::TestWithParam<HostileRecipe> {};

TEST_P(PngHostile, RefusedOrDecodedSafely) {
    expectHostileRecipe(detail::decodePng, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngHostile,
    testing::Values(
        HostileRecipe{"the well-formed base case", [] { return smallPng(false, false); }, true},
        HostileRecipe{"65535 x 65535 in IHDR", [] { return hugeWithZeros(65535, 65535, 1000); },
                      false},
        HostileRecipe{"40000 x 1 in IHDR", [] { return hugeWithZeros(40000, 1, 1000); }, false},
        HostileRecipe{"32768 x 32768 whose IDAT inflates without end",
                      [] { return hugeWithZeros(32768, 32768, std::size_t{64} << 20); }, false},
        HostileRecipe{"8193 x 8192: one row over the budget",
                      [] { return hugeWithZeros(8193, 8192, 1000); }, false},
        HostileRecipe{"zero width", [] { return hugeWithZeros(0, 5, 1000); }, false},
        HostileRecipe{"bad CRC on IHDR", [] { return smallPng(true, false); }, false},
        HostileRecipe{"bad CRC on IDAT", [] { return smallPng(false, true); }, false},
        HostileRecipe{"bad CRC on an ancillary chunk is forgiven",
                      [] { return smallPng(false, false, textChunk(true)); }, true},
        HostileRecipe{"garbage after the signature",
                      [] {
                          Bytes out = signature();
                          for (int i = 0; i < 200; ++i) {
                              out.push_back(static_cast<std::uint8_t>(i * 73 + 11));
                          }
                          return out;
                      },
                      false},
        HostileRecipe{"signature only", [] { return signature(); }, false},
        HostileRecipe{"bit depth 3",
                      [] {
                          Bytes out = signature();
                          putChunk(out, "IHDR", ihdr(2, 2, 3, PNG_COLOR_TYPE_GRAY));
                          return out;
                      },
                      false},
        HostileRecipe{"no IDAT",
                      [] {
                          Bytes out = signature();
                          putChunk(out, "IHDR", ihdr(2, 2, 8, PNG_COLOR_TYPE_RGB));
                          putChunk(out, "IEND", {});
                          return out;
                      },
                      false},
        HostileRecipe{"IDAT holding fewer rows than IHDR says",
                      [] { return hugeWithZeros(64, 64, 100); }, false},
        HostileRecipe{"an ancillary chunk claiming 2 GiB",
                      [] {
                          Bytes out = signature();
                          putChunk(out, "IHDR", ihdr(2, 2, 8, PNG_COLOR_TYPE_RGB));
                          put32(out, 0x7FFFFFFF);
                          out.insert(out.end(), {'t', 'E', 'X', 't', 'a', 0, 'b'});
                          return out;
                      },
                      false}));

// A picture whose palette indices point past its 2-entry palette: read in bounds (libpng keeps
// a full 256-entry palette), the missing entries black.
TEST(PngHostileIndices, PaletteIndicesPastThePaletteStayInBounds) {
    PngSpec s = spec(8, 8, PNG_COLOR_TYPE_PALETTE, 8);
    s.palette = makePalette(2);
    Samples samples(64);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint16_t>(i * 4);
    }
    const Bytes file = writePng(s, samples);
    const auto image = decodeWithBudget(detail::decodePng, file);
    ASSERT_TRUE(image.has_value());
    const Frame& frame = image->frames[0];
    const Bytes inPalette(frame.pixel(0, 0), frame.pixel(0, 0) + 4);
    const Bytes pastPalette(frame.pixel(1, 0), frame.pixel(1, 0) + 4);
    EXPECT_EQ(inPalette, (Bytes{s.palette[0].red, s.palette[0].green, s.palette[0].blue, 255}));
    EXPECT_EQ(pastPalette, (Bytes{0, 0, 0, 255}));
}

// Every cut point of a small interlaced file: nothing before the pixel data is complete, the
// picture once only IEND is missing, and never a wrong picture in between.
TEST(PngTruncated, EveryCutPointIsSafe) {
    const PngSpec s = interlaced(spec(11, 9, PNG_COLOR_TYPE_RGB_ALPHA, 8));
    const Samples samples = makeSamples(s);
    const Bytes file = writePng(s, samples);
    const Bytes expected = expectedRgba(s, samples);
    const std::size_t iend = file.size() - 12;
    const std::size_t idatDataEnd = iend - 4;  // libpng writes one IDAT, followed by its CRC
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const auto image = decodeWithBudget(detail::decodePng, ByteView(file.data(), cut));
        if (cut < idatDataEnd) {
            EXPECT_FALSE(image.has_value()) << "cut at " << cut;
        } else if (cut >= iend) {
            ASSERT_TRUE(image.has_value()) << "cut at " << cut;
            EXPECT_EQ(image->frames[0].rgba, expected) << "cut at " << cut;
        } else if (image) {
            EXPECT_EQ(image->frames[0].rgba, expected) << "cut at " << cut;
        }
    }
}

}  // namespace
}  // namespace sorvane::imaging
