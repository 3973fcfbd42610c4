// GIF through giflib 5.2, from and to memory.
//
// Decoding walks the file record by record (DGifGetRecordType, DGifGetImageDesc, DGifGetLine)
// instead of DGifSlurp, which would hold every frame's raster at once. Each frame is decoded a
// row at a time straight onto a copy of the previous composed frame, so the PixelBudget and the
// caps below stop a file as soon as they are spent, keeping the frames already done.
//
// Choices for what the format leaves open or what damaged files get wrong:
// - The canvas is the logical screen, grown to take in the first frame when that frame reaches
//   beyond it (a screen of 0 x 0 becomes the first frame's extent). Later frames are clipped.
// - The background colour is ignored: the canvas starts transparent and disposal 2 clears to
//   transparent, as browsers do. Disposal values above 3 keep the frame, like 0 and 1.
// - A frame without any colour map (no local, no global) is drawn with a grey ramp, index i as
//   grey level i; an index past the end of a short colour map is opaque black.
// - Delays under 2 hundredths play as 100 ms, as browsers do. A single-frame image is a still
//   picture and gets delayMs 0 whatever its control block says.
// - A frame cut short, or any other read error, ends the image: the frames completed before it
//   are kept, and with none completed there is no image.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "imaging/codecs.h"

namespace sorvane::imaging {
namespace {

// Frames past this many are dropped: it bounds giflib's per-frame bookkeeping and the time a file
// of endless tiny frames can take.
constexpr std::size_t kMaxFrames = 4096;
// Pixels giflib may decompress for one file, counting those clipped away outside the canvas.
// Twice what the budget can ever show, so only a decompression bomb (a few hundred bytes of LZW
// codes expand to a million pixels) reaches it.
constexpr std::uint64_t kMaxDecodedPixels = kMaxPixelBytes / 2;

// ---- Decoding ----------------------------------------------------------------------------

// Hands giflib the caller's bytes and never reads past their end: a short count is an error
// to giflib.
struct ByteSource {
    ByteView bytes;
    std::size_t offset = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int wanted) {
    auto* source = static_cast<ByteSource*>(gif->UserData);
    if (wanted <= 0) {
        return 0;
    }
    const std::size_t count =
        std::min(static_cast<std::size_t>(wanted), source->bytes.size() - source->offset);
    if (count > 0) {
        std::memcpy(out, source->bytes.data() + source->offset, count);
        source->offset += count;
    }
    return static_cast<int>(count);
}

struct DecoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using DecoderPtr = std::unique_ptr<GifFileType, DecoderCloser>;

// The part of a frame that lands on the canvas, in canvas coordinates.
struct Area {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// RGBA for each of the 256 possible indexes; alpha 0 marks an index that leaves the canvas as is.
using Palette = std::array<std::array<std::uint8_t, 4>, 256>;

Palette makePalette(const ColorMapObject* map, int transparentIndex) {
    Palette palette{};
    const bool hasMap = map != nullptr && map->Colors != nullptr;
    const int mapSize = hasMap ? std::clamp(map->ColorCount, 0, 256) : 0;
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        if (!hasMap) {
            palette[i] = {level, level, level, 0xFF};
        } else if (i < mapSize) {
            const GifColorType& c = map->Colors[i];
            palette[i] = {c.Red, c.Green, c.Blue, 0xFF};
        } else {
            palette[i] = {0, 0, 0, 0xFF};
        }
    }
    if (transparentIndex >= 0 && transparentIndex < 256) {
        palette[transparentIndex][3] = 0;
    }
    return palette;
}

int delayMs(int hundredths) {
    return hundredths < 2 ? 100 : hundredths * 10;
}

GraphicsControlBlock noControl() {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.UserInputFlag = false;
    control.DelayTime = 0;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    return control;
}

// Row order of a frame: one pass top to bottom, or the four interlace passes.
struct Pass {
    std::uint32_t first;
    std::uint32_t step;
};
constexpr std::array<Pass, 1> kProgressive{{{0, 1}}};
constexpr std::array<Pass, 4> kInterlaced{{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};

class GifDecoder {
public:
    GifDecoder(GifFileType& gif, PixelBudget& budget) : gif_(gif), budget_(budget) {}

    std::optional<Image> run() {
        while (readRecord()) {
        }
        if (image_.frames.empty()) {
            return std::nullopt;
        }
        if (image_.frames.size() == 1) {
            image_.frames.front().delayMs = 0;
        }
        return std::move(image_);
    }

private:
    // False at the trailer, on any error, or once a limit is reached.
    bool readRecord() {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(&gif_, &type) == GIF_ERROR) {
            return false;
        }
        switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                return readFrame();
            case EXTENSION_RECORD_TYPE:
                return readExtension();
            default:
                return false;
        }
    }

