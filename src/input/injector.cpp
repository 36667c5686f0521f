#include "input/injector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "app/text.h"
#include "host/log.h"
#include "stream/saturate.h"

namespace vorlix::input {

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t MOD_SHIFT = 1, MOD_CONTROL = 2, MOD_ALT = 4;
constexpr std::size_t MAX_HELD_KEYS = 32;
constexpr int MAX_PINCH_NOTCHES = 100;

// Rows of eight Mac codes; 0 is none, a value above 0xFF is extended.
constexpr std::uint16_t EXT = 0x100;
constexpr std::array<std::uint16_t, 127> KEY_TABLE = {
    0x41, 0x53, 0x44, 0x46, 0x48, 0x47, 0x5A, 0x58,  // 0x00
    0x43, 0x56, 0xE2, 0x42, 0x51, 0x57, 0x45, 0x52,  // 0x08
    0x59, 0x54, 0x31, 0x32, 0x33, 0x34, 0x36, 0x35,  // 0x10
    0xBB, 0x39, 0x37, 0xBD, 0x38, 0x30, 0xDD, 0x4F,  // 0x18
    0x55, 0xDB, 0x49, 0x50, 0x0D, 0x4C, 0x4A, 0xDE,  // 0x20
    0x4B, 0xBA, 0xDC, 0xBC, 0xBF, 0x4E, 0x4D, 0xBE,  // 0x28
    0x09, 0x20, 0xC0, 0x08, 0, 0x1B, 0, 0,           // 0x30
    0, 0x14, 0, 0, 0, 0, 0, 0,                       // 0x38
    0x80, 0x6E, 0, 0x6A, 0, 0x6B, 0, 0x90,           // 0x40
    EXT | 0xAF, EXT | 0xAE, EXT | 0xAD, EXT | 0x6F, EXT | 0x0D, 0, 0x6D, 0x81,  // 0x48
    0x82, 0xBB, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65,  // 0x50
    0x66, 0x67, 0x83, 0x68, 0x69, 0, 0, 0,           // 0x58
    0x74, 0x75, 0x76, 0x72, 0x77, 0x78, 0, 0x7A,     // 0x60
    0, 0x7C, 0x7F, 0x7D, 0, 0x79, EXT | 0x5D, 0x7B,    // 0x68
    0, 0x7E, EXT | 0x2D, EXT | 0x24, EXT | 0x21, EXT | 0x2E, 0x73, EXT | 0x23,  // 0x70
    0x71, EXT | 0x22, 0x70, EXT | 0x25, EXT | 0x27, EXT | 0x28, EXT | 0x26,     // 0x78
};

// The device modifier bit of a modifier key (0x36..0x3F but Caps Lock), else 0.
std::uint32_t modifier_key_bit(std::uint16_t code) {
    switch (code) {
        case 0x36: case 0x37: return 8;
        case 0x38: case 0x3C: return 1;
        case 0x3A: case 0x3D: return 4;
        case 0x3B: case 0x3E: return 2;
        case 0x3F: return 16;
        default: return 0;
    }
}

std::int32_t round_to_int(double value) { return saturating_cast<std::int32_t>(std::round(value)); }

KeyRecord key_record(std::uint16_t vk, bool extended, bool up) {
    return KeyRecord{vk, 0, (extended ? KEY_EXTENDED : 0u) | (up ? KEY_UP : 0u)};
}

void press(InputRecords& records, std::uint16_t vk) {
    records.push_back(key_record(vk, false, false));
    records.push_back(key_record(vk, false, true));
}

}  // namespace

std::atomic<std::uint64_t> last_device_move_ms{0};

namespace {
Instant reference_instant() {
    static const Instant reference = StreamClock::now();
    return reference;
}
}  // namespace

std::uint64_t millis_since_reference(Instant now) {
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - reference_instant()).count();
    return since > 0 ? static_cast<std::uint64_t>(since) : 0;
}

std::optional<Instant> last_device_move() {
    const std::uint64_t ms = last_device_move_ms.load();
    if (ms == 0) return std::nullopt;
    return reference_instant() + std::chrono::milliseconds(ms - 1);
}

