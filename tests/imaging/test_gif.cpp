// GIF decoding and encoding. The fixtures are written with giflib's own encoder into memory, so
// every frame, control block, colour map and loop block is exactly what the test says; the few
// things giflib refuses to write (no colour map, indexes past the map, runaway LZW data) are
// patched or assembled by hand.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "imaging/codecs.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using namespace fixtures;
using fixtures::PrintTo;

// ---- Writing fixtures --------------------------------------------------------------------

// The 16-entry global colour map of every fixture; expected pictures name these by hex digit.
GifColorType paletteColour(int index) {
    return {static_cast<GifByteType>(index * 16 + 5), static_cast<GifByteType>(250 - index * 15),
            static_cast<GifByteType>((index * 7 % 16) * 16)};
}

std::vector<GifColorType> globalColours() {
    std::vector<GifColorType> colours;
    for (int i = 0; i < 16; ++i) {
        colours.push_back(paletteColour(i));
    }
    return colours;
}

// A local map holding the global colours in reverse: index i shows global colour 15 - i.
std::vector<GifColorType> reversedColours() {
    auto colours = globalColours();
    std::reverse(colours.begin(), colours.end());
    return colours;
}

struct Control {
    Control(int disposalMode = DISPOSAL_UNSPECIFIED, int delayTime = 0,
            int transparentIndex = NO_TRANSPARENT_COLOR)
        : disposal(disposalMode), delay(delayTime), transparent(transparentIndex) {}
    int disposal;
    int delay;  // hundredths of a second
    int transparent;
};

struct FrameSpec {
    FrameSpec(int x, int y, std::string indexes, std::optional<Control> controlBlock = Control{},
              bool interlace = false, bool reversedLocal = false)
        : left(x),
          top(y),
          pixels(std::move(indexes)),
          control(controlBlock),
          interlaced(interlace),
          reversedLocalMap(reversedLocal) {}
    int left;
    int top;
    std::string pixels;  // palette indexes as hex digits, rows separated by spaces: "01 23"
    std::optional<Control> control;
    bool interlaced;
    bool reversedLocalMap;
};

struct GifSpec {
    GifSpec(int screenWidth, int screenHeight, std::vector<FrameSpec> frameSpecs,
            std::optional<int> loopRepeats = std::nullopt, std::string application = "NETSCAPE2.0")
        : width(screenWidth),
          height(screenHeight),
          frames(std::move(frameSpecs)),
          loops(loopRepeats),
          loopApplication(std::move(application)) {}
    int width;
    int height;
    std::vector<FrameSpec> frames;
    std::optional<int> loops;  // repeat count in a looping application block
    std::string loopApplication;
};

std::vector<std::string> splitRows(const std::string& picture) {
    std::vector<std::string> rows;
    std::istringstream in(picture);
    for (std::string row; in >> row;) {
        rows.push_back(row);
    }
    return rows;
}

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("writing the fixture failed at ") + what);
    }
}

int appendBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using MapPtr = std::unique_ptr<ColorMapObject, MapFree>;

MapPtr makeMap(std::vector<GifColorType> colours) {
    return MapPtr(GifMakeMapObject(static_cast<int>(colours.size()), colours.data()));
}

struct EncoderClose {
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};

// Rows in the order the file stores them: top to bottom, or the four interlace passes.
std::vector<int> storedRowOrder(int height, bool interlaced) {
    std::vector<int> order;
    if (!interlaced) {
        for (int row = 0; row < height; ++row) {
            order.push_back(row);
        }
        return order;
    }
    const std::array<std::pair<int, int>, 4> passes{{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};
    for (const auto& [first, step] : passes) {
        for (int row = first; row < height; row += step) {
            order.push_back(row);
        }
    }
    return order;
}

void writeLoopBlock(GifFileType* gif, const GifSpec& spec) {
    check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK, "loop leader");
    check(EGifPutExtensionBlock(gif, 11, spec.loopApplication.data()) == GIF_OK, "loop name");
    const std::array<GifByteType, 3> count{1, static_cast<GifByteType>(*spec.loops & 0xFF),
                                           static_cast<GifByteType>(*spec.loops >> 8)};
    check(EGifPutExtensionBlock(gif, 3, count.data()) == GIF_OK, "loop count");
    check(EGifPutExtensionTrailer(gif) == GIF_OK, "loop trailer");
}

