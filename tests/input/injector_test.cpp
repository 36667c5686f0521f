// The injector against a recording system: each input kind gives the records
// it should, in order, with the pauses between batches.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <set>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "input/input_queue.h"
#include "storage/log_capture.h"
#include "support/text_count.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorlix::input {
namespace {

using namespace std::chrono_literals;

// Writes every batch as "|" followed by its records: k{vk}[e][u] for keys,
// U{unit}[u] for Unicode keys, m{flags}:{dx},{dy},{data} for the mouse;
// "s{ms}" for a pause and "p{flags}@{x},{y}/{pressure}" for a pen frame.
class RecordingSystem final : public InputSystem {
public:
    Instant clock = Instant{} + 1h;
    std::string log;
    bool pen_available = true;
    int pen_frames_until_failure = -1;
    std::optional<std::pair<std::int32_t, std::int32_t>> cursor;
    bool caps = false;
    std::function<void()> on_sleep;
    std::function<void()> on_send;
    // What the records leave pressed: virtual keys, and buttons by their down flag.
    std::set<std::uint16_t> keys_down;
    std::set<std::uint32_t> buttons_down;

    Instant now() override { return clock; }
    void sleep(std::chrono::milliseconds time) override {
        log += " s" + std::to_string(time.count());
        if (on_sleep) on_sleep();
    }
    MonitorInfo primary_monitor() override { return MonitorInfo{0, 0, 0, 1000, 500, 144}; }
    VirtualScreen virtual_screen() override { return {0, 0, 1000, 500}; }
    std::optional<std::pair<std::int32_t, std::int32_t>> cursor_position() override { return cursor; }
    void send(const InputRecords& records) override {
        if (on_send) on_send();
        log += " |";
        char text[64];
        for (const auto& r : records) {
            if (const auto* k = std::get_if<KeyRecord>(&r)) {
                if (k->flags & KEY_UNICODE) {
                    std::snprintf(text, sizeof text, " U%X%s", k->scan, (k->flags & KEY_UP) ? "u" : "");
                } else {
                    if (k->flags & KEY_UP) {
                        keys_down.erase(k->vk);
                    } else {
                        keys_down.insert(k->vk);
                    }
                    std::snprintf(text, sizeof text, " k%02X%s%s", k->vk, (k->flags & KEY_EXTENDED) ? "e" : "",
                                  (k->flags & KEY_UP) ? "u" : "");
                }
            } else {
                const auto& m = std::get<MouseRecord>(r);
                for (const std::uint32_t down : {0x0002u, 0x0008u, 0x0020u}) {
                    if (m.flags == down) buttons_down.insert(down);
                    if (m.flags == down << 1) buttons_down.erase(down);
                }
                std::snprintf(text, sizeof text, " m%X:%d,%d,%d", m.flags, m.dx, m.dy, m.data);
            }
            log += text;
        }
    }
    // A US layout: letters plain or with Shift, "!" with Shift on 1, nothing else.
    KeyScan key_scan() override {
        return [](char16_t c) -> std::uint16_t {
            if (c >= u'a' && c <= u'z') return c - u'a' + 0x41;
            if (c >= u'A' && c <= u'Z') return 0x100 | (c - u'A' + 0x41);
            if (c == u'!') return 0x131;
            if (c == u'@') return 0x632;  // Control+Alt: not typed by key
            return 0xFFFF;
        };
    }
    bool caps_lock_on() override { return caps; }
    void lock_workstation() override { log += " lock"; }
    bool create_pen() override { return pen_available; }
    bool inject_pen(const PenFrame& f) override {
        if (pen_frames_until_failure == 0) return false;
        if (pen_frames_until_failure > 0) --pen_frames_until_failure;
        char text[64];
        std::snprintf(text, sizeof text, " p%X@%d,%d/%u", f.flags, f.x, f.y, f.pressure);
        log += text;
        return true;
    }
    void destroy_pen() override { log += " destroy"; }
};

template <typename E>
InputCommand event(E e) {
    return InputCommand(InputEvent(std::move(e)));
}

struct Case {
    const char* name;
    std::vector<InputCommand> commands;
    const char* expected;
    bool caps_lock = false;
};

TEST(Injector, EachInputKindGivesItsRecords) {
    const std::vector<Case> cases = {
        {"move to the last pixel", {event(MoveTo{1, 1})}, " | mC001:65535,65535,0"},
        {"move with not-a-number", {event(MoveTo{NAN, 0.5f})}, " | mC001:0,32833,0"},
        {"click with Command",
         {event(Button{0, true, 0, 8}), event(Button{0, false, 0, 8})},
         " | kA2 mC001:32800,32833,0 m2:0,0,0 | mC001:32800,32833,0 m4:0,0,0 kA2u"},
        {"right and middle buttons",
         {event(Button{1, true, 0, 16}), event(Button{7, true, 0, 0})},
         " | mC001:32800,32833,0 m8:0,0,0 | mC001:32800,32833,0 m20:0,0,0"},
        {"wheel remainders",
         {event(Scroll{0, 0, 0, 0.2f}), event(Scroll{0, 0, 0, 0.2f}), event(Scroll{0, 0, 1.0f, 0})},
         " | m800:0,0,1 | m1000:0,0,-2"},
        {"wheel remainders cleared at the end", {event(Scroll{3, 0, 0, 0.2f}), event(Scroll{0, 0, 0, 0.2f})}, ""},
        {"Shift key held around a key",
         {event(Key{true, 0x38, 1}), event(Key{true, 0x00, 1}), event(Key{false, 0x00, 1}),
          event(Key{false, 0x38, 0})},
         " | kA0 | k41 | k41u | kA0u"},
        {"extended keys and keys of none", {event(Key{true, 0x7B, 0}), event(Key{true, 0x3F, 0}), event(Key{true, 200, 0})},
         " | k25e"},
        {"keypad Enter and Return", {event(Key{true, 0x4C, 0}), event(Key{true, 0x24, 0})}, " | k0De | k0D"},
        {"Function presses nothing", {event(Key{true, 0x00, 16})}, " | k41"},
        {"text with Shift, Enter and Unicode",
         {event(Text{"a\r\nB!@\xE2\x82\xAC\xF0\x9F\x98\x80\t"})},
         " | k41 k41u s4 | k0D k0Du | kA0 s3 | k42 k42u s3 s4 | kA0u | kA0 s3 | k31 k31u s3 s4 | kA0u"
         " s4 | U40 U40u s4 | U20AC U20ACu s4 | UD83D UD83Du UDE00 UDE00u s4 | U9 U9u"},
        {"CR LF is one line break", {event(Text{"a\r\nb"})}, " | k41 k41u s4 | k0D k0Du s4 | k42 k42u"},
        {"a lone CR is one", {event(Text{"a\rb"})}, " | k41 k41u s4 | k0D k0Du s4 | k42 k42u"},
        {"a lone LF is one", {event(Text{"a\nb"})}, " | k41 k41u s4 | k0D k0Du s4 | k42 k42u"},
        {"LF CR is two", {event(Text{"\n\r"})}, " | k0D k0Du s4 | k0D k0Du"},
        {"Caps Lock on keeps the case",
         {event(Text{"Hel!\r\n"})},
         " | U48 U48u s4 | U65 U65u s4 | U6C U6Cu s4 | U21 U21u s4 | k0D k0Du",
         true},
        {"text lets go of modifiers first and presses them again",
         {event(Key{true, 0x3B, 0}), event(Text{"a"})},
         " | kA2 | kA2u | k41 k41u | kA2"},
        {"pinch zoom", {event(Magnify{0, 0.25f}), event(Magnify{3, 0.08f}), event(Magnify{0, 0.05f})},
         " | kA2 m800:0,0,120 kA2u | kA2 m800:0,0,120 kA2u | kA2 m800:0,0,120 kA2u | kA2 m800:0,0,120 kA2u"},
        {"pinch out", {event(Magnify{0, -0.1f})}, " | kA2 m800:0,0,-120 kA2u"},
        {"endless pinch", {event(Magnify{0, INFINITY}), event(Magnify{0, NAN})}, ""},
        {"actions",
         {event(Action{1}), event(Action{4}), event(Action{9}), event(Action{10}), event(Action{11}),
          event(Action{12}), event(Action{6})},
         " | kAFe kAFeu | k5Be k09 k09u k5Beu | k5Be k5Beu lock | k5Be k48 k48u k5Beu | kB3e kB3eu"},
        {"Win+Space", {PressWinSpace{}}, " | k5Be k20 k20u k5Beu"},
        {"release all lets go of keys newest first, buttons and modifiers",
         {event(Key{true, 0x00, 2}), event(Key{true, 0x7B, 2}), event(Key{true, 0x00, 2}),
          event(Button{1, true, 0, 2}), ReleaseAll{}, ReleaseAll{}},
         " | kA2 k41 | k25e | k41 | mC001:32800,32833,0 m8:0,0,0 | k25eu k41u m10:0,0,0 kA2u"},
        {"pen as the mouse when no device can be made",
         {event(Pen{0, 0.5f, 0.5f, 0.5f, 0, 0}), event(Pen{1, 0.5f, 0.5f, 0.5f, 0, 0}), event(Pen{3, 0, 0, 0, 0, 0}),
          event(Pen{3, 0, 0, 0, 0, 0})},
         " | mC001:32800,32833,0 | mC001:32800,32833,0 m2:0,0,0 | mC001:32800,32833,0 m4:0,0,0 | mC001:32800,32833,0"},
    };
    for (const Case& c : cases) {
        RecordingSystem system;
        system.pen_available = std::string(c.name).find("pen as the mouse") == std::string::npos;
        system.caps = c.caps_lock;
        InputInjector injector(system, false, nullptr);
        for (const auto& command : c.commands) injector.apply(command);
        EXPECT_EQ(system.log, c.expected) << c.name;
    }
}

TEST(Injector, PenStrokesAndTheirFallback) {
    RecordingSystem system;
    {
        InputInjector injector(system, false, nullptr);
        for (std::uint8_t phase : {0, 0, 1, 2, 3}) injector.apply(event(Pen{phase, 0.5f, 0.5f, 0.5f, 0, 0}));
        injector.apply(event(Pen{2, 0.25f, 0.5f, 0, 0, 0}));  // a move without a down touches
        system.pen_frames_until_failure = 0;                // the device fails: cancel, then the mouse
        injector.apply(event(Pen{2, 0.25f, 0.5f, 0, 0, 0}));
        injector.apply(event(Pen{3, 0, 0, 0, 0, 0}));
    }
    EXPECT_EQ(system.log,
              " p20002@500,250/0 p20002@500,250/0 p10006@500,250/512 p20006@500,250/512 p40002@500,250/0"
              " p20000@500,250/0 p20002@250,250/0 p10006@250,250/1 destroy | mC001:16400,32833,0"
              " | mC001:16400,32833,0");

    // Letting go of everything lifts the pen and takes it out of range: the
    // next move hovers in and touches afresh.
    RecordingSystem lifted;
    {
        InputInjector injector(lifted, false, nullptr);
        injector.apply(event(Pen{1, 0.5f, 0.5f, 0.5f, 0, 0}));
        injector.apply(ReleaseAll{});
        injector.apply(event(Pen{2, 0.25f, 0.5f, 0.5f, 0, 0}));
    }
    EXPECT_EQ(lifted.log,
              " p20002@500,250/0 p10006@500,250/512 p48002@500,250/0 p20000@500,250/0 p20002@250,250/0"
              " p10006@250,250/512 destroy");

    // Asked for the mouse from the start, no device is made.
    RecordingSystem mouse;
    InputInjector injector(mouse, true, nullptr);
    injector.apply(event(Pen{1, 0, 0, 1, 0, 0}));
    EXPECT_EQ(mouse.log, " | mC001:0,0,0 m2:0,0,0");
}

TEST(Injector, PenTiltAndPressure) {
    using Tilt = std::pair<std::int32_t, std::int32_t>;
    EXPECT_EQ(pen_tilt(0, 0), Tilt(0, 0));
    EXPECT_EQ(pen_tilt(1, 0), Tilt(89, 0));  // capped at 89 degrees before the tangent
    EXPECT_EQ(pen_tilt(0.5f, 0.5f), Tilt(55, 55));
    EXPECT_EQ(pen_tilt(0, -2), Tilt(0, -89));
    EXPECT_EQ(pen_pressure(NAN), 512u);
    EXPECT_EQ(pen_pressure(2), 1024u);
}

TEST(Injector, AHugePinchIsCutTo100Notches) {
    RecordingSystem system;
    InputInjector injector(system, false, nullptr);
    injector.apply(event(Magnify{0, 1e30f}));
    EXPECT_EQ(std::count(system.log.begin(), system.log.end(), '|'), 100);
}

TEST(Injector, HoldsAtMost32KeysAndLetsThemGo) {
    RecordingSystem system;
    InputInjector injector(system, false, nullptr);
    // 33 distinct keys: the letters and digits of the table's first rows.
    for (std::uint16_t code = 0; code < 34; ++code) {
        if (code != 0x0A) injector.apply(event(Key{true, code, 0}));
    }
    // The 33rd lets go of the oldest, A (code 0), as it comes down.
    EXPECT_EQ(system.log.substr(system.log.size() - 11), " | k41u kDB");
    EXPECT_EQ(system.keys_down.size(), 32u);
    injector.apply(event(Key{true, 0x01, 0}));  // held already: no second entry
    system.log.clear();
    // The keys go up before the line that says so, which may be slow to write.
    test::LogCapture log;
    system.on_send = [&] {
        if (!log.messages().empty()) system.log += " logged";
    };
    injector.apply(ReleaseAll{});
    EXPECT_EQ(std::count(system.log.begin(), system.log.end(), 'u'), 32);
    EXPECT_EQ(system.log.substr(system.log.size() - 4), "k53u");  // S (code 1) is the oldest left
    EXPECT_TRUE(system.keys_down.empty());
    EXPECT_EQ(system.log.find("logged"), std::string::npos) << system.log;
    EXPECT_EQ(log.messages(), "input: letting go of 32 key(s) still held\n");
}

TEST(Injector, RelativeMovesAreCountedAndReported) {
    RecordingSystem system;
    std::vector<control::Pointer> reports;
    InputInjector injector(system, false, [&](control::Pointer p) { reports.push_back(p); });
    system.cursor = {100, 100};
    system.clock += 1s;
    last_device_move_ms = 0;

    injector.apply(event(MoveBy{10, 0}));  // starts from the real cursor; 144 DPI scales by 1.5
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (control::Pointer{115.0 / 1000, 100.0 / 500, 1}));
    EXPECT_TRUE(last_device_move().has_value());

