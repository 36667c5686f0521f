// One scan of the front window's menus: the commands offered to the device
// and, at the same index, what running each of them does. The classic menu
// bar is read through MenuSource, so the reading rules work on any tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "control/records.h"

namespace vorlix {

// No scan lists more commands than this.
constexpr std::size_t kMaxMenuCommands = 220;

// Separates the menus of a path: a space, U+25B8, a space.
inline constexpr const char* kMenuPathSeparator = " \u25B8 ";

// What running one listed command does; never sent to the device.
struct MenuTarget {
    enum class Kind { Win32Command, OpenUiaMenu, UiaCommand };
    Kind kind = Kind::Win32Command;
    std::uintptr_t window = 0;
    std::uint32_t command_id = 0;      // Win32Command: as the menu reports it
    std::string menu;                  // OpenUiaMenu, UiaCommand: the top-level menu's name
    std::string title;                 // UiaCommand: the item's name
    std::shared_ptr<void> element;     // UiaCommand: a held automation element, or none
    bool enabled = true;
};

// One item a UI Automation menu showed when it was opened.
struct OpenedMenuItem {
    std::string title;
    std::optional<std::string> shortcut;
    bool enabled = true;
    bool operator==(const OpenedMenuItem&) const = default;
};

// A top-level menu the device opened: the window it was read from and its
// name. Another app's menu of the same name is another entry.
struct OpenedMenuKey {
    std::uintptr_t window = 0;
    std::string menu;
    bool operator==(const OpenedMenuKey&) const = default;
};

struct OpenedMenuKeyHash {
    std::size_t operator()(const OpenedMenuKey& key) const {
        return std::hash<std::string>{}(key.menu) ^ (std::hash<std::uintptr_t>{}(key.window) * 0x9E3779B97F4A7C15u);
    }
};

// The items of each top-level menu the device had opened.
using OpenedMenuCache = std::unordered_map<OpenedMenuKey, std::vector<OpenedMenuItem>, OpenedMenuKeyHash>;

struct MenuScan {
    std::vector<MenuCommand> commands;
    std::vector<MenuTarget> targets;

    bool full() const { return commands.size() >= kMaxMenuCommands; }
    // Appends the command with the next id and its target; nothing once full.
    void add(std::string title, std::string menu, std::optional<std::string> shortcut, bool enabled,
             MenuTarget target);
};

// A top-level UI Automation menu whose items are not in the tree: the items
// cached when the device opened it in this window, or else one entry that
// opens it.
void add_closed_uia_menu(MenuScan& scan, const std::string& name, std::uintptr_t window,
                         const OpenedMenuCache& cache);

// The classic menu calls the reader needs, by position. Handles are the
// system's menu handles; 0 and all-ones mean none.
class MenuSource {
public:
    using Handle = std::uintptr_t;
    virtual ~MenuSource() = default;
    virtual int item_count(Handle menu) = 0;                 // negative when unreadable
    virtual std::uint32_t item_state(Handle menu, int position) = 0;
    virtual std::string item_text(Handle menu, int position) = 0;
    virtual Handle submenu(Handle menu, int position) = 0;
    virtual std::uint32_t item_id(Handle menu, int position) = 0;  // all-ones: no command
    // Lets the application fill a drop-down before it is read.
    virtual void init_popup(Handle submenu, int position) = 0;
};

// Item state flags as the menu reports them.
constexpr std::uint32_t kMenuGrayed = 0x1;
constexpr std::uint32_t kMenuDisabled = 0x2;
constexpr std::uint32_t kMenuPopup = 0x10;
constexpr std::uint32_t kMenuSeparator = 0x800;

// Reads the menu bar of `window`: each top-level drop-down and one level of
// submenus below it, into `scan`.
void read_win32_menu_bar(MenuSource& source, std::uintptr_t window, MenuSource::Handle bar, MenuScan& scan);

}  // namespace vorlix
