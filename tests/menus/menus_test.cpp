#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>

#include "menus/menu_text.h"
#include "menus/menus_loop.h"
#include "support/wait.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using Kind = MenuTarget::Kind;

TEST(MenuText, CleansLabelsAndShortcuts) {
    struct Case {
        const char* text;
        std::optional<std::string> label, shortcut;
    } cases[] = {
        {"&File", "File", {}},
        {"Save && Exit", "Save & Exit", {}},
        {"Open...\tCtrl+O", "Open\u2026", "Ctrl+O"},
        {"Tools\t  ", "Tools", {}},
        {"  E&xit&", "Exit", {}},
        {"...", "...", {}},
        {"&", {}, {}},
        {"\tCtrl+Q", {}, {}},
    };
    for (const Case& c : cases) {
        std::optional<CleanedMenuText> got = clean_menu_item_text(c.text);
        ASSERT_EQ(got.has_value(), c.label.has_value()) << c.text;
        if (!got) continue;
        EXPECT_EQ(got->label, *c.label) << c.text;
        EXPECT_EQ(got->shortcut, c.shortcut) << c.text;
    }
}

// A scripted menu tree; drop-downs marked lazy fill themselves only when
// the application is told to initialise them.
struct Node {
    std::string text;
    std::uint32_t state = 0;
    std::uint32_t id = ~0u;
    std::vector<Node> children;
    std::vector<Node> filled_on_init;
};

class ScriptedMenus final : public MenuSource {
public:
    explicit ScriptedMenus(Node bar) : bar_(std::move(bar)) {}
    Handle bar() { return handle(&bar_); }
    int inits = 0;

    int item_count(Handle menu) override { return static_cast<int>(node(menu)->children.size()); }
    // As GetMenuState: a submenu item carries its item count in bits 8-15.
    std::uint32_t item_state(Handle menu, int i) override {
        const Node& n = at(menu, i);
        if (n.children.empty() && n.filled_on_init.empty()) return n.state;
        return n.state | kMenuPopup | (static_cast<std::uint32_t>(n.children.size()) & 0xFF) << 8;
    }
    std::string item_text(Handle menu, int i) override { return at(menu, i).text; }
    Handle submenu(Handle menu, int i) override {
        Node& n = at(menu, i);
        return n.children.empty() && n.filled_on_init.empty() ? 0 : handle(&n);
    }
    std::uint32_t item_id(Handle menu, int i) override { return at(menu, i).id; }
    void init_popup(Handle sub, int) override {
        ++inits;
        Node* n = node(sub);
        n->children.insert(n->children.end(), n->filled_on_init.begin(), n->filled_on_init.end());
        n->filled_on_init.clear();
    }

private:
    static Handle handle(Node* n) { return reinterpret_cast<Handle>(n); }
    static Node* node(Handle h) { return reinterpret_cast<Node*>(h); }
    static Node& at(Handle menu, int i) { return node(menu)->children.at(static_cast<std::size_t>(i)); }
    Node bar_;
};

Node item(std::string text, std::uint32_t id, std::uint32_t state = 0) { return {std::move(text), state, id, {}, {}}; }
Node popup(std::string text, std::vector<Node> children) { return {std::move(text), 0, ~0u, std::move(children), {}}; }

