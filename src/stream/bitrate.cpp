#include "stream/bitrate.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "stream/saturate.h"

namespace vorlix {
namespace {

std::uint64_t floor_bitrate(const BitrateState& state) {
    return state.max_bitrate_given ? 500'000 : 1'500'000;
}

// a * b, held at the largest value instead of wrapping.
std::uint64_t mul_sat(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return a * b;
}

std::string one_decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string build_report(const BitrateState& s) {
    const std::string aim = one_decimal(static_cast<double>(s.sum_targets) / s.steps / 1'000'000.0);
    const std::string of = one_decimal(static_cast<double>(s.ceiling) / 1'000'000.0);
    std::string arriving = "unknown";
    if (s.count_best > 0) {
        const std::string best =
            one_decimal(static_cast<double>(s.sum_best) * 8 / s.count_best / 1'000'000.0);
        const std::string steady =
            s.count_steady > 0
                ? one_decimal(static_cast<double>(s.sum_steady) * 8 / s.count_steady / 1'000'000.0)
                : std::string("?");
        arriving = best + " Mbit/s at best, " + steady + " steadily";
    }
    std::string text = "picture, last 30 s: aim " + aim + " of " + of + " Mbit/s, arriving " +
                       arriving + ", " + std::to_string(s.window_sent) + " pictures sent, " +
                       std::to_string(s.window_held_back) + " held back, " +
                       std::to_string(s.pictures_with_motion) + " pictures with motion, " +
                       std::to_string(s.sharpening_passes) + " sharpening passes";
    if (s.sharpening_passes > 0) {
        text += " of " + std::to_string(s.sharpening_bytes / s.sharpening_passes / 1000) +
                " KB on average";
    }
    return text;
}

}  // namespace

std::uint32_t start_bitrate(std::uint32_t width, std::uint32_t height, const BitrateWishes& wishes) {
    const double f = static_cast<double>(std::clamp<std::int64_t>(wishes.fps, 30, 60));
    const double frame_factor = f / 60.0 * 0.4 + 0.6;
    double q = 1.0;
    if (wishes.quality == "smooth") {
        q = 0.8;
    } else if (wishes.quality == "fast") {
        q = 0.55;
    }
    // Evaluated left to right, as the products are written.
    double b = static_cast<double>(width) * static_cast<double>(height) * 8.0 * q * frame_factor;
    b = std::clamp(b, 6'000'000.0, 20'000'000.0);
    if (wishes.max_bitrate) {
        b = std::min(b, std::max(static_cast<double>(*wishes.max_bitrate), 1'500'000.0));
    }
    return saturating_cast<std::uint32_t>(b);
}

BitrateState initial_bitrate_state(std::uint32_t width, std::uint32_t height,
                                   const BitrateWishes& wishes) {
    BitrateState state;
    state.ceiling = state.target = start_bitrate(width, height, wishes);
    state.max_bitrate_given = wishes.max_bitrate.has_value();
    return state;
}

std::uint32_t fit_bitrate_to_size(BitrateState& state, std::uint32_t width, std::uint32_t height,
                                  const BitrateWishes& wishes) {
    state.ceiling = start_bitrate(width, height, wishes);
    const std::uint64_t ceiling = state.ceiling;
    const std::uint64_t target = std::max(std::min(ceiling, floor_bitrate(state)),
                                          std::min<std::uint64_t>(state.target, ceiling));
    state.target = static_cast<std::uint32_t>(target);
    return state.target;
}

BitrateStep update_stream_stats(BitrateState& state, std::optional<std::uint64_t> best,
                                std::optional<std::uint64_t> steady) {
    BitrateStep step;
    const std::uint64_t sent = state.pictures_sent;
    const std::uint64_t held = state.pictures_held_back;

    if (state.max_bitrate_given) {
        ++state.steps;
        state.window_sent += sent;
        state.window_held_back += held;
        state.sum_targets += state.target;
        if (best) {
            state.sum_best += *best;
            ++state.count_best;
        }
        if (steady) {
            state.sum_steady += *steady;
            ++state.count_steady;
        }
        if (state.steps >= 30) {
            step.report = build_report(state);
            state.steps = 0;
            state.sum_targets = state.sum_best = state.sum_steady = 0;
            state.count_best = state.count_steady = 0;
            state.window_sent = state.window_held_back = 0;
            state.pictures_with_motion = state.sharpening_passes = state.sharpening_bytes = 0;
        }
    }

    const std::uint64_t ceiling = state.ceiling;
    const std::uint64_t low = std::min(ceiling, floor_bitrate(state));
    const double x =
        sent + held == 0 ? 0.0 : static_cast<double>(held) / static_cast<double>(sent + held);
    std::uint64_t t = state.target;
    const std::uint64_t v = steady ? mul_sat(*steady, 72) / 10 : 0;
    const std::uint64_t b48 = best ? mul_sat(*best, 48) / 10 : 0;
    const std::uint64_t b64 = best ? mul_sat(*best, 64) / 10 : 0;
    const std::uint64_t three_quarters = (t * 3) >> 2;

    if (x <= 0.08) {
        ++state.clean_seconds;
        if (state.clean_seconds >= 2 && t < ceiling) {
            std::uint64_t u = b48;
            if (steady && mul_sat(*steady, 10) < b48) u = mul_sat(*steady, 10);
            u = std::max(u, t * 115 / 100);
            t = std::min(u, ceiling);
        }
    } else if (!steady || x >= 0.2) {
        if (steady) {
            t = std::max(std::min(v, three_quarters), low);
        } else if (best) {
            t = std::max(std::min(b64, three_quarters), low);
        } else {
            t = std::max(three_quarters, low);
        }
        state.clean_seconds = 0;
    } else {
        const std::uint64_t d8 = mul_sat(*steady, 8);
        if (d8 < t * 9 / 10) {
            t = std::max(std::min(v, three_quarters), low);
            state.clean_seconds = 0;
        } else if (t < ceiling && d8 >= ((t * 5) >> 2)) {
            t = std::max(std::min(v, std::min(t * 11 / 10, ceiling)), low);
        }
    }

    state.pictures_sent = state.pictures_held_back = 0;
    step.changed = t != state.target;
    state.target = static_cast<std::uint32_t>(t);
    step.target = state.target;
    return step;
}

}  // namespace vorlix
