// The pointer's shape and position for a device that draws the pointer
// itself: after every grab, the stream asks the reporter, which sends a
// `cursorShape` when the shape changes (or an empty one when the pointer
// hides or leaves the monitor) and a `pointer` position when it moves.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/capture.h"
#include "cursor/cursor.h"
#include "stream/stream_loop.h"

namespace vorlix {

// The system pointer as read at one moment.
struct SystemPointer {
    bool visible = false;
    std::int32_t x = 0;  // desktop coordinates
    std::int32_t y = 0;
    std::uintptr_t handle = 0;  // the cursor handle
};

// Where the reporter reads the pointer; the Windows side implements it.
class PointerSource {
public:
    virtual ~PointerSource() = default;
    // The pointer, or nothing when it cannot be read.
    virtual std::optional<SystemPointer> read() = 0;
    // The picture of a cursor handle.
    virtual std::optional<CursorImage> cursor_image(std::uintptr_t handle) = 0;
    // When the device last moved the pointer relatively (input thread), if ever.
    virtual std::optional<Instant> last_relative_move() = 0;
};

std::string cursor_shape_message(ByteView png, double hot_x, double hot_y, double scale);
std::string pointer_message(double x, double y);

class CursorReporter final : public CursorSender {
public:
    CursorReporter(PointerSource& source, LoopClock& clock) : source_(source), clock_(clock) {}

    void reset() override { state_ = State{}; }
    void send(CaptureBackend& backend, const StreamGeometry& geometry, StreamAudience& audience) override;

private:
    enum class Origin { none, backend, handle };
    struct State {
        Origin origin = Origin::none;
        std::uint64_t identity = 0;
        bool showing = false;
        std::optional<std::pair<double, double>> position;
        std::optional<Instant> position_sent;
    };

    PointerSource& source_;
    LoopClock& clock_;
    State state_;
};

}  // namespace vorlix
