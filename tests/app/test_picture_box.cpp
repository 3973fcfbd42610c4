// The picture box plays an animated GIF by itself, as often as its loop count says.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "app/picture_box.h"

namespace sorvane {
namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct EncoderClose {
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};

// Two 2 x 1 frames, red then green, each shown for `delay` hundredths; `repeats` after the first
// play (NETSCAPE block), or no block at all when negative.
std::vector<std::uint8_t> twoFrameGif(int delay, int repeats) {
    std::vector<std::uint8_t> out;
    int error = 0;
    std::unique_ptr<GifFileType, EncoderClose> gif(EGifOpen(&out, appendBytes, &error));
    const GifColorType colours[] = {{255, 0, 0}, {0, 255, 0}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    EGifSetGifVersion(gif.get(), true);
    EGifPutScreenDesc(gif.get(), 2, 1, 1, 0, map);
    GifFreeMapObject(map);
    if (repeats >= 0) {
        EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0");
        const std::array<GifByteType, 3> count = {1, static_cast<GifByteType>(repeats & 0xFF),
                                                  static_cast<GifByteType>(repeats >> 8)};
        EGifPutExtensionBlock(gif.get(), 3, count.data());
        EGifPutExtensionTrailer(gif.get());
    }
    for (GifPixelType index : {0, 1}) {
        const std::array<GifByteType, 4> control = {0, static_cast<GifByteType>(delay), 0, 0};
        EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, 4, control.data());
        EGifPutImageDesc(gif.get(), 0, 0, 2, 1, false, nullptr);
        std::array<GifPixelType, 2> row = {index, index};
        EGifPutLine(gif.get(), row.data(), 2);
    }
    gif.reset();
    return out;
}

QColor shownColour(const PictureBox& box) {
    return box.currentFrame().pixelColor(0, 0);
}

TEST(PictureBox, AnimationPlaysOnItsOwnAndStopsAfterItsLoops) {
    QWidget parent;
    PictureBox box(&parent);
    box.setPictureBytes(twoFrameGif(2, 1));  // 20 ms a frame, two plays
    ASSERT_EQ(box.frameCount(), 2);
    EXPECT_EQ(shownColour(box), QColor(Qt::red));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownColour(box) == QColor(Qt::green); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownColour(box) == QColor(Qt::red); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownColour(box) == QColor(Qt::green); }, 5000));
    // The second play has ended on its last frame and stays there.
    QTest::qWait(200);
    EXPECT_EQ(shownColour(box), QColor(Qt::green));
}

TEST(PictureBox, AnimationWithoutEndKeepsLoopingAndANewPictureStopsIt) {
    QWidget parent;
    PictureBox box(&parent);
    box.setPictureBytes(twoFrameGif(2, 0));  // for ever
    for (int play = 0; play < 3; ++play) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownColour(box) == QColor(Qt::green); }, 5000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownColour(box) == QColor(Qt::red); }, 5000));
    }
    box.setPictureBytes({});
    EXPECT_TRUE(box.currentFrame().isNull());
    QTest::qWait(100);
    EXPECT_TRUE(box.currentFrame().isNull());
}

}  // namespace
}  // namespace sorvane
