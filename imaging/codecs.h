// The decoders behind decode(); each takes the whole file and a budget shared by all its frames.
#pragma once

#include "imaging/image.h"

namespace sorvane::imaging::detail {

std::optional<Image> decodeBmp(ByteView bytes, PixelBudget& budget);
std::optional<Image> decodeJpeg(ByteView bytes, PixelBudget& budget);
std::optional<Image> decodePng(ByteView bytes, PixelBudget& budget);
std::optional<Image> decodeGif(ByteView bytes, PixelBudget& budget);
std::optional<Image> decodeIco(ByteView bytes, PixelBudget& budget);  // ICO and CUR
std::optional<Image> decodePcx(ByteView bytes, PixelBudget& budget);

// A BMP without its 14-byte file header, as ICO and CUR entries store it. The height in the
// header counts the colour rows and the AND mask rows together when `iconEntry` is true.
std::optional<Frame> decodeDib(ByteView dib, PixelBudget& budget, bool iconEntry);

}  // namespace sorvane::imaging::detail
