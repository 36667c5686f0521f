#include "crypto/random.h"

#include <cstdio>
#include <string>

namespace vorlix {

std::optional<std::uint32_t> fill_random_with_fallback(std::uint8_t* data, std::size_t size,
                                                       const PreferredRandom& preferred,
                                                       const FallbackRandom& fallback) {
    const std::uint32_t status = preferred(data, size);
    if (nt_success(status)) return std::nullopt;
    if (fallback(data, size)) return std::nullopt;
    return status & 0x7FFFFFFFu;
}

void stop_without_random_source(std::uint32_t status, std::source_location where) {
    char text[64];
    std::snprintf(text, sizeof text, "the system has no random source (status 0x%08x)",
                  static_cast<unsigned>(status));
    crypto_fatal(text, where);
}

Key32 fresh_random32() {
    Key32 out{};
    random_bytes(out.data(), out.size());
    return out;
}

Ed25519KeyPair new_identity_key() {
    Key32 seed = fresh_random32();
    Ed25519KeyPair keys = ed25519_from_seed(seed);
    wipe_key32(seed);
    return keys;
}

}  // namespace vorlix
