// Byte lists and big-endian integer helpers shared by the wire formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline void put_u16_be(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 8);
    out[1] = static_cast<std::uint8_t>(v);
}

inline void put_u32_be(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 24);
    out[1] = static_cast<std::uint8_t>(v >> 16);
    out[2] = static_cast<std::uint8_t>(v >> 8);
    out[3] = static_cast<std::uint8_t>(v);
}

inline void put_u64_be(std::uint8_t* out, std::uint64_t v) {
    put_u32_be(out, static_cast<std::uint32_t>(v >> 32));
    put_u32_be(out + 4, static_cast<std::uint32_t>(v));
}

inline std::uint16_t get_u16_be(const std::uint8_t* in) {
    return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}

inline std::uint32_t get_u32_be(const std::uint8_t* in) {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

inline std::uint64_t get_u64_be(const std::uint8_t* in) {
    return (std::uint64_t{get_u32_be(in)} << 32) | get_u32_be(in + 4);
}

inline void append_u32_be(Bytes& out, std::uint32_t v) {
    std::uint8_t b[4];
    put_u32_be(b, v);
    out.insert(out.end(), b, b + 4);
}

inline void append(Bytes& out, ByteView more) { out.insert(out.end(), more.begin(), more.end()); }

inline void append(Bytes& out, std::string_view text) {
    out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(text.data()),
               reinterpret_cast<const std::uint8_t*>(text.data()) + text.size());
}

inline Bytes to_bytes(std::string_view text) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                 reinterpret_cast<const std::uint8_t*>(text.data()) + text.size());
}

inline std::string to_string(ByteView bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Lower-case hexadecimal text of the bytes.
std::string hex_lower(ByteView bytes);

}  // namespace vorlix
