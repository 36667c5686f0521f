// The checks on link and MAC address texts that a device sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/text_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool openable = vorlix::is_openable_link(text);
    // Whatever is accepted has one of the three prefixes and no space or quote.
    if (openable && (text.find(' ') != std::string_view::npos || text.find('"') != std::string_view::npos)) {
        std::abort();
    }
    if (const auto mac = vorlix::parse_mac_address(text); mac && text.size() != 12 && text.size() != 17) {
        std::abort();
    }
    return 0;
}
