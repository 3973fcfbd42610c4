// Decoding a captcha-sized picture in each format through imaging::decode, and for PNG, JPEG and
// GIF the same decode done straight with the library ("Bare"), so the cost of our wrapper shows.
// The bare versions do the same work as ours: the whole picture from memory into an RGBA buffer.
// On a shared machine the wall-clock ratio of ours to bare moves by 10-20% from one process to
// the next (heap layout decides how libjpeg's buffers and the output rows collide in the cache);
// for a steady figure count instructions, e.g. valgrind --tool=callgrind
// --toggle-collect='sorvane::imaging::decode(*' against --toggle-collect='*bareJpeg*'.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <png.h>
#include <stdio.h>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/image.h"

namespace sorvane::bench {

using imaging::Bytes;
using imaging::Frame;

namespace {

constexpr std::uint32_t kWidth = 160;
constexpr std::uint32_t kHeight = 60;

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t v = (x + 1) * 0x9E3779B1u ^ (y + 7) * 0x85EBCA77u ^ seed * 0xC2B2AE35u;
    v ^= v >> 15;
    v *= 0x2C1B3C6Du;
    v ^= v >> 12;
    return v;
}

std::uint8_t clampByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

struct Colour {
    double r, g, b;
};

// Blends `colour` over the pixel with the given coverage (0 to 1).
void blend(Frame& frame, std::uint32_t x, std::uint32_t y, Colour colour, double coverage) {
    std::uint8_t* p = frame.pixel(x, y);
    p[0] = clampByte(p[0] + (colour.r - p[0]) * coverage);
    p[1] = clampByte(p[1] + (colour.g - p[1]) * coverage);
    p[2] = clampByte(p[2] + (colour.b - p[2]) * coverage);
}

// An anti-aliased thick segment, as the strokes of a drawn letter.
void stroke(Frame& frame, double x0, double y0, double x1, double y1, double halfWidth,
            Colour colour) {
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double lengthSquared = std::max(dx * dx + dy * dy, 1e-9);
    const auto low = [](double v) { return static_cast<int>(std::floor(v)); };
    const int left = std::max(0, low(std::min(x0, x1) - halfWidth - 1));
    const int right = std::min(static_cast<int>(kWidth) - 1, low(std::max(x0, x1) + halfWidth + 1));
    const int top = std::max(0, low(std::min(y0, y1) - halfWidth - 1));
    const int bottom =
        std::min(static_cast<int>(kHeight) - 1, low(std::max(y0, y1) + halfWidth + 1));
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / lengthSquared, 0.0, 1.0);
            const double distance = std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
            const double coverage = std::clamp(halfWidth + 0.5 - distance, 0.0, 1.0);
            if (coverage > 0) {
                blend(frame, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), colour,
                      coverage);
            }
        }
    }
}

double unit(std::uint32_t v) {
    return (v & 0xFFFF) / 65535.0;
}

}  // namespace

