#include "host/text_checks.h"

#include <cstddef>

namespace vorlix {
namespace {

constexpr std::size_t kMaxLinkBytes = 8192;

// Decodes the UTF-8 character at `at` and moves past it; nothing for a
// malformed sequence.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& at) {
    const auto first = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t value;
    if (first < 0x80) {
        length = 1;
        value = first;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    at += length;
    return value;
}

bool is_refused_character(char32_t c) {
    if (c <= 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'"') return true;
    switch (c) {
        case 0x00A0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool is_openable_link(std::string_view text) {
    if (text.empty() || text.size() > kMaxLinkBytes) return false;
    for (std::size_t at = 0; at < text.size();) {
        // Text that is not UTF-8 is refused as well.
        const std::optional<char32_t> c = next_code_point(text, at);
        if (!c || is_refused_character(*c)) return false;
    }
    return starts_with_ignoring_ascii_case(text, "http://") ||
           starts_with_ignoring_ascii_case(text, "https://") ||
           starts_with_ignoring_ascii_case(text, "mailto:");
}

std::optional<MacAddress> parse_mac_address(std::string_view text) {
    std::size_t stride;
    if (text.size() == 17) {
        const char separator = text[2];
        if (separator != '-' && separator != ':') return std::nullopt;
        for (std::size_t at : {2, 5, 8, 11, 14}) {
            if (text[at] != separator) return std::nullopt;
        }
        stride = 3;
    } else if (text.size() == 12) {
        stride = 2;
    } else {
        return std::nullopt;
    }
    MacAddress address{};
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = hex_value(text[i * stride]);
        const int low = hex_value(text[i * stride + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        address[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return address;
}

}  // namespace vorlix