void writeFrameSpec(GifFileType* gif, const FrameSpec& frame) {
    if (frame.control) {
        GraphicsControlBlock control{frame.control->disposal, false, frame.control->delay,
                                     frame.control->transparent};
        std::array<GifByteType, 4> block{};
        const auto length = static_cast<int>(EGifGCBToExtension(&control, block.data()));
        check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, length, block.data()) == GIF_OK,
              "control block");
    }
    const auto rows = splitRows(frame.pixels);
    const int width = rows.empty() ? 0 : static_cast<int>(rows.front().size());
    const int height = static_cast<int>(rows.size());
    const MapPtr local = frame.reversedLocalMap ? makeMap(reversedColours()) : nullptr;
    check(EGifPutImageDesc(gif, frame.left, frame.top, width, height, frame.interlaced,
                           local.get()) == GIF_OK,
          "image descriptor");
    for (const int row : storedRowOrder(height, frame.interlaced)) {
        std::vector<GifPixelType> line;
        for (const char digit : rows[row]) {
            line.push_back(
                static_cast<GifPixelType>(std::stoi(std::string(1, digit), nullptr, 16)));
        }
        check(EGifPutLine(gif, line.data(), width) == GIF_OK, "pixels");
    }
    // giflib 5.2's encoder forgets its copy of a local map when the next frame has none.
    GifFreeMapObject(gif->Image.ColorMap);
    gif->Image.ColorMap = nullptr;
}

Bytes writeGif(const GifSpec& spec) {
    Bytes out;
    int error = 0;
    std::unique_ptr<GifFileType, EncoderClose> gif(EGifOpen(&out, appendBytes, &error));
    check(gif != nullptr, "open");
    EGifSetGifVersion(gif.get(), true);
    const MapPtr global = makeMap(globalColours());
    check(EGifPutScreenDesc(gif.get(), spec.width, spec.height, 4, 0, global.get()) == GIF_OK,
          "screen");
    if (spec.loops) {
        writeLoopBlock(gif.get(), spec);
    }
    for (const FrameSpec& frame : spec.frames) {
        writeFrameSpec(gif.get(), frame);
    }
    check(EGifCloseFile(gif.release(), &error) == GIF_OK, "close");
    return out;
}

// Cuts the 16-entry global map of a fixture down to `entries` (2, 4 or 8), or removes it for 0.
// The pixel data keeps its indexes, so some now point past the end of the map.
Bytes shrinkGlobalMap(Bytes gif, int entries) {
    constexpr std::size_t kMapStart = 13;  // after the signature and the screen descriptor
    std::uint8_t& flags = gif[10];
    if (entries == 0) {
        flags = static_cast<std::uint8_t>(flags & ~0x87);
        gif.erase(gif.begin() + kMapStart, gif.begin() + kMapStart + 48);
        return gif;
    }
    int bits = 1;
    while ((2 << (bits - 1)) < entries) {
        ++bits;
    }
    flags = static_cast<std::uint8_t>((flags & ~0x07) | (bits - 1));
    gif.erase(gif.begin() + kMapStart + 3 * entries, gif.begin() + kMapStart + 48);
    return gif;
}

// ---- Expected pictures -------------------------------------------------------------------

