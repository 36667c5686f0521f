#include "ui/host_view.h"

#include <gtest/gtest.h>

#include <regex>

namespace vorlix {
namespace {

const std::string kRlm(kRightToLeftMark);
const std::string kLrm(kLeftToRightMark);

HostStatus base_status() {
    HostStatus status;
    status.host_name = "Desk";
    status.port = 47910;
    status.host_id = "abc123";
    status.status_flag = 1;
    return status;
}

TEST(HostView, TextsForEachHostState) {
    struct Case {
        const char* what;
        void (*change)(HostStatus&);
        std::string status, code, hint, button;
        bool pair_enabled, disconnect_enabled;
    };
    const Case cases[] = {
        {"idle", [](HostStatus&) {}, "Ready. Open Vorlix on your iPhone or iPad on the same network.", "",
         "To add an iPhone or iPad, click Pair a Device.", "Pair a Device", true, false},
        {"not listening, a note without a device", [](HostStatus& s) { s.status_flag = 0, s.status_line = "x"; },
         "Not listening: another program may be using the port.", "",
         "To add an iPhone or iPad, click Pair a Device.", "Pair a Device", true, false},
        {"pairing", [](HostStatus& s) { s.pairing_code = "123456"; },
         "Ready. Open Vorlix on your iPhone or iPad on the same network.", kLrm + "123 456" + kLrm,
         "In Vorlix on your iPhone or iPad, choose Desk and enter this code.", "Stop Pairing", true, false},
        {"pairing, one turned away", [](HostStatus& s) { s.pairing_code = "123456", s.pairing_busy = true; },
         "Ready. Open Vorlix on your iPhone or iPad on the same network.", kLrm + "123 456" + kLrm,
         "In Vorlix on your iPhone or iPad, choose Desk and enter this code.\nSeveral devices tried to pair at "
         "once, so one was turned away. Try again in a moment.",
         "Stop Pairing", true, false},
        {"odd code", [](HostStatus& s) { s.pairing_code = "12345"; },
         "Ready. Open Vorlix on your iPhone or iPad on the same network.", kLrm + "12345" + kLrm,
         "In Vorlix on your iPhone or iPad, choose Desk and enter this code.", "Stop Pairing", true, false},
        {"locked", [](HostStatus& s) { s.locked_seconds = 42; },
         "Ready. Open Vorlix on your iPhone or iPad on the same network.", "",
         "Five wrong codes in a row. Pairing opens again in 42 s.", "Pair a Device", false, false},
        {"pairing note", [](HostStatus& s) { s.notice = "A note."; },
         "Ready. Open Vorlix on your iPhone or iPad on the same network.", "", "A note.", "Pair a Device", true,
         false},
        {"connected", [](HostStatus& s) { s.device_name = "Phone"; }, "Connected to Phone", "",
         "To add an iPhone or iPad, click Pair a Device.", "Pair a Device", true, true},
        {"connected with a note", [](HostStatus& s) { s.device_name = "Phone", s.status_line = "1 x 2"; },
         "Connected to Phone\n1 x 2", "", "To add an iPhone or iPad, click Pair a Device.", "Pair a Device", true,
         true},
    };
    for (const auto& c : cases) {
        HostStatus status = base_status();
        c.change(status);
        const HostView english = compose_host_view(status, Language::English, "9.9");
        EXPECT_EQ(english.status, c.status) << c.what;
        EXPECT_EQ(english.code, c.code) << c.what;
        EXPECT_EQ(english.hint, c.hint) << c.what;
        EXPECT_EQ(english.pair_button, c.button) << c.what;
        EXPECT_EQ(english.pair_enabled, c.pair_enabled) << c.what;
        EXPECT_EQ(english.disconnect_enabled, c.disconnect_enabled) << c.what;
        EXPECT_EQ(english.footer, "This PC: Desk \xC2\xB7 port 47910 \xC2\xB7 id abc123\nVorlix for Windows 9.9");

        // Arabic: every text but the code starts with the right-to-left mark.
        const HostView arabic = compose_host_view(status, Language::Arabic, "9.9");
        EXPECT_EQ(arabic.code, c.code) << c.what;
        for (const std::string* text : {&arabic.status, &arabic.hint, &arabic.pair_button, &arabic.footer,
                                        &arabic.tooltip, &arabic.no_devices}) {
            EXPECT_TRUE(text->starts_with(kRlm) && !text->starts_with(kRlm + kRlm)) << c.what << ": " << *text;
        }
    }
    // The texts the controls are made with, the heading included.
    EXPECT_EQ(initial_control_text(100, Language::English), "Vorlix");
    for (const int id : {100, 104, 105, 107, 108}) {
        EXPECT_TRUE(initial_control_text(id, Language::Arabic).starts_with(kRlm)) << id;
        EXPECT_FALSE(initial_control_text(id, Language::German).starts_with(kRlm)) << id;
    }
}

// Every notice the program shows, in every language: the title is filled
// like the body, so none shows a placeholder.
TEST(HostView, NoticesKeepNoPlaceholderInAnyLanguage) {
    struct Notice {
        const char* title;
        const char* body;
        TextArgs args;
    };
    const TextArgs version{{"version", "9.8.7"}};
    const Notice notices[] = {
        {"update.available.title", "update.available.text", version},
        {"update.downloading.title", "update.downloading.text", version},
        {"update.failed.title", "update.failed.text", {{"error", "the disk is full"}}},
        {"updated.title", "updated.text", version},
        {"updated.title", "update.reopen", {}},
        {"still_running.title", "still_running.text", {}},
    };
    const std::regex placeholder("\\{[a-z_]*\\}");
    for (std::size_t i = 0; i < kLanguageCount; ++i) {
        for (const Notice& notice : notices) {
            const NoticeTexts shown = compose_notice(static_cast<Language>(i), notice.title, notice.body, notice.args);
            EXPECT_FALSE(std::regex_search(shown.title, placeholder)) << i << ": " << shown.title;
            EXPECT_FALSE(std::regex_search(shown.body, placeholder)) << i << ": " << shown.body;
        }
    }
    EXPECT_EQ(compose_notice(Language::English, "update.available.title", "update.available.text", version).title,
              "VorLix 9.8.7 is available");
}

// Two paired phones with one name: only the one whose key signed in is marked.
TEST(HostView, MarksTheConnectedDeviceByKey) {
    HostStatus status = base_status();
    status.devices = {{"k1", "Phone", "P1"}, {"k2", "Phone", "P2"}, {"k3", "Tablet", "M1"}};
    status.device_name = "Phone";
    status.device_key = "k2";
    const HostView view = compose_host_view(status, Language::English);
    ASSERT_EQ(view.rows.size(), 3u);
    EXPECT_EQ(view.rows[0].text, "Phone   (P1)");
    EXPECT_EQ(view.rows[1].text, "Phone  \xE2\x97\x8F   (P2)");
    EXPECT_FALSE(view.rows[2].connected);
    EXPECT_EQ(view.tooltip, "Vorlix: connected to Phone");
    EXPECT_EQ(compose_host_view(status, Language::Arabic).rows[2].text, kRlm + "Tablet   (M1)");
}

TEST(HostView, CutsNotificationFieldsOutsideSurrogatePairs) {
    const std::string emoji = "\xF0\x9F\x93\xB1";  // two UTF-16 units
    struct Case {
        std::string text;
        std::size_t max;
        std::size_t units;
    };
    const Case cases[] = {
        {std::string(126, 'a') + emoji, 127, 126},  // the pair would straddle the cut
        {std::string(125, 'a') + emoji + "b", 127, 127},
        {std::string(62, 'a') + emoji, 63, 62},
        {std::string(254, 'a') + emoji + emoji, 255, 254},
        {"short", 127, 5},
    };
    for (const auto& c : cases) {
        const std::u16string cut = cut_utf16(c.text, c.max);
        EXPECT_EQ(cut.size(), c.units) << c.text.size();
        EXPECT_FALSE(!cut.empty() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF);
    }
}

TEST(HostView, TrayMenuEntriesForEachState) {
    using C = TrayCommand;
    auto commands = [](const TrayMenuState& state) {
        std::vector<int> out;  // -1 for a separator
        for (const auto& e : tray_menu_entries(state, Language::English)) {
            out.push_back(e.separator ? -1 : static_cast<int>(e.command));
        }
        return out;
    };
    struct Case {
        TrayMenuState state;
        std::vector<int> commands;
    };
    const Case cases[] = {
        {{}, {1, 2, -1, 3}},
        {{.open_at_sign_in_allowed = true}, {1, 2, -1, 7, -1, 3}},
        {{.pending_update = "2.0", .crash_log_available = true, .update_state_exists = true},
         {5, -1, 1, 2, 6, -1, 8, -1, 3}},
        {{.update_after_session = "2.0", .pending_update = "2.0", .camera_available = true},
         {0, -1, 1, 2, 4, -1, 3}},
    };
    for (const auto& c : cases) EXPECT_EQ(commands(c.state), c.commands);

    const auto waiting = tray_menu_entries({.update_after_session = "2.0"}, Language::English);
    EXPECT_TRUE(waiting[0].grayed);
    EXPECT_EQ(waiting[0].text, "VorLix 2.0 installs when this session ends");
    const auto checked = tray_menu_entries(
        {.open_at_sign_in_allowed = true, .open_at_sign_in_on = true, .update_state_exists = true},
        Language::Arabic);
    EXPECT_TRUE(checked[3].checked && !checked[4].checked);
    EXPECT_EQ(checked[0].text, kRlm + lookup_text(Language::Arabic, "menu.open"));
    EXPECT_EQ(checked[0].command, C::Open);
}

TEST(HostView, LayoutAndFontsAtADpi) {
    EXPECT_EQ(scale_to_dpi(kClientWidth, 144), 660);
    EXPECT_EQ(scale_to_dpi(kClientHeight, 144), 852);
    EXPECT_EQ(scale_to_dpi(kControlLayout[4].rect, 120), (ControlRect{125, 302, 300, 42}));
    EXPECT_EQ(scale_to_dpi(kControlLayout[0].rect, 72), kControlLayout[0].rect);
    EXPECT_EQ(font_spec(FontRole::Title, 144, Language::English), (FontSpec{-36, 600, u"Segoe UI"}));
    EXPECT_EQ(font_spec(FontRole::Footer, 96, Language::Japanese), (FontSpec{-12, 400, u"Yu Gothic UI"}));
    EXPECT_EQ(font_spec(FontRole::Code, 96, Language::ChineseHant).face, u"Segoe UI");
}

TEST(OpenAtSignIn, StartDecisionsAndSwitchOff) {
    using A = RepointDecision::Action;
    const std::optional<std::string> here = run_value_data("C:\\Vorlix\\Vorlix.exe");
    EXPECT_EQ(*here, "\"C:\\Vorlix\\Vorlix.exe\" --hidden");
    struct Case {
        bool new_install;
        std::optional<std::string> run_value, expected;
        bool disabled;
        A action;
        std::string log;
    };
    const Case cases[] = {
        {true, here, here, true, A::TurnOn, "open at sign-in: a new install in D, turning it on"},
        {false, std::nullopt, here, false, A::Leave, "open at sign-in: off"},
        {false, here, here, false, A::Leave, "open at sign-in: on"},
        {false, here, here, true, A::Leave, "open at sign-in: off"},
        {false, here, std::nullopt, false, A::Leave, "open at sign-in: on"},
        {false, "\"C:\\Old\\Vorlix.exe\" --hidden", here, true, A::Rewrite, "open at sign-in: pointing it at " + *here},
    };
    for (const auto& c : cases) {
        const RepointDecision d = decide_sign_in_repoint(c.new_install, "D", c.run_value, c.expected, c.disabled);
        EXPECT_EQ(d.action, c.action) << c.log;
        EXPECT_EQ(d.log, c.log);
    }
    EXPECT_TRUE(startup_approved_disables({0x03, 0, 0}));
    EXPECT_FALSE(startup_approved_disables({0x02, 0, 0}));
    EXPECT_FALSE(startup_approved_disables({}));
    EXPECT_FALSE(startup_approved_disables(std::vector<std::uint8_t>(13, 0x03)));
}

}  // namespace
}  // namespace vorlix
