// The ink overlay's loop: the thread that shows the devices' strokes over
// the primary monitor keeps its own stroke list and clock, applies queued
// events, ages laser strokes, paces its frames and hides the window when
// there is nothing to show. The window system is behind InkOverlayScreen so
// that the schedule runs anywhere with any clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <variant>
#include <vector>

#include "capture/capture.h"
#include "ink/ink.h"
#include "ink/ink_raster.h"

namespace vorlix {

// Removes every stroke, whoever drew it.
struct InkClearAll {
    bool operator==(const InkClearAll&) const = default;
};

using InkOverlayMessage = std::variant<InkEvent, InkClearAll>;

// The overlay's queue: any thread sends without waiting, the overlay's
// thread takes everything waiting at once. While kInkQueueLimit messages
// wait, events that only extend a stroke are dropped; "begin", "end",
// "clear" and clear-all always go in, and clear-all takes the place of
// everything queued ahead of it, which it would wipe anyway.
constexpr std::size_t kInkQueueLimit = 256;

class InkOverlayQueue {
public:
    // Gives whether the message was queued.
    bool send(InkOverlayMessage message);
    // No more messages will come: the overlay ends once it has taken the
    // ones waiting.
    void close();
    // The overlay has ended: what waits is dropped and later sends fail.
    void stop();
    // Waits up to `limit` for a message, then takes all that wait (none
    // when the time ran out).
    std::vector<InkOverlayMessage> take(std::chrono::milliseconds limit);
    // Closed, and nothing waits.
    bool finished() const;
    std::size_t waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<InkOverlayMessage> items_;
    bool closed_ = false;
    bool stopped_ = false;
};

// What the overlay needs of the window system.
class InkOverlayScreen {
public:
    virtual ~InkOverlayScreen() = default;
    // The primary monitor now.
    virtual MonitorInfo read_monitor() = 0;
    // Handles the window messages waiting for the overlay's thread.
    virtual void pump_messages() = 0;
    // A new drawing surface of width x height BGRA pixels (top-down), made
    // only while there is none; empty when it cannot be made. The pixels
    // stay valid until release_surface.
    virtual std::span<std::uint8_t> make_surface(std::uint32_t width, std::uint32_t height) = 0;
    virtual void release_surface() = 0;
    // Shows the surface at the monitor's top-left corner, topmost.
    virtual void present(const MonitorInfo& monitor) = 0;
    virtual void hide() = 0;
};

class InkOverlayLoop {
public:
    // `now` is seconds on the overlay's own clock.
    InkOverlayLoop(const MonitorInfo& monitor, double now);

    // How long to wait for the next message: briefly while a frame is owed,
    // a picture is only partly drawn or an ended laser stroke fades, else a
    // quarter second.
    std::chrono::milliseconds wait_limit() const;

    // Applies one queued message.
    void take(const InkOverlayMessage& message, double now);

    // Ages the laser strokes and draws a frame when one is due, at most one
    // per 30 ms; checks the monitor at most every 2 s. A picture too big for
    // one frame's budget shows its newest strokes and is drawn on by the
    // following frames (see draw_ink_layers).
    void frame(InkOverlayScreen& screen, double now);

    // Releases the drawing surface (at the end of the thread).
    void finish(InkOverlayScreen& screen);

    const InkStrokes& strokes() const { return ink_; }
    const InkLayers& layers() const { return layers_; }
    bool shown() const { return shown_; }

private:
    bool fading() const;

    InkStrokes ink_;
    MonitorInfo monitor_;
    double last_check_;
    double last_drawing_;
    bool pending_ = false;
    bool shown_ = false;
    InkLayers layers_;
    std::span<std::uint8_t> surface_;
    std::uint32_t surface_width_ = 0;
    std::uint32_t surface_height_ = 0;
    bool has_surface_ = false;
};

// The overlay thread's loop until the queue is closed and empty; `clock`
// gives seconds since the thread began.
void run_ink_overlay(InkOverlayQueue& queue, InkOverlayScreen& screen, const MonitorInfo& monitor,
                     const std::function<double()>& clock);

}  // namespace vorlix
