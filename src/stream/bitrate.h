// The encoder's bitrate: chosen from the picture size, the frame rate and the
// device's wishes, then moved once a second by what the device's
// acknowledgements show arrives and how many pictures had to be held back.
// All rates are bits per second unless said otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorlix {

// The parts of the device's stream settings that the bitrate depends on.
struct BitrateWishes {
    std::int64_t fps = 60;
    std::string quality = "sharp";
    std::optional<std::int64_t> max_bitrate;
};

std::uint32_t start_bitrate(std::uint32_t width, std::uint32_t height, const BitrateWishes& wishes);

struct BitrateState {
    std::uint32_t ceiling = 0;
    std::uint32_t target = 0;
    bool max_bitrate_given = false;

    // This second, counted by the stream loop.
    std::uint32_t pictures_sent = 0;
    std::uint32_t pictures_held_back = 0;

    std::uint32_t clean_seconds = 0;

    // 30-second sums, kept only when max_bitrate_given.
    std::uint32_t steps = 0;
    std::uint64_t sum_targets = 0;
    std::uint64_t sum_best = 0;
    std::uint32_t count_best = 0;
    std::uint64_t sum_steady = 0;
    std::uint32_t count_steady = 0;
    std::uint64_t window_sent = 0;
    std::uint64_t window_held_back = 0;

    // Counted by the stream loop, cleared with each report.
    std::uint64_t pictures_with_motion = 0;
    std::uint64_t sharpening_passes = 0;
    std::uint64_t sharpening_bytes = 0;
};

// The state when the stream's first capture opens (size rounded down to even).
BitrateState initial_bitrate_state(std::uint32_t width, std::uint32_t height,
                                   const BitrateWishes& wishes);

// An encoder was made for this size: the ceiling becomes the size's start
// bitrate and the target is kept within it (and not below the smaller of the
// ceiling and the floor). Returns the new target.
std::uint32_t fit_bitrate_to_size(BitrateState& state, std::uint32_t width, std::uint32_t height,
                                  const BitrateWishes& wishes);

struct BitrateStep {
    bool changed = false;
    std::uint32_t target = 0;
    std::optional<std::string> report;  // every 30 steps with a maxBitrate
};

// The once-a-second step. best and steady are the ledger's delivered rates in
// bytes per second.
BitrateStep update_stream_stats(BitrateState& state, std::optional<std::uint64_t> best,
                                std::optional<std::uint64_t> steady);

}  // namespace vorlix