    bool readExtension() {
        int code = 0;
        GifByteType* block = nullptr;  // giflib's own buffer: [0] is the length, then the data
        if (DGifGetExtension(&gif_, &code, &block) == GIF_ERROR) {
            return false;
        }
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
            GraphicsControlBlock control = noControl();
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
                control_ = control;  // a malformed block is ignored
            }
        }
        const bool loopBlock = code == APPLICATION_EXT_FUNC_CODE && isLoopApplication(block);
        while (block != nullptr) {
            if (DGifGetExtensionNext(&gif_, &block) == GIF_ERROR) {
                return false;
            }
            // Sub-block 1 of the looping extension: the repeat count, 0 for ever.
            if (loopBlock && block != nullptr && block[0] >= 3 && block[1] == 1) {
                const int repeats = block[2] | (block[3] << 8);
                image_.loopCount = repeats == 0 ? 0 : repeats + 1;
            }
        }
        return true;
    }

    static bool isLoopApplication(const GifByteType* block) {
        if (block == nullptr || block[0] != 11) {
            return false;
        }
        return std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
               std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0;
    }

    bool readFrame() {
        if (image_.frames.size() >= kMaxFrames || DGifGetImageDesc(&gif_) == GIF_ERROR) {
            return false;
        }
        const GifImageDesc& desc = gif_.Image;
        if (image_.frames.empty()) {
            chooseCanvas(desc);
        }
        std::optional<Frame> frame = startFrame();
        if (!frame) {
            return false;
        }
        const Area area = visibleArea(desc);
        const int disposal = control_.DisposalMode;
        if (disposal == DISPOSE_PREVIOUS && !saveArea(*frame, area)) {
            return false;
        }
        const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif_.SColorMap;
        if (!drawFrame(*frame, desc, area, makePalette(map, control_.TransparentColor))) {
            return false;
        }
        frame->delayMs = delayMs(control_.DelayTime);
        previousArea_ = area;
        previousDisposal_ = disposal;
        control_ = noControl();
        image_.frames.push_back(std::move(*frame));
        forgetSavedImages();
        return true;
    }

    // The first frame starts from a transparent canvas, every later one from the frame before
    // with that frame's disposal applied.
    std::optional<Frame> startFrame() {
        if (image_.frames.empty()) {
            return makeFrame(width_, height_, budget_);
        }
        if (!budget_.take(width_, height_)) {
            return std::nullopt;
        }
        Frame frame = image_.frames.back();  // the copy the budget was just charged for
        disposePrevious(frame);
        return frame;
    }

    // Even record by record, giflib appends every image descriptor (and a copy of its local
    // colour map) to SavedImages, growing the array by one entry each time: quadratic in the
    // number of frames. Nothing here reads that list, so it is emptied after each frame.
    void forgetSavedImages() {
        GifFreeSavedImages(&gif_);
        gif_.SavedImages = nullptr;
        gif_.ImageCount = 0;
    }

    // The logical screen, grown to the first frame's extent; the budget refuses a side over
    // kMaxDimension.
    void chooseCanvas(const GifImageDesc& desc) {
        const auto right = std::uint64_t(desc.Left) + std::uint64_t(desc.Width);
        const auto bottom = std::uint64_t(desc.Top) + std::uint64_t(desc.Height);
        width_ = std::max(std::uint64_t(gif_.SWidth), right);
        height_ = std::max(std::uint64_t(gif_.SHeight), bottom);
    }

    Area visibleArea(const GifImageDesc& desc) const {
        const auto left = std::uint64_t(desc.Left);
        const auto top = std::uint64_t(desc.Top);
        if (left >= width_ || top >= height_) {
            return {};
        }
        return {static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top),
                static_cast<std::uint32_t>(std::min(std::uint64_t(desc.Width), width_ - left)),
                static_cast<std::uint32_t>(std::min(std::uint64_t(desc.Height), height_ - top))};
    }

    void disposePrevious(Frame& frame) const {
        if (previousDisposal_ != DISPOSE_BACKGROUND && previousDisposal_ != DISPOSE_PREVIOUS) {
            return;
        }
        const std::size_t rowBytes = std::size_t{previousArea_.width} * 4;
        for (std::uint32_t row = 0; row < previousArea_.height; ++row) {
            std::uint8_t* out = frame.pixel(previousArea_.x, previousArea_.y + row);
            if (previousDisposal_ == DISPOSE_BACKGROUND) {
                std::memset(out, 0, rowBytes);
            } else {
                std::memcpy(out, saved_.data() + row * rowBytes, rowBytes);
            }
        }
    }

    // Keeps what lies under `area` for a frame that restores it afterwards. The buffer can hold a
    // whole canvas and is charged to the budget once, the first time it is needed.
    bool saveArea(const Frame& frame, const Area& area) {
        if (!savedCharged_) {
            if (!budget_.take(width_, height_)) {
                return false;
            }
            savedCharged_ = true;
            saved_.reserve(static_cast<std::size_t>(width_ * height_ * 4));
        }
        const std::size_t rowBytes = std::size_t{area.width} * 4;
        saved_.resize(rowBytes * area.height);
        for (std::uint32_t row = 0; row < area.height; ++row) {
            std::memcpy(saved_.data() + row * rowBytes, frame.pixel(area.x, area.y + row),
                        rowBytes);
        }
        return true;
    }

    // Decodes the frame's rows in file order and paints the visible ones. Once every visible row
    // is painted, the rest of the LZW data is skipped without being decompressed.
    bool drawFrame(Frame& frame, const GifImageDesc& desc, const Area& area,
                   const Palette& palette) {
        if (area.width == 0 || area.height == 0) {
            return skipImageData();
        }
        const auto frameWidth = static_cast<std::uint32_t>(desc.Width);
        const auto frameHeight = static_cast<std::uint32_t>(desc.Height);
        line_.resize(frameWidth);
        std::uint32_t rowsToPaint = area.height;
        const std::span<const Pass> passes = desc.Interlace ? std::span<const Pass>(kInterlaced)
                                                            : std::span<const Pass>(kProgressive);
        for (const Pass& pass : passes) {
            for (std::uint32_t row = pass.first; row < frameHeight; row += pass.step) {
                if (rowsToPaint == 0) {
                    return skipImageData();
                }
                decodedPixels_ += frameWidth;
                if (decodedPixels_ > kMaxDecodedPixels ||
                    DGifGetLine(&gif_, line_.data(), static_cast<int>(frameWidth)) == GIF_ERROR) {
                    return false;
                }
                if (row < area.height) {
                    paintRow(frame, area, row, palette);
                    --rowsToPaint;
                }
            }
        }
        return true;  // giflib consumed the data's end with the last row
    }

    void paintRow(Frame& frame, const Area& area, std::uint32_t row, const Palette& palette) const {
        std::uint8_t* out = frame.pixel(area.x, area.y + row);
        for (std::uint32_t x = 0; x < area.width; ++x, out += 4) {
            const auto& colour = palette[line_[x]];
            if (colour[3] != 0) {
                std::memcpy(out, colour.data(), 4);
            }
        }
    }

    // Reads past the rest of the frame's data sub-blocks up to the empty one that ends them.
    bool skipImageData() {
        GifByteType* block = nullptr;
        do {
            if (DGifGetCodeNext(&gif_, &block) == GIF_ERROR) {
                return false;
            }
        } while (block != nullptr);
        return true;
    }

    GifFileType& gif_;
    PixelBudget& budget_;
    Image image_;
    std::uint64_t width_ = 0;  // canvas, fixed by the first frame
    std::uint64_t height_ = 0;
    GraphicsControlBlock control_ = noControl();  // for the next frame only
    Area previousArea_;
    int previousDisposal_ = DISPOSAL_UNSPECIFIED;
    std::vector<std::uint8_t> saved_;  // rows of previousArea_ for DISPOSE_PREVIOUS
    bool savedCharged_ = false;
    std::vector<GifPixelType> line_;
    std::uint64_t decodedPixels_ = 0;
};

