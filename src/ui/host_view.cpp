#include "ui/host_view.h"

#include "app/text.h"

namespace vorlix {

std::string with_direction(Language language, std::string text) {
    if (language != Language::Arabic) return text;
    return std::string(kRightToLeftMark) + text;
}

std::string format_pairing_code(std::string_view code) {
    std::string shown(code);
    if (code.size() == 6) shown = std::string(code.substr(0, 3)) + " " + std::string(code.substr(3));
    return std::string(kLeftToRightMark) + shown + std::string(kLeftToRightMark);
}

HostView compose_host_view(const HostStatus& status, Language language, std::string_view version) {
    auto text = [&](std::string_view key) { return with_direction(language, lookup_text(language, key)); };
    auto text_with = [&](std::string_view key, const TextArgs& args) {
        return with_direction(language, fill_placeholders(lookup_text(language, key), args));
    };
    HostView view;
    const bool listening = status.status_flag == 1;
    if (!status.device_name) {
        view.status = text(listening ? "status.ready" : "status.not_listening");
    } else {
        view.status = text_with("status.connected", {{"name", *status.device_name}});
        if (status.status_line) view.status += "\n" + *status.status_line;
    }

    if (status.pairing_code) {
        view.code = format_pairing_code(*status.pairing_code);
        view.hint = text_with("pairing.hint", {{"name", status.host_name}});
        if (status.pairing_busy) view.hint += "\n" + text("pairing.busy");
        view.pair_button = text("button.stop_pairing");
    } else if (status.locked_seconds) {
        view.hint = text_with("pairing.locked_countdown", {{"seconds", std::to_string(*status.locked_seconds)}});
        view.pair_button = text("button.pair");
    } else {
        view.hint = status.notice ? with_direction(language, *status.notice) : text("pairing.idle");
        view.pair_button = text("button.pair");
    }
    view.pair_enabled = status.pairing_code.has_value() || !status.locked_seconds.has_value();
    view.disconnect_enabled = status.device_name.has_value();

    for (const TrustedDevice& device : status.devices) {
        DeviceRow row{device.key, device.name, device.model, status.device_key == device.key, {}};
        row.text = device.name + (row.connected ? "  \xE2\x97\x8F" : "") + "   (" + device.model + ")";
        row.text = with_direction(language, std::move(row.text));
        view.rows.push_back(std::move(row));
    }
    view.no_devices = text("devices.none");
    view.footer = text_with("footer", {{"name", status.host_name},
                                       {"port", std::to_string(status.port)},
                                       {"id", status.host_id},
                                       {"version", std::string(version)}});
    view.tooltip = status.device_name ? text_with("tray.connected", {{"name", *status.device_name}})
                                      : text("tray.ready");
    return view;
}

std::string initial_control_text(int id, Language language) {
    switch (id) {
        case 100: return with_direction(language, "Vorlix");
        case 104: return with_direction(language, lookup_text(language, "button.pair"));
        case 105: return with_direction(language, lookup_text(language, "label.paired_devices"));
        case 107: return with_direction(language, lookup_text(language, "button.forget"));
        case 108: return with_direction(language, lookup_text(language, "button.disconnect"));
        default: return {};
    }
}

NoticeTexts compose_notice(Language language, std::string_view title_key, std::string_view body_key,
                           const TextArgs& args) {
    return {fill_placeholders(lookup_text(language, title_key), args),
            fill_placeholders(lookup_text(language, body_key), args)};
}

std::u16string cut_utf16(std::string_view text, std::size_t max_units) {
    std::u16string units = utf8_to_utf16(text);
    if (units.size() <= max_units) return units;
    std::size_t keep = max_units;
    // A high surrogate whose partner would not fit goes too.
    if (keep > 0 && units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF) --keep;
    units.resize(keep);
    return units;
}

std::vector<MenuEntry> tray_menu_entries(const TrayMenuState& state, Language language) {
    auto entry = [&](TrayCommand command, std::string_view key) {
        return MenuEntry{false, command, with_direction(language, lookup_text(language, key)), false, false};
    };
    auto version_entry = [&](TrayCommand command, std::string_view key, const std::string& version) {
        return MenuEntry{false, command,
                         with_direction(language, fill_placeholders(lookup_text(language, key), {{"version", version}})),
                         false, false};
    };
    const MenuEntry separator{true, TrayCommand::None, {}, false, false};
    std::vector<MenuEntry> entries;
    if (state.update_after_session) {
        MenuEntry waiting = version_entry(TrayCommand::None, "menu.update_after_session", *state.update_after_session);
        waiting.grayed = true;
        entries.push_back(std::move(waiting));
        entries.push_back(separator);
    } else if (state.pending_update) {
        entries.push_back(version_entry(TrayCommand::Update, "menu.update", *state.pending_update));
        entries.push_back(separator);
    }
    entries.push_back(entry(TrayCommand::Open, "menu.open"));
    entries.push_back(entry(TrayCommand::Pair, "menu.pair"));
    if (state.camera_available) entries.push_back(entry(TrayCommand::Camera, "menu.camera"));
    if (state.crash_log_available) entries.push_back(entry(TrayCommand::CrashLog, "menu.crash_log"));
    if (state.open_at_sign_in_allowed || state.update_state_exists) {
        entries.push_back(separator);
        if (state.open_at_sign_in_allowed) {
            entries.push_back(entry(TrayCommand::OpenAtSignIn, "menu.open_at_sign_in"));
            entries.back().checked = state.open_at_sign_in_on;
        }
        if (state.update_state_exists) {
            entries.push_back(entry(TrayCommand::AutoUpdate, "menu.auto_update"));
            entries.back().checked = state.auto_install_on;
        }
    }
    entries.push_back(separator);
    entries.push_back(entry(TrayCommand::Quit, "menu.quit"));
    return entries;
}

const std::array<ControlLayout, 10> kControlLayout{{
    {100, {24, 18, 392, 36}, FontRole::Title},
    {101, {24, 58, 392, 54}, FontRole::Body},
    {102, {24, 118, 392, 64}, FontRole::Code},
    {103, {24, 184, 392, 54}, FontRole::Body},
    {104, {100, 242, 240, 34}, FontRole::Body},
    {105, {24, 296, 392, 22}, FontRole::Label},
    {106, {24, 320, 392, 132}, FontRole::Body},
    {107, {24, 460, 170, 30}, FontRole::Body},
    {108, {246, 460, 170, 30}, FontRole::Body},
    {109, {24, 506, 392, 48}, FontRole::Footer},
}};

int effective_dpi(int dpi) { return dpi < 96 ? 96 : dpi; }

int scale_to_dpi(int value, int dpi) { return value * effective_dpi(dpi) / 96; }

ControlRect scale_to_dpi(const ControlRect& rect, int dpi) {
    return {scale_to_dpi(rect.x, dpi), scale_to_dpi(rect.y, dpi), scale_to_dpi(rect.width, dpi),
            scale_to_dpi(rect.height, dpi)};
}

FontSpec font_spec(FontRole role, int dpi, Language language) {
    struct Row {
        int points;
        int weight;
    };
    static constexpr Row kRows[] = {{18, 600}, {10, 400}, {10, 600}, {34, 700}, {9, 400}};
    const Row row = kRows[static_cast<std::size_t>(role)];
    std::u16string face = u"Segoe UI";
    if (role != FontRole::Code) {
        switch (language) {
            case Language::Japanese: face = u"Yu Gothic UI"; break;
            case Language::Korean: face = u"Malgun Gothic"; break;
            case Language::ChineseHans: face = u"Microsoft YaHei UI"; break;
            case Language::ChineseHant: face = u"Microsoft JhengHei UI"; break;
            default: break;
        }
    }
    return {-(row.points * effective_dpi(dpi) / 72), row.weight, face};
}

std::string run_value_data(std::string_view program_path) {
    return "\"" + std::string(program_path) + "\" --hidden";
}

bool startup_approved_disables(const std::vector<std::uint8_t>& value) {
    return !value.empty() && value.size() <= 12 && (value.front() & 1) != 0;
}

RepointDecision decide_sign_in_repoint(bool new_install, std::string_view data_folder,
                                       const std::optional<std::string>& run_value,
                                       const std::optional<std::string>& expected, bool disabled) {
    using Action = RepointDecision::Action;
    if (new_install) {
        return {Action::TurnOn, "open at sign-in: a new install in " + std::string(data_folder) + ", turning it on"};
    }
    if (!run_value || !expected || *run_value == *expected) {
        return {Action::Leave, std::string("open at sign-in: ") + (!run_value || disabled ? "off" : "on")};
    }
    return {Action::Rewrite, "open at sign-in: pointing it at " + *expected};
}

}  // namespace vorlix
