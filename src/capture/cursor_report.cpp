#include "capture/cursor_report.h"

#include <algorithm>

#include "capture/cursor_png.h"
#include "control/messages.h"

namespace vorlix {

using namespace std::chrono_literals;

std::string cursor_shape_message(ByteView png, double hot_x, double hot_y, double scale) {
    return encode_control_message(control::CursorShape{Bytes(png.begin(), png.end()), hot_x, hot_y, scale});
}

std::string pointer_message(double x, double y) { return encode_control_message(control::Pointer{x, y, std::nullopt}); }

void CursorReporter::send(CaptureBackend& backend, const StreamGeometry& geometry, StreamAudience& audience) {
    const std::optional<SystemPointer> pointer = source_.read();
    if (!pointer) return;
    const MonitorInfo& m = geometry.monitor;
    const double scale = static_cast<double>(std::max<std::uint32_t>(m.dpi, 96)) / 96.0;

    const bool inside = m.width > 0 && m.height > 0 && pointer->x >= m.left && pointer->y >= m.top &&
                        std::int64_t{pointer->x} < std::int64_t{m.left} + m.width &&
                        std::int64_t{pointer->y} < std::int64_t{m.top} + m.height;
    if (!pointer->visible || !inside) {
        if (state_.showing) {
            audience.send_to_all(cursor_shape_message({}, 0, 0, scale));
            state_.showing = false;
            state_.origin = Origin::none;
            state_.identity = 0;
        }
        return;
    }

    bool shape_sent = false;
    const std::uint64_t serial = backend.pointer_shape_serial();
    const Origin origin = serial != 0 ? Origin::backend : Origin::handle;
    const std::uint64_t identity = serial != 0 ? serial : static_cast<std::uint64_t>(pointer->handle);
    if (origin != state_.origin || identity != state_.identity || !state_.showing) {
        const std::optional<CursorImage> image =
            serial != 0 ? backend.pointer_shape() : source_.cursor_image(pointer->handle);
        if (image) {
            if (auto png = cursor_png(*image)) {
                audience.send_to_all(cursor_shape_message(*png, image->hot_x, image->hot_y, scale));
                shape_sent = true;
            }
        }
        // Also a shape that could not be read is this one: it is not read
        // again until the cursor changes.
        state_.origin = origin;
        state_.identity = identity;
        state_.showing = true;
    }

    const Instant now = clock_.now();
    if (auto moved = source_.last_relative_move(); moved && now - *moved < 250ms) return;
    const std::pair<double, double> position{static_cast<double>(pointer->x - m.left) / m.width,
                                             static_cast<double>(pointer->y - m.top) / m.height};
    if (state_.position == position) return;
    if (!shape_sent && state_.position_sent && now - *state_.position_sent < 16ms) return;
    audience.send_to_all(pointer_message(position.first, position.second));
    state_.position = position;
    state_.position_sent = now;
}

}  // namespace vorlix
