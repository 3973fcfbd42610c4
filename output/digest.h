// The MD5 digest of a byte buffer as hexadecimal text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

typedef struct ossl_lib_ctx_st OSSL_LIB_CTX;

namespace sorvane {

// 32 lower-case hex characters of the MD5 digest (RFC 1321); `upperCase` keeps A ... F; `shortForm`
// gives characters 9 to 24 only. Any failure gives the empty text, in every form.
std::string md5Hex(std::span<const std::uint8_t> buffer, bool upperCase = false,
                   bool shortForm = false);

namespace detail {
// md5Hex with MD5 fetched from `context` (nullptr: OpenSSL's default library context), so that a
// test can hand in a context whose providers lack MD5 and see the failure path.
std::string md5Hex(OSSL_LIB_CTX* context, std::span<const std::uint8_t> buffer, bool upperCase,
                   bool shortForm);
}  // namespace detail

}  // namespace sorvane
