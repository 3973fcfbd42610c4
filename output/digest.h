// The MD5 digest of a byte buffer as hexadecimal text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sorvane {

// 32 lower-case hex characters of the MD5 digest (RFC 1321); `upperCase` keeps A ... F; `shortForm`
// gives characters 9 to 24 only. Any failure gives the empty text, in every form.
std::string md5Hex(std::span<const std::uint8_t> buffer, bool upperCase = false,
                   bool shortForm = false);

}  // namespace sorvane
