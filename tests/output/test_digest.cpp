#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/provider.h>

#include <memory>
#include <string>
#include <string_view>

#include "labelling/characters.h"
#include "output/digest.h"

namespace sorvane {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct DigestCase {
    const char* desc;
    std::string message;
    std::string lowerHex;
};

void PrintTo(const DigestCase& c, std::ostream* os) {
    *os << c.desc;
}

class Md5Suite : public testing::TestWithParam<DigestCase> {};

TEST_P(Md5Suite, EveryFormOfTheDigest) {
    const auto bytes = bytesOf(GetParam().message);
    const std::string& lower = GetParam().lowerHex;
    EXPECT_EQ(md5Hex(bytes), lower);
    EXPECT_EQ(md5Hex(bytes, true), toUpper(lower));
    EXPECT_EQ(md5Hex(bytes, false, true), lower.substr(8, 16));
    EXPECT_EQ(md5Hex(bytes, true, true), toUpper(lower.substr(8, 16)));
}

// The test suite of RFC 1321, appendix A.5.
INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5Suite,
    testing::Values(
        DigestCase{"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        DigestCase{"a", "a", "0cc175b9c0f1b6a831c399e269772661"},
        DigestCase{"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{"message digest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        DigestCase{"alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        DigestCase{"letters and digits",
                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        DigestCase{"eight times 1234567890",
                   "1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890",
                   "57edf4a22be3c955ac49da2e2107b67a"}));

TEST(Md5, EmptySpanWithoutData) {
    EXPECT_EQ(md5Hex(std::span<const std::uint8_t>()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex({}, true, true), "8F00B204E9800998");
}

// A library context that has only the "null" provider offers no digest at all (loading it
// explicitly also stops OpenSSL from falling back to the default provider).
class Md5WithContext : public testing::Test {
protected:
    struct ContextFree {
        void operator()(OSSL_LIB_CTX* context) const { OSSL_LIB_CTX_free(context); }
    };
    struct ProviderUnload {
        void operator()(OSSL_PROVIDER* provider) const { OSSL_PROVIDER_unload(provider); }
    };

    std::unique_ptr<OSSL_LIB_CTX, ContextFree> context_{OSSL_LIB_CTX_new()};
    std::unique_ptr<OSSL_PROVIDER, ProviderUnload> provider_;

    void load(const char* name) {
        ASSERT_TRUE(context_);
        provider_.reset(OSSL_PROVIDER_load(context_.get(), name));
        ASSERT_TRUE(provider_);
    }
};

TEST_F(Md5WithContext, ContextWithoutMd5GivesEmptyTextInEveryForm) {
    load("null");
    const auto bytes = bytesOf("abc");
    for (const bool upper : {false, true}) {
        for (const bool shortForm : {false, true}) {
            EXPECT_EQ(detail::md5Hex(context_.get(), bytes, upper, shortForm), "")
                << "upper " << upper << ", short " << shortForm;
        }
    }
    // The failure leaves nothing behind: the default context still works afterwards.
    EXPECT_EQ(md5Hex(bytes), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Md5WithContext, ContextWithTheDefaultProviderDigests) {
    load("default");
    EXPECT_EQ(detail::md5Hex(context_.get(), bytesOf("abc"), false, false),
              "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace sorvane
