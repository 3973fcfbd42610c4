#include "output/digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "labelling/characters.h"

namespace sorvane {
namespace {

struct MdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

constexpr unsigned kMd5Size = 16;

// Upper-case hex of the digest, high nibble first; empty on any failure. A failure's entries in
// OpenSSL's error queue are cleared, so they cannot surface in an unrelated later call.
std::string upperHexDigest(OSSL_LIB_CTX* context, std::span<const std::uint8_t> buffer) {
    std::unique_ptr<EVP_MD, MdFree> md(EVP_MD_fetch(context, "MD5", nullptr));
    std::unique_ptr<EVP_MD_CTX, MdContextFree> running(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!md || !running || EVP_DigestInit_ex2(running.get(), md.get(), nullptr) != 1 ||
        EVP_DigestUpdate(running.get(), buffer.data(), buffer.size()) != 1 ||
        EVP_DigestFinal_ex(running.get(), digest, &length) != 1 || length != kMd5Size) {
        ERR_clear_error();
        return {};
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace

std::string detail::md5Hex(OSSL_LIB_CTX* context, std::span<const std::uint8_t> buffer,
                           bool upperCase, bool shortForm) {
    std::string text = upperHexDigest(context, buffer);
    if (!upperCase) {
        text = toLower(text);
    }
    if (shortForm) {
        // Characters 9 to 24; a failed (empty) digest stays empty.
        return text.empty() ? text : text.substr(8, 16);
    }
    return text;
}

std::string md5Hex(std::span<const std::uint8_t> buffer, bool upperCase, bool shortForm) {
    return detail::md5Hex(nullptr, buffer, upperCase, shortForm);
}

}  // namespace sorvane
