// Our own ICO and CUR decoder. Each directory entry is a DIB (read by the BMP codec) or a whole
// PNG file. We show the largest entry, and of those the deepest; when it does not decode we try
// the next best. All attempts spend from one pixel budget, so a file full of broken entries cannot
// make us allocate more than a single budget allows.
#include <algorithm>
#include <array>
#include <vector>

#include "imaging/bmp_internal.h"
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

using detail::readLe16;
using detail::readLe32;

constexpr std::size_t kIconHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint16_t kIconType = 1;
constexpr std::uint16_t kCursorType = 2;
constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct Entry {
    std::uint32_t area = 0;
    std::uint32_t bitCount = 0;
    ByteView bytes;
};

bool isPng(ByteView bytes) {
    return bytes.size() >= kPngSignature.size() &&
           std::equal(kPngSignature.begin(), kPngSignature.end(), bytes.begin());
}

// Bits a pixel as the entry itself says: from a PNG's IHDR, or a DIB's biBitCount.
std::uint32_t embeddedBitCount(ByteView bytes) {
    if (!isPng(bytes)) {
        constexpr std::uint32_t kCoreHeaderSize = 12;  // keeps its bit count at byte 10
        return readLe16(bytes, readLe32(bytes, 0) == kCoreHeaderSize ? 10 : 14);
    }
    constexpr std::size_t kDepthAt = 24;  // signature, chunk length and type, width, height
    if (bytes.size() < kDepthAt + 2) {
        return 0;
    }
    const std::uint32_t depth = bytes[kDepthAt];
    switch (bytes[kDepthAt + 1]) {  // colour type
        case 2:
            return depth * 3;
        case 4:
            return depth * 2;
        case 6:
            return depth * 4;
        default:
            return depth;  // grey or palette
    }
}

// Entries whose bytes lie outside the file are left out.
std::vector<Entry> readDirectory(ByteView bytes, bool cursor) {
    const std::size_t count = readLe16(bytes, 4);
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kIconHeaderSize + i * kEntrySize;
        if (at + kEntrySize > bytes.size()) {
            break;
        }
        const std::uint32_t width = bytes[at] == 0 ? 256 : bytes[at];
        const std::uint32_t height = bytes[at + 1] == 0 ? 256 : bytes[at + 1];
        const std::uint32_t size = readLe32(bytes, at + 8);
        const std::uint32_t offset = readLe32(bytes, at + 12);
        if (size == 0 || offset > bytes.size() || bytes.size() - offset < size) {
            continue;
        }
        Entry entry{width * height, 0, bytes.subspan(offset, size)};
        // A cursor keeps its hot spot where an icon keeps planes and bit count.
        entry.bitCount = cursor ? 0 : readLe16(bytes, at + 6);
        if (entry.bitCount == 0) {
            entry.bitCount = embeddedBitCount(entry.bytes);
        }
        entries.push_back(entry);
    }
    return entries;
}

std::optional<Frame> decodeEntry(ByteView bytes, PixelBudget& budget) {
    if (!isPng(bytes)) {
        return detail::decodeDib(bytes, budget, true);
    }
    auto image = detail::decodePng(bytes, budget);
    if (!image || image->frames.empty()) {
        return std::nullopt;
    }
    Frame frame = std::move(image->frames.front());
    frame.delayMs = 0;
    return frame;
}

}  // namespace

namespace detail {

std::optional<Image> decodeIco(ByteView bytes, PixelBudget& budget) {
    if (bytes.size() < kIconHeaderSize || readLe16(bytes, 0) != 0) {
        return std::nullopt;
    }
    const std::uint16_t type = readLe16(bytes, 2);
    if (type != kIconType && type != kCursorType) {
        return std::nullopt;
    }
    std::vector<Entry> entries = readDirectory(bytes, type == kCursorType);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.area != b.area ? a.area > b.area : a.bitCount > b.bitCount;
    });
    for (const Entry& entry : entries) {
        if (auto frame = decodeEntry(entry.bytes, budget)) {
            Image image;
            image.frames.push_back(std::move(*frame));
            return image;
        }
    }
    return std::nullopt;
}

}  // namespace detail
}  // namespace sorvane::imaging
