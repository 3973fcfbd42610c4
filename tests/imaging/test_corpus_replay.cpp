// Every input the fuzzer kept goes through the decoders again on each test run.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/decode_target.h"
#include "support/temp_dir.h"

namespace sorvane {
namespace {

TEST(CorpusReplay, EveryKeptInputDecodesSafely) {
    std::size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SORVANE_CORPUS_DIR)) {
        const auto bytes = test::readFile(entry.path());
        SCOPED_TRACE(entry.path().filename().string());
        fuzz::decodeOnce(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 0u);
}

}  // namespace
}  // namespace sorvane
