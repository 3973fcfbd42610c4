// PNG through libpng 1.6, from and to memory.
//
// libpng reports errors by long-jumping. Every setjmp below sits in a small function whose frame
// holds only plain pointers and integers, and every callback that may jump owns nothing either,
// so a jump never skips a C++ destructor. Memory the jump could leak (the output frame, the row
// pointers, the encoded bytes) is owned by the C++ caller, outside the jump's reach.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>

#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

// Safety nets behind the skipping of ancillary chunks below: no chunk buffer over 8 MiB, and
// no more than 1000 chunks kept.
constexpr png_alloc_size_t kChunkMallocMax = png_alloc_size_t{8} << 20;
constexpr png_uint_32 kChunkCacheMax = 1000;

// Both handlers stay silent: a bad file simply gives no image.
[[noreturn]] void failQuietly(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

// Reads from the caller's bytes and never past their end: asking for more is an error.
struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

void readFromMemory(png_structp png, png_bytep out, std::size_t length) {
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (length > source->size - source->offset) {
        png_error(png, "read past the end of the data");
    }
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

// Owns a png_struct made by `create` (for reading or for writing) and its info struct; `info` is
// null when either could not be made.
template <auto create, auto destroy>
struct PngStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;

    PngStructs() {
        png = create(PNG_LIBPNG_VER_STRING, nullptr, failQuietly, ignoreWarning);
        if (png != nullptr) {
            info = png_create_info_struct(png);
        }
    }
    ~PngStructs() { destroy(&png, &info); }
    PngStructs(const PngStructs&) = delete;
    PngStructs& operator=(const PngStructs&) = delete;
};

void destroyReadStructs(png_structpp png, png_infopp info) {
    png_destroy_read_struct(png, info, nullptr);
}

using ReadStructs = PngStructs<png_create_read_struct, destroyReadStructs>;
using WriteStructs = PngStructs<png_create_write_struct, png_destroy_write_struct>;

// Reads the chunks up to the first IDAT, without inflating any pixel data.
bool readHeader(png_structp png, png_infop info, MemorySource* source, png_uint_32* width,
                png_uint_32* height) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_read_fn(png, source, readFromMemory);
    png_set_user_limits(png, kMaxDimension, kMaxDimension);
    png_set_chunk_cache_max(png, kChunkCacheMax);
    png_set_chunk_malloc_max(png, kChunkMallocMax);
    // Only IHDR, PLTE, tRNS, IDAT and IEND matter to the pixels; every other chunk is skipped
    // unread. libpng treats an oversized ancillary chunk as a mere warning and would allocate
    // (and clear) all of it, so text, profiles and the like are never handed to it at all.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    // Bad CRCs: critical chunks fail, ancillary chunks are dropped with a (silent) warning.
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_DEFAULT);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    return true;
}

// Turns every colour type and bit depth into 8-bit RGBA. No gamma correction: the samples are
// taken as they are stored.
void requestRgba8(png_structp png, png_infop info) {
    const png_byte colorType = png_get_color_type(png, info);
    const png_byte bitDepth = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
        png_set_tRNS_to_alpha(png);
    }
    if (bitDepth == 16) {
        png_set_scale_16(png);  // rounds, where stripping the low byte would truncate
    }
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);  // only applies where no alpha is there yet
}

// Decodes all rows (every Adam7 pass) into `rows`, which hold width * 4 bytes each.
bool readPixels(png_structp png, png_infop info, png_bytepp rows, png_uint_32 width) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    requestRgba8(png, info);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != 4 || png_get_bit_depth(png, info) != 8 ||
        png_get_rowbytes(png, info) != std::size_t{width} * 4) {
        return false;  // never let libpng write rows wider than ours
    }
    png_read_image(png, rows);
    // The chunks after the pixels carry nothing we show, so png_read_end is not called: a file
    // cut short after its last IDAT still gives its picture.
    return true;
}

// Appends libpng's output to a vector; running out of memory becomes a libpng error, raised
// only after the catch block is left so the jump crosses no live C++ object.
struct MemorySink {
    Bytes* out;
};

void writeToMemory(png_structp png, png_bytep data, std::size_t length) {
    auto* sink = static_cast<MemorySink*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        sink->out->insert(sink->out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (failed) {
        png_error(png, "out of memory");
    }
}

void flushNothing(png_structp) {}

// Writes RGBA rows as 8-bit RGBA, or as RGB (the alpha byte skipped as filler) when opaque.
bool writeImage(png_structp png, png_infop info, MemorySink* sink, png_bytepp rows,
                png_uint_32 width, png_uint_32 height, bool opaque) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, sink, writeToMemory, flushNothing);
    png_set_IHDR(png, info, width, height, 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (opaque) {
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

bool hasConsistentSize(const Frame& frame) {
    return frame.width > 0 && frame.height > 0 && frame.width <= kMaxDimension &&
           frame.height <= kMaxDimension &&
           frame.rgba.size() == std::size_t{frame.width} * frame.height * 4;
}

}  // namespace

namespace detail {

std::optional<Image> decodePng(ByteView bytes, PixelBudget& budget) {
    ReadStructs structs;
    if (structs.info == nullptr) {
        return std::nullopt;
    }
    MemorySource source{bytes.data(), bytes.size(), 0};
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!readHeader(structs.png, structs.info, &source, &width, &height)) {
        return std::nullopt;
    }
    // The size from IHDR is checked here, before any pixel data is inflated.
    auto frame = makeFrame(width, height, budget);
    if (!frame) {
        return std::nullopt;
    }
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) {
        rows[y] = frame->pixel(0, y);
    }
    if (!readPixels(structs.png, structs.info, rows.data(), width)) {
        return std::nullopt;
    }
    Image image;
    image.frames.push_back(std::move(*frame));
    return image;
}

}  // namespace detail

Bytes encodePng(const Frame& frame) {
    if (!hasConsistentSize(frame)) {
        return {};
    }
    WriteStructs structs;
    if (structs.info == nullptr) {
        return {};
    }
    // libpng copies each row before transforming it, so the frame is only read.
    std::vector<png_bytep> rows(frame.height);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        rows[y] = const_cast<png_bytep>(frame.pixel(0, y));
    }
    Bytes out;
    MemorySink sink{&out};
    if (!writeImage(structs.png, structs.info, &sink, rows.data(), frame.width, frame.height,
                    frame.isOpaque())) {
        return {};
    }
    return out;
}

}  // namespace sorvane::imaging
