// TIFF writing through libtiff 4.5 into memory. libtiff reports errors by return values, so no
// jumps here; its messages go to handlers attached to this one handle, which drop them.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

// Uncompressed bytes per strip: small enough for readers that load a strip at once, large
// enough that LZW has something to work with.
constexpr std::size_t kStripBytes = std::size_t{64} << 10;

// A growable file in memory for TIFFClientOpen. Writing past the end extends it with zeros, as a
// file would; the callbacks never throw into libtiff.
struct MemoryFile {
    Bytes bytes;
    std::size_t position = 0;
};

MemoryFile* fileOf(thandle_t handle) {
    return static_cast<MemoryFile*>(handle);
}

tmsize_t readFile(thandle_t handle, void* data, tmsize_t size) {
    MemoryFile* file = fileOf(handle);
    if (size < 0 || file->position >= file->bytes.size()) {
        return 0;
    }
    const std::size_t count =
        std::min(static_cast<std::size_t>(size), file->bytes.size() - file->position);
    std::memcpy(data, file->bytes.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeFile(thandle_t handle, void* data, tmsize_t size) {
    MemoryFile* file = fileOf(handle);
    if (size < 0) {
        return -1;
    }
    const auto count = static_cast<std::size_t>(size);
    try {
        if (file->bytes.size() - std::min(file->position, file->bytes.size()) < count) {
            file->bytes.resize(file->position + count);
        }
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    std::memcpy(file->bytes.data() + file->position, data, count);
    file->position += count;
    return size;
}

toff_t seekFile(thandle_t handle, toff_t offset, int whence) {
    MemoryFile* file = fileOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = file->position;
    } else if (whence == SEEK_END) {
        base = file->bytes.size();
    } else if (whence != SEEK_SET) {
        return static_cast<toff_t>(-1);
    }
    // The offset arrives unsigned; a negative one for SEEK_CUR / SEEK_END wraps around.
    const std::uint64_t target = base + offset;
    if (target > std::numeric_limits<std::uint32_t>::max()) {
        return static_cast<toff_t>(-1);  // a classic TIFF addresses no more than 4 GiB
    }
    file->position = static_cast<std::size_t>(target);
    return target;
}

int closeFile(thandle_t) {
    return 0;
}
toff_t fileSize(thandle_t handle) {
    return fileOf(handle)->bytes.size();
}
int mapNothing(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// Returning 1 tells libtiff the message was handled, so nothing reaches stderr.
int dropMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffDeleter {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffDeleter>;

TiffHandle openForWriting(MemoryFile& file) {
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) {
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), dropMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropMessage, nullptr);
    return TiffHandle(TIFFClientOpenExt("memory", "w", &file, readFile, writeFile, seekFile,
                                        closeFile, fileSize, mapNothing, unmapNothing,
                                        options.get()));
}

bool writeTags(TIFF* tiff, const Frame& frame, std::uint16_t samples, std::uint32_t rowsPerStrip) {
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, frame.width) == 1 &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, frame.height) == 1 &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) == 1 &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) == 1;
    if (ok && samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};  // straight, not premultiplied
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) == 1;
    }
    return ok;
}

}  // namespace

Bytes encodeTiff(const Frame& frame) {
    if (frame.width == 0 || frame.height == 0 || frame.width > kMaxDimension ||
        frame.height > kMaxDimension ||
        frame.rgba.size() != std::size_t{frame.width} * frame.height * 4) {
        return {};
    }
    const bool opaque = frame.isOpaque();
    const std::uint16_t samples = opaque ? 3 : 4;
    const std::size_t rowBytes = std::size_t{frame.width} * samples;
    const auto rowsPerStrip = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(kStripBytes / rowBytes, 1, frame.height));

    MemoryFile file;  // outlives the handle, whose closing may still write to it
    {
        TiffHandle tiff = openForWriting(file);
        if (!tiff || !writeTags(tiff.get(), frame, samples, rowsPerStrip)) {
            return {};
        }
        // libtiff may encode in place, so each row goes through a scratch copy.
        Bytes row(rowBytes);
        for (std::uint32_t y = 0; y < frame.height; ++y) {
            const std::uint8_t* in = frame.pixel(0, y);
            for (std::uint32_t x = 0; x < frame.width; ++x) {
                std::memcpy(row.data() + std::size_t{x} * samples, in + std::size_t{x} * 4,
                            samples);
            }
            if (TIFFWriteScanline(tiff.get(), row.data(), y, 0) != 1) {
                return {};
            }
        }
        if (TIFFFlush(tiff.get()) != 1) {
            return {};
        }
    }
    return std::move(file.bytes);
}

}  // namespace sorvane::imaging
