// JPEG decoding of the colour spaces and codings libjpeg writes, the encoder's round trip, and
// hostile files. Fixtures are written here with libjpeg itself, then read with our decoder.
#include <gtest/gtest.h>

#include <stdio.h>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <string>

#include "fixtures.h"
#include "imaging/codecs.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using namespace fixtures;
using fixtures::PrintTo;

// ---- fixtures written with libjpeg ---------------------------------------------------------

struct JpegSpec {
    std::uint32_t width = 48;
    std::uint32_t height = 32;
    J_COLOR_SPACE input = JCS_RGB;        // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    std::optional<J_COLOR_SPACE> stored;  // the file's colour space when not libjpeg's default
    bool adobeMarker = true;              // only looked at for CMYK and YCCK
    bool progressive = false;
    bool arithmetic = false;
    unsigned restartInterval = 0;
    int quality = 95;
};

int componentsOf(J_COLOR_SPACE space) {
    return space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
}

// Flat 16 x 16 blocks, so the compression error stays small (every DCT block is constant).
std::uint8_t sampleAt(std::uint32_t x, std::uint32_t y, int channel) {
    const std::uint32_t block =
        (x / 16) * 7 + (y / 16) * 13 + static_cast<std::uint32_t>(channel) * 5;
    return static_cast<std::uint8_t>(40 + (block * 53) % 180);
}

struct TestCompressor {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    std::longjmp(static_cast<TestCompressor*>(info->client_data)->jump, 1);
}

// libjpeg long-jumps on errors: the setjmp lives here, in a frame with plain pointers only.
bool compressWithLibjpeg(TestCompressor* c, const JpegSpec* spec, JSAMPARRAY rows) {
    if (setjmp(c->jump) != 0) {
        return false;
    }
    jpeg_create_compress(&c->info);
    jpeg_mem_dest(&c->info, &c->buffer, &c->size);
    c->info.image_width = spec->width;
    c->info.image_height = spec->height;
    c->info.input_components = componentsOf(spec->input);
    c->info.in_color_space = spec->input;
    jpeg_set_defaults(&c->info);
    if (spec->stored) {
        jpeg_set_colorspace(&c->info, *spec->stored);
    }
    c->info.write_Adobe_marker = spec->adobeMarker ? c->info.write_Adobe_marker : FALSE;
    jpeg_set_quality(&c->info, spec->quality, TRUE);
    if (spec->progressive) {
        jpeg_simple_progression(&c->info);
    }
    c->info.arith_code = spec->arithmetic ? TRUE : FALSE;
    c->info.restart_interval = spec->restartInterval;
    jpeg_start_compress(&c->info, TRUE);
    jpeg_write_scanlines(&c->info, rows, spec->height);
    jpeg_finish_compress(&c->info);
    return true;
}

Bytes writeJpeg(const JpegSpec& spec) {
    const int components = componentsOf(spec.input);
    std::vector<Bytes> samples(spec.height, Bytes(std::size_t{spec.width} * components));
    std::vector<JSAMPROW> rows;
    for (std::uint32_t y = 0; y < spec.height; ++y) {
        for (std::uint32_t x = 0; x < spec.width; ++x) {
            for (int c = 0; c < components; ++c) {
                samples[y][x * components + c] = sampleAt(x, y, c);
            }
        }
        rows.push_back(samples[y].data());
    }
    TestCompressor compressor;
    compressor.info.err = jpeg_std_error(&compressor.errors);
    compressor.errors.error_exit = jumpBack;
    compressor.info.client_data = &compressor;
    const bool ok = compressWithLibjpeg(&compressor, &spec, rows.data());
    jpeg_destroy_compress(&compressor.info);
    Bytes out(compressor.buffer, compressor.buffer + (ok ? compressor.size : 0));
    std::free(compressor.buffer);
    EXPECT_TRUE(ok);
    return out;
}

