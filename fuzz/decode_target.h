// What the fuzzer does with one input; the corpus replay test runs the same code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvane::fuzz {

// Decodes the bytes as a picture; a picture that decodes is re-encoded as BMP (the tool's own
// path for every saved sample) and that BMP must decode again to the same pixels.
void decodeOnce(const std::uint8_t* data, std::size_t size);

}  // namespace sorvane::fuzz
