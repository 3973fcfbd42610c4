// Our own BMP codec: BMP files, and the DIB that ICO and CUR entries store.
//
// How damaged or unusual files are read:
// - A file cut short gives no picture. Uncompressed pixel data must hold every row (only the
//   padding after the last row may be missing); a run-length stream must reach its end-of-bitmap
//   escape or move past the last row.
// - Pixels a run-length stream never sets stay transparent black.
// - Palette indices past the end of the palette give opaque black.
// - An alpha channel that is zero in every pixel is taken as unused and the picture is opaque:
//   many writers of 32-bit files leave the fourth byte zero.
// - bfOffBits pointing into the headers (some writers leave it 0) is ignored: the pixels are then
//   taken to follow the palette.
// - In an icon entry the AND mask makes pixels transparent when the colour data carries no usable
//   alpha; an entry whose mask is missing is shown opaque. Icon entries are never run-length coded.
#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "imaging/bmp_internal.h"
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

using detail::readLe16;
using detail::readLe32;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sizes, 3-byte palette entries
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kOs2HeaderSize = 64;  // OS/2 2.x: its compressions 3 and 4 differ from ours
constexpr std::uint32_t kV5HeaderSize = 124;
constexpr std::uint32_t kPixelsPerMetre = 2835;         // 72 dots per inch
constexpr std::uint32_t kSrgbColourSpace = 0x73524742;  // 'sRGB'
constexpr std::uint32_t kImagesIntent = 4;              // perceptual rendering

enum Compression : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitfields = 3,
    kAlphaBitfields = 6,
};

using Rgba = std::array<std::uint8_t, 4>;
using Palette = std::array<Rgba, 256>;

// One channel of a packed 16- or 32-bit pixel, scaled from the mask's width to 8 bits.
class Channel {
public:
    Channel() = default;
    explicit Channel(std::uint32_t mask)
        : mask_(mask),
          shift_(mask == 0 ? 0 : std::countr_zero(mask)),
          max_(mask >> shift_),
          direct_(max_ == 0xFF) {}

    bool present() const { return mask_ != 0; }
    bool nonZero(std::uint32_t pixel) const { return (pixel & mask_) != 0; }
    std::uint8_t read(std::uint32_t pixel) const {
        if (max_ == 0) {
            return 0;
        }
        const std::uint64_t value = (pixel & mask_) >> shift_;  // never above max_
        if (direct_) {
            return static_cast<std::uint8_t>(value);  // 8-bit channels need no scaling
        }
        return static_cast<std::uint8_t>((value * 255 + max_ / 2) / max_);
    }

private:
    std::uint32_t mask_ = 0;
    int shift_ = 0;
    std::uint64_t max_ = 0;
    bool direct_ = false;
};

struct Masks {
    Channel red, green, blue, alpha;
};

struct DibInfo {
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t rows = 0;  // colour rows; an icon's AND mask rows are not counted
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kRgb;
    Masks masks;
    std::uint64_t paletteOffset = 0;   // from the start of the DIB
    std::uint64_t paletteEntries = 0;  // as many as the header says are stored
    std::uint32_t paletteEntrySize = 4;
    std::uint64_t dataOffset = 0;  // where the pixels start, from the start of the DIB
};

bool validBitCount(std::uint32_t compression, std::uint16_t bits) {
    switch (compression) {
        case kRgb:
            return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
                   bits == 32;
        case kRle8:
            return bits == 8;
        case kRle4:
            return bits == 4;
        case kBitfields:
        case kAlphaBitfields:
            return bits == 16 || bits == 32;
        default:
            return false;
    }
}

// Reads the channel masks; returns how many bytes of masks follow the header (0 when they are
// part of it), or nothing when they do not fit.
std::optional<std::uint64_t> readMasks(ByteView dib, ByteView header, DibInfo& info) {
    const bool bitfields = info.compression == kBitfields || info.compression == kAlphaBitfields;
    if (!bitfields) {
        info.masks = info.bitCount == 16
                         ? Masks{Channel(0x7C00), Channel(0x03E0), Channel(0x001F), Channel()}
                         : Masks{Channel(0x00FF0000), Channel(0x0000FF00), Channel(0x000000FF),
                                 Channel(0xFF000000)};
        return 0;
    }
    // V2 (52 bytes) and later headers hold the masks; after a 40-byte header they follow it.
    const bool inHeader = info.headerSize >= 52 && info.headerSize != kOs2HeaderSize;
    if (inHeader) {
        info.masks = Masks{Channel(readLe32(header, 40)), Channel(readLe32(header, 44)),
                           Channel(readLe32(header, 48)), Channel(readLe32(header, 52))};
        return 0;
    }
    const std::uint64_t count = info.compression == kAlphaBitfields ? 4 : 3;
    const std::uint64_t at = info.headerSize;
    if (dib.size() - at < count * 4) {
        return std::nullopt;
    }
    info.masks = Masks{Channel(readLe32(dib, at)), Channel(readLe32(dib, at + 4)),
                       Channel(readLe32(dib, at + 8)),
                       count == 4 ? Channel(readLe32(dib, at + 12)) : Channel()};
    return count * 4;
}