// ---- Encoding ----------------------------------------------------------------------------

// Alpha under this is written as the transparent index, the rest as opaque: GIF has no partial
// transparency.
constexpr std::uint8_t kOpaqueAlpha = 128;

bool isTransparent(const std::uint8_t* pixel) {
    return pixel[3] < kOpaqueAlpha;
}

std::uint32_t rgbKey(const std::uint8_t* pixel) {
    return std::uint32_t{pixel[0]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[2];
}

// A frame as palette indexes. When any pixel is transparent, index 0 is the transparent entry
// and the colours start at 1.
struct Indexed {
    std::vector<GifColorType> colours;
    std::vector<GifPixelType> pixels;
    int transparentIndex = NO_TRANSPARENT_COLOR;
};

Indexed startIndexed(const Frame& frame, bool hasTransparency) {
    Indexed indexed;
    indexed.pixels.resize(std::size_t{frame.width} * frame.height);
    if (hasTransparency) {
        indexed.colours.push_back({0, 0, 0});
        indexed.transparentIndex = 0;
    }
    return indexed;
}

// Every colour as it is, or nothing when there are more than the palette holds.
std::optional<Indexed> exactPalette(const Frame& frame, bool hasTransparency) {
    Indexed indexed = startIndexed(frame, hasTransparency);
    std::unordered_map<std::uint32_t, GifPixelType> lookup;
    for (std::size_t i = 0; i < indexed.pixels.size(); ++i) {
        const std::uint8_t* pixel = frame.rgba.data() + i * 4;
        if (isTransparent(pixel)) {
            indexed.pixels[i] = 0;
            continue;
        }
        const auto [entry, added] =
            lookup.try_emplace(rgbKey(pixel), static_cast<GifPixelType>(indexed.colours.size()));
        if (added) {
            if (indexed.colours.size() == 256) {
                return std::nullopt;
            }
            indexed.colours.push_back({pixel[0], pixel[1], pixel[2]});
        }
        indexed.pixels[i] = entry->second;
    }
    return indexed;
}

// Median cut over a histogram of 5 bits a channel: the box with the widest channel is split at
// its pixel-weighted median along that channel until the palette is full. Each palette colour
// is the mean of its box's real colours, and each histogram cell takes the palette colour
// nearest to its own mean.
constexpr int kCellBits = 5;
constexpr std::size_t kCells = std::size_t{1} << (3 * kCellBits);

struct Cell {
    std::uint64_t count = 0;
    std::array<std::uint64_t, 3> sum{};
};

int cellChannel(std::size_t cell, int channel) {
    return static_cast<int>(cell >> ((2 - channel) * kCellBits)) & ((1 << kCellBits) - 1);
}

std::size_t cellOf(const std::uint8_t* pixel) {
    return std::size_t{pixel[0]} >> 3 << 10 | std::size_t{pixel[1]} >> 3 << 5 | pixel[2] >> 3;
}

struct Box {
    std::size_t begin;  // range in the list of used cells
    std::size_t end;
    int channel = 0;  // the box's widest channel and its width in cells
    int side = 0;
};

Box makeBox(const std::vector<std::size_t>& cells, std::size_t begin, std::size_t end) {
    Box box{begin, end};
    for (int channel = 0; channel < 3; ++channel) {
        int low = 1 << kCellBits;
        int high = -1;
        for (std::size_t i = begin; i < end; ++i) {
            low = std::min(low, cellChannel(cells[i], channel));
            high = std::max(high, cellChannel(cells[i], channel));
        }
        if (high - low > box.side) {
            box.channel = channel;
            box.side = high - low;
        }
    }
    return box;
}

// Splits the box at its weighted median along its widest channel into two boxes of at least
// one cell each.
std::pair<Box, Box> splitBox(std::vector<std::size_t>& cells, const std::vector<Cell>& histogram,
                             const Box& box) {
    const int channel = box.channel;
    std::sort(cells.begin() + static_cast<std::ptrdiff_t>(box.begin),
              cells.begin() + static_cast<std::ptrdiff_t>(box.end),
              [channel](std::size_t a, std::size_t b) {
                  return cellChannel(a, channel) < cellChannel(b, channel);
              });
    std::uint64_t total = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        total += histogram[cells[i]].count;
    }
    std::size_t split = box.begin + 1;
    std::uint64_t below = histogram[cells[box.begin]].count;
    while (split + 1 < box.end && below * 2 < total) {
        below += histogram[cells[split]].count;
        ++split;
    }
    return {makeBox(cells, box.begin, split), makeBox(cells, split, box.end)};
}

