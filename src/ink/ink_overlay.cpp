#include "ink/ink_overlay.h"

#include <algorithm>

#include "ink/ink_raster.h"

namespace vorlix {

namespace {

constexpr double kFrameGap = 0.030;     // seconds between drawings, at least
constexpr double kMonitorCheck = 2.0;   // seconds between monitor readings, at least

}  // namespace

InkOverlayLoop::InkOverlayLoop(const MonitorInfo& monitor, double now)
    : monitor_(monitor), last_check_(now), last_drawing_(now - 1.0) {}

bool InkOverlayLoop::fading() const {
    // Only an ended laser stroke changes by itself; one still being drawn
    // changes when its events arrive.
    return std::any_of(ink_.strokes.begin(), ink_.strokes.end(),
                       [](const InkStroke& s) { return s.laser && s.ended; });
}

std::chrono::milliseconds InkOverlayLoop::wait_limit() const {
    return std::chrono::milliseconds(pending_ || fading() ? 16 : 250);
}

void InkOverlayLoop::take(const InkOverlayMessage& message, double now) {
    bool changed = false;
    if (std::holds_alternative<InkClearAll>(message)) {
        changed = !ink_.strokes.empty();
        ink_.strokes.clear();
    } else {
        changed = apply_ink_event(ink_, std::get<InkEvent>(message), now);
    }
    pending_ = pending_ || changed;
}

void InkOverlayLoop::frame(InkOverlayScreen& screen, double now) {
    const bool expired = expire_laser_strokes(ink_, now);
    if (!expired && !pending_ && !fading()) return;
    if (now - last_drawing_ < kFrameGap) {
        pending_ = true;
        return;
    }
    if (now - last_check_ > kMonitorCheck) {
        last_check_ = now;
        const MonitorInfo current = screen.read_monitor();
        if (current != monitor_) {
            monitor_ = current;
            finish(screen);  // the next drawing makes a surface of the new size
        }
    }
    last_drawing_ = now;
    pending_ = false;
    if (ink_.strokes.empty()) {
        if (shown_) screen.hide();
        shown_ = false;
        return;
    }
    const auto width = static_cast<std::uint32_t>(std::max(monitor_.width, 1));
    const auto height = static_cast<std::uint32_t>(std::max(monitor_.height, 1));
    if (!has_surface_ || surface_width_ != width || surface_height_ != height) {
        // The old surface goes first, so that a failure leaves nothing held.
        finish(screen);
        surface_ = screen.make_surface(width, height);
        if (surface_.empty()) return;
        has_surface_ = true;
        surface_width_ = width;
        surface_height_ = height;
    }
    render_ink_strokes(coverage_, ink_, now, surface_, width, height, InkPlacement{0, 0, double(width), double(height)});
    screen.present(monitor_);
    shown_ = true;
}

void InkOverlayLoop::finish(InkOverlayScreen& screen) {
    if (!has_surface_) return;
    screen.release_surface();
    has_surface_ = false;
    surface_ = {};
}

void run_ink_overlay(Receiver<InkOverlayMessage>& queue, InkOverlayScreen& screen, const MonitorInfo& monitor,
                     const std::function<double()>& clock) {
    InkOverlayLoop loop(monitor, clock());
    for (;;) {
        screen.pump_messages();
        std::optional<InkOverlayMessage> message = queue.receive_for(loop.wait_limit());
        if (!message && queue.finished()) break;
        if (message) {
            const double now = clock();
            loop.take(*message, now);
            while ((message = queue.try_receive())) loop.take(*message, now);
        }
        loop.frame(screen, clock());
    }
    loop.finish(screen);
}

}  // namespace vorlix
