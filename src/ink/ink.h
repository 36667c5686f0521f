// The drawing on the PC's screen: the strokes that devices drew, each found
// by its author and id. The host keeps one InkStrokes (under its ink lock) so
// that a device that joins later is sent the pen drawing; the ink overlay
// keeps its own copy that it paints. The list has no lock of its own.
//
// Time is the caller's: seconds on a monotonic clock as a 64-bit float. Only
// differences matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ink/ink_event.h"

namespace vorlix {

constexpr std::size_t kMaxInkStrokes = 300;
constexpr std::size_t kMaxInkStrokeNumbers = 20'000;  // 10,000 points
// Over all strokes: 200,000 points (3.2 MB). A screen of handwriting is some
// 15,000 points (300 strokes of 48), so only a device that floods reaches it.
constexpr std::size_t kMaxInkNumbers = 400'000;
constexpr double kMinInkWidth = 0.0005;
constexpr double kMaxInkWidth = 0.05;

struct InkStroke {
    bool ended = false;
    double time = 0.0;       // when it began; when it ended, once it has
    std::string author;      // empty when the event had none
    std::vector<double> points;
    std::int64_t id = 0;
    double width = kDefaultInkWidth;
    std::uint32_t color = 0;  // 0x00RRGGBB
    bool laser = false;
};

struct InkStrokes {
    std::vector<InkStroke> strokes;  // oldest first, at most kMaxInkStrokes
};

// Applies one event: "clear" drops the author's strokes, "begin" starts (or
// restarts) a stroke, any other phase extends it or starts it, and "end" also
// marks it ended. Past 300 strokes, or past kMaxInkNumbers numbers in all,
// the oldest strokes go (never the one this event drew on). Gives whether
// the drawing changed. `kept`, when given, receives the numbers the stroke
// took from the event (filtered and cut to its room; none for "clear").
bool apply_ink_event(InkStrokes& ink, const InkEvent& event, double now, std::vector<double>* kept = nullptr);

// Drops the ended laser strokes that have faded out by `now`; gives whether
// any were dropped.
bool expire_laser_strokes(InkStrokes& ink, double now);

// The opacity of a stroke at `now`, 0..1: ended laser strokes stay at 1 for a
// second, then fade out over half a second; everything else is 1.
double laser_alpha(const InkStroke& stroke, double now);

// The pen strokes, oldest first, as events that recreate them on a device
// that joins later ("end" for finished strokes, "begin" for unfinished ones).
std::vector<InkEvent> strokes_to_annotate_items(const InkStrokes& ink);

// The event that clears every stroke of one author (color 0, no points).
InkEvent ink_clear_event(std::string author);

// The distinct authors of all strokes, sorted; then empties the list.
std::vector<std::string> take_ink_authors(InkStrokes& ink);

// The usable coordinates of an event: pairs read in order, a trailing odd
// number ignored, a pair with a non-finite number skipped, each number held
// to 0..1.
std::vector<double> filter_ink_points(const std::vector<double>& numbers);

}  // namespace vorlix
