#include "menus/menu_text.h"

namespace vorlix {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string trim_white_space(std::string_view text) { return std::string(trim(text)); }

std::string strip_mnemonics(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
        } else if (i + 1 < text.size()) {
            out += text[++i];  // "&x" keeps x, "&&" keeps one "&"
        }
    }
    return out;
}

std::string tidy_menu_title(std::string_view text) {
    std::string out(trim(text));
    if (out.size() > 3 && out.ends_with("...")) out.replace(out.size() - 3, 3, "\u2026");
    return out;
}

std::optional<CleanedMenuText> clean_menu_item_text(std::string_view text) {
    CleanedMenuText cleaned;
    const std::size_t tab = text.find('\t');
    if (tab != std::string_view::npos) {
        const std::string_view shortcut = trim(text.substr(tab + 1));
        if (!shortcut.empty()) cleaned.shortcut = std::string(shortcut);
        text = text.substr(0, tab);
    }
    cleaned.label = tidy_menu_title(strip_mnemonics(text));
    if (cleaned.label.empty()) return std::nullopt;
    return cleaned;
}

}  // namespace vorlix
