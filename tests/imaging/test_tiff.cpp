// The TIFF encoder, read back with libtiff itself (there is no TIFF decoder of ours).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "fixtures.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using fixtures::blankFrame;
using fixtures::PrintTo;

// ---- reading a TIFF from memory with libtiff -----------------------------------------------

struct MemoryReader {
    const Bytes* bytes;
    std::size_t position;
};

MemoryReader* readerOf(thandle_t handle) {
    return static_cast<MemoryReader*>(handle);
}

tmsize_t readBytes(thandle_t handle, void* out, tmsize_t size) {
    MemoryReader* r = readerOf(handle);
    const std::size_t available = r->bytes->size() - std::min(r->position, r->bytes->size());
    const std::size_t count = std::min(static_cast<std::size_t>(size), available);
    std::memcpy(out, r->bytes->data() + r->position, count);
    r->position += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t refuseWrite(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekBytes(thandle_t handle, toff_t offset, int whence) {
    MemoryReader* r = readerOf(handle);
    const std::uint64_t base = whence == SEEK_CUR   ? r->position
                               : whence == SEEK_END ? r->bytes->size()
                                                    : 0;
    r->position = static_cast<std::size_t>(base + offset);
    return r->position;
}
int closeNothing(thandle_t) {
    return 0;
}
toff_t sizeOf(thandle_t handle) {
    return readerOf(handle)->bytes->size();
}
int noMap(thandle_t, void**, toff_t*) {
    return 0;
}
void noUnmap(thandle_t, void*, toff_t) {}
int printMessage(TIFF*, void*, const char* module, const char* format, va_list args) {
    std::fprintf(stderr, "libtiff %s: ", module != nullptr ? module : "");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFreer {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// Everything a test looks at in a written file.
struct ReadBack {
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0, strips = 0;
    std::uint16_t samples = 0, bits = 0, compression = 0, photometric = 0;
    std::vector<std::uint16_t> extraSamples;
    Bytes rawPixels;   // the scanlines as stored
    Bytes rgbaPixels;  // what TIFFReadRGBAImageOriented makes of them (alpha premultiplied)
};

std::optional<ReadBack> readTiff(const Bytes& file) {
    MemoryReader reader{&file, 0};
    std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), printMessage, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tiff(
        TIFFClientOpenExt("test", "r", &reader, readBytes, refuseWrite, seekBytes, closeNothing,
                          sizeOf, noMap, noUnmap, options.get()));
    if (!tiff) {
        return std::nullopt;
    }
    TIFF* t = tiff.get();
    ReadBack back;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &back.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &back.height);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &back.samples);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &back.bits);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &back.compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &back.photometric);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &back.rowsPerStrip);
    back.strips = TIFFNumberOfStrips(t);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1) {
        back.extraSamples.assign(extra, extra + extraCount);
    }
    const auto rowBytes = static_cast<std::size_t>(TIFFScanlineSize(t));
    back.rawPixels.resize(rowBytes * back.height);
    for (std::uint32_t y = 0; y < back.height; ++y) {
        if (TIFFReadScanline(t, back.rawPixels.data() + rowBytes * y, y, 0) != 1) {
            return std::nullopt;
        }
    }
    std::vector<std::uint32_t> packed(std::size_t{back.width} * back.height);
    if (TIFFReadRGBAImageOriented(t, back.width, back.height, packed.data(), ORIENTATION_TOPLEFT,
                                  0) != 1) {
        return std::nullopt;
    }
    for (const std::uint32_t p : packed) {
        back.rgbaPixels.insert(
            back.rgbaPixels.end(),
            {static_cast<std::uint8_t>(TIFFGetR(p)), static_cast<std::uint8_t>(TIFFGetG(p)),
             static_cast<std::uint8_t>(TIFFGetB(p)), static_cast<std::uint8_t>(TIFFGetA(p))});
    }
    return back;
}

// ---- round trips ---------------------------------------------------------------------------

Frame noiseFrame(std::uint32_t w, std::uint32_t h, bool opaque) {
    Frame frame = blankFrame(w, h);
    std::uint32_t state = w * 31 + h;
    for (std::size_t i = 0; i < frame.rgba.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        // Runs of equal bytes too, so LZW has codes to build.
        frame.rgba[i] = static_cast<std::uint8_t>((i / 64) % 3 == 0 ? 7 : state >> 24);
        if (i % 4 == 3 && opaque) {
            frame.rgba[i] = 255;
        }
    }
    return frame;
}

Bytes withoutAlpha(const Bytes& rgba) {
    Bytes rgb;
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgb.insert(rgb.end(), rgba.begin() + static_cast<std::ptrdiff_t>(i),
                   rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
    }
    return rgb;
}

struct RoundTripCase {
    const char* desc;
    std::uint32_t width;
    std::uint32_t height;
    bool opaque;
};

class TiffRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffRoundTrip, LibtiffReadsBackTheSamePixels) {
    const RoundTripCase& c = GetParam();
    const Frame frame = noiseFrame(c.width, c.height, c.opaque);
    const Bytes file = encodeTiff(frame);
    ASSERT_GE(file.size(), 8u);
    const bool little = std::memcmp(file.data(), "II*\0", 4) == 0;
    const bool big = std::memcmp(file.data(), "MM\0*", 4) == 0;
    EXPECT_TRUE(little || big);

    const auto back = readTiff(file);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->width, c.width);
    EXPECT_EQ(back->height, c.height);
    EXPECT_EQ(back->bits, 8);
    EXPECT_EQ(back->compression, COMPRESSION_LZW);
    EXPECT_EQ(back->photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(back->strips, (c.height + back->rowsPerStrip - 1) / back->rowsPerStrip);
    if (c.opaque) {
        EXPECT_EQ(back->samples, 3);
        EXPECT_TRUE(back->extraSamples.empty());
        EXPECT_EQ(back->rawPixels, withoutAlpha(frame.rgba));
        EXPECT_EQ(back->rgbaPixels, frame.rgba);  // what a generic reader shows
    } else {
        EXPECT_EQ(back->samples, 4);
        EXPECT_EQ(back->extraSamples, std::vector<std::uint16_t>{EXTRASAMPLE_UNASSALPHA});
        EXPECT_EQ(back->rawPixels, frame.rgba);
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, TiffRoundTrip,
                         testing::Values(RoundTripCase{"one opaque pixel", 1, 1, true},
                                         RoundTripCase{"opaque", 37, 23, true},
                                         RoundTripCase{"translucent", 37, 23, false},
                                         RoundTripCase{"many strips", 300, 400, false},
                                         RoundTripCase{"one long row", 20000, 1, true}));

TEST(TiffStrips, StripsAreAFewTensOfKilobytes) {
    const auto back = readTiff(encodeTiff(noiseFrame(300, 400, false)));
    ASSERT_TRUE(back.has_value());
    EXPECT_GT(back->strips, 1u);
    EXPECT_LE(std::size_t{back->rowsPerStrip} * 300 * 4, std::size_t{64} << 10);
}

TEST(EncodeTiff, InconsistentFramesGiveNothing) {
    EXPECT_TRUE(encodeTiff(Frame{}).empty());
    Frame shortPixels = noiseFrame(4, 4, true);
    shortPixels.rgba.resize(63);
    EXPECT_TRUE(encodeTiff(shortPixels).empty());
    Frame tooWide = noiseFrame(1, 1, true);
    tooWide.width = kMaxDimension + 1;
    EXPECT_TRUE(encodeTiff(tooWide).empty());
}

}  // namespace
}  // namespace sorvane::imaging