std::uint8_t timesOver255(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// The RGB a decoder must show for the samples written at (x, y).
std::array<std::uint8_t, 3> expectedRgb(const JpegSpec& spec, std::uint32_t x, std::uint32_t y) {
    if (spec.input == JCS_GRAYSCALE) {
        const std::uint8_t g = sampleAt(x, y, 0);
        return {g, g, g};
    }
    if (spec.input == JCS_CMYK) {
        // With the Adobe marker the samples are inverted inks (255: none), else plain inks.
        const unsigned flip = spec.adobeMarker ? 0 : 255;
        const unsigned k = sampleAt(x, y, 3) ^ flip;
        return {timesOver255(sampleAt(x, y, 0) ^ flip, k),
                timesOver255(sampleAt(x, y, 1) ^ flip, k),
                timesOver255(sampleAt(x, y, 2) ^ flip, k)};
    }
    return {sampleAt(x, y, 0), sampleAt(x, y, 1), sampleAt(x, y, 2)};
}

// Chroma is subsampled and upsampled smoothly, which blends colours across the edges of the
// flat blocks; only pixels at least 2 away from an edge are held to the tolerance.
bool insideBlock(std::uint32_t x, std::uint32_t y) {
    return x % 16 >= 2 && x % 16 < 14 && y % 16 >= 2 && y % 16 < 14;
}

// The largest difference of any channel inside the blocks from what was written; alpha must be
// exactly 255 everywhere.
int largestError(const JpegSpec& spec, const Frame& frame) {
    int worst = 0;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            if (frame.pixel(x, y)[3] != 255) {
                return 1000;
            }
            if (!insideBlock(x, y)) {
                continue;
            }
            const auto want = expectedRgb(spec, x, y);
            const std::uint8_t* got = frame.pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                worst = std::max(worst, std::abs(int{got[c]} - int{want[c]}));
            }
        }
    }
    return worst;
}

// ---- colour spaces and codings -------------------------------------------------------------

struct VariantCase {
    const char* desc;
    JpegSpec spec;
    int tolerance;
};

JpegSpec with(std::function<void(JpegSpec&)> change) {
    JpegSpec spec;
    change(spec);
    return spec;
}

class JpegVariants : public testing::TestWithParam<VariantCase> {};

TEST_P(JpegVariants, DecodeToRgbaWithinTolerance) {
    const JpegSpec& spec = GetParam().spec;
    const Bytes file = writeJpeg(spec);
    const auto image = decodeWithBudget(detail::decodeJpeg, file);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 1u);
    EXPECT_EQ(image->frames[0].width, spec.width);
    EXPECT_EQ(image->frames[0].height, spec.height);
    EXPECT_LE(largestError(spec, image->frames[0]), GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    ColourSpacesAndCodings, JpegVariants,
    testing::Values(
        VariantCase{"baseline YCbCr", JpegSpec{}, 3},
        VariantCase{"baseline, size not a multiple of the block", with([](JpegSpec& s) {
                        s.width = 37;
                        s.height = 21;
                    }),
                    3},
        VariantCase{"progressive YCbCr", with([](JpegSpec& s) { s.progressive = true; }), 3},
        VariantCase{"arithmetic coded", with([](JpegSpec& s) { s.arithmetic = true; }), 3},
        VariantCase{"restart markers", with([](JpegSpec& s) { s.restartInterval = 1; }), 3},
        VariantCase{"grey", with([](JpegSpec& s) { s.input = JCS_GRAYSCALE; }), 2},
        VariantCase{"grey progressive", with([](JpegSpec& s) {
                        s.input = JCS_GRAYSCALE;
                        s.progressive = true;
                    }),
                    2},
        VariantCase{"stored as RGB", with([](JpegSpec& s) { s.stored = JCS_RGB; }), 2},
        VariantCase{"CMYK with the Adobe marker: inverted inks",
                    with([](JpegSpec& s) { s.input = JCS_CMYK; }), 5},
        VariantCase{"YCCK with the Adobe marker", with([](JpegSpec& s) {
                        s.input = JCS_CMYK;
                        s.stored = JCS_YCCK;
                    }),
                    5},
        VariantCase{"progressive CMYK", with([](JpegSpec& s) {
                        s.input = JCS_CMYK;
                        s.progressive = true;
                    }),
                    5},
        VariantCase{"CMYK without the Adobe marker: plain inks", with([](JpegSpec& s) {
                        s.input = JCS_CMYK;
                        s.adobeMarker = false;
                    }),
                    5}));

// ---- encoder -------------------------------------------------------------------------------

// Flat 16 x 16 blocks again, with alpha all over the range.
Frame blockFrame(std::uint32_t w, std::uint32_t h) {
    return paintedFrame(w, h, [](std::uint32_t x, std::uint32_t y) {
        return Rgba{sampleAt(x, y, 0), sampleAt(x, y, 1), sampleAt(x, y, 2),
                    static_cast<std::uint8_t>((x * 31 + y * 17) % 256)};
    });
}

// The first value of the first quantisation table (DQT) in the file.
int firstQuantValue(const Bytes& file) {
    for (std::size_t i = 2; i + 5 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDB) {
            return file[i + 5];
        }
    }
    return -1;
}

