// Our own PCX decoder.
//
// How unusual files are read:
// - The run-length body is one stream: a run that crosses the end of a scanline carries on into
//   the next one (some writers do this), and whatever runs past the last scanline is dropped.
// - A body cut short gives no picture.
// - 8 bits in one plane: the 256-colour palette after a 0x0C byte at the very end of the file, or
//   a grey ramp when there is none. 1 bit in one plane: 0 black, 1 white. Other depths under
//   8 bits (1, 2 or 4 bits in up to 4 planes, at most 16 colours): the header's 16-colour palette.
//   8 bits in three planes: RGB; in four planes: RGBA.
#include <algorithm>
#include <array>
#include <vector>

#include "imaging/bmp_internal.h"
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

using detail::readLe16;

constexpr std::size_t kHeaderSize = 128;
constexpr std::uint8_t kManufacturer = 0x0A;
constexpr std::uint8_t kRunLengthEncoding = 1;
constexpr std::size_t kHeaderPaletteAt = 16;
constexpr std::size_t kVgaPaletteSize = 769;  // marker byte and 256 RGB triples
constexpr std::uint8_t kVgaPaletteMarker = 0x0C;
constexpr std::uint64_t kLongestRun = 63;

using Rgba = std::array<std::uint8_t, 4>;
using Palette = std::array<Rgba, 256>;

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bitsPerPixel = 0;
    unsigned planes = 0;
    std::size_t bytesPerLine = 0;  // for each plane

    bool grey() const { return bitsPerPixel == 8 && planes == 1; }
    bool trueColour() const { return bitsPerPixel == 8 && planes >= 3; }
};

bool supported(unsigned bits, unsigned planes) {
    if (bits == 8) {
        return planes == 1 || planes == 3 || planes == 4;
    }
    return (bits == 1 || bits == 2 || bits == 4) && planes >= 1 && bits * planes <= 4;
}

std::optional<Header> parseHeader(ByteView bytes) {
    if (bytes.size() < kHeaderSize || bytes[0] != kManufacturer || bytes[2] != kRunLengthEncoding) {
        return std::nullopt;
    }
    const std::uint32_t xMin = readLe16(bytes, 4);
    const std::uint32_t yMin = readLe16(bytes, 6);
    const std::uint32_t xMax = readLe16(bytes, 8);  // the window is inclusive
    const std::uint32_t yMax = readLe16(bytes, 10);
    if (xMax < xMin || yMax < yMin) {
        return std::nullopt;
    }
    Header header;
    header.width = xMax - xMin + 1;
    header.height = yMax - yMin + 1;
    header.bitsPerPixel = bytes[3];
    header.planes = bytes[65];
    header.bytesPerLine = readLe16(bytes, 66);
    if (header.width > kMaxDimension || header.height > kMaxDimension ||
        !supported(header.bitsPerPixel, header.planes) ||
        header.bytesPerLine < (std::uint64_t{header.width} * header.bitsPerPixel + 7) / 8) {
        return std::nullopt;
    }
    return header;
}

Palette headerPalette(ByteView bytes, const Header& header) {
    Palette palette;
    palette.fill(Rgba{0, 0, 0, 0xFF});
    if (header.bitsPerPixel == 1 && header.planes == 1) {
        palette[1] = Rgba{0xFF, 0xFF, 0xFF, 0xFF};
        return palette;
    }
    for (std::size_t i = 0; i < 16; ++i) {
        const std::size_t at = kHeaderPaletteAt + i * 3;
        palette[i] = Rgba{bytes[at], bytes[at + 1], bytes[at + 2], 0xFF};
    }
    return palette;
}

// Reads the run-length body as one stream of bytes.
class RunReader {
public:
    explicit RunReader(ByteView body) : body_(body) {}

    // Fills `out` completely, or returns false when the body ends first.
    bool read(std::span<std::uint8_t> out) {
        std::size_t filled = 0;
        while (filled < out.size()) {
            if (pending_ == 0) {
                if (!nextRun()) {
                    return false;
                }
                continue;
            }
            if (pending_ == 1) {
                out[filled++] = value_;  // noisy pictures are mostly single bytes: skip the fill
                pending_ = 0;
                continue;
            }
            const std::size_t n = std::min<std::size_t>(pending_, out.size() - filled);
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(filled), n, value_);
            filled += n;
            pending_ -= static_cast<unsigned>(n);
        }
        return true;
    }

    std::size_t position() const { return position_; }

