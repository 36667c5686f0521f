#include "input/keyboard_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/text.h"
#include "input/injector.h"

namespace vorlix::input {

const std::array<std::uint16_t, 47> LAYOUT_KEYS = {
    0x32, 0x12, 0x13, 0x14, 0x15, 0x17, 0x16, 0x1A, 0x1C, 0x19, 0x1D, 0x1B, 0x18,
    0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x10, 0x20, 0x22, 0x1F, 0x23, 0x21, 0x1E, 0x2A,
    0x00, 0x01, 0x02, 0x03, 0x05, 0x04, 0x26, 0x28, 0x25, 0x29, 0x27,
    0x06, 0x07, 0x08, 0x09, 0x0B, 0x2D, 0x2E, 0x2B, 0x2F, 0x2C,
};

namespace {

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

bool same_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::string> method_of(std::uint16_t lang) {
    switch (lang) {
        case 0x0404: return "zhuyin";
        case 0x0412: return "hangul";
        case 0x0C04: case 0x1404: return "cangjie";
        default: return std::nullopt;
    }
}

// The registry name of the layout, or none when it is not looked for.
std::optional<std::string> layout_id(std::uint16_t lang, std::uint16_t dev, LayoutSystem& system) {
    const std::uint16_t top = dev >> 12;
    if (top == 0xE) return std::nullopt;
    const std::uint16_t primary = lang & 0x3FF;
    if ((primary == 0x04 || primary == 0x11 || primary == 0x12) && dev == lang) return std::nullopt;
    if (top == 0xF) {
        const std::string wanted = hex(dev & 0x0FFF, 4);
        for (const std::string& name : system.layout_subkeys()) {
            const auto id = system.registry_value(std::string(LAYOUTS_KEY) + "\\" + name, "Layout Id");
            if (id && same_ignoring_case(*id, wanted)) return name;
        }
        return std::nullopt;
    }
    return hex(dev != 0 ? dev : lang, 8);
}

}  // namespace

std::string key_text(int result, const std::u16string& units) {
    const std::size_t count = result < 0 ? std::min<std::size_t>(1, units.size())
                                         : std::min<std::size_t>({static_cast<std::size_t>(result), 8, units.size()});
    const std::string text = utf16_to_utf8(units.data(), count);
    std::u16string kept;
    for (const char16_t u : utf8_to_utf16(text)) {
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) continue;
        kept.push_back(u);
    }
    const std::string out = utf16_to_utf8(kept);
    return trim_unicode_space(out).empty() ? std::string() : out;
}

KeyboardLayout build_keyboard_layout(std::uint32_t handle, LayoutSystem& system) {
    KeyboardLayout layout;
    const auto lang = static_cast<std::uint16_t>(handle & 0xFFFF);
    const auto dev = static_cast<std::uint16_t>(handle >> 16);
    layout.language = system.locale_name(lang);
    if (dev == lang || (dev >> 12) == 0xE) layout.method = method_of(lang);

    std::optional<std::string> name;
    if (const auto klid = layout_id(lang, dev, system)) {
        const std::string subkey = std::string(LAYOUTS_KEY) + "\\" + *klid;
        if (const auto display = system.registry_value(subkey, "Layout Display Name")) {
            const auto loaded = system.indirect_string(*display);
            if (loaded && !loaded->empty() && loaded->front() != '@') name = loaded;
        }
        if (!name) name = system.registry_value(subkey, "Layout Text");
    }
    if (!name && layout.language) {
        name = system.localized_name(*layout.language);
        if (!name) name = layout.language;
    }
    layout.name = name ? *name : hex(handle, 8);

    for (const std::uint16_t code : LAYOUT_KEYS) {
        const MappedKey key = mac_key_to_vk(code);
        if (key.kind == KeyKind::none) continue;
        const auto [plain_result, plain] = system.key_units(key.vk, false);
        const auto [shift_result, shifted] = system.key_units(key.vk, true);
        layout.keys[code] = {key_text(plain_result, plain), key_text(shift_result, shifted)};
    }
    return layout;
}

}  // namespace vorlix::input