    system.clock += 10ms;
    system.cursor = {900, 400};  // moved less than 0.3 s ago: the remembered position holds
    injector.apply(event(MoveBy{0, 10}));
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(injector.report_due());
    injector.report_pointer_position();
    EXPECT_EQ(reports[1], (control::Pointer{115.0 / 1000, 115.0 / 500, 2}));

    injector.apply(ResetApplied{});
    system.clock += 1s;
    system.cursor = {2000, 10};  // off the monitor: ignored
    injector.apply(event(MoveBy{-1000, -1000}));
    EXPECT_EQ(reports.back(), (control::Pointer{0, 0, 1}));
    injector.apply(event(MoveTo{1, 1}));  // absolute moves are not reported
    EXPECT_EQ(reports.size(), 3u);
}

TEST(Injector, LoopReportsAfterTheLastCommandAndEndsWithItsQueue) {
    RecordingSystem system;
    system.clock += 1s;
    std::vector<control::Pointer> reports;
    InputQueue queue;
    queue.send(event(MoveBy{1, 0}));
    queue.send(event(MoveBy{1, 0}));
    queue.close();
    // Both come within 33 ms of the start: one report is owed and sent once
    // the queue falls quiet, then the loop ends.
    run_input_loop(queue, system, false, [&](control::Pointer p) { reports.push_back(p); });
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].applied, 2);
}