// Rows separated by spaces; a hex digit is that global colour, '.' transparent, '#' opaque black.
Frame picture(const std::string& text) {
    const auto rows = splitRows(text);
    Frame frame;
    frame.width = static_cast<std::uint32_t>(rows.front().size());
    frame.height = static_cast<std::uint32_t>(rows.size());
    for (const auto& row : rows) {
        for (const char c : row) {
            if (c == '.') {
                frame.rgba.insert(frame.rgba.end(), {0, 0, 0, 0});
            } else if (c == '#') {
                frame.rgba.insert(frame.rgba.end(), {0, 0, 0, 255});
            } else {
                const GifColorType colour =
                    paletteColour(std::stoi(std::string(1, c), nullptr, 16));
                frame.rgba.insert(frame.rgba.end(), {colour.Red, colour.Green, colour.Blue, 255});
            }
        }
    }
    return frame;
}

// ---- Composition -------------------------------------------------------------------------

struct ComposeCase {
    const char* desc;
    GifSpec gif;
    std::vector<std::string> expected;  // one picture per composed frame
};

class Compose : public testing::TestWithParam<ComposeCase> {};

TEST_P(Compose, EveryFrameIsTheWholeScreenComposed) {
    const auto image = decodeWithBudget(detail::decodeGif, writeGif(GetParam().gif));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), GetParam().expected.size());
    for (std::size_t i = 0; i < image->frames.size(); ++i) {
        EXPECT_TRUE(samePixels(image->frames[i], picture(GetParam().expected[i]))) << "frame " << i;
    }
}

FrameSpec disposing(int disposal, FrameSpec frame) {
    frame.control = Control{disposal};
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Compose,
    testing::Values(
        ComposeCase{"still picture", {3, 2, {{0, 0, "012 345"}}}, {"012 345"}},
        ComposeCase{"disposal 1 keeps the frame under the next, which sits at an offset",
                    {4, 2, {disposing(1, {0, 0, "1111 1111"}), {1, 1, "22"}}},
                    {"1111 1111", "1111 1221"}},
        ComposeCase{"disposal 0 keeps the frame too",
                    {3, 1, {disposing(0, {0, 0, "111"}), {2, 0, "2"}}},
                    {"111", "112"}},
        ComposeCase{"disposal 2 clears the frame's area to transparent",
                    {4, 2, {{0, 0, "1111 1111"}, disposing(2, {1, 0, "33 33"}), {3, 1, "4"}}},
                    {"1111 1111", "1331 1331", "1..1 1..4"}},
        ComposeCase{"disposal 3 restores what was under the frame",
                    {4, 2, {{0, 0, "1111 1111"}, disposing(3, {0, 0, "22 22"}), {3, 0, "4"}}},
                    {"1111 1111", "2211 2211", "1114 1111"}},
        ComposeCase{"disposal 3 on the first frame restores the empty screen",
                    {2, 1, {disposing(3, {0, 0, "55"}), {1, 0, "6"}}},
                    {"55", ".6"}},
        ComposeCase{
            "disposal 3 after disposal 2",
            {3,
             1,
             {{0, 0, "777"}, disposing(2, {0, 0, "8"}), disposing(3, {1, 0, "99"}), {0, 0, "a"}}},
            {"777", "877", ".99", "a77"}},
        ComposeCase{"transparent index shows the frame before",
                    {4, 2, {{0, 0, "1111 2222"}, {0, 0, "3f3f f3f3", Control{1, 0, 15}}}},
                    {"1111 2222", "3131 2323"}},
        ComposeCase{"transparent index on the first frame",
                    {2, 2, {{0, 0, "0e e0", Control{0, 0, 14}}}},
                    {"0. .0"}},
        ComposeCase{"a frame without a control block is opaque",
                    {2, 1, {{0, 0, "0f"}, {0, 0, "f0", std::nullopt}}},
                    {"0f", "f0"}},
        ComposeCase{"local colour map", {4, 1, {{0, 0, "0123", Control{}, false, true}}}, {"fedc"}},
        ComposeCase{"local colour map then back to the global one",
                    {2, 1, {{0, 0, "01", Control{}, false, true}, {1, 0, "1"}}},
                    {"fe", "f1"}},
        ComposeCase{"interlaced frame",
                    {1, 11, {{0, 0, "0 1 2 3 4 5 6 7 8 9 a", Control{}, true}}},
                    {"0 1 2 3 4 5 6 7 8 9 a"}},
        ComposeCase{
            "interlaced frame at an offset, clipped",
            {2, 6, {{0, 0, "ff ff ff ff ff ff"}, {1, 2, "01 23 45 67 89 ab cd", Control{}, true}}},
            {"ff ff ff ff ff ff", "ff ff f0 f2 f4 f6"}},
        ComposeCase{"a frame reaching past the screen is clipped",
                    {3, 2, {{0, 0, "111 111"}, {1, 1, "234 567 89a"}}},
                    {"111 111", "111 123"}},
        ComposeCase{"a frame wholly outside the screen changes nothing",
                    {2, 2, {{0, 0, "12 34"}, {5, 7, "55 55"}, {0, 1, "6"}}},
                    {"12 34", "12 34", "12 64"}},
        ComposeCase{"a screen smaller than the first frame grows to take it in",
                    {2, 1, {{1, 1, "12 34"}, {0, 0, "5"}}},
                    {"... .12 .34", "5.. .12 .34"}},
        ComposeCase{
            "a screen of 0 x 0 takes the first frame's extent", {0, 0, {{2, 0, "12"}}}, {"..12"}}));