private:
    bool nextRun() {
        if (position_ >= body_.size()) {
            return false;
        }
        const std::uint8_t byte = body_[position_++];
        if ((byte & 0xC0) != 0xC0) {
            pending_ = 1;
            value_ = byte;
            return true;
        }
        if (position_ >= body_.size()) {
            return false;
        }
        pending_ = byte & 0x3F;
        value_ = body_[position_++];
        return true;
    }

    ByteView body_;
    std::size_t position_ = 0;
    unsigned pending_ = 0;
    std::uint8_t value_ = 0;
};

// Single-plane 8-bit pixels are written as grey, which doubles as their palette index.
void convertRow(const std::uint8_t* line, const Header& header, const Palette& palette,
                std::uint8_t* out) {
    const std::size_t bpl = header.bytesPerLine;
    const unsigned bits = header.bitsPerPixel;
    for (std::size_t x = 0; x < header.width; ++x, out += 4) {
        if (header.trueColour()) {
            out[0] = line[x];
            out[1] = line[bpl + x];
            out[2] = line[2 * bpl + x];
            out[3] = header.planes == 4 ? line[3 * bpl + x] : 0xFF;
        } else if (header.grey()) {
            out[0] = out[1] = out[2] = line[x];
            out[3] = 0xFF;
        } else {
            const std::size_t bit = x * bits;
            const unsigned shift = 8 - bits - bit % 8;
            unsigned index = 0;
            for (unsigned p = 0; p < header.planes; ++p) {
                const unsigned value = (line[p * bpl + bit / 8] >> shift) & ((1u << bits) - 1);
                index |= value << (p * bits);
            }
            std::copy(palette[index].begin(), palette[index].end(), out);
        }
    }
}

void applyVgaPalette(ByteView bytes, std::size_t bodyEnd, Frame& frame) {
    if (bytes.size() - kHeaderSize < bodyEnd + kVgaPaletteSize ||
        bytes[bytes.size() - kVgaPaletteSize] != kVgaPaletteMarker) {
        return;  // no palette after the body: keep the grey ramp
    }
    const std::uint8_t* table = bytes.data() + bytes.size() - kVgaPaletteSize + 1;
    for (std::size_t i = 0; i < frame.rgba.size(); i += 4) {
        const std::uint8_t* colour = table + frame.rgba[i] * 3;
        std::copy(colour, colour + 3, frame.rgba.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

}  // namespace

namespace detail {

std::optional<Image> decodePcx(ByteView bytes, PixelBudget& budget) {
    const auto header = parseHeader(bytes);
    if (!header) {
        return std::nullopt;
    }
    // A two-byte run gives at most 63 bytes: refuse a body too small for the claimed size
    // before allocating for it.
    const std::size_t lineBytes = header->bytesPerLine * header->planes;
    const std::uint64_t total = std::uint64_t{lineBytes} * header->height;
    const std::uint64_t fewestBodyBytes = total / kLongestRun * 2 + (total % kLongestRun != 0);
    const ByteView body = bytes.subspan(kHeaderSize);
    if (body.size() < fewestBodyBytes) {
        return std::nullopt;
    }
    auto frame = makeFrame(header->width, header->height, budget);
    if (!frame) {
        return std::nullopt;
    }
    const Palette palette = headerPalette(bytes, *header);
    RunReader reader(body);
    std::vector<std::uint8_t> line(lineBytes);
    for (std::uint32_t y = 0; y < header->height; ++y) {
        if (!reader.read(line)) {
            return std::nullopt;
        }
        convertRow(line.data(), *header, palette, frame->pixel(0, y));
    }
    if (header->grey()) {
        applyVgaPalette(bytes, reader.position(), *frame);
    }
    Image image;
    image.frames.push_back(std::move(*frame));
    return image;
}

}  // namespace detail
}  // namespace sorvane::imaging
