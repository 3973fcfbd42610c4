// Placeholder until the codec lands: recognises nothing, encodes nothing.
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace detail {
std::optional<Image> decodeBmp(ByteView, PixelBudget&) { return std::nullopt; }
}  // namespace detail
Bytes encodeBmp(const Frame&) { return {}; }
}  // namespace sorvane::imaging
namespace sorvane::imaging::detail {
std::optional<Frame> decodeDib(ByteView, PixelBudget&, bool) { return std::nullopt; }
}  // namespace sorvane::imaging::detail