std::optional<DibInfo> parseInfo(ByteView dib, bool iconEntry) {
    DibInfo info;
    info.headerSize = readLe32(dib, 0);
    if (dib.size() < 4 || info.headerSize > dib.size()) {
        return std::nullopt;
    }
    // Fields a short header leaves out read as zero.
    const ByteView header = dib.first(info.headerSize);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t colorsUsed = 0;
    if (info.headerSize == kCoreHeaderSize) {
        width = readLe16(header, 4);
        height = readLe16(header, 6);
        info.bitCount = readLe16(header, 10);
        info.paletteEntrySize = 3;
    } else if (info.headerSize >= 16) {
        width = static_cast<std::int32_t>(readLe32(header, 4));
        height = static_cast<std::int32_t>(readLe32(header, 8));
        info.bitCount = readLe16(header, 14);
        info.compression = readLe32(header, 16);
        colorsUsed = readLe32(header, 32);
    } else {
        return std::nullopt;
    }
    if (width <= 0 || height == 0) {
        return std::nullopt;
    }
    info.topDown = height < 0;
    std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    if (iconEntry) {
        rows /= 2;
    }
    if (width > kMaxDimension || rows == 0 || rows > kMaxDimension) {
        return std::nullopt;
    }
    info.width = static_cast<std::uint32_t>(width);
    info.rows = static_cast<std::uint32_t>(rows);
    if (info.headerSize == kOs2HeaderSize && info.compression >= kBitfields) {
        return std::nullopt;  // OS/2 Huffman and 24-bit run-length coding
    }
    if (!validBitCount(info.compression, info.bitCount)) {
        return std::nullopt;
    }
    const auto maskBytes = readMasks(dib, header, info);
    if (!maskBytes) {
        return std::nullopt;
    }
    info.paletteOffset = info.headerSize + *maskBytes;
    if (info.bitCount <= 8) {
        info.paletteEntries = colorsUsed != 0 ? colorsUsed : std::uint64_t{1} << info.bitCount;
    } else {
        info.paletteEntries = colorsUsed;  // an optional palette the pixels do not use
    }
    info.dataOffset = info.paletteOffset + info.paletteEntries * info.paletteEntrySize;
    return info;
}

// Entries the file does not hold, or that the bit depth cannot reach, stay opaque black.
Palette readPalette(ByteView dib, const DibInfo& info, std::uint64_t limit) {
    Palette palette;
    palette.fill(Rgba{0, 0, 0, 0xFF});
    if (info.bitCount > 8 || limit <= info.paletteOffset) {
        return palette;
    }
    const std::uint64_t stored = (limit - info.paletteOffset) / info.paletteEntrySize;
    const std::uint64_t count =
        std::min({info.paletteEntries, stored, std::uint64_t{1} << info.bitCount});
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at =
            static_cast<std::size_t>(info.paletteOffset + i * info.paletteEntrySize);
        palette[i] = Rgba{dib[at + 2], dib[at + 1], dib[at], 0xFF};
    }
    return palette;
}

std::uint8_t* rowStart(Frame& frame, const DibInfo& info, std::uint64_t fileRow) {
    const auto row = static_cast<std::uint32_t>(fileRow);
    return frame.pixel(0, info.topDown ? row : info.rows - 1 - row);
}

std::uint64_t rowStride(std::uint64_t width, std::uint64_t bits) {
    return (width * bits + 31) / 32 * 4;
}

std::uint64_t rowBytesUsed(std::uint64_t width, std::uint64_t bits) {
    return (width * bits + 7) / 8;
}

void writePacked(std::uint32_t pixel, const Masks& masks, std::uint8_t* out, bool& anyAlpha) {
    out[0] = masks.red.read(pixel);
    out[1] = masks.green.read(pixel);
    out[2] = masks.blue.read(pixel);
    out[3] = masks.alpha.present() ? masks.alpha.read(pixel) : 0xFF;
    anyAlpha = anyAlpha || masks.alpha.nonZero(pixel);
}

