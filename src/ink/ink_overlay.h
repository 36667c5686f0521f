// The ink overlay's loop: the thread that shows the devices' strokes over
// the primary monitor keeps its own stroke list and clock, applies queued
// events, ages laser strokes, paces its frames and hides the window when
// there is nothing to show. The window system is behind InkOverlayScreen so
// that the schedule runs anywhere with any clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <variant>
#include <vector>

#include "capture/capture.h"
#include "host/channel.h"
#include "ink/ink.h"

namespace vorlix {

// Removes every stroke, whoever drew it.
struct InkClearAll {
    bool operator==(const InkClearAll&) const = default;
};

using InkOverlayMessage = std::variant<InkEvent, InkClearAll>;

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

    // How long to wait for the next message: briefly while a frame is owed
    // or an ended laser stroke fades, else a quarter second.
    std::chrono::milliseconds wait_limit() const;

    // Applies one queued message.
    void take(const InkOverlayMessage& message, double now);

    // Ages the laser strokes and draws a frame when one is due, at most one
    // per 30 ms; checks the monitor at most every 2 s.
    void frame(InkOverlayScreen& screen, double now);

    // Releases the drawing surface (at the end of the thread).
    void finish(InkOverlayScreen& screen);

    const InkStrokes& strokes() const { return ink_; }
    bool shown() const { return shown_; }

private:
    bool fading() const;

    InkStrokes ink_;
    MonitorInfo monitor_;
    double last_check_;
    double last_drawing_;
    bool pending_ = false;
    bool shown_ = false;
    std::vector<std::uint8_t> coverage_;
    std::span<std::uint8_t> surface_;
    std::uint32_t surface_width_ = 0;
    std::uint32_t surface_height_ = 0;
    bool has_surface_ = false;
};

// The overlay thread's loop until every sender of the queue is gone; `clock`
// gives seconds since the thread began.
void run_ink_overlay(Receiver<InkOverlayMessage>& queue, InkOverlayScreen& screen, const MonitorInfo& monitor,
                     const std::function<double()>& clock);

}  // namespace vorlix