std::vector<Box> medianCut(std::vector<std::size_t>& cells, const std::vector<Cell>& histogram,
                           std::size_t colours) {
    std::vector<Box> boxes{makeBox(cells, 0, cells.size())};
    while (boxes.size() < colours) {
        // Distinct cells differ in some channel, so a box of one cell is the only one of side 0.
        const auto widest = std::max_element(
            boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.side < b.side; });
        if (widest->side == 0) {
            break;
        }
        auto [lower, upper] = splitBox(cells, histogram, *widest);
        *widest = lower;
        boxes.push_back(upper);
    }
    return boxes;
}

GifColorType boxMean(const std::vector<std::size_t>& cells, const std::vector<Cell>& histogram,
                     const Box& box) {
    std::uint64_t count = 0;
    std::array<std::uint64_t, 3> sum{};
    for (std::size_t i = box.begin; i < box.end; ++i) {
        const Cell& cell = histogram[cells[i]];
        count += cell.count;
        for (int c = 0; c < 3; ++c) {
            sum[c] += cell.sum[c];
        }
    }
    const auto mean = [&](int c) { return static_cast<GifByteType>((sum[c] + count / 2) / count); };
    return {mean(0), mean(1), mean(2)};
}

int distance(const std::array<std::uint64_t, 3>& mean, const GifColorType& colour) {
    const int dr = static_cast<int>(mean[0]) - colour.Red;
    const int dg = static_cast<int>(mean[1]) - colour.Green;
    const int db = static_cast<int>(mean[2]) - colour.Blue;
    return dr * dr + dg * dg + db * db;
}