MappedKey mac_key_to_vk(std::uint16_t code) {
    if (code >= KEY_TABLE.size() || KEY_TABLE[code] == 0) return {};
    const std::uint16_t cell = KEY_TABLE[code];
    return {static_cast<std::uint16_t>(cell & 0xFF), (cell & EXT) ? KeyKind::extended : KeyKind::plain};
}

std::uint8_t to_windows_modifiers(std::uint32_t bits) {
    std::uint8_t windows = 0;
    if (bits & 1) windows |= MOD_SHIFT;
    if (bits & (2 | 8)) windows |= MOD_CONTROL;
    if (bits & 4) windows |= MOD_ALT;
    return windows;
}

std::uint32_t pen_pressure(float pressure) {
    if (!std::isfinite(pressure)) return 512;
    return saturating_cast<std::uint32_t>(std::round(std::clamp(static_cast<double>(pressure), 0.0, 1.0) * 1024));
}

std::pair<std::int32_t, std::int32_t> pen_tilt(float tilt_x, float tilt_y) {
    const float m = std::clamp(std::hypot(tilt_x, tilt_y), 0.0f, 1.0f);
    if (!(m >= 1e-6f) || !std::isfinite(m)) return {0, 0};
    const double degrees = 180.0 / std::numbers::pi;
    const double t = std::tan(std::min(static_cast<double>(m) * 90.0, 89.0) / degrees);
    const auto one = [&](float component) {
        const double angle = std::round(std::atan(t * component / m) * degrees);
        return saturating_cast<std::int32_t>(std::clamp(angle, -90.0, 90.0));
    };
    return {one(tilt_x), one(tilt_y)};
}

InputInjector::InputInjector(InputSystem& system, bool pen_to_mouse, PointerReport report)
    : system_(system), report_(std::move(report)), pen_to_mouse_(pen_to_mouse) {
    monitor_ = system_.primary_monitor();
    monitor_read_at_ = system_.now();
    pos_x_ = monitor_.left + monitor_.width * 0.5;
    pos_y_ = monitor_.top + monitor_.height * 0.5;
    last_report_at_ = monitor_read_at_;
}

InputInjector::~InputInjector() {
    if (pen_device_) system_.destroy_pen();
}

void InputInjector::apply(const InputCommand& command, const std::function<bool()>& ended) {
    std::visit(
        [&](const auto& c) {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, InputEvent>) {
                apply_event(c, ended);
            } else if constexpr (std::is_same_v<C, ReleaseAll>) {
                release_all();
            } else if constexpr (std::is_same_v<C, ResetApplied>) {
                applied_ = 0;
            } else {
                press_key_chord(0x20, false, {VK_WINDOWS_LEFT});
            }
        },
        command);
}

void InputInjector::apply_event(const InputEvent& event, const std::function<bool()>& ended) {
    refresh_monitor();
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, MoveTo>) {
                move_to(e.x, e.y);
                last_move_at_ = system_.now();
                send({absolute_move()});
            } else if constexpr (std::is_same_v<E, MoveBy>) {
                move_by(e);
            } else if constexpr (std::is_same_v<E, Button>) {
                button(e);
            } else if constexpr (std::is_same_v<E, Scroll>) {
                scroll(e);
            } else if constexpr (std::is_same_v<E, Key>) {
                key(e);
            } else if constexpr (std::is_same_v<E, Text>) {
                text(e, ended);
            } else if constexpr (std::is_same_v<E, Magnify>) {
                magnify(e);
            } else if constexpr (std::is_same_v<E, Pen>) {
                pen(e);
            } else if constexpr (std::is_same_v<E, Action>) {
                action(e.code);
            }
        },
        event.variant());
}

void InputInjector::refresh_monitor() {
    const Instant now = system_.now();
    if (now - monitor_read_at_ <= 500ms) return;
    monitor_ = system_.primary_monitor();
    monitor_read_at_ = now;
    clamp();
}

void InputInjector::clamp() {
    // A monitor of no width or height holds the pointer at its corner.
    pos_x_ = std::clamp(pos_x_, static_cast<double>(monitor_.left),
                        std::max(static_cast<double>(monitor_.left), monitor_.left + monitor_.width - 1.0));
    pos_y_ = std::clamp(pos_y_, static_cast<double>(monitor_.top),
                        std::max(static_cast<double>(monitor_.top), monitor_.top + monitor_.height - 1.0));
}

