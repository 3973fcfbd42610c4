#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/fixtures.h"
#include "imaging/image.h"
#include "output/converter.h"
#include "support/temp_dir.h"

namespace sorvane {
namespace {

using imaging::Bytes;
using imaging::Frame;
using imaging::fixtures::PrintTo;

// A small picture with distinct pixels; `alphaOf` sets each pixel's alpha.
Frame makePicture(std::uint32_t w, std::uint32_t h,
                  const std::function<std::uint8_t(std::uint32_t, std::uint32_t)>& alphaOf) {
    return imaging::fixtures::paintedFrame(w, h, [&alphaOf](std::uint32_t x, std::uint32_t y) {
        return imaging::fixtures::Rgba{static_cast<std::uint8_t>(x * 40 + 10),
                                       static_cast<std::uint8_t>(y * 50 + 20),
                                       static_cast<std::uint8_t>((x + y) * 25), alphaOf(x, y)};
    });
}

Frame opaquePicture() {
    return makePicture(6, 5, [](std::uint32_t, std::uint32_t) { return std::uint8_t{255}; });
}

// A PNG with fully transparent, half transparent and opaque pixels.
Bytes translucentPng() {
    return imaging::encodePng(makePicture(6, 5, [](std::uint32_t x, std::uint32_t) {
        return static_cast<std::uint8_t>(x == 0 ? 0 : x == 1 ? 128 : 255);
    }));
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

bool startsWith(const Bytes& bytes, std::initializer_list<std::uint8_t> head) {
    return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

bool hasSignatureOf(int format, const Bytes& bytes) {
    switch (format) {
        case kBmp:
            return startsWith(bytes, {'B', 'M'});
        case kJpeg:
            return startsWith(bytes, {0xFF, 0xD8, 0xFF});
        case kGif:
            return startsWith(bytes, {'G', 'I', 'F', '8', '9', 'a'}) ||
                   startsWith(bytes, {'G', 'I', 'F', '8', '7', 'a'});
        case kTiff:
            return startsWith(bytes, {'I', 'I', 42, 0}) || startsWith(bytes, {'M', 'M', 0, 42});
        case kPng:
            return startsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
        default:
            return false;
    }
}

// The names in a folder, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// ---- the target's name ---------------------------------------------------------------------

const std::string kWideSpace = "\xE3\x80\x80";  // U+3000, the ideographic space

struct TargetCase {
    const char* desc;
    int format;
    std::string target;   // below the temporary folder, or as is when blank
    std::string written;  // the file's name; empty: nothing is written
};

class ConvertTarget : public testing::TestWithParam<TargetCase> {
protected:
    test::TempDir dir_;
};

TEST_P(ConvertTarget, WritesUnderTheExpectedNameAndHandsBackTheBytes) {
    const TargetCase& c = GetParam();
    const bool blank = c.written.empty();
    const std::string target = blank ? c.target : dir_.str() + "/" + c.target;
    Bytes encoded;
    ASSERT_TRUE(convertImage(imaging::encodePng(opaquePicture()), c.format, target, encoded));
    EXPECT_TRUE(hasSignatureOf(c.format, encoded));
    if (blank) {
        EXPECT_TRUE(namesIn(dir_.path()).empty());
    } else {
        EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{c.written});
        EXPECT_EQ(test::readFile(dir_.path() / c.written), encoded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConvertTarget,
    testing::Values(
        TargetCase{"extension present in other case", kBmp, "a.BMP", "a.BMP"},
        TargetCase{"no extension", kBmp, "a", "a.bmp"},
        TargetCase{"name shorter than the extension", kBmp, "mp", "mp.bmp"},
        TargetCase{"another format's extension", kBmp, "a.png", "a.png.bmp"},
        TargetCase{"tif is not tiff", kTiff, "x.tif", "x.tif.tiff"},
        TargetCase{"TIFF in capitals", kTiff, "x.TIFF", "x.TIFF"},
        TargetCase{"jpeg is not jpg", kJpeg, "p.jpeg", "p.jpeg.jpg"},
        TargetCase{"JPG in capitals", kJpeg, "p.JPG", "p.JPG"},
        TargetCase{"gif appended", kGif, "g", "g.gif"},
        TargetCase{"png in mixed case", kPng, "n.Png", "n.Png"},
        TargetCase{"a trailing space is part of the name", kBmp, "x.bmp ", "x.bmp .bmp"},
        TargetCase{"ideographic spaces around a name are kept", kBmp, kWideSpace + "a" + kWideSpace,
                   kWideSpace + "a" + kWideSpace + ".bmp"},
        TargetCase{"spaces only", kBmp, "   ", ""},
        TargetCase{"ideographic spaces only", kBmp, kWideSpace + kWideSpace, ""},
        TargetCase{"both kinds of space", kPng, " " + kWideSpace + " ", ""},
        TargetCase{"empty", kTiff, "", ""}));

// ---- sources and formats -------------------------------------------------------------------

struct SourceCase {
    const char* desc;
    std::function<Bytes()> make;
};

class ConvertSourceToBmp : public testing::TestWithParam<SourceCase> {
protected:
    test::TempDir dir_;
};

// BMP keeps pixels and alpha exactly, so the file must show what the source shows.
TEST_P(ConvertSourceToBmp, FileStartsWithBmAndShowsTheSamePicture) {
    const Bytes source = GetParam().make();
    const auto original = imaging::decode(source);
    ASSERT_TRUE(original.has_value()) << "the fixture itself does not decode";
    Bytes encoded;
    ASSERT_TRUE(convertImage(source, kBmp, dir_.str() + "/out", encoded));
    const Bytes file = test::readFile(dir_.path() / "out.bmp");
    EXPECT_EQ(file, encoded);
    EXPECT_TRUE(startsWith(file, {'B', 'M'}));
    const auto back = imaging::decode(file);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->frames.size(), 1u);
    EXPECT_EQ(back->frames[0].width, original->frames[0].width);
    EXPECT_EQ(back->frames[0].height, original->frames[0].height);
    EXPECT_EQ(back->frames[0].rgba, original->frames[0].rgba);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ConvertSourceToBmp,
    testing::Values(SourceCase{"png with alpha", translucentPng},
                    SourceCase{"jpeg", [] { return imaging::encodeJpeg(opaquePicture()); }},
                    SourceCase{"gif", [] { return imaging::encodeGif(opaquePicture()); }},
                    SourceCase{"gif with a transparent pixel",
                               [] {
                                   return imaging::encodeGif(
                                       makePicture(6, 5, [](std::uint32_t x, std::uint32_t y) {
                                           return static_cast<std::uint8_t>(x == 2 && y == 3 ? 0
                                                                                             : 255);
                                       }));
                               }},
                    SourceCase{"bmp", [] { return imaging::encodeBmp(opaquePicture()); }}));

class ConvertFormat : public testing::TestWithParam<int> {};

// Every format's bytes carry its signature; those we can decode show the source's picture (JPEG
// within its loss). TIFF is only checked by signature here: its encoder's tests read it back.
TEST_P(ConvertFormat, ProducesBytesOfThatFormat) {
    const int format = GetParam();
    const Frame picture = opaquePicture();
    Bytes encoded;
    ASSERT_TRUE(convertImage(imaging::encodePng(picture), format, "", encoded));
    EXPECT_TRUE(hasSignatureOf(format, encoded));
    if (format == kTiff) {
        return;
    }
    const auto back = imaging::decode(encoded);
    ASSERT_TRUE(back.has_value());
    const Frame& frame = back->frames[0];
    ASSERT_EQ(frame.rgba.size(), picture.rgba.size());
    const int tolerance = format == kJpeg ? 32 : 0;  // a 6 x 5 picture of sharp steps
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) {
        EXPECT_LE(std::abs(int{frame.rgba[i]} - int{picture.rgba[i]}), tolerance) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, ConvertFormat, testing::Values(kBmp, kJpeg, kGif, kTiff, kPng),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string("code") + std::to_string(param.param);
                         });

// ---- refusals ------------------------------------------------------------------------------

struct RefusalCase {
    const char* desc;
    std::function<Bytes()> source;
    int format;
};

class ConvertRefuses : public testing::TestWithParam<RefusalCase> {
protected:
    test::TempDir dir_;
};

// False, `encoded` as it was, and a file already at the target untouched.
TEST_P(ConvertRefuses, NothingChanges) {
    const RefusalCase& c = GetParam();
    const std::string target = dir_.write("t.bmp", std::string("old content"));
    const Bytes before = {1, 2, 3};
    Bytes encoded = before;
    EXPECT_FALSE(convertImage(c.source(), c.format, target, encoded));
    EXPECT_EQ(encoded, before);
    EXPECT_EQ(namesIn(dir_.path()), std::vector<std::string>{"t.bmp"});
    EXPECT_EQ(test::readFile(target), textBytes("old content"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertRefuses,
    testing::Values(
        RefusalCase{"two bytes",
                    [] {
                        return Bytes{'B', 'M'};
                    },
                    kBmp},
        RefusalCase{"empty source", [] { return Bytes{}; }, kBmp},
        RefusalCase{"a text file", [] { return textBytes("just some text, no picture"); }, kBmp},
        RefusalCase{"a png cut short",
                    [] {
                        Bytes png = imaging::encodePng(opaquePicture());
                        png.resize(png.size() / 2);
                        return png;
                    },
                    kBmp},
        RefusalCase{"format code 0", [] { return imaging::encodePng(opaquePicture()); }, 0},
        RefusalCase{"format code 6", [] { return imaging::encodePng(opaquePicture()); }, 6},
        RefusalCase{"negative format code", [] { return imaging::encodePng(opaquePicture()); },
                    -1}));

// ---- writing and flattening ----------------------------------------------------------------

TEST(ConvertWrite, ReplacesALongerExistingFileWhole) {
    test::TempDir dir;
    const std::string target = dir.write("big.bmp", Bytes(100000, 0xAB));
    Bytes encoded;
    ASSERT_TRUE(convertImage(imaging::encodePng(opaquePicture()), kBmp, target, encoded));
    EXPECT_EQ(test::readFile(target), encoded);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"big.bmp"});  // no temporary left
}

// A 1 x 1 GIF animation, written byte by byte: a red frame, then a blue one.
Bytes redThenBlueGif() {
    Bytes gif = {'G',  'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // screen, 2 colours
                 0xFF, 0,   0,   0,   0,   0xFF};                        // red, blue
    for (const std::uint8_t index : {0, 1}) {
        const Bytes frame = {0x21, 0xF9, 4, 0, 10, 0, 0, 0,  // 100 ms, no transparency
                             0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,
                             // LZW, 2-bit codes: clear, the index, end.
                             2, 2, static_cast<std::uint8_t>(0x44 | index << 3), 0x01, 0};
        gif.insert(gif.end(), frame.begin(), frame.end());
    }
    gif.push_back(0x3B);
    return gif;
}

TEST(ConvertAnimation, OnlyTheFirstFrameIsEncoded) {
    const Bytes source = redThenBlueGif();
    const auto animation = imaging::decode(source);
    ASSERT_TRUE(animation.has_value());
    ASSERT_EQ(animation->frames.size(), 2u) << "the fixture is not a two-frame animation";
    Bytes encoded;
    ASSERT_TRUE(convertImage(source, kPng, "", encoded));
    const auto back = imaging::decode(encoded);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->frames.size(), 1u);
    EXPECT_EQ(back->frames[0].rgba, (Bytes{0xFF, 0, 0, 0xFF}));
}

TEST(ConvertFlatten, TransparencyIsDrawnOverWhite) {
    const Bytes source = translucentPng();
    const Frame original = imaging::decode(source)->frames[0];
    Bytes kept;
    Bytes flat;
    ASSERT_TRUE(convertImage(source, kPng, "", kept));
    ASSERT_TRUE(convertImage(source, kPng, "", flat, true));
    const Frame keptFrame = imaging::decode(kept)->frames[0];
    const Frame flatFrame = imaging::decode(flat)->frames[0];
    EXPECT_EQ(keptFrame.rgba, original.rgba);  // without flattening alpha survives
    EXPECT_TRUE(flatFrame.isOpaque());
    for (std::uint32_t y = 0; y < original.height; ++y) {
        const std::uint8_t* in = original.pixel(1, y);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(flatFrame.pixel(0, y)[c], 255) << "transparent pixel, row " << y;
            EXPECT_EQ(flatFrame.pixel(2, y)[c], original.pixel(2, y)[c]) << "opaque pixel";
            // Half covered: halfway between the colour and white.
            const int halfway = (in[c] * 128 + 255 * 127) / 255;
            EXPECT_NEAR(flatFrame.pixel(1, y)[c], halfway, 1) << "row " << y;
        }
    }
}

}  // namespace
}  // namespace sorvane
