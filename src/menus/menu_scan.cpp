#include "menus/menu_scan.h"

#include "menus/menu_text.h"

namespace vorlix {

namespace {

bool no_menu(MenuSource::Handle menu) { return menu == 0 || menu == ~MenuSource::Handle{0}; }

void read_menu(MenuSource& source, std::uintptr_t window, MenuSource::Handle menu, const std::string& path,
               bool first_level, MenuScan& scan) {
    const int count = source.item_count(menu);
    for (int i = 0; i < count && !scan.full(); ++i) {
        // A submenu item carries its item count in bits 8-15, where a
        // count of 8-15 (or 24-31, ...) looks like the separator flag.
        std::uint32_t state = source.item_state(menu, i);
        if (state == ~std::uint32_t{0}) continue;  // no such item
        if (state & kMenuPopup) state &= 0xFF;
        if (state & kMenuSeparator) continue;
        std::optional<CleanedMenuText> text = clean_menu_item_text(source.item_text(menu, i));
        if (!text) continue;
        if (state & kMenuPopup) {
            if (!first_level) continue;  // only one level of submenus is listed
            const MenuSource::Handle sub = source.submenu(menu, i);
            if (no_menu(sub)) continue;
            source.init_popup(sub, i);
            read_menu(source, window, sub, path + kMenuPathSeparator + text->label, false, scan);
            continue;
        }
        const std::uint32_t id = source.item_id(menu, i);
        if (id == ~std::uint32_t{0}) continue;
        const bool enabled = (state & (kMenuGrayed | kMenuDisabled)) == 0;
        scan.add(std::move(text->label), path, std::move(text->shortcut), enabled,
                 MenuTarget{.kind = MenuTarget::Kind::Win32Command, .window = window, .command_id = id,
                            .enabled = enabled});
    }
}

}  // namespace

void MenuScan::add(std::string title, std::string menu, std::optional<std::string> shortcut, bool enabled,
                   MenuTarget target) {
    if (full()) return;
    commands.push_back(MenuCommand{.id = static_cast<std::int64_t>(targets.size()),
                                            .title = std::move(title),
                                            .menu = std::move(menu),
                                            .shortcut = std::move(shortcut),
                                            .enabled = enabled});
    targets.push_back(std::move(target));
}

void add_closed_uia_menu(MenuScan& scan, const std::string& name, std::uintptr_t window,
                         const OpenedMenuCache& cache) {
    const auto cached = cache.find(OpenedMenuKey{window, name});
    if (cached == cache.end()) {
        scan.add(name, name, std::nullopt, true,
                 MenuTarget{.kind = MenuTarget::Kind::OpenUiaMenu, .window = window, .menu = name});
        return;
    }
    for (const OpenedMenuItem& item : cached->second) {
        scan.add(item.title, name, item.shortcut, item.enabled,
                 MenuTarget{.kind = MenuTarget::Kind::UiaCommand, .window = window, .menu = name,
                            .title = item.title, .enabled = item.enabled});
    }
}

void read_win32_menu_bar(MenuSource& source, std::uintptr_t window, MenuSource::Handle bar, MenuScan& scan) {
    const int count = source.item_count(bar);
    for (int i = 0; i < count && !scan.full(); ++i) {
        std::optional<CleanedMenuText> text = clean_menu_item_text(source.item_text(bar, i));
        if (!text) continue;
        const MenuSource::Handle sub = source.submenu(bar, i);
        if (no_menu(sub)) continue;
        source.init_popup(sub, i);
        read_menu(source, window, sub, text->label, true, scan);
    }
}

}  // namespace vorlix
