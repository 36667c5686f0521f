// The host's random bytes service: the operating system's generator, and a
// fatal stop ("the system has no random source") when the system has none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <source_location>

#include "crypto/crypto.h"

namespace vorlix {

// Fills `size` bytes from the system's generator; never returns without them.
void random_bytes(std::uint8_t* data, std::size_t size);

// 32 fresh random bytes (ephemeral secrets, nonces, identity seeds).
Key32 fresh_random32();

// A new Ed25519 key pair whose secret key is 32 fresh random bytes.
Ed25519KeyPair new_identity_key();

// --- the Windows rule, kept apart from the system calls so it can be tested --

// An NT status value counts as success only below 0x80000000 (success and
// informational codes); warnings and errors do not.
constexpr bool nt_success(std::uint32_t status) { return status < 0x80000000u; }

// The preferred generator gives an NT status; the older one true on success.
using PreferredRandom = std::function<std::uint32_t(std::uint8_t*, std::size_t)>;
using FallbackRandom = std::function<bool(std::uint8_t*, std::size_t)>;

// Asks the preferred generator, then the fallback. Returns nothing when one of
// them filled the bytes, otherwise the preferred generator's status with its
// top bit cleared (what the fatal stop reports).
std::optional<std::uint32_t> fill_random_with_fallback(std::uint8_t* data, std::size_t size, const PreferredRandom& preferred,
                                        const FallbackRandom& fallback);

// The fatal stop when no generator answers; `status` is reported with it.
[[noreturn]] void stop_without_random_source(std::uint32_t status,
                                             std::source_location where = std::source_location::current());

}  // namespace vorlix