TEST(Win32MenuReader, ListsScriptedTreeWithPathsFlagsAndIds) {
    Node recent{"&Recent", 0, ~0u, {}, {item("a.txt", 40)}};
    // Eight items: a count that looks like the separator flag.
    Node more_items = popup("&More", {popup("Deep", {item("Hidden", 90)}), item("Sibling", 12, kMenuDisabled)});
    more_items.children.resize(8, Node{"", kMenuSeparator});
    ScriptedMenus menus(popup("", {
        popup("&File", {item("&New\tCtrl+N", 10), {"", kMenuSeparator}, recent, item("Save &As...", 11, kMenuGrayed),
                        more_items, item("&", 13), item("No id", ~0u), item("E&xit\tAlt+F4", 14)}),
        item("&Help", 20),  // a command straight on the bar
        popup("&Edit", {item("&Undo\tCtrl+Z", 30)}),
    }));
    MenuScan scan;
    read_win32_menu_bar(menus, 0x1234, menus.bar(), scan);

    const std::string more = std::string("File") + kMenuPathSeparator + "More";
    const std::string rec = std::string("File") + kMenuPathSeparator + "Recent";
    struct Want {
        std::string title, menu;
        std::optional<std::string> shortcut;
        bool enabled;
        std::uint32_t command;
    } want[] = {{"New", "File", "Ctrl+N", true, 10},   {"a.txt", rec, {}, true, 40},
                {"Save As\u2026", "File", {}, false, 11}, {"Sibling", more, {}, false, 12},
                {"Exit", "File", "Alt+F4", true, 14},  {"Undo", "Edit", "Ctrl+Z", true, 30}};
    ASSERT_EQ(scan.commands.size(), std::size(want));
    ASSERT_EQ(scan.targets.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const MenuCommand& c = scan.commands[i];
        EXPECT_EQ(c, (MenuCommand{static_cast<std::int64_t>(i), want[i].title, want[i].menu,
                                           want[i].shortcut, want[i].enabled}));
        EXPECT_EQ(scan.targets[i].kind, Kind::Win32Command);
        EXPECT_EQ(scan.targets[i].window, 0x1234u);
        EXPECT_EQ(scan.targets[i].command_id, want[i].command);
        EXPECT_EQ(scan.targets[i].enabled, want[i].enabled);
    }
    EXPECT_EQ(menus.inits, 4);  // File, Recent, More, Edit; never the nested Deep

    std::vector<Node> many;
    for (std::uint32_t i = 0; i < 300; ++i) many.push_back(item("Item " + std::to_string(i), i));
    ScriptedMenus big(popup("", {popup("A", many), popup("B", {item("Late", 999)})}));
    MenuScan capped;
    read_win32_menu_bar(big, 1, big.bar(), capped);
    ASSERT_EQ(capped.commands.size(), kMaxMenuCommands);
    EXPECT_EQ(capped.commands.back().title, "Item 219");
}

// A front window whose scans and runs are scripted and recorded.
class FakeBackend final : public MenusBackend {
public:
    std::deque<MenuScanResult> scans;  // an empty queue scans nothing
    int scanned = 0;
    OpenedMenuCache seen_cache;
    std::vector<std::pair<std::uintptr_t, std::uint16_t>> posted;
    std::map<std::string, std::vector<UiaMenuItem>> uia_menus;
    std::vector<std::string> invoked;
    bool window_alive = true;

    MenuScanResult scan(const OpenedMenuCache& cache) override {
        ++scanned;
        seen_cache = cache;
        if (scans.empty()) return {};
        MenuScanResult r = scans.front();
        if (scans.size() > 1) scans.pop_front();
        return r;
    }
    bool window_exists(std::uintptr_t) override { return window_alive; }
    void post_command(std::uintptr_t w, std::uint16_t c) override { posted.emplace_back(w, c); }
    bool invoke(const std::shared_ptr<void>& element) override {
        if (!element) return false;
        invoked.push_back(*static_cast<std::string*>(element.get()));
        return true;
    }
    std::optional<std::vector<UiaMenuItem>> open_uia_menu(std::uintptr_t, const std::string& name) override {
        auto found = uia_menus.find(name);
        if (found == uia_menus.end()) return std::nullopt;
        return found->second;
    }
};

MenuScanResult win32_list(std::vector<std::pair<std::string, bool>> items) {
    MenuScanResult r;
    std::uint32_t id = 100;
    for (auto& [title, enabled] : items) {
        r.scan.add(title, "File", {}, enabled, {.window = 7, .command_id = 0x10000 + id++, .enabled = enabled});
    }
    return r;
}

struct LoopScene {
    FakeBackend backend;
    std::vector<std::vector<MenuCommand>> sent;
    std::string log;
    MenusLoop loop{backend, [this](auto list) { sent.push_back(std::move(list)); },
                   [this](std::string_view line) { log += std::string(line) + "\n"; }};
    MenusLoop::Clock::time_point t = MenusLoop::Clock::now();

