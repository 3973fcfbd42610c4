// Placeholder until the codec lands: recognises nothing, encodes nothing.
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace detail {
std::optional<Image> decodeJpeg(ByteView, PixelBudget&) { return std::nullopt; }
}  // namespace detail
Bytes encodeJpeg(const Frame&) { return {}; }
}  // namespace sorvane::imaging