Indexed quantisedPalette(const Frame& frame, bool hasTransparency) {
    Indexed indexed = startIndexed(frame, hasTransparency);
    std::vector<Cell> histogram(kCells);
    for (std::size_t i = 0; i < indexed.pixels.size(); ++i) {
        const std::uint8_t* pixel = frame.rgba.data() + i * 4;
        if (!isTransparent(pixel)) {
            Cell& cell = histogram[cellOf(pixel)];
            ++cell.count;
            for (int c = 0; c < 3; ++c) {
                cell.sum[c] += pixel[c];
            }
        }
    }
    std::vector<std::size_t> cells;
    for (std::size_t cell = 0; cell < kCells; ++cell) {
        if (histogram[cell].count > 0) {
            cells.push_back(cell);
        }
    }
    const std::size_t first = indexed.colours.size();
    for (const Box& box : medianCut(cells, histogram, 256 - first)) {
        indexed.colours.push_back(boxMean(cells, histogram, box));
    }
    std::vector<GifPixelType> indexOfCell(kCells, 0);
    for (const std::size_t cell : cells) {
        std::array<std::uint64_t, 3> mean{};
        for (int c = 0; c < 3; ++c) {
            mean[c] = (histogram[cell].sum[c] + histogram[cell].count / 2) / histogram[cell].count;
        }
        std::size_t best = first;
        for (std::size_t entry = first + 1; entry < indexed.colours.size(); ++entry) {
            if (distance(mean, indexed.colours[entry]) < distance(mean, indexed.colours[best])) {
                best = entry;
            }
        }
        indexOfCell[cell] = static_cast<GifPixelType>(best);
    }
    for (std::size_t i = 0; i < indexed.pixels.size(); ++i) {
        const std::uint8_t* pixel = frame.rgba.data() + i * 4;
        indexed.pixels[i] = isTransparent(pixel) ? 0 : indexOfCell[cellOf(pixel)];
    }
    return indexed;
}