// ---- Timing and looping ------------------------------------------------------------------

struct TimingCase {
    const char* desc;
    std::optional<Control> control;  // of both frames
    int expectedDelayMs;
};

class Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(Timing, DelayInMilliseconds) {
    const FrameSpec frame{0, 0, "1", GetParam().control};
    const auto image = decodeWithBudget(detail::decodeGif, writeGif({1, 1, {frame, frame}}));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 2u);
    for (const Frame& f : image->frames) {
        EXPECT_EQ(f.delayMs, GetParam().expectedDelayMs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Delays, Timing,
    testing::Values(TimingCase{"0 hundredths play as 100 ms", Control{0, 0}, 100},
                    TimingCase{"1 hundredth plays as 100 ms", Control{0, 1}, 100},
                    TimingCase{"2 hundredths are 20 ms", Control{0, 2}, 20},
                    TimingCase{"5 hundredths are 50 ms", Control{0, 5}, 50},
                    TimingCase{"the longest delay", Control{0, 65535}, 655350},
                    TimingCase{"no control block plays as 100 ms", std::nullopt, 100}));

TEST(GifTiming, AStillPictureHasNoDelay) {
    const auto image =
        decodeWithBudget(detail::decodeGif, writeGif({1, 1, {{0, 0, "1", Control{0, 50}}}}));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 1u);
    EXPECT_EQ(image->frames[0].delayMs, 0);
}

struct LoopCase {
    const char* desc;
    std::optional<int> loops;
    const char* application;
    int expectedLoopCount;
};

class Looping : public testing::TestWithParam<LoopCase> {};

TEST_P(Looping, LoopCountFromTheApplicationBlock) {
    GifSpec spec{1, 1, {{0, 0, "1"}, {0, 0, "2"}}, GetParam().loops, GetParam().application};
    const auto image = decodeWithBudget(detail::decodeGif, writeGif(spec));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->loopCount, GetParam().expectedLoopCount);
    EXPECT_EQ(image->frames.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Loops, Looping,
    testing::Values(LoopCase{"no block plays once", std::nullopt, "NETSCAPE2.0", 1},
                    LoopCase{"0 loops for ever", 0, "NETSCAPE2.0", 0},
                    LoopCase{"3 repeats play 4 times", 3, "NETSCAPE2.0", 4},
                    LoopCase{"the largest count", 65535, "NETSCAPE2.0", 65536},
                    LoopCase{"the other application name", 0, "ANIMEXTS1.0", 0},
                    LoopCase{"an unknown application is ignored", 0, "SOMEAPP01.0", 1}));

// ---- Round trips through the encoder -----------------------------------------------------

