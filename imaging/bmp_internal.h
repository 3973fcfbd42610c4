// Little-endian field readers shared by our own BMP, ICO and PCX codecs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace sorvane::imaging::detail {

// A field that does not lie wholly inside the bytes reads as 0; callers still check sizes first,
// this only keeps a missed check from turning into an out-of-bounds read.
inline std::uint16_t readLe16(ByteView bytes, std::size_t at) {
    if (at > bytes.size() || bytes.size() - at < 2) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline std::uint32_t readLe32(ByteView bytes, std::size_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) {
        return 0;
    }
    return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) |
           (std::uint32_t{bytes[at + 2]} << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

}  // namespace sorvane::imaging::detail