void InputInjector::move_to(float x, float y) {
    const auto fraction = [](float v) { return std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v), 0.0, 1.0); };
    pos_x_ = monitor_.left + monitor_.width * fraction(x);
    pos_y_ = monitor_.top + monitor_.height * fraction(y);
    clamp();
}

MouseRecord InputInjector::absolute_move() {
    const VirtualScreen screen = system_.virtual_screen();
    const auto scaled = [](double pos, std::int32_t origin, std::int32_t size) {
        return round_to_int((std::floor(pos) - origin) * 65535.0 / (std::max(size, 2) - 1.0));
    };
    return MouseRecord{scaled(pos_x_, screen.left, screen.width), scaled(pos_y_, screen.top, screen.height), 0,
                       MOUSE_ABSOLUTE_MOVE};
}

void InputInjector::move_by(const MoveBy& move) {
    // A delta that is not a number would leave the pointer nowhere.
    if (!std::isfinite(move.dx) || !std::isfinite(move.dy)) return;
    const Instant now = system_.now();
    const bool any_button = buttons_down_[0] || buttons_down_[1] || buttons_down_[2];
    if ((!last_move_at_ || now - *last_move_at_ > 300ms) && !any_button) {
        if (auto cursor = system_.cursor_position()) {
            const auto [x, y] = *cursor;
            if (monitor_.left <= x && x < monitor_.left + monitor_.width && monitor_.top <= y &&
                y < monitor_.top + monitor_.height) {
                pos_x_ = x;
                pos_y_ = y;
            }
        }
    }
    last_move_at_ = now;
    ++applied_;
    last_device_move_ms.store(millis_since_reference(now) + 1);
    const double scale = std::max(monitor_.dpi, 96u) / 96.0;
    pos_x_ += static_cast<double>(move.dx) * scale;
    pos_y_ += static_cast<double>(move.dy) * scale;
    clamp();
    send({absolute_move()});
    if (now - last_report_at_ < 33ms) {
        report_due_ = true;
    } else {
        report_pointer_position();
    }
}

void InputInjector::report_pointer_position() {
    report_due_ = false;
    last_report_at_ = system_.now();
    control::Pointer pointer;
    pointer.x = (pos_x_ - monitor_.left) / std::max(monitor_.width, 1);
    pointer.y = (pos_y_ - monitor_.top) / std::max(monitor_.height, 1);
    pointer.applied = static_cast<std::int64_t>(applied_);
    if (report_) report_(pointer);
}

void InputInjector::sync_modifier_keys(std::uint8_t wanted, InputRecords& records) {
    static constexpr std::pair<std::uint8_t, std::uint16_t> ORDER[] = {
        {MOD_CONTROL, VK_CONTROL_LEFT}, {MOD_ALT, VK_ALT_LEFT}, {MOD_SHIFT, VK_SHIFT_LEFT}};
    for (const auto& [bit, vk] : ORDER) {
        const bool want = (wanted & bit) != 0;
        const bool pressed = (pressed_modifiers_ & bit) != 0;
        if (want != pressed) records.push_back(key_record(vk, false, !want));
    }
    pressed_modifiers_ = wanted;
}

void InputInjector::send(const InputRecords& records) {
    if (!records.empty()) system_.send(records);
}

void InputInjector::button(const Button& event) {
    static constexpr std::uint32_t DOWN_FLAGS[] = {0x0002, 0x0008, 0x0020};
    const std::size_t index = std::min<std::size_t>(event.button, 2);
    buttons_down_[index] = event.down;
    InputRecords records;
    if (event.down) {
        sync_modifier_keys(to_windows_modifiers(event.modifiers | key_flags_), records);
        records.push_back(absolute_move());
        records.push_back(MouseRecord{0, 0, 0, DOWN_FLAGS[index]});
    } else {
        records.push_back(absolute_move());
        records.push_back(MouseRecord{0, 0, 0, DOWN_FLAGS[index] << 1});
        sync_modifier_keys(to_windows_modifiers(key_flags_), records);
    }
    send(records);
}

