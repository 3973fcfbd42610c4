// JPEG through libjpeg(-turbo), from and to memory.
//
// libjpeg reports fatal errors through error_exit, which must not return; ours long-jumps. Every
// setjmp below sits in a small function whose frame holds only plain pointers and integers, and
// the callbacks that jump own nothing, so a jump never skips a C++ destructor. The libjpeg
// structs themselves live in RAII holders in the C++ callers, outside the jump's reach.
#include <stdio.h>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <csetjmp>
#include <memory>
#include <new>

#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

// A progressive file may hold any number of scans, and each one walks the whole picture again;
// no real encoder writes anywhere near this many.
constexpr int kMaxScans = 1000;
// What libjpeg may allocate for its own buffers (the coefficients of a multi-scan file mainly).
constexpr long kMaxLibraryMemory = static_cast<long>(kMaxPixelBytes);

// Shared by reader and writer: where error_exit jumps to. libjpeg's client_data points here.
struct JumpTarget {
    std::jmp_buf buffer;
};

[[noreturn]] void jumpOnError(j_common_ptr info) {
    std::longjmp(static_cast<JumpTarget*>(info->client_data)->buffer, 1);
}
// Warnings (a file cut short, corrupt data) are not printed; see decodeJpeg for what they mean.
void stayQuiet(j_common_ptr) {}

void stopEndlessScans(j_common_ptr info) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxScans) {
        jumpOnError(info);
    }
}

struct Reader {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    JumpTarget target{};

    Reader() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = jumpOnError;
        errors.output_message = stayQuiet;
        info.client_data = &target;
    }
    // Safe on a struct that creation never reached or left half made: it frees what exists.
    ~Reader() { jpeg_destroy_decompress(&info); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
};

bool readHeader(Reader* reader, const std::uint8_t* data, std::size_t size) {
    if (setjmp(reader->target.buffer) != 0) {
        return false;
    }
    jpeg_create_decompress(&reader->info);  // keeps err and client_data, clears the rest
    reader->info.mem->max_memory_to_use = kMaxLibraryMemory;
    reader->progress.progress_monitor = stopEndlessScans;
    reader->info.progress = &reader->progress;
    jpeg_mem_src(&reader->info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&reader->info, TRUE);
    return true;
}

bool isCmyk(J_COLOR_SPACE space) {
    return space == JCS_CMYK || space == JCS_YCCK;
}

