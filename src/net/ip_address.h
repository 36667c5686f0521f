// An IPv4 or IPv6 address and its standard text form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlix {

struct IpAddress {
    enum class Family : std::uint8_t { V4, V6 };

    Family family = Family::V4;
    // IPv4 uses the first 4 bytes; the rest stay 0.
    std::array<std::uint8_t, 16> bytes{};

    static IpAddress v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
    static IpAddress v6(const std::array<std::uint8_t, 16>& bytes);
    // Reads dotted IPv4 text or IPv6 text; nothing for anything else.
    static std::optional<IpAddress> parse(std::string_view text);

    bool is_v4() const { return family == Family::V4; }
    // Dotted decimal for IPv4; for IPv6 lower-case groups with the longest run
    // of two or more zero groups written as "::".
    std::string to_text() const;

    bool operator==(const IpAddress&) const = default;
};

}  // namespace vorlix