// A 160 x 60 captcha: a noisy light background, five dark letter-like glyphs of three strokes
// each, two wavy interference lines and some speckles. Shared with the output benchmarks.
Frame captchaPicture() {
    Frame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.rgba.resize(std::size_t{kWidth} * kHeight * 4);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            const std::uint32_t n = hash(x, y, 1);
            std::uint8_t* p = frame.pixel(x, y);
            p[0] = clampByte(220 + x * 0.1 + static_cast<int>(n & 31) - 16);
            p[1] = clampByte(228 - y * 0.3 + static_cast<int>((n >> 8) & 31) - 16);
            p[2] = clampByte(236 + static_cast<int>((n >> 16) & 31) - 16);
            p[3] = 0xFF;
        }
    }
    for (std::uint32_t glyph = 0; glyph < 5; ++glyph) {
        const double left = 12 + glyph * 29.0;
        const Colour ink{40 + unit(hash(glyph, 0, 2)) * 90, 30 + unit(hash(glyph, 1, 2)) * 60,
                         60 + unit(hash(glyph, 2, 2)) * 100};
        for (std::uint32_t s = 0; s < 3; ++s) {
            const auto at = [&](std::uint32_t k, double span) {
                return unit(hash(glyph, s * 4 + k, 3)) * span;
            };
            stroke(frame, left + at(0, 22), 10 + at(1, 40), left + at(2, 22), 10 + at(3, 40), 1.6,
                   ink);
        }
    }
    for (std::uint32_t line = 0; line < 2; ++line) {
        const Colour colour{90.0 + line * 60, 80, 140.0 - line * 40};
        const double phase = line * 2.1;
        for (std::uint32_t x = 0; x + 1 < kWidth; ++x) {
            const auto wave = [&](double at) {
                return 30 + 18 * std::sin(at / (17.0 + line * 9) + phase);
            };
            stroke(frame, x, wave(x), x + 1, wave(x + 1), 0.7, colour);
        }
    }
    for (std::uint32_t dot = 0; dot < 120; ++dot) {
        const std::uint32_t h = hash(dot, 0, 4);
        blend(frame, h % kWidth, (h >> 16) % kHeight, Colour{60, 60, 60}, 0.8);
    }
    return frame;
}

namespace {

// ---- Files built by hand: an icon holding a 32-bit DIB, and a 24-bit RGB PCX ------------------

void putLe16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLe32(Bytes& out, std::uint32_t v) {
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

// The colour rows as BGRA bottom up, then an all-opaque AND mask (160 bits: 20 bytes a row,
// already a multiple of 4).
Bytes iconDib(const Frame& frame) {
    Bytes dib;
    putLe32(dib, 40);
    putLe32(dib, frame.width);
    putLe32(dib, frame.height * 2);  // colour and mask rows together
    putLe16(dib, 1);
    putLe16(dib, 32);
    for (int field = 0; field < 6; ++field) {
        putLe32(dib, 0);
    }
    for (std::uint32_t row = 0; row < frame.height; ++row) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const std::uint8_t* p = frame.pixel(x, frame.height - 1 - row);
            dib.insert(dib.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    dib.resize(dib.size() + std::size_t{frame.height} * ((frame.width + 31) / 32 * 4), 0);
    return dib;
}

Bytes icoFile(const Frame& frame) {
    const Bytes dib = iconDib(frame);
    Bytes out;
    putLe16(out, 0);
    putLe16(out, 1);  // icon
    putLe16(out, 1);  // one entry
    out.insert(out.end(), {static_cast<std::uint8_t>(frame.width),
                           static_cast<std::uint8_t>(frame.height), 0, 0});
    putLe16(out, 1);
    putLe16(out, 32);
    putLe32(out, static_cast<std::uint32_t>(dib.size()));
    putLe32(out, 22);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

// PCX run-length coding: runs of up to 63, a lone byte under 0xC0 stands for itself.
void putRuns(const std::uint8_t* data, std::size_t size, Bytes& out) {
    for (std::size_t i = 0; i < size;) {
        std::size_t n = 1;
        while (i + n < size && n < 63 && data[i + n] == data[i]) {
            ++n;
        }
        if (n > 1 || data[i] >= 0xC0) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | n));
        }
        out.push_back(data[i]);
        i += n;
    }
}

// Version 5, 8 bits in three planes (R, G, B), each scanline coded on its own.
Bytes pcxFile(const Frame& frame) {
    const std::uint32_t bytesPerLine = frame.width + frame.width % 2;
    Bytes out(128, 0);
    const auto put16 = [&out](std::size_t at, std::uint32_t v) {
        out[at] = static_cast<std::uint8_t>(v);
        out[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    out[0] = 0x0A;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    put16(8, frame.width - 1);
    put16(10, frame.height - 1);
    put16(12, 72);
    put16(14, 72);
    out[65] = 3;
    put16(66, bytesPerLine);
    put16(68, 1);
    std::vector<std::uint8_t> line(std::size_t{bytesPerLine} * 3, 0);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c) {
                line[c * bytesPerLine + x] = frame.pixel(x, y)[c];
            }
        }
        putRuns(line.data(), line.size(), out);
    }
    return out;
}

