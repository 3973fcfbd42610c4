#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "imaging/image.h"

namespace sorvane::imaging {
namespace {

using fixtures::PrintTo;

struct RecogniseCase {
    const char* desc;
    Bytes head;
    std::optional<Format> expected;
};

class Recognise : public testing::TestWithParam<RecogniseCase> {};

TEST_P(Recognise, ReadsOnlyTheFirstEightBytes) {
    EXPECT_EQ(recognise(GetParam().head), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, Recognise,
    testing::Values(
        RecogniseCase{"bmp", {'B', 'M', 0, 0, 0, 0, 0, 0}, Format::Bmp},
        RecogniseCase{"bmp with only seven bytes", {'B', 'M', 0, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0}, Format::Jpeg},
        RecogniseCase{"png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Format::Png},
        RecogniseCase{"gif87a", {'G', 'I', 'F', '8', '7', 'a', 0, 0}, Format::Gif},
        RecogniseCase{"gif89a", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, Format::Gif},
        RecogniseCase{"gif88a is no gif", {'G', 'I', 'F', '8', '8', 'a', 0, 0}, std::nullopt},
        RecogniseCase{"ico", {0, 0, 1, 0, 1, 0, 0, 0}, Format::Ico},
        RecogniseCase{"ico counting 256 images", {0, 0, 1, 0, 0, 1, 0, 0}, Format::Ico},
        RecogniseCase{"ico without images", {0, 0, 1, 0, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"cur", {0, 0, 2, 0, 2, 0, 0, 0}, Format::Cur},
        RecogniseCase{"cur without images", {0, 0, 2, 0, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"pcx version 5, 8 bits", {0x0A, 5, 1, 8, 0, 0, 0, 0}, Format::Pcx},
        RecogniseCase{"pcx version 0, 8 bits", {0x0A, 0, 1, 8, 0, 0, 0, 0}, Format::Pcx},
        RecogniseCase{"pcx version 6 is unknown", {0x0A, 6, 1, 8, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"pcx 1 bit, version 3", {0x0A, 3, 1, 1, 0, 0, 0, 0}, Format::Pcx},
        RecogniseCase{"pcx 1 bit, version 5", {0x0A, 5, 1, 1, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"pcx without run-length coding", {0x0A, 5, 0, 8, 0, 0, 0, 0}, std::nullopt},
        RecogniseCase{"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o'}, std::nullopt},
        RecogniseCase{"empty", {}, std::nullopt}));

TEST(Decode, UnrecognisedBytesGiveNoImage) {
    const std::string text = "just a text file, not a picture";
    EXPECT_FALSE(decode(Bytes(text.begin(), text.end())).has_value());
    EXPECT_FALSE(decode(Bytes{}).has_value());
}

TEST(PixelBudget, RefusesOversizeAndOverBudget) {
    PixelBudget budget;
    EXPECT_FALSE(budget.take(kMaxDimension + 1, 1));
    EXPECT_FALSE(budget.take(1, kMaxDimension + 1));
    EXPECT_FALSE(budget.take(0, 5));
    EXPECT_TRUE(budget.take(8192, 8192));  // exactly 256 MiB
    EXPECT_EQ(budget.remaining(), 0u);
    EXPECT_FALSE(budget.take(1, 1));
}

}  // namespace
}  // namespace sorvane::imaging
