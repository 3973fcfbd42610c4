// Placeholder until the codec lands: recognises nothing, encodes nothing.
#include "imaging/codecs.h"

namespace sorvane::imaging {
Bytes encodeTiff(const Frame&) { return {}; }
}  // namespace sorvane::imaging