void InputInjector::scroll(const Scroll& event) {
    // Nor would it leave a remainder that later notches could add to.
    if (!std::isfinite(event.dx) || !std::isfinite(event.dy)) return;
    scroll_rest_x_ += static_cast<double>(event.dx) * 2.5;
    scroll_rest_y_ += static_cast<double>(event.dy) * 2.5;
    const double wx = std::trunc(scroll_rest_x_);
    const double wy = std::trunc(scroll_rest_y_);
    scroll_rest_x_ -= wx;
    scroll_rest_y_ -= wy;
    InputRecords records;
    if (wy != 0) records.push_back(MouseRecord{0, 0, saturating_cast<std::int32_t>(wy), MOUSE_WHEEL});
    if (wx != 0) records.push_back(MouseRecord{0, 0, saturating_cast<std::int32_t>(-wx), MOUSE_HWHEEL});
    send(records);
    if (event.phase > 2 || event.momentumPhase == 3) scroll_rest_x_ = scroll_rest_y_ = 0;
}

void InputInjector::key(const Key& event) {
    InputRecords records;
    if (const std::uint32_t bit = modifier_key_bit(event.keyCode)) {
        key_flags_ = event.down ? (key_flags_ | bit) : (key_flags_ & ~bit);
        sync_modifier_keys(to_windows_modifiers(key_flags_), records);
        send(records);
        return;
    }
    const MappedKey mapped = mac_key_to_vk(event.keyCode);
    if (mapped.kind == KeyKind::none) return;
    const HeldKey held{mapped.vk, mapped.kind == KeyKind::extended};
    if (event.down) {
        sync_modifier_keys(to_windows_modifiers(event.modifiers | key_flags_), records);
        records.push_back(key_record(held.vk, held.extended, false));
        if (std::find(held_keys_.begin(), held_keys_.end(), held) == held_keys_.end()) {
            if (held_keys_.size() == MAX_HELD_KEYS) {
                // The oldest makes room, and is let go now: nothing could later.
                const HeldKey oldest = held_keys_.front();
                held_keys_.erase(held_keys_.begin());
                records.insert(records.end() - 1, key_record(oldest.vk, oldest.extended, true));
            }
            held_keys_.push_back(held);
        }
    } else {
        records.push_back(key_record(held.vk, held.extended, true));
        sync_modifier_keys(to_windows_modifiers(key_flags_), records);
        std::erase(held_keys_, held);
    }
    send(records);
}

void InputInjector::text(const Text& event, const std::function<bool()>& ended) {
    InputRecords records;
    sync_modifier_keys(0, records);
    send(records);
    // The layout of the window the text goes to, not this thread's.
    const KeyScan scan = system_.key_scan();
    // Caps Lock turns what a key types by the layout's rules for that key
    // (letters, and on some layouts digits too), so while it is on nothing
    // is typed by key: Unicode records keep the text as it was sent.
    const bool by_key = !system_.caps_lock_on();
    const std::u16string units = utf8_to_utf16(event.text);
    std::size_t index = 0;
    for (std::size_t i = 0; i < units.size(); ++index) {
        if (ended && ended()) {
            log_line("input: typing stopped: the session ended");
            return;  // ReleaseAll follows and lets go of the modifiers
        }
        const char16_t unit = units[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                          units[i + 1] <= 0xDFFF;
        // CR LF, the line break of text from Windows, is one line break.
        const bool crlf = unit == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n';
        const std::u16string_view character(units.data() + i, pair || crlf ? 2 : 1);
        i += character.size();
        InputRecords batch;
        if (unit == u'\n' || unit == u'\r') {
            press(batch, VK_ENTER);
        } else {
            const bool typable = by_key && !pair && unit >= 0x20 && !(unit >= 0x7F && unit <= 0x9F);
            const std::uint16_t r = typable && scan ? scan(unit) : 0xFFFF;
            if (typable && r < 0x100) {
                press(batch, r & 0xFF);
            } else if (typable && r < 0x200) {
                send({key_record(VK_SHIFT_LEFT, false, false)});
                system_.sleep(3ms);
                InputRecords keys;
                press(keys, r & 0xFF);
                send(keys);
                system_.sleep(3ms);
                batch.push_back(key_record(VK_SHIFT_LEFT, false, true));
            } else {
                for (const char16_t u : character) {
                    batch.push_back(KeyRecord{0, u, KEY_UNICODE});
                    batch.push_back(KeyRecord{0, u, KEY_UNICODE | KEY_UP});
                }
            }
        }
        if (index > 0) system_.sleep(4ms);
        send(batch);
    }
    records.clear();
    sync_modifier_keys(to_windows_modifiers(key_flags_), records);
    send(records);
}

void InputInjector::magnify(const Magnify& event) {
    magnify_rest_ += event.delta;
    // An endless or huge pinch would keep this thread notching for ever (a
    // float too large loses the 0.08 steps): it is cut to MAX_PINCH_NOTCHES.
    if (!std::isfinite(magnify_rest_)) magnify_rest_ = 0;
    if (std::fabs(magnify_rest_) >= 0.08f * (MAX_PINCH_NOTCHES + 1))
        magnify_rest_ = std::copysign(0.08f * MAX_PINCH_NOTCHES + 0.04f, magnify_rest_);
    while (std::fabs(magnify_rest_) >= 0.08f) {
        const std::int32_t step = magnify_rest_ > 0 ? 120 : -120;
        magnify_rest_ -= std::copysign(0.08f, magnify_rest_);
        const std::uint8_t before = pressed_modifiers_;
        InputRecords records;
        sync_modifier_keys(before | MOD_CONTROL, records);
        records.push_back(MouseRecord{0, 0, step, MOUSE_WHEEL});
        sync_modifier_keys(before, records);
        send(records);
    }
    if (event.phase > 2) magnify_rest_ = 0;
}

void InputInjector::press_key_chord(std::uint16_t vk, bool extended, std::initializer_list<std::uint16_t> modifiers) {
    InputRecords records;
    for (const std::uint16_t m : modifiers) records.push_back(key_record(m, m == VK_WINDOWS_LEFT, false));
    records.push_back(key_record(vk, extended, false));
    records.push_back(key_record(vk, extended, true));
    for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m)
        records.push_back(key_record(*m, *m == VK_WINDOWS_LEFT, true));
    send(records);
}

