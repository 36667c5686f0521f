// Decodes arbitrary bytes as the body of an Input frame, and injects what
// decodes into a system that only checks the records it is given.
#include <cmath>
#include <cstdlib>

#include "input/injector.h"
#include "wire/input_message.h"

using namespace vorlix;

namespace {

class CheckingSystem final : public input::InputSystem {
public:
    std::size_t sent = 0;
    bool caps = false;
    Instant clock{};

    Instant now() override { return clock += std::chrono::milliseconds(7); }
    void sleep(std::chrono::milliseconds) override {}
    MonitorInfo primary_monitor() override { return MonitorInfo{0, -100, -50, 1920, 1080, 120}; }
    input::VirtualScreen virtual_screen() override { return {-100, -50, 1920, 1080}; }
    std::optional<std::pair<std::int32_t, std::int32_t>> cursor_position() override { return std::pair{5, 5}; }
    void send(const input::InputRecords& records) override {
        if (records.empty()) std::abort();
        for (const auto& r : records) {
            if (const auto* k = std::get_if<input::KeyRecord>(&r)) {
                // Unicode records carry no virtual key; others carry one.
                if (((k->flags & input::KEY_UNICODE) != 0) != (k->vk == 0) || k->flags > 7) std::abort();
            } else if (const auto* m = std::get_if<input::MouseRecord>(&r);
                       m->flags == input::MOUSE_ABSOLUTE_MOVE && (m->dx < 0 || m->dx > 65535 || m->dy < 0 || m->dy > 65535)) {
                std::abort();  // the pointer stays on the monitor
            }
        }
        sent += records.size();
    }
    input::KeyScan key_scan() override {
        return [](char16_t c) -> std::uint16_t { return c < 0x80 ? static_cast<std::uint16_t>(c * 7) : 0xFFFF; };
    }
    bool caps_lock_on() override { return caps; }
    void lock_workstation() override {}
    bool create_pen() override { return true; }
    bool inject_pen(const input::PenFrame& frame) override {
        if (frame.pressure > 1024 || frame.tilt_x < -90 || frame.tilt_x > 90 || frame.tilt_y < -90 || frame.tilt_y > 90)
            std::abort();
        return true;
    }
    void destroy_pen() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView body(data, size);
    const auto event = decode_input_message(body);
    if (!event) return 0;
    // A decoded event always names its wire kind and never exceeds the input.
    if (size == 0 || event->index() + 1 != data[0]) std::abort();
    if (const auto* text = std::get_if<input::Text>(&*event)) {
        if (text->text.size() != size - 1 || !is_valid_utf8(to_bytes(text->text))) std::abort();
    }
    auto phase_ok = [](std::uint8_t phase) { return phase <= 4; };
    if (const auto* s = std::get_if<input::Scroll>(&*event); s && !(phase_ok(s->phase) && phase_ok(s->momentumPhase)))
        std::abort();
    if (const auto* p = std::get_if<input::Pen>(&*event); p && !phase_ok(p->phase)) std::abort();
    if (const auto* a = std::get_if<input::Action>(&*event); a && (a->code < 1 || a->code > 12)) std::abort();

    // Injected twice (a key held twice is held once); letting go of everything
    // leaves nothing for a second release.
    // The pointer report always carries numbers; Caps Lock is on for inputs
    // of odd length.
    CheckingSystem system;
    system.caps = size % 2 == 1;
    input::InputInjector injector(system, false, [](const control::Pointer& pointer) {
        if (!std::isfinite(pointer.x) || !std::isfinite(pointer.y)) std::abort();
    });
    injector.apply(*event);
    injector.apply(*event);
    injector.apply(input::ReleaseAll{});
    const std::size_t after_release = system.sent;
    injector.apply(input::ReleaseAll{});
    if (system.sent != after_release) std::abort();
    return 0;
}
