#include "net/ip_address.h"

#include <cstdio>
#include <vector>

namespace vorlix {

IpAddress IpAddress::v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    IpAddress address;
    address.family = Family::V4;
    address.bytes[0] = a;
    address.bytes[1] = b;
    address.bytes[2] = c;
    address.bytes[3] = d;
    return address;
}

IpAddress IpAddress::v6(const std::array<std::uint8_t, 16>& bytes) {
    IpAddress address;
    address.family = Family::V6;
    address.bytes = bytes;
    return address;
}

namespace {

std::optional<std::array<std::uint8_t, 4>> parse_v4(std::string_view text) {
    std::array<std::uint8_t, 4> out{};
    std::size_t part = 0;
    std::size_t i = 0;
    while (part < 4) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (digits == 1 && value == 0) return std::nullopt;  // no leading zeros
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++digits;
            ++i;
            if (digits > 3 || value > 255) return std::nullopt;
        }
        if (digits == 0) return std::nullopt;
        out[part++] = static_cast<std::uint8_t>(value);
        if (part < 4) {
            if (i >= text.size() || text[i] != '.') return std::nullopt;
            ++i;
        }
    }
    if (i != text.size()) return std::nullopt;
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a run of ':'-separated groups (possibly ending in a dotted IPv4 part).
bool parse_groups(std::string_view text, std::vector<std::uint16_t>& groups, bool allow_v4_tail) {
    if (text.empty()) return true;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find(':', start);
        std::string_view piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos && allow_v4_tail && piece.find('.') != std::string_view::npos) {
            auto v4 = parse_v4(piece);
            if (!v4) return false;
            groups.push_back(static_cast<std::uint16_t>(((*v4)[0] << 8) | (*v4)[1]));
            groups.push_back(static_cast<std::uint16_t>(((*v4)[2] << 8) | (*v4)[3]));
            return true;
        }
        if (piece.empty() || piece.size() > 4) return false;
        unsigned value = 0;
        for (char c : piece) {
            int h = hex_value(c);
            if (h < 0) return false;
            value = value * 16 + static_cast<unsigned>(h);
        }
        groups.push_back(static_cast<std::uint16_t>(value));
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

}  // namespace

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
    if (text.find(':') == std::string_view::npos) {
        auto v4 = parse_v4(text);
        if (!v4) return std::nullopt;
        return IpAddress::v4((*v4)[0], (*v4)[1], (*v4)[2], (*v4)[3]);
    }
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    std::size_t gap = text.find("::");
    if (gap != std::string_view::npos) {
        if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
        if (!parse_groups(text.substr(0, gap), head, false)) return std::nullopt;
        if (!parse_groups(text.substr(gap + 2), tail, true)) return std::nullopt;
        if (head.size() + tail.size() > 7) return std::nullopt;
    } else {
        if (!parse_groups(text, head, true)) return std::nullopt;
        if (head.size() != 8) return std::nullopt;
    }
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < head.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(head[i]);
    }
    std::size_t offset = 8 - tail.size();
    for (std::size_t i = 0; i < tail.size(); ++i) {
        bytes[2 * (offset + i)] = static_cast<std::uint8_t>(tail[i] >> 8);
        bytes[2 * (offset + i) + 1] = static_cast<std::uint8_t>(tail[i]);
    }
    return IpAddress::v6(bytes);
}

std::string IpAddress::to_text() const {
    char buffer[64];
    if (is_v4()) {
        std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        return buffer;
    }
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<std::uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);

    // An IPv4-mapped address keeps its IPv4 tail in dotted form.
    bool mapped = true;
    for (int i = 0; i < 5; ++i) mapped = mapped && groups[i] == 0;
    if (mapped && groups[5] == 0xffff) {
        std::snprintf(buffer, sizeof buffer, "::ffff:%u.%u.%u.%u", bytes[12], bytes[13], bytes[14], bytes[15]);
        return buffer;
    }

    int best_start = -1, best_length = 0;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > best_length) {
            best_start = i;
            best_length = j - i;
        }
        i = j;
    }
    if (best_length < 2) best_start = -1;

    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == best_start) {
            out += "::";
            i += best_length - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') out += ':';
        std::snprintf(buffer, sizeof buffer, "%x", groups[i]);
        out += buffer;
    }
    return out;
}

}  // namespace vorlix