struct RoundTripCase {
    const char* desc;
    Frame frame;
    int tolerance;    // largest channel difference allowed on opaque pixels
    int paletteSize;  // entries in the written colour map
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, DecodesToTheFrameWithinTolerance) {
    const Frame& original = GetParam().frame;
    const Bytes gif = encodeGif(original);
    ASSERT_GE(gif.size(), 13u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    ASSERT_NE(gif[10] & 0x80, 0) << "a global colour map";
    EXPECT_EQ(2 << (gif[10] & 0x07), GetParam().paletteSize);

    const auto image = decode(gif);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 1u);
    const Frame& decoded = image->frames[0];
    ASSERT_EQ(decoded.width, original.width);
    ASSERT_EQ(decoded.height, original.height);
    int worst = 0;
    for (std::uint32_t y = 0; y < original.height; ++y) {
        for (std::uint32_t x = 0; x < original.width; ++x) {
            const std::uint8_t* in = original.pixel(x, y);
            const std::uint8_t* out = decoded.pixel(x, y);
            if (in[3] < 128) {
                ASSERT_EQ(out[3], 0) << "at " << x << "," << y;
                continue;
            }
            ASSERT_EQ(out[3], 255) << "at " << x << "," << y;
            for (int c = 0; c < 3; ++c) {
                worst = std::max(worst, std::abs(int(in[c]) - int(out[c])));
            }
        }
    }
    EXPECT_LE(worst, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, RoundTrip,
    testing::Values(
        RoundTripCase{"all transparent",
                      paintedFrame(3, 2,
                                   [](std::uint32_t, std::uint32_t) {
                                       return Rgba{1, 2, 3, 0};
                                   }),
                      0, 2},
        RoundTripCase{"one colour",
                      paintedFrame(5, 3,
                                   [](std::uint32_t, std::uint32_t) {
                                       return Rgba{9, 99, 199, 255};
                                   }),
                      0, 2},
        RoundTripCase{"three colours",
                      paintedFrame(7, 5,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       const std::uint8_t v =
                                           static_cast<std::uint8_t>((x + y) % 3 * 100);
                                       return Rgba{v, static_cast<std::uint8_t>(255 - v), 7, 255};
                                   }),
                      0, 4},
        RoundTripCase{"exactly 256 colours",
                      paintedFrame(16, 16,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       return Rgba{static_cast<std::uint8_t>(x * 17),
                                                   static_cast<std::uint8_t>(y * 17),
                                                   static_cast<std::uint8_t>((x ^ y) * 3), 255};
                                   }),
                      0, 256},
        RoundTripCase{
            "transparency kept, alpha under 128 is transparent",
            paintedFrame(4, 4,
                         [](std::uint32_t x, std::uint32_t y) {
                             constexpr std::array<std::uint8_t, 4> alpha{0, 127, 128, 255};
                             return Rgba{static_cast<std::uint8_t>(x * 60), 30,
                                         static_cast<std::uint8_t>(y * 60), alpha[x]};
                         }),
            0, 16},
        RoundTripCase{"255 colours and transparency fit exactly",
                      paintedFrame(16, 16,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       const bool hole = x == 0 && y == 0;
                                       return Rgba{static_cast<std::uint8_t>(x * 16),
                                                   static_cast<std::uint8_t>(y * 16), 40,
                                                   static_cast<std::uint8_t>(hole ? 0 : 255)};
                                   }),
                      0, 256},
        RoundTripCase{"256 colours and transparency are quantised",
                      paintedFrame(17, 16,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       const bool hole = x == 16;
                                       return Rgba{static_cast<std::uint8_t>(x * 15),
                                                   static_cast<std::uint8_t>(y * 16), 40,
                                                   static_cast<std::uint8_t>(hole ? 0 : 255)};
                                   }),
                      8, 256},
        RoundTripCase{"smooth gradient of many colours is quantised",
                      paintedFrame(256, 64,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       return Rgba{static_cast<std::uint8_t>(x),
                                                   static_cast<std::uint8_t>(y * 4),
                                                   static_cast<std::uint8_t>(255 - x / 2), 255};
                                   }),
                      48, 256},
        RoundTripCase{"noisy colours with a transparent band are quantised",
                      paintedFrame(96, 96,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       const std::uint32_t h = (x * 2654435761u) ^ (y * 40503u);
                                       return Rgba{
                                           static_cast<std::uint8_t>(h),
                                           static_cast<std::uint8_t>(h >> 8),
                                           static_cast<std::uint8_t>(h >> 16),
                                           static_cast<std::uint8_t>(y % 10 == 0 ? 0 : 255)};
                                   }),
                      48, 256}));