TEST(EncodeJpeg, DropsAlphaKeepsColourAndUsesQuality75) {
    const Frame frame = blockFrame(40, 24);
    const Bytes file = encodeJpeg(frame);
    ASSERT_GT(file.size(), 4u);
    EXPECT_EQ(file[0], 0xFF);
    EXPECT_EQ(file[1], 0xD8);
    // Quality 75 scales libjpeg's luminance table by one half: its DC entry 16 becomes 8.
    EXPECT_EQ(firstQuantValue(file), 8);
    const auto image = decode(file);
    ASSERT_TRUE(image.has_value());
    const Frame& back = image->frames[0];
    ASSERT_EQ(back.width, 40u);
    ASSERT_EQ(back.height, 24u);
    int worst = 0;
    for (std::uint32_t y = 0; y < back.height; ++y) {
        for (std::uint32_t x = 0; x < back.width; ++x) {
            // Colour kept as it was, whatever the alpha (not blended over anything); alpha gone.
            EXPECT_EQ(back.pixel(x, y)[3], 255);
            for (int c = 0; c < 3 && insideBlock(x, y); ++c) {
                worst = std::max(worst, std::abs(back.pixel(x, y)[c] - frame.pixel(x, y)[c]));
            }
        }
    }
    EXPECT_LE(worst, 4);
}

TEST(EncodeJpeg, LargeFrameSpansManyOutputChunks) {
    Frame frame = blockFrame(700, 500);  // noise, so the file outgrows one 64 KiB chunk
    std::uint32_t state = 7;
    for (auto& byte : frame.rgba) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const Bytes file = encodeJpeg(frame);
    ASSERT_GT(file.size(), std::size_t{1} << 17);
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file[file.size() - 1], 0xD9);
    const auto image = decode(file);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->frames[0].width, 700u);
}

TEST(EncodeJpeg, InconsistentFramesGiveNothing) {
    EXPECT_TRUE(encodeJpeg(Frame{}).empty());
    Frame shortPixels = blockFrame(4, 4);
    shortPixels.rgba.resize(10);
    EXPECT_TRUE(encodeJpeg(shortPixels).empty());
}

// ---- hostile files -------------------------------------------------------------------------

// Where each marker of the file starts, in order: header segments are skipped by their length,
// entropy-coded data byte by byte (where 0xFF is always followed by 0 or a restart marker).
std::vector<std::pair<std::size_t, std::uint8_t>> markersOf(const Bytes& file) {
    std::vector<std::pair<std::size_t, std::uint8_t>> markers;
    std::size_t i = 2;
    while (i + 1 < file.size()) {
        const std::uint8_t code = file[i + 1];
        if (file[i] != 0xFF || code == 0x00 || code == 0xFF || (code >= 0xD0 && code <= 0xD7)) {
            ++i;
            continue;
        }
        markers.emplace_back(i, code);
        if (code == 0xD9 || i + 3 >= file.size()) {
            break;
        }
        i += 2 + (std::size_t{file[i + 2]} << 8) + file[i + 3];
    }
    return markers;
}

std::size_t findMarker(const Bytes& file, std::uint8_t code) {
    for (const auto& [at, found] : markersOf(file)) {
        if (found == code) {
            return at;
        }
    }
    return file.size();
}

std::size_t findFrameHeader(const Bytes& file) {
    const std::size_t baseline = findMarker(file, 0xC0);
    return baseline < file.size() ? baseline : findMarker(file, 0xC2);
}

// Where the entropy-coded data of the first scan starts.
std::size_t firstScanData(const Bytes& file) {
    const std::size_t sos = findMarker(file, 0xDA);
    return sos + 2 + (std::size_t{file[sos + 2]} << 8) + file[sos + 3];
}

Bytes withSize(Bytes file, std::uint16_t width, std::uint16_t height) {
    const std::size_t sof = findFrameHeader(file);
    file[sof + 5] = static_cast<std::uint8_t>(height >> 8);
    file[sof + 6] = static_cast<std::uint8_t>(height);
    file[sof + 7] = static_cast<std::uint8_t>(width >> 8);
    file[sof + 8] = static_cast<std::uint8_t>(width);
    return file;
}

// A progressive file whose last scan is repeated `copies` more times before EOI. libjpeg only
// warns about the repeated refinements, so only a limit on scans stops it.
Bytes withRepeatedScans(int copies) {
    const Bytes file = writeJpeg(with([](JpegSpec& s) {
        s.width = 16;
        s.height = 16;
        s.progressive = true;
    }));
    std::size_t lastScan = 0;
    for (const auto& [at, code] : markersOf(file)) {
        lastScan = code == 0xDA ? at : lastScan;
    }
    const std::size_t eoi = file.size() - 2;
    Bytes out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(eoi));
    for (int i = 0; i < copies; ++i) {
        out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(lastScan),
                   file.begin() + static_cast<std::ptrdiff_t>(eoi));
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

class JpegHostile : public testing::TestWithParam<HostileRecipe> {};