// ---- Bare decoders: the libraries called directly, as a plain C caller would ------------------

// What every bare decoder hands back: the picture as RGBA, in a buffer left uninitialised.
struct RgbaBuffer {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<std::uint8_t[]> pixels;
};

// Fills an RgbaBuffer of the given size, and the row pointers into it.
void allocate(RgbaBuffer& out, std::uint32_t width, std::uint32_t height,
              std::vector<std::uint8_t*>& rows) {
    out.width = width;
    out.height = height;
    out.pixels.reset(new std::uint8_t[std::size_t{width} * height * 4]);
    rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y) {
        rows[y] = out.pixels.get() + std::size_t{y} * width * 4;
    }
}

// PNG: libpng's own long jump on error; the jumping frames hold only plain pointers.
struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

void pngRead(png_structp png, png_bytep out, std::size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->offset) {
        png_error(png, "short");
    }
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

bool pngHeader(png_structp png, png_infop info, PngSource* source) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_read_fn(png, source, pngRead);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool pngPixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_read_image(png, rows);
    return true;
}

bool barePng(const Bytes& file, RgbaBuffer& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngSource source{file.data(), file.size(), 0};
    std::vector<std::uint8_t*> rows;
    bool ok = pngHeader(png, info, &source);
    if (ok) {
        allocate(out, png_get_image_width(png, info), png_get_image_height(png, info), rows);
        ok = pngPixels(png, rows.data());
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

// JPEG: error_exit long-jumps back into the function that set the jump; no C++ frame between.
struct JpegJump {
    jpeg_error_mgr manager;
    std::jmp_buf buffer;
};

[[noreturn]] void jpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegJump*>(info->err)->buffer, 1);
}

bool jpegHeader(jpeg_decompress_struct* info, const Bytes* file) {
    if (setjmp(reinterpret_cast<JpegJump*>(info->err)->buffer) != 0) {
        return false;
    }
    jpeg_mem_src(info, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(info);
    return true;
}

bool jpegPixels(jpeg_decompress_struct* info, std::uint8_t** rows) {
    if (setjmp(reinterpret_cast<JpegJump*>(info->err)->buffer) != 0) {
        return false;
    }
    while (info->output_scanline < info->output_height) {
        jpeg_read_scanlines(info, rows + info->output_scanline,
                            info->output_height - info->output_scanline);
    }
    return true;
}

bool bareJpeg(const Bytes& file, RgbaBuffer& out) {
    jpeg_decompress_struct info{};
    JpegJump jump{};
    info.err = jpeg_std_error(&jump.manager);
    jump.manager.error_exit = jpegFail;
    jpeg_create_decompress(&info);
    std::vector<std::uint8_t*> rows;
    bool ok = jpegHeader(&info, &file);
    if (ok) {
        allocate(out, info.output_width, info.output_height, rows);
        ok = jpegPixels(&info, rows.data());
    }
    jpeg_destroy_decompress(&info);
    return ok;
}

// GIF: the whole file slurped, then the first frame looked up in its colour map.
struct GifSource {
    const Bytes* file;
    std::size_t offset;
};

int gifRead(GifFileType* gif, GifByteType* out, int wanted) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(wanted), source->file->size() - source->offset);
    std::memcpy(out, source->file->data() + source->offset, count);
    source->offset += count;
    return static_cast<int>(count);
}