TEST(Injector, MovesAndScrollsThatAreNotNumbersDoNothing) {
    for (const float bad : {NAN, INFINITY, -INFINITY}) {
        RecordingSystem system;
        std::vector<control::Pointer> reports;
        InputInjector injector(system, false, [&](control::Pointer p) { reports.push_back(p); });
        system.clock += 1s;
        for (const InputCommand& command :
             {event(MoveBy{bad, 0}), event(MoveBy{0, bad}), event(Scroll{0, 0, 0, 0.2f}), event(Scroll{0, 0, bad, 0}),
              event(Scroll{0, 0, 0, bad}), event(Scroll{0, 0, 0, 0.2f}), event(MoveBy{10, 0})})
            injector.apply(command);
        // The wheel remainder and the pointer carry on as if they never came.
        EXPECT_EQ(system.log, " | m800:0,0,1 | mC001:33784,32833,0") << bad;
        EXPECT_EQ(reports, (std::vector<control::Pointer>{{515.0 / 1000, 250.0 / 500, 1}})) << bad;
    }
}

// A session's end through the queue: the Text it was typing stops within a
// character, what it still had queued is dropped, and what it held is let go.
TEST(Injector, TypingEndsWithinACharacterOfTheSessionsEnd) {
    test::LogCapture log;
    RecordingSystem system;
    InputQueue queue;
    queue.send(event(Key{true, 0x7B, 0}));     // left arrow, held
    queue.send(event(Button{0, true, 0, 0}));  // left button, held
    queue.send(event(Text{std::string(2000, 'x')}));
    queue.send(event(Key{true, 0x01, 0}));     // S: never pressed
    int pauses = 0;
    system.on_sleep = [&] {
        if (++pauses == 5) {  // between the fifth and the sixth character
            queue.end_session();
            queue.close();
        }
    };
    run_input_loop(queue, system, false, nullptr);
    EXPECT_EQ(testing::occurrences(system.log, "k58u"), 6);
    EXPECT_EQ(pauses, 5);
    EXPECT_EQ(system.log.substr(system.log.size() - 17), " | k25eu m4:0,0,0");
    EXPECT_EQ(system.log.find("k53"), std::string::npos);
    EXPECT_TRUE(system.keys_down.empty());
    EXPECT_TRUE(system.buttons_down.empty());
    EXPECT_EQ(log.messages(), "input: typing stopped: the session ended\ninput: letting go of 1 key(s) still held\n");
}

