// The device's input turned into the PC's input. One thread, "vorlix-input",
// owns an InputInjector and feeds it InputCommands from its queue in arrival
// order; the injector keeps all injection state (the pointer it believes in,
// held keys and buttons, pressed modifiers, the pen) and hands plain input
// records to an InputSystem, which the Windows side turns into SendInput and
// synthetic pen input. Everything here is portable, so the rules run natively
// against a recording system.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "capture/capture.h"
#include "control/messages.h"
#include "stream/clock.h"
#include "wire/input_message.h"

namespace vorlix {

// Carried in the extra-information field of every injected record, so that
// our input can be told from the user's own.
constexpr std::uint32_t EXTRA_INFO_MARKER = 0x564F524C;

namespace input {

// Keyboard record flags and virtual keys, with the system's values.
constexpr std::uint32_t KEY_EXTENDED = 0x0001;
constexpr std::uint32_t KEY_UP = 0x0002;
constexpr std::uint32_t KEY_UNICODE = 0x0004;
constexpr std::uint16_t VK_SHIFT_LEFT = 0xA0;
constexpr std::uint16_t VK_CONTROL_LEFT = 0xA2;
constexpr std::uint16_t VK_ALT_LEFT = 0xA4;
constexpr std::uint16_t VK_WINDOWS_LEFT = 0x5B;
constexpr std::uint16_t VK_ENTER = 0x0D;

// Mouse record flags.
constexpr std::uint32_t MOUSE_ABSOLUTE_MOVE = 0xC001;  // move | virtual desk | absolute
constexpr std::uint32_t MOUSE_LEFT_DOWN = 0x0002;
constexpr std::uint32_t MOUSE_LEFT_UP = 0x0004;
constexpr std::uint32_t MOUSE_WHEEL = 0x0800;
constexpr std::uint32_t MOUSE_HWHEEL = 0x1000;

// One keyboard record. `scan` is only set for Unicode records; the system
// maps the virtual key to its scan code for the others.
struct KeyRecord {
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;
    std::uint32_t flags = 0;
    bool operator==(const KeyRecord&) const = default;
};
struct MouseRecord {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::int32_t data = 0;
    std::uint32_t flags = 0;
    bool operator==(const MouseRecord&) const = default;
};
using InputRecord = std::variant<KeyRecord, MouseRecord>;
using InputRecords = std::vector<InputRecord>;

// One frame of the synthetic pen: pixel point, pointer flags (the primary
// flag is added by the system side), pressure 0..1024, tilt in degrees.
struct PenFrame {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t flags = 0;
    std::uint32_t pressure = 0;
    std::int32_t tilt_x = 0;
    std::int32_t tilt_y = 0;
    bool operator==(const PenFrame&) const = default;
};

constexpr std::uint32_t PEN_HOVER = 0x20002;
constexpr std::uint32_t PEN_TOUCH_MOVE = 0x20006;
constexpr std::uint32_t PEN_DOWN = 0x10006;
constexpr std::uint32_t PEN_UP = 0x40002;
constexpr std::uint32_t PEN_CANCEL = 0x48002;
constexpr std::uint32_t PEN_LEAVE = 0x20000;

enum class KeyKind : std::uint8_t { none, plain, extended };
struct MappedKey {
    std::uint16_t vk = 0;
    KeyKind kind = KeyKind::none;
};

// The Windows virtual key of a Mac virtual key code; codes above 126 are none.
MappedKey mac_key_to_vk(std::uint16_t code);

// The device's modifier bits (1 Shift, 2 Control, 4 Option, 8 Command,
// 16 Function) as the modifier keys pressed here (1 Shift, 2 Control, 4 Alt).
std::uint8_t to_windows_modifiers(std::uint32_t bits);

// The pressure (0..1024) and tilt (degrees) of a pen sample.
std::uint32_t pen_pressure(float pressure);
std::pair<std::int32_t, std::int32_t> pen_tilt(float tilt_x, float tilt_y);

struct ReleaseAll {};
struct ResetApplied {};
struct PressWinSpace {};
using InputCommand = std::variant<InputEvent, ReleaseAll, ResetApplied, PressWinSpace>;

// The virtual screen's rectangle, as the system metrics give it.
struct VirtualScreen {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

// Maps a character to a key of the keyboard layout the text goes to, as
// VkKeyScanEx does: low byte the key, high byte the shift state, 0xFFFF none.
using KeyScan = std::function<std::uint16_t(char16_t)>;

// What the injector needs of the PC.
class InputSystem {
public:
    virtual ~InputSystem() = default;
    virtual Instant now() = 0;
    virtual void sleep(std::chrono::milliseconds time) = 0;
    virtual MonitorInfo primary_monitor() = 0;
    virtual VirtualScreen virtual_screen() = 0;
    virtual std::optional<std::pair<std::int32_t, std::int32_t>> cursor_position() = 0;
    // One SendInput of the records (never called with none).
    virtual void send(const InputRecords& records) = 0;
    // The key lookup of the layout of the window in front, read now.
    virtual KeyScan key_scan() = 0;
    // Whether Caps Lock is on now.
    virtual bool caps_lock_on() = 0;
    virtual void lock_workstation() = 0;
    // The synthetic pen: make it (logging its own outcome), inject one frame
    // (logging a failure), destroy it.
    virtual bool create_pen() = 0;
    virtual bool inject_pen(const PenFrame& frame) = 0;
    virtual void destroy_pen() = 0;
};

// The time of the device's last relative move, shared with the cursor
// reports (which keep quiet for a while after it): milliseconds since a
// process-wide reference instant, plus one; 0 means never.
extern std::atomic<std::uint64_t> last_device_move_ms;
std::uint64_t millis_since_reference(Instant now);
std::optional<Instant> last_device_move();

using PointerReport = std::function<void(control::Pointer)>;

class InputInjector {
public:
    // `pen_to_mouse`: the environment asked for the pen to be the mouse.
    InputInjector(InputSystem& system, bool pen_to_mouse, PointerReport report);
    ~InputInjector();
    InputInjector(const InputInjector&) = delete;
    InputInjector& operator=(const InputInjector&) = delete;