bool bareGif(const Bytes& file, RgbaBuffer& out) {
    GifSource source{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, gifRead, &error);
    if (gif == nullptr) {
        return false;
    }
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
    if (ok) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map =
            image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        GraphicsControlBlock control{};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &control);
        std::vector<std::uint8_t*> rows;
        allocate(out, static_cast<std::uint32_t>(image.ImageDesc.Width),
                 static_cast<std::uint32_t>(image.ImageDesc.Height), rows);
        std::uint8_t* p = out.pixels.get();
        const std::size_t count = std::size_t{out.width} * out.height;
        for (std::size_t i = 0; i < count; ++i, p += 4) {
            const int index = image.RasterBits[i];
            const GifColorType c =
                index < map->ColorCount ? map->Colors[index] : GifColorType{0, 0, 0};
            p[0] = c.Red;
            p[1] = c.Green;
            p[2] = c.Blue;
            p[3] = index == control.TransparentColor ? 0 : 0xFF;
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

// ---- The benchmarks --------------------------------------------------------------------------

// The picture in each file the benchmarks decode.
enum class Sample { Bmp24, Bmp32, Png, Jpeg, Gif, Ico32, Pcx24 };

// The 32-bit BMP: encodeBmp keeps alpha, in a V5 header with bit masks, once a pixel is not
// opaque.
Frame withSoftCorner(Frame frame) {
    frame.pixel(0, 0)[3] = 0x80;
    return frame;
}

// The encoded files, made once.
const Bytes& fileOf(Sample sample) {
    static const Frame picture = captchaPicture();
    static const Bytes bmp24 = imaging::encodeBmp(picture);
    static const Bytes bmp32 = imaging::encodeBmp(withSoftCorner(picture));
    static const Bytes png = imaging::encodePng(picture);
    static const Bytes jpeg = imaging::encodeJpeg(picture);
    static const Bytes gif = imaging::encodeGif(picture);
    static const Bytes ico = icoFile(picture);
    static const Bytes pcx = pcxFile(picture);
    switch (sample) {
        case Sample::Bmp32:
            return bmp32;
        case Sample::Png:
            return png;
        case Sample::Jpeg:
            return jpeg;
        case Sample::Gif:
            return gif;
        case Sample::Ico32:
            return ico;
        case Sample::Pcx24:
            return pcx;
        case Sample::Bmp24:
            break;
    }
    return bmp24;
}

void Decode(benchmark::State& state, Sample sample) {
    const Bytes& file = fileOf(sample);
    const auto image = imaging::decode(file);
    if (!image || image->width() != kWidth || image->height() != kHeight) {
        state.SkipWithError("the picture does not decode");
        return;
    }
    for (auto _ : state) {
        auto decoded = imaging::decode(file);
        benchmark::DoNotOptimize(decoded);
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

using BareDecoder = bool (*)(const Bytes&, RgbaBuffer&);

// Before timing, checks the bare decoder gives exactly our pixels, so both do the same work.
void DecodeBare(benchmark::State& state, Sample sample, BareDecoder bare) {
    const Bytes& file = fileOf(sample);
    const auto ours = imaging::decode(file);
    RgbaBuffer check;
    if (!ours || !bare(file, check) || check.width != ours->width() ||
        check.height != ours->height() ||
        !std::equal(ours->frames[0].rgba.begin(), ours->frames[0].rgba.end(), check.pixels.get())) {
        state.SkipWithError("the bare decoder does not give our pixels");
        return;
    }
    for (auto _ : state) {
        RgbaBuffer out;
        benchmark::DoNotOptimize(bare(file, out));
        benchmark::DoNotOptimize(out.pixels.get());
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

BENCHMARK_CAPTURE(Decode, Bmp24, Sample::Bmp24)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Bmp32, Sample::Bmp32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Png, Sample::Png)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeBare, Png, Sample::Png, barePng)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Jpeg, Sample::Jpeg)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeBare, Jpeg, Sample::Jpeg, bareJpeg)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Gif, Sample::Gif)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecodeBare, Gif, Sample::Gif, bareGif)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Ico32, Sample::Ico32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, Pcx24, Sample::Pcx24)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sorvane::bench
