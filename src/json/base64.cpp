#include "json/base64.h"

#include <array>

namespace vorlix {
namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

using DecodeTable = std::array<std::int8_t, 256>;

constexpr DecodeTable make_table(const char* alphabet) {
    DecodeTable table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr DecodeTable kStandardTable = make_table(kStandard);
constexpr DecodeTable kUrlSafeTable = make_table(kUrlSafe);

std::string encode(ByteView bytes, const char* alphabet, bool pad) {
    const std::size_t whole = bytes.size() / 3;
    const std::size_t rest = bytes.size() - whole * 3;
    std::string out(whole * 4 + (rest == 0 ? 0 : pad ? 4 : rest + 1), '=');
    char* o = out.data();
    const std::uint8_t* in = bytes.data();
    for (std::size_t g = 0; g < whole; ++g, in += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        o[0] = alphabet[(v >> 18) & 63];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = alphabet[(v >> 6) & 63];
        o[3] = alphabet[v & 63];
    }
    if (rest != 0) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0u);
        o[0] = alphabet[(v >> 18) & 63];
        o[1] = alphabet[(v >> 12) & 63];
        if (rest == 2) o[2] = alphabet[(v >> 6) & 63];
        // Padding, when asked for, is already in place.
    }
    return out;
}

// Decodes `text` (no padding characters in it) whose length mod 4 is not 1.
std::optional<Bytes> decode_unpadded(std::string_view text, const DecodeTable& table) {
    if (text.size() % 4 == 1) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v = table[static_cast<unsigned char>(c)];
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    // The bits left over after the last whole byte must be zero.
    if (acc != 0) return std::nullopt;
    return out;
}

}  // namespace

std::string base64_encode(ByteView bytes) { return encode(bytes, kStandard, true); }

std::optional<Bytes> base64_decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = 1;
        if (text.size() >= 2 && text[text.size() - 2] == '=') padding = 2;
    }
    return decode_unpadded(text.substr(0, text.size() - padding), kStandardTable);
}

std::string base64url_encode(ByteView bytes) { return encode(bytes, kUrlSafe, false); }

std::optional<Bytes> base64url_decode(std::string_view text) { return decode_unpadded(text, kUrlSafeTable); }

}  // namespace vorlix
