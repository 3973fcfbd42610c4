// Placeholder until the codec lands: recognises nothing, encodes nothing.
#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace detail {
std::optional<Image> decodePcx(ByteView, PixelBudget&) { return std::nullopt; }
}  // namespace detail
}  // namespace sorvane::imaging