TEST(Injector, TheQueueRefusesLongTextsAndStaysBoundedInAFlood) {
    test::LogCapture log;
    InputQueue texts;
    std::string longest;
    for (std::size_t i = 0; i < MAX_TEXT_CHARACTERS; ++i) longest += "\xC3\xA9";  // two bytes, one character
    texts.send(event(Text{longest}));
    texts.send(event(Text{longest + "a"}));
    EXPECT_EQ(texts.size(), 1u);
    EXPECT_EQ(log.messages(), "input: a text of 8001 characters is not typed (the most is 8000)\n");

    // Floods of moves, of key presses, and of key-ups alone over a key and a
    // button pressed before them: the queue stays bounded, and the releases
    // queued inside the flood (a key-up, a button-up, ReleaseAll) and the
    // flood's own key-ups after it leave nothing pressed.
    struct Flood {
        const char* name;
        std::function<InputCommand(int)> command;
        std::size_t bound;
    };
    const Flood floods[] = {
        {"moves", [](int) { return event(MoveBy{1, 0}); }, MAX_QUEUED_INPUT},
        {"key presses", [](int i) { return event(Key{true, static_cast<std::uint16_t>(i % 50), 0}); },
         MAX_QUEUED_INPUT},
        {"key-ups", [](int i) { return event(Key{false, static_cast<std::uint16_t>(i % 500), 0}); },
         MAX_QUEUED_INPUT + 133},  // past the bound, one of each key and button let go
    };
    for (const Flood& flood : floods) {
        RecordingSystem system;
        InputInjector injector(system, false, nullptr);
        injector.apply(event(Key{true, 0x7B, 0}));
        injector.apply(event(Button{1, true, 0, 0}));
        injector.apply(event(Key{true, 0x7D, 0}));
        InputQueue queue;
        test::LogCapture flood_log;
        std::size_t most = 0;
        for (int i = 0; i < 3000; ++i) {
            queue.send(flood.command(i));
            if (i == 1500) queue.send(event(Key{false, 0x7B, 0}));
            if (i == 2000) queue.send(event(Button{1, false, 0, 0}));
            if (i == 2500) queue.send(ReleaseAll{});
            most = std::max(most, queue.size());
        }
        EXPECT_LE(most, flood.bound) << flood.name;
        // Never drained, the queue is full from its first fill on: told once.
        EXPECT_EQ(testing::occurrences(flood_log.messages(), "commands waiting; pointer moves give way\n"), 1)
            << flood.name;
        for (std::uint16_t code = 0; code < 50; ++code) queue.send(event(Key{false, code, 0}));
        queue.close();
        while (auto item = queue.receive()) injector.apply(item->command);
        EXPECT_TRUE(system.keys_down.empty()) << flood.name;
        EXPECT_TRUE(system.buttons_down.empty()) << flood.name;
    }
}