void InputInjector::action(std::uint8_t code) {
    switch (code) {
        case 1: press_key_chord(0xAF, true, {}); break;
        case 2: press_key_chord(0xAE, true, {}); break;
        case 3: press_key_chord(0xAD, true, {}); break;
        case 6: press_key_chord(0xB3, true, {}); break;
        case 7: press_key_chord(0xB0, true, {}); break;
        case 8: press_key_chord(0xB1, true, {}); break;
        case 9: press_key_chord(0x09, false, {VK_WINDOWS_LEFT}); break;
        case 10: press_key_chord(VK_WINDOWS_LEFT, true, {}); break;
        case 11: system_.lock_workstation(); break;
        case 12: press_key_chord(0x48, false, {VK_WINDOWS_LEFT}); break;
        default: break;
    }
}

void InputInjector::release_all() {
    InputRecords records;
    const std::vector<HeldKey> taken = std::exchange(held_keys_, {});
    for (auto k = taken.rbegin(); k != taken.rend(); ++k) records.push_back(key_record(k->vk, k->extended, true));
    static constexpr std::uint32_t UP_FLAGS[] = {0x0004, 0x0010, 0x0040};
    for (std::size_t i = 0; i < 3; ++i) {
        if (buttons_down_[i]) records.push_back(MouseRecord{0, 0, 0, UP_FLAGS[i]});
        buttons_down_[i] = false;
    }
    key_flags_ = 0;
    sync_modifier_keys(0, records);
    pen_as_mouse_down_ = false;
    if (pen_device_) {
        if (pen_device_->in_contact) inject_pen_frame(PEN_CANCEL, pen_device_->last_x, pen_device_->last_y, 0, {0, 0});
        if (pen_device_->in_range) inject_pen_frame(PEN_LEAVE, pen_device_->last_x, pen_device_->last_y, 0, {0, 0});
        pen_device_->in_contact = pen_device_->in_range = false;
    }
    send(records);
    // Said once the keys are up: writing a line may take its time.
    if (!taken.empty()) log_line("input: letting go of " + std::to_string(taken.size()) + " key(s) still held");
}

bool InputInjector::inject_pen_frame(std::uint32_t flags, std::int32_t x, std::int32_t y, std::uint32_t pressure,
                                     std::pair<std::int32_t, std::int32_t> tilt) {
    if (!system_.inject_pen(PenFrame{x, y, flags, pressure, tilt.first, tilt.second})) return false;
    pen_device_->last_x = x;
    pen_device_->last_y = y;
    return true;
}