Indexed toIndexed(const Frame& frame) {
    bool hasTransparency = false;
    for (std::size_t i = 3; i < frame.rgba.size(); i += 4) {
        hasTransparency = hasTransparency || frame.rgba[i] < kOpaqueAlpha;
    }
    if (auto exact = exactPalette(frame, hasTransparency)) {
        return std::move(*exact);
    }
    return quantisedPalette(frame, hasTransparency);
}

int writeToMemory(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    try {
        out->insert(out->end(), data, data + length);
    } catch (...) {
        return 0;  // giflib sees a short write; no exception crosses its C frames
    }
    return length;
}

struct EncoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
using EncoderPtr = std::unique_ptr<GifFileType, EncoderCloser>;

struct ColourMapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColourMapPtr = std::unique_ptr<ColorMapObject, ColourMapFree>;

// Pads the palette with black to a power of two, at least 2 entries, as GIF requires.
ColourMapPtr makeColourMap(std::vector<GifColorType> colours) {
    const int bits = GifBitSize(static_cast<int>(colours.size()));
    colours.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});
    return ColourMapPtr(GifMakeMapObject(1 << bits, colours.data()));
}

bool writeFrame(GifFileType* gif, const Frame& frame, Indexed& indexed) {
    const ColourMapPtr map = makeColourMap(indexed.colours);
    if (!map) {
        return false;
    }
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    EGifSetGifVersion(gif, true);
    if (EGifPutScreenDesc(gif, width, height, map->BitsPerPixel, 0, map.get()) == GIF_ERROR) {
        return false;
    }
    if (indexed.transparentIndex != NO_TRANSPARENT_COLOR) {
        GraphicsControlBlock control = noControl();
        control.TransparentColor = indexed.transparentIndex;
        std::array<GifByteType, 4> block{};
        const auto length = static_cast<int>(EGifGCBToExtension(&control, block.data()));
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, length, block.data()) == GIF_ERROR) {
            return false;
        }
    }
    if (EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_ERROR) {
        return false;
    }
    for (int row = 0; row < height; ++row) {
        GifPixelType* line = indexed.pixels.data() + std::size_t(row) * frame.width;
        if (EGifPutLine(gif, line, width) == GIF_ERROR) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace detail {

std::optional<Image> decodeGif(ByteView bytes, PixelBudget& budget) {
    ByteSource source{bytes};
    int error = 0;
    const DecoderPtr gif(DGifOpen(&source, readFromMemory, &error));
    if (!gif || gif->SWidth > static_cast<int>(kMaxDimension) ||
        gif->SHeight > static_cast<int>(kMaxDimension)) {
        return std::nullopt;
    }
    return GifDecoder(*gif, budget).run();
}

}  // namespace detail

Bytes encodeGif(const Frame& frame) {
    constexpr std::uint32_t kMaxSide = 0xFFFF;  // sides are 16-bit fields
    if (frame.width == 0 || frame.height == 0 || frame.width > kMaxSide ||
        frame.height > kMaxSide ||
        frame.rgba.size() != std::uint64_t{frame.width} * frame.height * 4) {
        return {};
    }
    Indexed indexed = toIndexed(frame);
    Bytes out;
    int error = 0;
    EncoderPtr gif(EGifOpen(&out, writeToMemory, &error));
    if (!gif || !writeFrame(gif.get(), frame, indexed)) {
        return {};
    }
    // Closing writes the trailer; giflib ignores a failed write there, so look for it.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR || out.empty() || out.back() != ';') {
        return {};
    }
    return out;
}

}  // namespace sorvane::imaging
