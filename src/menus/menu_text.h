// Clean-up of menu item texts as applications show them: mnemonic markers,
// the shortcut after a tab, white space and a trailing "...".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorlix {

struct CleanedMenuText {
    std::string label;
    std::optional<std::string> shortcut;  // the text after the tab, trimmed; none when empty
};

// The text without leading and trailing white space.
std::string trim_white_space(std::string_view text);

// "&File" gives "File", "Save && Exit" gives "Save & Exit", and a single "&"
// at the very end is dropped.
std::string strip_mnemonics(std::string_view text);

// White space trimmed; a text longer than three bytes that ends in "..."
// ends in "…" instead (what stands before the dots is kept as it is).
std::string tidy_menu_title(std::string_view text);

// A classic menu item's text split at its first tab into label and shortcut;
// none when the label comes out empty.
std::optional<CleanedMenuText> clean_menu_item_text(std::string_view text);

}  // namespace vorlix
