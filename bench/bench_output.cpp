// The content digest over buffers of a sample's size and of a large file, and a whole
// re-encode to BMP (decode, encode, no file written) of a captcha in each input format.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "output/converter.h"
#include "output/digest.h"

namespace sorvane::bench {

// The 160 x 60 captcha the decoding benchmarks use (bench_imaging.cpp).
imaging::Frame captchaPicture();

namespace {

std::vector<std::uint8_t> noise(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 0x12345678u;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void Md5Hex(benchmark::State& state) {
    const auto bytes = noise(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(md5Hex(bytes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Md5Hex)->Arg(4 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// The same digest straight through OpenSSL with its built-in MD5, hex text left out: how much
// md5Hex spends on fetching the algorithm and making its text.
void Md5Bare(benchmark::State& state) {
    const auto bytes = noise(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr));
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Md5Bare)->Arg(4 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void ConvertToBmp(benchmark::State& state, imaging::Bytes (*encode)(const imaging::Frame&)) {
    const std::vector<std::uint8_t> source = encode(captchaPicture());
    std::vector<std::uint8_t> encoded;
    if (!convertImage(source, kBmp, "", encoded) || encoded.empty()) {
        state.SkipWithError("the picture does not convert");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(convertImage(source, kBmp, "", encoded));
        benchmark::DoNotOptimize(encoded.data());
    }
}
BENCHMARK_CAPTURE(ConvertToBmp, FromPng, imaging::encodePng)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ConvertToBmp, FromJpeg, imaging::encodeJpeg)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ConvertToBmp, FromGif, imaging::encodeGif)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sorvane::bench