TEST_P(JpegHostile, RefusedOrDecodedSafely) {
    expectHostileRecipe(detail::decodeJpeg, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegHostile,
    testing::Values(
        HostileRecipe{"the well-formed base case", [] { return writeJpeg({}); }, true},
        HostileRecipe{"65535 x 65535 in SOF", [] { return withSize(writeJpeg({}), 65535, 65535); },
                      false},
        HostileRecipe{"40000 x 16 in SOF", [] { return withSize(writeJpeg({}), 40000, 16); },
                      false},
        HostileRecipe{"32768 x 32768 in SOF: over the budget",
                      [] { return withSize(writeJpeg({}), 32768, 32768); }, false},
        HostileRecipe{"32768 x 32768 progressive",
                      [] {
                          return withSize(
                              writeJpeg(with([](JpegSpec& s) { s.progressive = true; })), 32768,
                              32768);
                      },
                      false},
        HostileRecipe{"zero height in SOF", [] { return withSize(writeJpeg({}), 48, 0); }, false},
        HostileRecipe{"12-bit samples",
                      [] {
                          Bytes file = writeJpeg({});
                          file[findFrameHeader(file) + 4] = 12;
                          return file;
                      },
                      false},
        HostileRecipe{"progressive with 3000 scans", [] { return withRepeatedScans(3000); }, false},
        HostileRecipe{"progressive with 500 scans: under the limit",
                      [] { return withRepeatedScans(500); }, true},
        HostileRecipe{"garbage after SOI",
                      [] {
                          Bytes out = {0xFF, 0xD8};
                          for (int i = 0; i < 300; ++i) {
                              out.push_back(static_cast<std::uint8_t>(i * 73 + 11));
                          }
                          return out;
                      },
                      false},
        HostileRecipe{"SOI and EOI only", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0}; },
                      false},
        HostileRecipe{"corrupt entropy data decodes to some picture",
                      [] {
                          Bytes file = writeJpeg({});
                          for (std::size_t i = firstScanData(file); i + 2 < file.size(); i += 7) {
                              file[i] = static_cast<std::uint8_t>(file[i] * 13 + 1);
                          }
                          return file;
                      },
                      true}));

// True when `cut` falls strictly inside a marker segment that comes after the first scan began
// (the header of a later scan, or its Huffman tables).
bool cutsALaterSegment(const Bytes& file, std::size_t cut) {
    const std::size_t firstScan = findMarker(file, 0xDA);
    for (const auto& [at, code] : markersOf(file)) {
        const std::size_t end =
            code == 0xD9 ? at + 2 : at + 2 + (std::size_t{file[at + 2]} << 8) + file[at + 3];
        if (at > firstScan && at < cut && cut < end) {
            return true;
        }
    }
    return false;
}

// Every cut point, baseline and progressive. Before the first scan there is no picture. A cut in
// entropy-coded data gives the picture at full size, libjpeg padding what is missing (our
// choice: a partial picture is shown, as viewers do). A cut inside a later scan's header leaves
// libjpeg a broken segment, which it refuses: nothing, or a picture, but never a crash.
TEST(JpegTruncated, EveryCutPointIsSafe) {
    for (const bool progressive : {false, true}) {
        const Bytes file = writeJpeg(with([&](JpegSpec& s) { s.progressive = progressive; }));
        const std::size_t sos = findMarker(file, 0xDA);
        const std::size_t sosEnd = firstScanData(file);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const auto image = decodeWithBudget(detail::decodeJpeg, ByteView(file.data(), cut));
            const std::string where =
                "cut at " + std::to_string(cut) + (progressive ? " (progressive)" : "");
            if (cut < sos) {
                EXPECT_FALSE(image.has_value()) << where;
            } else if (cut >= sosEnd && !cutsALaterSegment(file, cut)) {
                EXPECT_TRUE(image.has_value()) << where;
            }
            if (image) {
                EXPECT_EQ(image->frames[0].width, 48u) << where;
                EXPECT_EQ(image->frames[0].height, 32u) << where;
            }
        }
    }
}

TEST(JpegTruncated, CutInTheScanKeepsTheRowsAlreadyThere) {
    const JpegSpec spec = with([](JpegSpec& s) { s.height = 64; });
    const Bytes file = writeJpeg(spec);
    const std::size_t cut = firstScanData(file) + (file.size() - firstScanData(file)) / 2;
    const auto image = decodeWithBudget(detail::decodeJpeg, ByteView(file.data(), cut));
    ASSERT_TRUE(image.has_value());
    Frame top = image->frames[0];
    top.height = 16;  // the first of four rows of blocks came before the cut
    top.rgba.resize(std::size_t{top.width} * top.height * 4);
    EXPECT_LE(largestError(spec, top), 3);
}

}  // namespace
}  // namespace sorvane::imaging
