#include "support/update_fixture.h"

#include "json/base64.h"
#include "update/verify.h"

namespace vorlix::testing {

Ed25519KeyPair update_test_keys() {
    Key32 seed;
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(0x5a ^ (i * 7));
    return ed25519_from_seed(seed);
}

Download signed_download(ByteView archive, const std::string& url) {
    const Signature64 signature = ed25519_sign_long(update_test_keys(), archive);
    return Download{url, archive.size(), hex_digest(sha256(archive)), base64_encode(signature)};
}

std::string manifest_text(const std::string& version, const Download& d) {
    return R"({"version":")" + version + R"(","downloads":{"x64":{"url":")" + d.url + R"(","size":)" +
           std::to_string(d.size) + R"(,"sha256":")" + d.sha256 + R"(","signature":")" + d.signature + R"("}}})";
}

}  // namespace vorlix::testing
