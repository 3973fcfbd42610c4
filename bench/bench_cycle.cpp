// One press of the next button: save the sample on display as BMP, then show the next one
// (decoded, not painted).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "fake_window.h"
#include "imaging/image.h"
#include "labelling/navigation.h"
#include "samples/loading.h"

namespace {

namespace fs = std::filesystem;

// A 160 x 60 captcha-sized picture with enough detail that it does not compress to nothing.
sorvane::imaging::Frame captchaFrame(int seed) {
    sorvane::imaging::Frame frame;
    frame.width = 160;
    frame.height = 60;
    frame.rgba.resize(160 * 60 * 4);
    for (std::uint32_t y = 0; y < 60; ++y) {
        for (std::uint32_t x = 0; x < 160; ++x) {
            auto* p = frame.pixel(x, y);
            p[0] = static_cast<std::uint8_t>((x * 7 + y * 3 + static_cast<unsigned>(seed)) & 0xFF);
            p[1] = static_cast<std::uint8_t>((x * y + static_cast<unsigned>(seed) * 11) & 0xFF);
            p[2] = static_cast<std::uint8_t>((x ^ y) * 5);
            p[3] = 0xFF;
        }
    }
    return frame;
}

void NextPress(benchmark::State& state) {
    const fs::path run = fs::temp_directory_path() / "sorvane-bench-cycle";
    fs::remove_all(run);
    fs::create_directories(run / "samples");
    constexpr int kSamples = 64;
    for (int i = 0; i < kSamples; ++i) {
        const auto png = sorvane::imaging::encodePng(captchaFrame(i));
        std::ofstream(run / "samples" / ("aB3x_" + std::to_string(i) + ".png"), std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()),
                   static_cast<std::streamsize>(png.size()));
    }
    sorvane::WorkingState working;
    working.runDirectory = run.string();
    sorvane::bench::FakeWindow window;
    sorvane::loadSamples(working, window);
    sorvane::nextSample(working, window);  // the first sample on display
    for (auto _ : state) {
        if (working.position >= kSamples) {
            state.PauseTiming();
            working.position = 0;
            sorvane::nextSample(working, window);
            state.ResumeTiming();
        }
        sorvane::nextSample(working, window);
    }
    fs::remove_all(run);
}
BENCHMARK(NextPress)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