TEST(GifEncoder, RefusesFramesItCannotWrite) {
    Frame empty;
    EXPECT_TRUE(encodeGif(empty).empty());
    Frame shortPixels;
    shortPixels.width = 4;
    shortPixels.height = 4;
    shortPixels.rgba.assign(4 * 4 * 4 - 1, 0);
    EXPECT_TRUE(encodeGif(shortPixels).empty());
    Frame tooWide;
    tooWide.width = 65536;
    tooWide.height = 1;
    tooWide.rgba.assign(65536 * 4, 255);
    EXPECT_TRUE(encodeGif(tooWide).empty());
}

// ---- Hostile files -----------------------------------------------------------------------

// An animation of three frames with every feature the decoder handles.
GifSpec animation() {
    return {6,
            4,
            {{0, 0, "012345 123450 234501 345012", Control{1, 5}},
             {1, 1, "abc def", Control{3, 7, 13}, true, true},
             {4, 2, "99 88", Control{2, 0}}},
            0};
}

TEST(GifHostile, TruncatedFileGivesTheFramesCompletedOrNothing) {
    const Bytes whole = writeGif(animation());
    const auto full = decodeWithBudget(detail::decodeGif, whole);
    ASSERT_TRUE(full.has_value());
    ASSERT_EQ(full->frames.size(), 3u);
    std::size_t previousCount = 0;
    std::array<bool, 4> seen{};
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto image = decodeWithBudget(detail::decodeGif, part);
        const std::size_t count = image ? image->frames.size() : 0;
        ASSERT_GE(count, previousCount) << "cut at " << cut;
        ASSERT_LE(count, 3u);
        if (image) {
            ASSERT_GE(count, 1u);
        }
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(samePixels(image->frames[i], full->frames[i]))
                << "frame " << i << ", cut at " << cut;
        }
        previousCount = count;
        seen[count] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]);
}

TEST(GifHostile, HugeScreenIsRefusedBeforeAnyAllocation) {
    PixelBudget budget;
    const Bytes gif = writeGif({65535, 65535, {{0, 0, "1"}}});
    EXPECT_FALSE(detail::decodeGif(gif, budget).has_value());
    EXPECT_EQ(budget.remaining(), kMaxPixelBytes);
}

TEST(GifHostile, FirstFrameReachingPastTheLimitIsRefused) {
    PixelBudget budget;
    const Bytes gif = writeGif({1, 1, {{32768, 0, "1"}}});
    EXPECT_FALSE(detail::decodeGif(gif, budget).has_value());
    EXPECT_EQ(budget.remaining(), kMaxPixelBytes);
}

// Many frames, each a fresh copy of the whole screen.
GifSpec manyFrames(int side, int count) {
    GifSpec spec{side, side, {}};
    for (int i = 0; i < count; ++i) {
        spec.frames.push_back({i % side, 0, i % 2 == 0 ? "1" : "2", std::nullopt});
    }
    return spec;
}

struct LimitCase {
    const char* desc;
    int side;
    int frames;
    std::size_t expectedFrames;
};

class FrameLimits : public testing::TestWithParam<LimitCase> {};

