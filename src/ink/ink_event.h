// One step of an ink or laser-pointer stroke drawn on the device, as an
// `annotate` message carries it in either direction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlix {

constexpr std::int64_t kDefaultInkColor = 0xff3b30;
constexpr double kDefaultInkWidth = 0.004;

struct InkEvent {
    std::int64_t id = 0;
    std::string phase;          // "begin", "move", "end" or "clear"
    std::string kind = "pen";   // "pen" or "laser"
    std::int64_t color = kDefaultInkColor;  // 0xRRGGBB
    double width = kDefaultInkWidth;        // fraction of the monitor width
    std::vector<double> points;             // x, y, x, y, ... within 0..1
    std::optional<std::string> author;

    bool operator==(const InkEvent&) const = default;
};

}  // namespace vorlix
