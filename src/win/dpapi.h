// The identity file's protection for the signed-in user: DPAPI
// (CryptProtectData / CryptUnprotectData) without prompts.
#pragma once

#include <optional>

#include "util/bytes.h"

namespace vorlix {

// The DPAPI blob of the bytes (description "Vorlix identity"); when
// protection fails, logs it and gives the bytes unchanged.
Bytes protect_identity(ByteView plain);

// The plain bytes of a DPAPI blob. A 32-byte input that DPAPI refuses is an
// unprotected seed and comes back unchanged; anything else refused gives nothing.
std::optional<Bytes> unprotect_identity(ByteView stored);

}  // namespace vorlix