    // `ended`, when given, tells whether the command's session has ended; a
    // Text stops typing at the next character once it has.
    void apply(const InputCommand& command, const std::function<bool()>& ended = nullptr);
    bool report_due() const { return report_due_; }
    void report_pointer_position();

private:
    struct HeldKey {
        std::uint16_t vk = 0;
        bool extended = false;
        bool operator==(const HeldKey&) const = default;
    };
    struct PenDevice {
        std::int32_t last_x = 0, last_y = 0;
        bool in_range = false, in_contact = false;
    };

    void apply_event(const InputEvent& event, const std::function<bool()>& ended);
    void move_to(float x, float y);
    void move_by(const input::MoveBy& move);
    void button(const input::Button& button);
    void scroll(const input::Scroll& scroll);
    void key(const input::Key& key);
    void text(const input::Text& text, const std::function<bool()>& ended);
    void magnify(const input::Magnify& magnify);
    void pen(const input::Pen& pen);
    void action(std::uint8_t code);
    void release_all();
    void press_key_chord(std::uint16_t vk, bool extended, std::initializer_list<std::uint16_t> modifiers);

    void refresh_monitor();
    void clamp();
    MouseRecord absolute_move();
    void sync_modifier_keys(std::uint8_t wanted, InputRecords& records);
    void send(const InputRecords& records);
    bool inject_pen_frame(std::uint32_t flags, std::int32_t x, std::int32_t y, std::uint32_t pressure,
                          std::pair<std::int32_t, std::int32_t> tilt);
    bool inject_pen_sample(const input::Pen& pen, std::int32_t x, std::int32_t y);
    void pen_as_mouse(std::uint8_t phase);
    void drop_pen_device();

    InputSystem& system_;
    PointerReport report_;
    MonitorInfo monitor_;
    Instant monitor_read_at_;
    double pos_x_ = 0, pos_y_ = 0;
    double scroll_rest_x_ = 0, scroll_rest_y_ = 0;
    float magnify_rest_ = 0;
    std::uint32_t key_flags_ = 0;
    std::uint8_t pressed_modifiers_ = 0;
    std::vector<HeldKey> held_keys_;
    bool buttons_down_[3] = {false, false, false};
    bool pen_as_mouse_down_ = false;
    std::optional<PenDevice> pen_device_;
    bool pen_to_mouse_ = false;
    bool pen_logged_ = false;
    std::uint64_t applied_ = 0;
    std::optional<Instant> last_move_at_;
    Instant last_report_at_;
    bool report_due_ = false;
};

}  // namespace input
}  // namespace vorlix
