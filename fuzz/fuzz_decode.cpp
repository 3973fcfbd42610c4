// libFuzzer entry point for the picture decoders.
#include <cstddef>
#include <cstdint>

#include "fuzz/decode_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sorvane::fuzz::decodeOnce(data, size);
    return 0;
}