    void send(MenuRequest r) { loop.handle(r, t); }
    void at(std::chrono::milliseconds d) { loop.on_time(t + d); }
};

MenuRequest active(bool on) { return {.kind = MenuRequest::Kind::Active, .active = on}; }
MenuRequest run(std::uint64_t id) { return {.kind = MenuRequest::Kind::Run, .id = id}; }
MenuRequest scan_after(std::chrono::milliseconds d) { return {.kind = MenuRequest::Kind::ScanAfter, .delay = d}; }

TEST(MenusLoop, SendsChangedListsRunsPickedCommandsAndRetriesEmptyScans) {
    LoopScene s;
    s.send(run(0));
    s.send(scan_after(400ms));
    EXPECT_FALSE(s.loop.deadline());  // inactive: ignored, nothing scheduled

    s.backend.scans = {win32_list({{"Open", true}, {"Grey", false}})};
    s.send(active(true));
    s.at(199ms);
    EXPECT_EQ(s.backend.scanned, 0);
    s.at(200ms);
    ASSERT_EQ(s.sent.size(), 1u);
    EXPECT_EQ(s.sent[0].size(), 2u);
    EXPECT_NE(s.log.find("menus: 2 commands ("), std::string::npos);

    // Two front-app changes: one scan, after the second; the same list is not sent again.
    s.send(scan_after(400ms));
    s.t += 300ms;
    s.send(scan_after(400ms));
    s.at(399ms);
    EXPECT_EQ(s.backend.scanned, 1);
    s.at(400ms);
    EXPECT_EQ(s.backend.scanned, 2);
    EXPECT_EQ(s.sent.size(), 1u);

    // Runs: an enabled item posts its low 16 bits; disabled, unknown and vanished do nothing.
    s.send(run(0));
    s.send(run(1));
    s.send(run(2));
    s.backend.window_alive = false;
    s.send(run(0));
    ASSERT_EQ(s.backend.posted.size(), 1u);
    EXPECT_EQ(s.backend.posted[0], (std::pair<std::uintptr_t, std::uint16_t>{7, 100}));
    EXPECT_NE(s.log.find("menus: command 65636\n"), std::string::npos);
    ASSERT_TRUE(s.loop.deadline());
    EXPECT_GE(*s.loop.deadline() - s.t, 600ms);

    // Picks made while a run still waits: one queued run, the newest pick.
    s.backend.window_alive = true;
    auto [tx, rx] = make_channel<MenuRequest>();
    auto pending = std::make_shared<PendingMenuRun>();
    for (std::uint64_t id : {1, 5, 0}) queue_menu_run(tx, pending, id);
    std::size_t queued = 0;
    while (std::optional<MenuRequest> request = rx.try_receive()) {
        ++queued;
        s.send(*request);
    }
    EXPECT_EQ(queued, 1u);
    ASSERT_EQ(s.backend.posted.size(), 2u);
    EXPECT_EQ(s.backend.posted[1], (std::pair<std::uintptr_t, std::uint16_t>{7, 100}));

    // A window without menus: the first scan and three retries 500 ms apart, then one empty list.
    s.backend.scans = {MenuScanResult{}};
    const int before = s.backend.scanned;
    s.send(scan_after(0ms));
    for (int i = 0; i < 3; ++i) {
        s.at(std::chrono::milliseconds(500 * i));
        EXPECT_TRUE(s.sent.size() == 1u);
    }
    s.at(1500ms);
    EXPECT_EQ(s.backend.scanned - before, 4);
    ASSERT_EQ(s.sent.size(), 2u);
    EXPECT_TRUE(s.sent[1].empty());
    EXPECT_FALSE(s.loop.deadline());

    // The host's own window: final at once, and not sent twice.
    s.backend.scans = {MenuScanResult{.final = true}};
    s.send(scan_after(0ms));
    s.at(0ms);
    EXPECT_EQ(s.sent.size(), 2u);
    EXPECT_FALSE(s.loop.deadline());

    // Ending the session forgets the list: the next session's first scan is sent even when equal.
    s.send(active(false));
    EXPECT_FALSE(s.loop.deadline());
    s.send(active(true));
    s.at(200ms);
    EXPECT_EQ(s.sent.size(), 3u);
}