TEST_P(FrameLimits, StopAtTheLimitKeepingTheFramesBefore) {
    const Bytes gif = writeGif(manyFrames(GetParam().side, GetParam().frames));
    const auto image = decode(gif);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->frames.size(), GetParam().expectedFrames);
    // The last frame kept is still composed correctly.
    const Frame& last = image->frames.back();
    const std::size_t i = image->frames.size() - 1;
    const auto x = static_cast<std::uint32_t>(i % static_cast<std::size_t>(GetParam().side));
    EXPECT_EQ(last.pixel(x, 0)[0], paletteColour(i % 2 == 0 ? 1 : 2).Red);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, FrameLimits,
    testing::Values(
        // 4096 x 4096 takes 64 MiB a frame: the 256 MiB budget holds four.
        LimitCase{"thousands of tiny frames on a big screen spend the budget", 4096, 3000, 4},
        // Each frame costs 4 bytes here; the cap of 4096 frames stops it first.
        LimitCase{"endless frames on a tiny screen stop at the frame cap", 1, 6000, 4096}));

TEST(GifHostile, IndexBeyondTheColourMapIsOpaqueBlack) {
    const Bytes gif = shrinkGlobalMap(writeGif({4, 1, {{0, 0, "01f2"}}}), 2);
    const auto image = decodeWithBudget(detail::decodeGif, gif);
    ASSERT_TRUE(image.has_value());
    EXPECT_TRUE(samePixels(image->frames[0], picture("01##")));
}

TEST(GifHostile, NoColourMapAtAllDrawsGreys) {
    const Bytes gif = shrinkGlobalMap(writeGif({4, 1, {{0, 0, "019f", Control{0, 0, 9}}}}), 0);
    const auto image = decodeWithBudget(detail::decodeGif, gif);
    ASSERT_TRUE(image.has_value());
    const Frame& frame = image->frames[0];
    const std::array<std::array<std::uint8_t, 4>, 4> expected{
        {{0, 0, 0, 255}, {1, 1, 1, 255}, {0, 0, 0, 0}, {15, 15, 15, 255}}};
    for (std::uint32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(std::memcmp(frame.pixel(x, 0), expected[x].data(), 4), 0) << "pixel " << x;
    }
}

// ---- Runaway LZW data ----------------------------------------------------------------------

// LZW codes for `pixels` pixels of index 0, minimum code size 2, packed in data sub-blocks.
// After a clear code each code is one pixel longer than the one before (code c stands for
// c - 4 zeros) up to `longest`, then the longest code repeats: a few bytes expand to thousands of
// pixels, as in a decompression bomb.
Bytes zeroRunImageData(std::uint64_t pixels, int longest) {
    constexpr int kClear = 4;
    constexpr int kEnd = 5;
    Bytes packed;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    int width = 3;
    const auto emit = [&](int code) {
        bitBuffer |= static_cast<std::uint32_t>(code) << bitCount;
        bitCount += width;
        while (bitCount >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bitBuffer & 0xFF));
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    };
    emit(kClear);
    emit(0);
    std::uint64_t produced = 1;
    int length = 1;
    int next = kEnd + 1;  // the code the decoder defines with the next code it reads
    while (produced < pixels) {
        const int code = length < longest ? next : longest + 4;
        length = code - 4;
        emit(code);
        produced += static_cast<std::uint64_t>(length);
        if (next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12) {
                ++width;
            }
        }
    }
    emit(kEnd);
    if (bitCount > 0) {
        packed.push_back(static_cast<std::uint8_t>(bitBuffer & 0xFF));
    }
    Bytes data{2};  // minimum code size
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t chunk = std::min<std::size_t>(255, packed.size() - at);
        data.push_back(static_cast<std::uint8_t>(chunk));
        data.insert(data.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                    packed.begin() + static_cast<std::ptrdiff_t>(at + chunk));
    }
    data.push_back(0);
    return data;
}