bool InputInjector::inject_pen_sample(const Pen& pen, std::int32_t x, std::int32_t y) {
    PenDevice& d = *pen_device_;
    const auto tilt = pen_tilt(pen.tiltX, pen.tiltY);
    const std::uint32_t touch = std::max(pen_pressure(pen.pressure), 1u);
    // Starts a touch at (x, y): hover into range first when out of it.
    const auto touch_down = [&] {
        if (!d.in_range && !inject_pen_frame(PEN_HOVER, x, y, 0, tilt)) return false;
        d.in_range = true;
        d.in_contact = inject_pen_frame(PEN_DOWN, x, y, touch, tilt);
        return d.in_contact;
    };
    const bool ends = pen.phase == 3 || pen.phase == 4;
    if (d.in_contact) {
        if (pen.phase == 0 || pen.phase == 2) return inject_pen_frame(PEN_TOUCH_MOVE, x, y, touch, tilt);
        if (pen.phase == 1) {
            if (!d.in_range && !inject_pen_frame(PEN_HOVER, x, y, 0, tilt)) return false;
            d.in_range = true;
            if (!inject_pen_frame(PEN_UP, d.last_x, d.last_y, 0, tilt)) return false;
            d.in_contact = false;
            return touch_down();
        }
        bool ok = inject_pen_frame(pen.phase == 3 ? PEN_UP : PEN_CANCEL, d.last_x, d.last_y, 0, tilt);
        if (d.in_range) ok = inject_pen_frame(PEN_LEAVE, d.last_x, d.last_y, 0, tilt) && ok;
        d.in_contact = d.in_range = false;
        return ok;
    }
    if (pen.phase == 0) {
        d.in_range = inject_pen_frame(PEN_HOVER, x, y, 0, tilt);
        return d.in_range;
    }
    if (!ends) return touch_down();
    bool ok = true;
    if (d.in_range) ok = inject_pen_frame(PEN_LEAVE, d.last_x, d.last_y, 0, tilt);
    d.in_range = false;
    return ok;
}

void InputInjector::pen_as_mouse(std::uint8_t phase) {
    InputRecords records{absolute_move()};
    if (phase == 1) {
        records.push_back(MouseRecord{0, 0, 0, MOUSE_LEFT_DOWN});
        pen_as_mouse_down_ = buttons_down_[0] = true;
    } else if (phase == 3 || phase == 4) {
        if (pen_as_mouse_down_) records.push_back(MouseRecord{0, 0, 0, MOUSE_LEFT_UP});
        pen_as_mouse_down_ = buttons_down_[0] = false;
    }
    send(records);
}

void InputInjector::drop_pen_device() {
    PenDevice& d = *pen_device_;
    if (d.in_contact) inject_pen_frame(PEN_CANCEL, d.last_x, d.last_y, 0, {0, 0});
    if (d.in_range) inject_pen_frame(PEN_LEAVE, d.last_x, d.last_y, 0, {0, 0});
    system_.destroy_pen();
    pen_device_.reset();
    pen_to_mouse_ = true;
}

void InputInjector::pen(const Pen& event) {
    if (event.phase <= 2) move_to(event.x, event.y);
    if (!pen_device_ && !pen_to_mouse_) {
        if (system_.create_pen()) {
            pen_device_ = PenDevice{};
        } else {
            pen_to_mouse_ = true;
        }
    }
    if (!pen_device_) {
        pen_as_mouse(event.phase);
        return;
    }
    const std::int32_t x = saturating_cast<std::int32_t>(std::floor(pos_x_));
    const std::int32_t y = saturating_cast<std::int32_t>(std::floor(pos_y_));
    if (!inject_pen_sample(event, x, y)) {
        drop_pen_device();
        pen_as_mouse(event.phase);
        return;
    }
    if (!pen_logged_) {
        char pressure[32];
        std::snprintf(pressure, sizeof pressure, "%.2f", static_cast<double>(event.pressure));
        log_line(std::string("pen: first stroke as a pen (pressure ") + pressure + ")");
        pen_logged_ = true;
    }
}

}  // namespace vorlix::input
