#include "ink/ink_overlay.h"

#include <algorithm>

namespace vorlix {

namespace {

constexpr double kFrameGap = 0.030;     // seconds between drawings, at least
constexpr double kMonitorCheck = 2.0;   // seconds between monitor readings, at least

// An event that may be left out when the queue is long: it only adds points
// to a stroke.
bool only_extends(const InkOverlayMessage& message) {
    const InkEvent* event = std::get_if<InkEvent>(&message);
    return event && event->phase != "begin" && event->phase != "end" && event->phase != "clear";
}

}  // namespace

bool InkOverlayQueue::send(InkOverlayMessage message) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return false;
        if (std::holds_alternative<InkClearAll>(message)) {
            items_.clear();
        } else if (items_.size() >= kInkQueueLimit && only_extends(message)) {
            return false;
        }
        items_.push_back(std::move(message));
    }
    ready_.notify_one();
    return true;
}

void InkOverlayQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

void InkOverlayQueue::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    items_.clear();
}

std::vector<InkOverlayMessage> InkOverlayQueue::take(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, limit, [&] { return !items_.empty() || closed_; });
    std::vector<InkOverlayMessage> out(std::make_move_iterator(items_.begin()), std::make_move_iterator(items_.end()));
    items_.clear();
    return out;
}

bool InkOverlayQueue::finished() const {
    std::lock_guard lock(mutex_);
    return closed_ && items_.empty();
}

std::size_t InkOverlayQueue::waiting() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

InkOverlayLoop::InkOverlayLoop(const MonitorInfo& monitor, double now)
    : monitor_(monitor), last_check_(now), last_drawing_(now - 1.0) {}

bool InkOverlayLoop::fading() const {
    // Only an ended laser stroke changes by itself; one still being drawn
    // changes when its events arrive.
    return std::any_of(ink_.strokes.begin(), ink_.strokes.end(),
                       [](const InkStroke& s) { return s.laser && s.ended; });
}

std::chrono::milliseconds InkOverlayLoop::wait_limit() const {
    return std::chrono::milliseconds(pending_ || layers_.unfinished || fading() ? 16 : 250);
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
    const bool changed = expire_laser_strokes(ink_, now) || pending_ || fading();
    if (!changed && !layers_.unfinished) return;
    if (now - last_drawing_ < kFrameGap) {
        pending_ = changed;
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
        layers_ = InkLayers{};  // its pictures and coverage go with the strokes
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
        if (surface_.empty()) {
            layers_.unfinished = false;  // the next change tries again
            return;
        }
        has_surface_ = true;
        surface_width_ = width;
        surface_height_ = height;
        lose_ink_picture(layers_);
    }
    // A frame for a change is shown even when its pixels came out the same;
    // one that only works on in the background is shown when it drew.
    if (draw_ink_layers(layers_, ink_, now, surface_, width, height, InkPlacement{0, 0, double(width), double(height)},
                        ink_frame_budget(width, height)) ||
        changed || !shown_) {
        screen.present(monitor_);
        shown_ = true;
    }
}

void InkOverlayLoop::finish(InkOverlayScreen& screen) {
    if (!has_surface_) return;
    screen.release_surface();
    has_surface_ = false;
    surface_ = {};
}

void run_ink_overlay(InkOverlayQueue& queue, InkOverlayScreen& screen, const MonitorInfo& monitor,
                     const std::function<double()>& clock) {
    InkOverlayLoop loop(monitor, clock());
    for (;;) {
        screen.pump_messages();
        const std::vector<InkOverlayMessage> messages = queue.take(loop.wait_limit());
        if (messages.empty() && queue.finished()) break;
        if (!messages.empty()) {
            const double now = clock();
            for (const InkOverlayMessage& message : messages) loop.take(message, now);
        }
        loop.frame(screen, clock());
    }
    loop.finish(screen);
}

}  // namespace vorlix
