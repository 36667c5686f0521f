// The keyboard layout built from a scripted system: the name by the
// registry's rules, the input method, and the 47 keys plain and shifted.
#include <gtest/gtest.h>

#include <map>

#include "input/keyboard_layout.h"

namespace vorlix::input {
namespace {

// A German-like layout: letters as on the key (y and z swapped), digits
// with their shifted symbols, a dead circumflex on the key left of 1.
class ScriptedLayout final : public LayoutSystem {
public:
    std::map<std::string, std::string> registry;
    std::vector<std::string> subkeys;
    std::vector<std::uint16_t> probes;

    std::optional<std::string> locale_name(std::uint16_t language) override {
        if (language == 0x0407) return "de-DE";
        if (language == 0x0412) return "ko-KR";
        return std::nullopt;
    }
    std::optional<std::string> registry_value(const std::string& subkey, const std::string& value) override {
        const auto found = registry.find(subkey + "|" + value);
        return found == registry.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::vector<std::string> layout_subkeys() override { return subkeys; }
    std::optional<std::string> indirect_string(const std::string& text) override {
        return text == "@%SystemRoot%\\system32\\input.dll,-5011" ? std::optional<std::string>("German") : text;
    }
    std::optional<std::string> localized_name(const std::string& language) override {
        return language == "ko-KR" ? std::optional<std::string>("Korean (Korea)") : std::nullopt;
    }
    std::pair<int, std::u16string> key_units(std::uint16_t vk, bool shift) override {
        probes.push_back(vk);
        static const std::u16string digits = u"=!\"§$%&/()";
        if (vk == 0x59 || vk == 0x5A) vk ^= 0x03;  // Y <-> Z
        if (vk >= 0x41 && vk <= 0x5A) return {1, std::u16string(1, static_cast<char16_t>(shift ? vk : vk + 0x20))};
        if (vk >= 0x30 && vk <= 0x39) return {1, std::u16string(1, shift ? digits[vk - 0x30] : vk)};
        if (vk == 0xC0) return {-1, u"^"};          // dead
        if (vk == 0xDC) return {1, u"\x1C"};        // a control character only
        if (vk == 0xBA) return {2, u"\xD800x"};     // a broken pair
        return {0, u""};
    }
};

TEST(KeyboardLayout, BuiltFromTheSystemByItsRules) {
    const std::string german = std::string(LAYOUTS_KEY) + "\\00000407";
    ScriptedLayout system;
    system.registry[german + "|Layout Display Name"] = "@%SystemRoot%\\system32\\input.dll,-5011";
    system.registry[german + "|Layout Text"] = "German text";
    const KeyboardLayout layout = build_keyboard_layout(0x04070407, system);
    EXPECT_EQ(layout.name, "German");
    EXPECT_EQ(layout.language, "de-DE");
    EXPECT_EQ(layout.method, std::nullopt);
    ASSERT_EQ(layout.keys.size(), 47u);
    EXPECT_EQ(system.probes.size(), 94u);
    const std::map<std::uint16_t, std::pair<std::string, std::string>> expected = {
        {0x00, {"a", "A"}}, {0x06, {"y", "Y"}}, {0x10, {"z", "Z"}}, {0x12, {"1", "!"}},
        {0x17, {"5", "%"}}, {0x32, {"^", "^"}}, {0x2A, {"", ""}},   {0x29, {"\xEF\xBF\xBDx", "\xEF\xBF\xBDx"}},
        {0x18, {"", ""}},
    };
    for (const auto& [code, texts] : expected) EXPECT_EQ(layout.keys.at(code), texts) << code;

    // No display name: the layout text; the registry's layout found by its id.
    ScriptedLayout by_id;
    by_id.subkeys = {"00000409", "a0010407"};
    by_id.registry[std::string(LAYOUTS_KEY) + "\\a0010407|Layout Id"] = "00c1";
    by_id.registry[std::string(LAYOUTS_KEY) + "\\a0010407|Layout Text"] = "German (IBM)";
    EXPECT_EQ(build_keyboard_layout(0xF0C10407, by_id).name, "German (IBM)");

    // Korean: an input method and no registry look-up; the locale's name.
    ScriptedLayout korean;
    const KeyboardLayout hangul = build_keyboard_layout(0x04120412, korean);
    EXPECT_EQ(hangul.method, "hangul");
    EXPECT_EQ(hangul.name, "Korean (Korea)");

    // Nothing known: the handle in hexadecimal.
    ScriptedLayout unknown;
    EXPECT_EQ(build_keyboard_layout(0x00000C09, unknown).name, "00000C09");
}

}  // namespace
}  // namespace vorlix::input