// Decodes every scanline into `rows` (width * 4 bytes each): RGBA for grey, YCbCr and RGB
// files; CMYK (converted afterwards) for CMYK and YCCK files.
bool readPixels(Reader* reader, std::uint8_t** rows, JDIMENSION width, JDIMENSION height) {
    if (setjmp(reader->target.buffer) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = reader->info;
    info.out_color_space = isCmyk(info.jpeg_color_space) ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    if (info.output_width != width || info.output_height != height || info.output_components != 4) {
        return false;  // never let libjpeg write rows wider than ours
    }
    while (info.output_scanline < height) {
        if (jpeg_read_scanlines(&info, rows + info.output_scanline,
                                height - info.output_scanline) == 0) {
            return false;  // cannot happen with a memory source, but must not loop for ever
        }
    }
    // jpeg_finish_decompress is not called: what follows the last scanline shows nothing.
    return true;
}

std::uint8_t scaleBy(unsigned value, unsigned factor) {
    return static_cast<std::uint8_t>((value * factor + 127) / 255);
}

// libjpeg hands CMYK over as stored. Files with an Adobe APP14 marker (Photoshop and libjpeg
// itself write one for CMYK) store the inks inverted, 255 meaning no ink, so R = C' * K' / 255;
// without the marker the inks are taken as plain, R = (255 - C) * (255 - K) / 255.
void cmykToRgba(Frame& frame, bool inverted) {
    for (std::size_t i = 0; i + 3 < frame.rgba.size(); i += 4) {
        std::uint8_t* p = frame.rgba.data() + i;
        const unsigned flip = inverted ? 0 : 255;
        const unsigned k = p[3] ^ flip;
        p[0] = scaleBy(p[0] ^ flip, k);
        p[1] = scaleBy(p[1] ^ flip, k);
        p[2] = scaleBy(p[2] ^ flip, k);
        p[3] = 0xFF;
    }
}

// Collects the compressed bytes: libjpeg fills a fixed chunk, which is appended to `out` each
// time it is full and once more at the end. Running out of memory becomes a libjpeg error,
// raised only after the catch block is left.
struct Destination {
    jpeg_destination_mgr manager{};  // first, so libjpeg's pointer to it leads back here
    Bytes* out = nullptr;
    JOCTET chunk[1 << 16]{};
};

bool appendChunk(Destination* destination, std::size_t length) {
    try {
        destination->out->insert(destination->out->end(), destination->chunk,
                                 destination->chunk + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

Destination* destinationOf(j_compress_ptr info) {
    return reinterpret_cast<Destination*>(info->dest);
}

void startChunk(j_compress_ptr info) {
    Destination* destination = destinationOf(info);
    destination->manager.next_output_byte = destination->chunk;
    destination->manager.free_in_buffer = sizeof destination->chunk;
}

boolean flushChunk(j_compress_ptr info) {
    if (!appendChunk(destinationOf(info), sizeof destinationOf(info)->chunk)) {
        jumpOnError(reinterpret_cast<j_common_ptr>(info));
    }
    startChunk(info);
    return TRUE;
}

void flushLastChunk(j_compress_ptr info) {
    Destination* destination = destinationOf(info);
    if (!appendChunk(destination,
                     sizeof destination->chunk - destination->manager.free_in_buffer)) {
        jumpOnError(reinterpret_cast<j_common_ptr>(info));
    }
}

struct Writer {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    JumpTarget target{};
    Destination destination{};

    explicit Writer(Bytes* out) {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = jumpOnError;
        errors.output_message = stayQuiet;
        info.client_data = &target;
        destination.out = out;
        destination.manager.init_destination = startChunk;
        destination.manager.empty_output_buffer = flushChunk;
        destination.manager.term_destination = flushLastChunk;
    }
    ~Writer() { jpeg_destroy_compress(&info); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
};

// Compresses RGBA rows at quality 75; the fourth byte of every pixel is skipped, not blended.
bool writeImage(Writer* writer, std::uint8_t** rows, JDIMENSION width, JDIMENSION height) {
    if (setjmp(writer->target.buffer) != 0) {
        return false;
    }
    jpeg_compress_struct& info = writer->info;
    jpeg_create_compress(&info);  // keeps err and client_data, clears the rest
    info.dest = &writer->destination.manager;
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
        jpeg_write_scanlines(&info, rows + info.next_scanline, height - info.next_scanline);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

namespace detail {

// A file cut short, or with corrupt entropy data, still decodes: libjpeg pads what is missing
// (grey) and warns, and the padded picture is returned, as viewers show it. A file cut before
// its first scan has no picture and gives nothing.
std::optional<Image> decodeJpeg(ByteView bytes, PixelBudget& budget) {
    Reader reader;
    if (!readHeader(&reader, bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    const JDIMENSION width = reader.info.image_width;
    const JDIMENSION height = reader.info.image_height;
    // Checked before jpeg_start_decompress allocates anything for the picture.
    auto frame = makeFrame(width, height, budget);
    if (!frame) {
        return std::nullopt;
    }
    std::vector<std::uint8_t*> rows(height);
    for (JDIMENSION y = 0; y < height; ++y) {
        rows[y] = frame->pixel(0, y);
    }
    if (!readPixels(&reader, rows.data(), width, height)) {
        return std::nullopt;
    }
    if (isCmyk(reader.info.jpeg_color_space)) {
        cmykToRgba(*frame, reader.info.saw_Adobe_marker != 0);
    }
    Image image;
    image.frames.push_back(std::move(*frame));
    return image;
}

}  // namespace detail

Bytes encodeJpeg(const Frame& frame) {
    if (frame.width == 0 || frame.height == 0 || frame.width > JPEG_MAX_DIMENSION ||
        frame.height > JPEG_MAX_DIMENSION ||
        frame.rgba.size() != std::size_t{frame.width} * frame.height * 4) {
        return {};
    }
    // libjpeg only reads the rows; its interface just lacks the const.
    std::vector<std::uint8_t*> rows(frame.height);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        rows[y] = const_cast<std::uint8_t*>(frame.pixel(0, y));
    }
    Bytes out;
    auto writer = std::make_unique<Writer>(&out);  // on the heap: it holds a 64 KiB chunk
    if (!writeImage(writer.get(), rows.data(), frame.width, frame.height)) {
        return {};
    }
    return out;
}

}  // namespace sorvane::imaging