// One row of uncompressed pixels; `row` holds at least the bytes the row uses.
void decodeRow(ByteView row, const DibInfo& info, const Palette& palette, std::uint8_t* out,
               bool& anyAlpha) {
    const unsigned bits = info.bitCount;
    for (std::size_t x = 0; x < info.width; ++x, out += 4) {
        if (bits <= 8) {
            const std::size_t bit = x * bits;
            const unsigned shift = 8 - bits - bit % 8;
            const unsigned index = (row[bit / 8] >> shift) & ((1u << bits) - 1);
            std::copy(palette[index].begin(), palette[index].end(), out);
        } else if (bits == 16) {
            writePacked(readLe16(row, x * 2), info.masks, out, anyAlpha);
        } else if (bits == 24) {
            out[0] = row[x * 3 + 2];
            out[1] = row[x * 3 + 1];
            out[2] = row[x * 3];
            out[3] = 0xFF;
        } else {
            writePacked(readLe32(row, x * 4), info.masks, out, anyAlpha);
        }
    }
}

void makeOpaque(Frame& frame) {
    for (std::size_t i = 3; i < frame.rgba.size(); i += 4) {
        frame.rgba[i] = 0xFF;
    }
}

// Returns whether the pixels carried a usable alpha channel.
bool decodeUncompressed(ByteView data, const DibInfo& info, const Palette& palette, Frame& frame) {
    const std::uint64_t stride = rowStride(info.width, info.bitCount);
    const std::uint64_t used = rowBytesUsed(info.width, info.bitCount);
    bool anyAlpha = false;
    for (std::uint64_t r = 0; r < info.rows; ++r) {
        const ByteView row =
            data.subspan(static_cast<std::size_t>(r * stride), static_cast<std::size_t>(used));
        decodeRow(row, info, palette, rowStart(frame, info, r), anyAlpha);
    }
    return anyAlpha;
}

// BI_RLE8 and BI_RLE4. Runs past the row end are clipped and escapes that move outside the
// picture only skip pixels; nothing is written outside the frame.
bool decodeRle(ByteView data, const DibInfo& info, const Palette& palette, Frame& frame) {
    const bool rle4 = info.compression == kRle4;
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::size_t pos = 0;
    const auto put = [&](unsigned index) {
        if (x < info.width && y < info.rows) {
            std::copy(palette[index].begin(), palette[index].end(),
                      rowStart(frame, info, y) + x * 4);
        }
        ++x;
    };
    const auto pick = [rle4](std::uint8_t byte, unsigned i) -> unsigned {
        return !rle4 ? byte : (i % 2 == 0 ? byte >> 4 : byte & 0x0F);
    };
    while (y < info.rows) {
        if (data.size() - pos < 2) {
            return false;
        }
        const std::uint8_t count = data[pos];
        const std::uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) {
                put(pick(value, i));
            }
        } else if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // delta
            if (data.size() - pos < 2) {
                return false;
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {  // absolute run, padded to 16 bits
            const std::size_t bytes = rle4 ? (value + 1u) / 2 : value;
            if (data.size() - pos < bytes) {
                return false;
            }
            for (unsigned i = 0; i < value; ++i) {
                put(pick(data[pos + (rle4 ? i / 2 : i)], i));
            }
            pos += std::min(bytes + bytes % 2, data.size() - pos);
        }
    }
    return true;
}

void applyAndMask(ByteView dib, std::uint64_t maskOffset, const DibInfo& info, Frame& frame) {
    const std::uint64_t stride = rowStride(info.width, 1);
    const std::uint64_t needed = (info.rows - 1) * stride + rowBytesUsed(info.width, 1);
    if (maskOffset > dib.size() || dib.size() - maskOffset < needed) {
        return;  // no mask: the entry stays opaque
    }
    for (std::uint64_t r = 0; r < info.rows; ++r) {
        const std::uint8_t* mask = dib.data() + maskOffset + r * stride;
        std::uint8_t* out = rowStart(frame, info, r);
        for (std::uint32_t x = 0; x < info.width; ++x) {
            if ((mask[x / 8] >> (7 - x % 8)) & 1) {
                out[x * 4 + 3] = 0;
            }
        }
    }
}

