// Decodes arbitrary bytes as the body of an Input frame.
#include <cstdlib>

#include "wire/input_message.h"

using namespace vorlix;

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
    return 0;
}
