// Trust in a downloaded update archive: its size, its SHA-256 and its Ed25519
// signature under the update-signing key, in the strict form that refuses
// malleable and small-order signatures.
#pragma once

#include <string>
#include <string_view>

#include "crypto/crypto.h"
#include "update/manifest.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// Two lower-case hexadecimal digits per byte.
std::string hex_digest(ByteView bytes);

// The 32-byte key from its 44 characters of Base64; nothing when it is not a
// canonical point of large order.
std::optional<Key32> decode_update_key(std::string_view base64);

// Ed25519 verification that also refuses S at or above the group order, and
// an R or public key that is not canonical or has small order.
bool ed25519_verify_strict(const Key32& public_key, ByteView message, const Signature64& signature);

// Size, SHA-256 (case ignored), the signature's form, then the signature.
Result<void> verify_download(ByteView bytes, const Download& download, const Key32& key);

}  // namespace vorlix
