// The ink events a device sends in annotate messages, read and applied to
// one drawing in order, with the clock moving forward.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/messages.h"
#include "ink/ink.h"
#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlix;
    static InkStrokes strokes;  // kept across inputs, so the limits are reached
    static double now = 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        auto parsed = parse_json(text.substr(start, end - start), DuplicateKeys::keep_last);
        start = end + 1;
        if (!parsed) continue;
        auto event = read_ink_event(*parsed);
        if (!event) continue;
        now += 0.25;
        apply_ink_event(strokes, *event, now);
        expire_laser_strokes(strokes, now);
        if (encode_control_message(control::Annotate{*event}).empty() && event->author && !event->author->empty()) {
            // Texts from parsed JSON are valid UTF-8, so the message can always be written.
            std::abort();
        }
    }
    if (strokes.strokes.size() > kMaxInkStrokes) std::abort();
    std::size_t numbers = 0;
    for (const InkStroke& s : strokes.strokes) numbers += s.points.size();
    if (numbers > kMaxInkNumbers) std::abort();
    for (const InkStroke& s : strokes.strokes) {
        if (s.points.size() > kMaxInkStrokeNumbers || s.points.size() % 2 != 0) std::abort();
        if (s.width < kMinInkWidth || s.width > kMaxInkWidth || s.color > 0xFFFFFFu) std::abort();
        for (double p : s.points) {
            if (!(p >= 0.0 && p <= 1.0)) std::abort();
        }
    }
    for (const InkEvent& e : strokes_to_annotate_items(strokes)) {
        if (e.kind != "pen") std::abort();
    }
    return 0;
}
