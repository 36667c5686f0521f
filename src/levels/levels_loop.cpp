#include "levels/levels_loop.h"

#include <algorithm>
#include <cmath>

namespace vorlix {

using namespace std::chrono_literals;

std::uint8_t level_percent(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<std::uint8_t>(std::clamp(std::round(value * 100.0), 0.0, 100.0));
}

double round_level(double value) {
    if (std::isnan(value)) return 0.0;
    return std::round(std::clamp(value, 0.0, 1.0) * 100.0) / 100.0;
}

namespace {
// Kinds that set nothing are one kind: each only asks for a sample.
bool same_kind(const std::string& a, const std::string& b) {
    const auto known = [](const std::string& k) { return k == "volume" || k == "mute" || k == "brightness"; };
    return a == b || (!known(a) && !known(b));
}
}  // namespace

bool PendingLevelSets::put(std::string kind, double value) {
    std::lock_guard lock(mutex_);
    const bool was_empty = sets_.empty();
    // A volume above 0 also unmutes, so a mute waiting before it ends as it
    // would have, set by set: not muted.
    if (kind == "volume" && value > 0) {
        for (auto& set : sets_) {
            if (set.first == "mute") set.second = 0;
        }
    }
    std::erase_if(sets_, [&](const auto& set) { return same_kind(set.first, kind); });
    sets_.emplace_back(std::move(kind), value);
    return was_empty;
}

std::vector<std::pair<std::string, double>> PendingLevelSets::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sets_, {});
}

void queue_level_set(Sender<LevelsRequest>& levels, const std::shared_ptr<PendingLevelSets>& pending,
                     std::string kind, double value) {
    if (pending->put(std::move(kind), value))
        levels.send(LevelsRequest{.kind = LevelsRequest::Kind::Set, .pending = pending});
}

LevelsLoop::LevelsLoop(LevelsDevices& devices, Deliver deliver, Log log)
    : devices_(devices), deliver_(std::move(deliver)), log_(std::move(log)) {}

void LevelsLoop::handle(LevelsRequest request, Clock::time_point now) {
    switch (request.kind) {
    case LevelsRequest::Kind::Active:
        active_ = request.active;
        last_.reset();
        if (!active_) devices_.close_endpoint();
        return;
    case LevelsRequest::Kind::Set:
        if (request.pending) {
            for (const auto& [name, value] : request.pending->take()) set(name, value);
        } else {
            set(request.name, request.value);
        }
        if (active_) report(now);
        return;
    case LevelsRequest::Kind::Changed:
        if (active_) report(now);
        return;
    case LevelsRequest::Kind::Query:
        last_ = sample(true, now);
        request.reply.send(last_);
        return;
    }
}

void LevelsLoop::set(const std::string& name, double value) {
    if (name == "volume") {
        if (devices_.open_endpoint()) {
            devices_.set_volume(static_cast<float>(value));
            if (value > 0) devices_.set_muted(false);
        }
    } else if (name == "mute") {
        if (devices_.open_endpoint()) devices_.set_muted(value > 0.5);
    } else if (name == "brightness") {
        devices_.set_brightness(level_percent(value));
        brightness_read_at_.reset();  // read it again at the next sample
    }
}

void LevelsLoop::on_timeout(Clock::time_point now) {
    if (active_) report(now);
}

std::optional<Levels> LevelsLoop::sample(bool force_brightness, Clock::time_point now) {
    if (!devices_.open_endpoint()) return std::nullopt;
    const std::optional<float> volume = devices_.volume();
    if (!volume) return std::nullopt;
    Levels levels;
    levels.volume = round_level(*volume);
    levels.muted = devices_.muted().value_or(false);
    if (force_brightness || !brightness_read_at_ || now - *brightness_read_at_ > 3s) {
        BrightnessReading reading = devices_.read_brightness();
        if (reading.timed_out && !told_brightness_timeout_) {
            told_brightness_timeout_ = true;
            log_("levels: the screen brightness did not answer in time; it is left out until it does");
        }
        brightness_ = reading.value;
        brightness_read_at_ = now;
    }
    if (brightness_) levels.brightness = round_level(*brightness_);
    return levels;
}

void LevelsLoop::report(Clock::time_point now) {
    std::optional<Levels> levels = sample(false, now);
    if (!levels || levels == last_) return;
    deliver_(*levels);
    last_ = std::move(levels);
}

void run_levels_loop(Receiver<LevelsRequest>& requests, LevelsLoop& loop) {
    for (;;) {
        std::optional<LevelsRequest> request =
            requests.receive_for(loop.active() ? std::chrono::seconds(1) : std::chrono::seconds(3600));
        if (request) {
            loop.handle(std::move(*request), LevelsLoop::Clock::now());
        } else if (requests.finished()) {
            return;
        } else {
            loop.on_timeout(LevelsLoop::Clock::now());
        }
    }
}

std::optional<Levels> ask_levels_thread(Sender<LevelsRequest>& levels, std::chrono::milliseconds limit) {
    auto [reply, answer] = make_channel<std::optional<Levels>>();
    if (levels.send(LevelsRequest{.kind = LevelsRequest::Kind::Query, .reply = std::move(reply)})) {
        return std::nullopt;  // the thread is gone
    }
    std::optional<std::optional<Levels>> got = answer.receive_for(limit);
    return got ? *got : std::nullopt;
}

}  // namespace vorlix