TEST(MenusLoop, OpensUiaMenusIntoTheCacheAndRunsTheirItemsByTitle) {
    LoopScene s;
    auto element = [](std::string name) { return std::make_shared<std::string>(std::move(name)); };
    s.backend.uia_menus["View"] = {{element("zoom"), "Zoom", "Ctrl++", true}, {element("x"), "", {}, true}};

    MenuScanResult closed;
    add_closed_uia_menu(closed.scan, "View", 9, {});
    add_closed_uia_menu(closed.scan, "Gone", 9, {});
    s.backend.scans = {closed};
    s.send(active(true));
    s.at(200ms);
    ASSERT_EQ(s.sent.size(), 1u);
    EXPECT_EQ(s.sent[0][0], (MenuCommand{0, "View", "View", {}, true}));

    s.send(run(1));  // "Gone" does not open: cache untouched, rescan in 600 ms
    EXPECT_TRUE(s.backend.seen_cache.empty());
    EXPECT_GE(*s.loop.deadline() - s.t, 600ms);
    s.send(run(0));
    EXPECT_LT(*s.loop.deadline() - s.t, 600ms);
    EXPECT_NE(s.log.find("menus: View opened, 1 items\n"), std::string::npos);

    // The rescan sees the cache; the cached entry holds no element, so running it opens the menu again.
    MenuScanResult opened;
    s.backend.scans = {opened};
    s.at(1s);
    const OpenedMenuCache cache = s.backend.seen_cache;
    ASSERT_EQ(cache.at({9, "View"}), (std::vector<OpenedMenuItem>{{"Zoom", "Ctrl++", true}}));
    // Another app's closed menu of the same name is offered closed, to open in its own window.
    MenuScan other;
    add_closed_uia_menu(other, "View", 10, cache);
    ASSERT_EQ(other.commands.size(), 1u);
    EXPECT_EQ(other.commands[0], (MenuCommand{0, "View", "View", {}, true}));
    EXPECT_EQ(other.targets[0].kind, Kind::OpenUiaMenu);
    EXPECT_EQ(other.targets[0].window, 10u);
    MenuScanResult listed;
    add_closed_uia_menu(listed.scan, "View", 9, cache);
    listed.scan.add("Missing", "View", {}, true, {.kind = Kind::UiaCommand, .window = 9, .menu = "View", .title = "Missing"});
    s.backend.scans = {listed};
    s.send(scan_after(0ms));
    s.at(2s);
    ASSERT_EQ(s.sent.back().size(), 2u);
    EXPECT_EQ(s.sent.back()[0], (MenuCommand{0, "Zoom", "View", "Ctrl++", true}));
    s.send(run(0));
    s.send(run(1));
    EXPECT_EQ(s.backend.invoked, std::vector<std::string>{"zoom"});
    EXPECT_NE(s.log.find("menus: ran View \u25B8 Zoom\n"), std::string::npos);
    EXPECT_NE(s.log.find("menus: View \u25B8 Missing was not found\n"), std::string::npos);
}

TEST(MenusLoop, ThreadBodyEndsWhenTheQueueCloses) {
    FakeBackend backend;
    std::atomic<int> sent = 0;
    MenusLoop loop(backend, [&](auto) { ++sent; }, [](std::string_view) {});
    auto [tx, rx] = make_channel<MenuRequest>();
    backend.scans = {MenuScanResult{.final = true}};
    tx.send(active(true));
    std::thread thread([&, rx = std::move(rx)]() mutable { run_menus_loop(rx, loop); });
    EXPECT_TRUE(wait_until([&] { return sent == 1; }));  // a session's first scan is sent even when empty
    tx.reset();
    thread.join();
}

}  // namespace
}  // namespace vorlix