// `pixelOffset`, when known from a file header, says where the pixels start in `dib`.
std::optional<Frame> decodeDibAt(ByteView dib, std::optional<std::uint64_t> pixelOffset,
                                 PixelBudget& budget, bool iconEntry) {
    auto info = parseInfo(dib, iconEntry);
    if (!info) {
        return std::nullopt;
    }
    std::uint64_t paletteLimit = dib.size();
    if (pixelOffset && *pixelOffset >= info->paletteOffset) {
        info->dataOffset = *pixelOffset;
        paletteLimit = std::min<std::uint64_t>(paletteLimit, *pixelOffset);
    }
    if (info->dataOffset > dib.size()) {
        return std::nullopt;
    }
    const Palette palette = readPalette(dib, *info, paletteLimit);
    const ByteView data = dib.subspan(static_cast<std::size_t>(info->dataOffset));

    if (info->compression == kRle8 || info->compression == kRle4) {
        if (iconEntry) {
            return std::nullopt;
        }
        auto frame = makeFrame(info->width, info->rows, budget);
        if (!frame || !decodeRle(data, *info, palette, *frame)) {
            return std::nullopt;
        }
        return frame;
    }

    // Check the file holds every row before allocating for them.
    const std::uint64_t stride = rowStride(info->width, info->bitCount);
    const std::uint64_t colourBytes = info->rows * stride;
    if (data.size() < colourBytes - stride + rowBytesUsed(info->width, info->bitCount)) {
        return std::nullopt;
    }
    auto frame = makeFrame(info->width, info->rows, budget);
    if (!frame) {
        return std::nullopt;
    }
    if (!decodeUncompressed(data, *info, palette, *frame)) {
        makeOpaque(*frame);
        if (iconEntry) {
            applyAndMask(dib, info->dataOffset + colourBytes, *info, *frame);
        }
    }
    return frame;
}

void putLe16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putLe32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

}  // namespace

namespace detail {

std::optional<Image> decodeBmp(ByteView bytes, PixelBudget& budget) {
    if (bytes.size() < kFileHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
        return std::nullopt;
    }
    const std::uint32_t offBits = readLe32(bytes, 10);
    std::optional<std::uint64_t> pixelOffset;
    if (offBits >= kFileHeaderSize) {
        pixelOffset = offBits - kFileHeaderSize;
    }
    auto frame = decodeDibAt(bytes.subspan(kFileHeaderSize), pixelOffset, budget, false);
    if (!frame) {
        return std::nullopt;
    }
    Image image;
    image.frames.push_back(std::move(*frame));
    return image;
}

std::optional<Frame> decodeDib(ByteView dib, PixelBudget& budget, bool iconEntry) {
    return decodeDibAt(dib, std::nullopt, budget, iconEntry);
}

}  // namespace detail

// 24-bit BI_RGB when every pixel is opaque; otherwise 32-bit BI_BITFIELDS with an alpha mask in
// a V5 header, which readers of the plain 40-byte header would not take as alpha. Bottom-up.
// A frame transparent everywhere reads back opaque: zero alpha everywhere is taken as unused.
Bytes encodeBmp(const Frame& frame) {
    const std::uint64_t width = frame.width;
    const std::uint64_t height = frame.height;
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension ||
        frame.rgba.size() != width * height * 4) {
        return {};
    }
    const bool opaque = frame.isOpaque();
    const std::uint32_t bits = opaque ? 24 : 32;
    const std::uint32_t headerSize = opaque ? kInfoHeaderSize : kV5HeaderSize;
    const std::uint64_t stride = rowStride(width, bits);
    const std::uint64_t imageSize = stride * height;
    const std::uint64_t offBits = kFileHeaderSize + headerSize;
    const std::uint64_t fileSize = offBits + imageSize;
    if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }

    Bytes out;
    out.reserve(static_cast<std::size_t>(fileSize));
    out.push_back('B');
    out.push_back('M');
    putLe32(out, static_cast<std::uint32_t>(fileSize));
    putLe32(out, 0);  // reserved
    putLe32(out, static_cast<std::uint32_t>(offBits));

    putLe32(out, headerSize);
    putLe32(out, frame.width);
    putLe32(out, frame.height);  // positive: bottom-up
    putLe16(out, 1);             // planes
    putLe16(out, static_cast<std::uint16_t>(bits));
    putLe32(out, opaque ? kRgb : kBitfields);
    putLe32(out, static_cast<std::uint32_t>(imageSize));
    putLe32(out, kPixelsPerMetre);
    putLe32(out, kPixelsPerMetre);
    putLe32(out, 0);  // colours used
    putLe32(out, 0);  // important colours
    if (!opaque) {
        putLe32(out, 0x00FF0000);
        putLe32(out, 0x0000FF00);
        putLe32(out, 0x000000FF);
        putLe32(out, 0xFF000000);
        putLe32(out, kSrgbColourSpace);
        out.insert(out.end(), 36 + 12, 0);  // CIE endpoints and gamma, unused with sRGB
        putLe32(out, kImagesIntent);
        putLe32(out, 0);  // profile data
        putLe32(out, 0);  // profile size
        putLe32(out, 0);  // reserved
    }

    const std::size_t padding = static_cast<std::size_t>(stride - width * (bits / 8));
    for (std::uint32_t y = frame.height; y-- > 0;) {
        const std::uint8_t* p = frame.pixel(0, y);
        for (std::uint32_t x = 0; x < frame.width; ++x, p += 4) {
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
            if (!opaque) {
                out.push_back(p[3]);
            }
        }
        out.insert(out.end(), padding, 0);
    }
    return out;
}

}  // namespace sorvane::imaging
