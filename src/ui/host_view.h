// What the host window, its tray icon and its menu show, worked out from the
// host's status without touching a window: the texts of every control in the
// current language (with the right-to-left mark in Arabic), the device rows,
// the tray menu's entries, the layout at a DPI, the notification-area field
// cuts and the open-at-sign-in decisions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_version.h"
#include "host/host_state.h"
#include "i18n/i18n.h"

namespace vorlix {


inline constexpr std::string_view kRightToLeftMark = "\xE2\x80\x8F";
inline constexpr std::string_view kLeftToRightMark = "\xE2\x80\x8E";

// The text with U+200F in front in Arabic, unchanged otherwise.
std::string with_direction(Language language, std::string text);

// One row of the paired-devices list.
struct DeviceRow {
    std::string key;
    std::string name;
    std::string model;
    bool connected = false;
    std::string text;
    bool operator==(const DeviceRow&) const = default;
};

// Everything the window shows for one host status.
struct HostView {
    std::string status;         // control 101
    std::string code;           // 102, empty without a code (no direction mark)
    std::string hint;           // 103
    std::string pair_button;    // 104
    bool pair_enabled = true;
    bool disconnect_enabled = false;
    std::vector<DeviceRow> rows;  // one per device, in snapshot order
    std::string no_devices;       // the single row shown when `rows` is empty
    std::string footer;           // 109
    std::string tooltip;
};

HostView compose_host_view(const HostStatus& status, Language language, std::string_view version = kAppVersion);

// The text a control is made with (the heading and the fixed captions; empty
// for the controls the refresh fills), with the direction mark in Arabic.
std::string initial_control_text(int id, Language language);

// A notice shown as a balloon: its title and body looked up by key, both
// filled from the same arguments. The window adds the direction mark.
struct NoticeTexts {
    std::string title;
    std::string body;
};
NoticeTexts compose_notice(Language language, std::string_view title_key, std::string_view body_key,
                           const TextArgs& args = {});

// A six-character code as "123 456", any other unchanged; between U+200E marks.
std::string format_pairing_code(std::string_view code);

// UTF-8 text as UTF-16 cut to at most `max_units` units, never between the
// two halves of a surrogate pair.
std::u16string cut_utf16(std::string_view text, std::size_t max_units);

// --- the tray menu -------------------------------------------------------------

enum class TrayCommand : std::uint16_t {
    None = 0,
    Open = 1,
    Pair = 2,
    Quit = 3,
    Camera = 4,
    Update = 5,
    CrashLog = 6,
    OpenAtSignIn = 7,
    AutoUpdate = 8,
};

struct MenuEntry {
    bool separator = false;
    TrayCommand command = TrayCommand::None;
    std::string text;
    bool grayed = false;
    bool checked = false;
    bool operator==(const MenuEntry&) const = default;
};

// What the menu depends on, asked afresh at each opening.
struct TrayMenuState {
    std::optional<std::string> update_after_session;  // version waiting for the session to end
    std::optional<std::string> pending_update;        // version ready to install
    bool camera_available = false;
    bool crash_log_available = false;
    bool open_at_sign_in_allowed = false;
    bool open_at_sign_in_on = false;
    bool update_state_exists = false;
    bool auto_install_on = false;
};

// The entries in menu order; the window only appends them.
std::vector<MenuEntry> tray_menu_entries(const TrayMenuState& state, Language language);

// --- layout ----------------------------------------------------------------------

struct ControlRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ControlRect&) const = default;
};

enum class FontRole : std::uint8_t { Title, Body, Label, Code, Footer };

// The ten controls in creation order (identifiers 100 to 109).
struct ControlLayout {
    int id;
    ControlRect rect;  // in 1/96 inch
    FontRole font;
};
extern const std::array<ControlLayout, 10> kControlLayout;

inline constexpr int kClientWidth = 440;
inline constexpr int kClientHeight = 568;

// max(96, dpi), as the window scales by it.
int effective_dpi(int dpi);
// A value in 1/96 inch at the DPI (truncated).
int scale_to_dpi(int value, int dpi);
ControlRect scale_to_dpi(const ControlRect& rect, int dpi);

struct FontSpec {
    int height = 0;  // negative: character height in pixels
    int weight = 400;
    std::u16string face;
    bool operator==(const FontSpec&) const = default;
};
FontSpec font_spec(FontRole role, int dpi, Language language);

// --- open at sign-in -----------------------------------------------------------

// The Run value's data for the program at this path.
std::string run_value_data(std::string_view program_path);

// The StartupApproved value switches the entry off when its first byte is odd.
bool startup_approved_disables(const std::vector<std::uint8_t>& value);

// What a start does with the Run value.
struct RepointDecision {
    enum class Action { TurnOn, Rewrite, Leave } action = Action::Leave;
    std::string log;  // the line to log first
};
RepointDecision decide_sign_in_repoint(bool new_install, std::string_view data_folder,
                                       const std::optional<std::string>& run_value,
                                       const std::optional<std::string>& expected, bool disabled);

}  // namespace vorlix