#ifndef _WIN32
// The line that says the queue is full waits for a log that is slow to take
// it (a pipe kept full) without holding the queue.
TEST(Injector, TheFullQueueIsToldOutsideTheQueuesLock) {
    test::TempFolder folder;
    const auto fifo = folder / "vorlix.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    open_log_file(fifo);
    const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    const std::string block(4096, '.');
    while (::write(filler, block.data(), block.size()) > 0) {
    }
    ::close(filler);

    InputQueue queue(1);
    queue.send(event(MoveBy{1, 0}));
    auto filling = std::async(std::launch::async, [&] { queue.send(event(MoveBy{2, 0})); });
    std::this_thread::sleep_for(200ms);  // the line is on its way
    auto size = std::async(std::launch::async, [&] { return queue.size(); });
    const bool answered = size.wait_for(2s) == std::future_status::ready;
    std::string text;
    const auto read_pipe = [&] {
        char buffer[65536];
        for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    };
    for (int i = 0; i < 1000 && filling.wait_for(10ms) != std::future_status::ready; ++i) read_pipe();
    read_pipe();
    ::close(reader);
    test::LogCapture back_to_the_test_file;
    EXPECT_TRUE(answered);
    EXPECT_EQ(size.get(), 1u);
    EXPECT_NE(text.find(" input: 1 commands waiting; pointer moves give way\n"), std::string::npos);
}
#endif

TEST(Injector, KeyMapEdges) {
    EXPECT_EQ(mac_key_to_vk(0x0A).vk, 0xE2);
    EXPECT_EQ(mac_key_to_vk(0x75).vk, 0x2E);
    EXPECT_EQ(mac_key_to_vk(0x75).kind, KeyKind::extended);
    EXPECT_EQ(mac_key_to_vk(0x37).kind, KeyKind::none);
    EXPECT_EQ(mac_key_to_vk(0x7F).kind, KeyKind::none);
}

}  // namespace
}  // namespace vorlix::input
