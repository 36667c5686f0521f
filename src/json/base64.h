// Base64 (RFC 4648) as the host's JSON fields and links carry it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "util/bytes.h"

namespace vorlix {

// Standard alphabet ("+", "/") with "=" padding.
std::string base64_encode(ByteView bytes);

// Decodes canonical standard Base64 only: the length is a multiple of 4, "="
// appears only as the last one or two characters and exactly as many as the
// data needs, the unused low bits of the last character are zero, and no
// other character (white space, "-", "_") occurs. The empty text gives no
// bytes. Anything else gives nothing.
std::optional<Bytes> base64_decode(std::string_view text);

// URL-safe alphabet ("-", "_") without padding.
std::string base64url_encode(ByteView bytes);

// Decodes canonical unpadded URL-safe Base64: no "=", a length that is not
// 1 more than a multiple of 4, zero unused low bits. Anything else gives nothing.
std::optional<Bytes> base64url_decode(std::string_view text);

}  // namespace vorlix