// `gif` with one more frame of index 0 pixels, of the given size, before its trailer.
Bytes appendZeroFrame(Bytes gif, int width, int height) {
    gif.pop_back();  // the trailer
    const std::array<std::uint8_t, 10> descriptor{',',
                                                  0,
                                                  0,
                                                  0,
                                                  0,
                                                  static_cast<std::uint8_t>(width & 0xFF),
                                                  static_cast<std::uint8_t>(width >> 8),
                                                  static_cast<std::uint8_t>(height & 0xFF),
                                                  static_cast<std::uint8_t>(height >> 8),
                                                  0};
    gif.insert(gif.end(), descriptor.begin(), descriptor.end());
    const Bytes data = zeroRunImageData(std::uint64_t(width) * std::uint64_t(height), 4000);
    gif.insert(gif.end(), data.begin(), data.end());
    gif.push_back(';');
    return gif;
}

TEST(GifHostile, LongRunsDecode) {
    // The control for the test below: the same kind of data, long enough to fill the code table
    // and repeat its longest code, small enough to decode in full.
    const Bytes gif = appendZeroFrame(writeGif({3000, 3000, {{0, 0, "5"}}}), 3000, 3000);
    const auto image = decodeWithBudget(detail::decodeGif, gif);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 2u);
    const Frame zeros = picture(std::string(3000, '0'));
    for (std::uint32_t y = 0; y < 3000; y += 7) {
        ASSERT_EQ(std::memcmp(image->frames[1].pixel(0, y), zeros.rgba.data(), zeros.rgba.size()),
                  0)
            << "row " << y;
    }
}

TEST(GifHostile, DecompressionBombStopsKeepingTheFramesBefore) {
    // A frame of 65535 x 4096 pixels, all on screen rows, from about 100 KB of codes.
    const Bytes gif = appendZeroFrame(writeGif({1, 4096, {{0, 0, "5"}}}), 65535, 4096);
    ASSERT_LT(gif.size(), 200000u);
    const auto image = decodeWithBudget(detail::decodeGif, gif);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->frames.size(), 1u);
}

TEST(GifHostile, RowsPastTheScreenAreSkippedAndTheNextFrameStillDecodes) {
    // The second frame is far wider and taller than the screen: only its first row is painted,
    // the rest of its data is passed over, and the third frame must still be found after it.
    Bytes gif = appendZeroFrame(writeGif({2, 1, {{0, 0, "55"}}}), 60000, 50);
    gif.pop_back();
    const Bytes last = writeGif({2, 1, {{1, 0, "7"}}});
    const std::size_t frameStart = 13 + 48;  // after the header and global map
    gif.insert(gif.end(), last.begin() + static_cast<std::ptrdiff_t>(frameStart), last.end());
    const auto image = decodeWithBudget(detail::decodeGif, gif);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->frames.size(), 3u);
    EXPECT_TRUE(samePixels(image->frames[1], picture("00")));
    EXPECT_TRUE(samePixels(image->frames[2], picture("07")));
}

TEST(GifHostile, RandomlyDamagedFilesNeverBreakTheDecoder) {
    const Bytes whole = writeGif(animation());
    std::uint32_t state = 12345;
    const auto random = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = whole;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        }
        // Most of the budget spent up front, so a damaged screen size fails fast.
        PixelBudget budget;
        ASSERT_TRUE(budget.take(8192, 8000));
        const auto image = detail::decodeGif(damaged, budget);
        if (!image) {
            continue;
        }
        ASSERT_FALSE(image->frames.empty());
        for (const Frame& frame : image->frames) {
            ASSERT_EQ(frame.width, image->width());
            ASSERT_EQ(frame.height, image->height());
            ASSERT_EQ(frame.rgba.size(), std::size_t{frame.width} * frame.height * 4);
        }
    }
}

TEST(GifHostile, GarbageAfterTheHeaderGivesNothing) {
    Bytes gif = writeGif({2, 2, {}});
    gif.pop_back();
    for (int i = 0; i < 64; ++i) {
        gif.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    }
    EXPECT_FALSE(decodeWithBudget(detail::decodeGif, gif).has_value());
}

}  // namespace
}  // namespace sorvane::imaging
