// The translation-table parser, over any text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "i18n/i18n.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [key, value] : vorlix::parse_translation_table(text)) {
        // A key never holds the separator or a line break, and unescaping
        // never makes a value longer than its line.
        if (key.find('=') != std::string::npos || key.find('\n') != std::string::npos || value.size() > size) {
            std::abort();
        }
    }
    vorlix::fill_placeholders(text, {{"name", "x"}, {"", "{}"}});
    return 0;
}
