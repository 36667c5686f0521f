// The levels service: volume, mute and screen brightness. It answers
// queries, applies the device's changes and, while a session is active,
// reports the levels whenever they change. The audio endpoint and the
// brightness source stay behind LevelsDevices.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/messages.h"
#include "host/channel.h"

namespace vorlix {

using control::Levels;

class PendingLevelSets;

struct LevelsRequest {
    enum class Kind { Active, Set, Changed, Query };
    Kind kind = Kind::Changed;
    bool active = false;                           // Active
    std::string name;                              // Set
    double value = 0.0;                            // Set
    std::shared_ptr<PendingLevelSets> pending;     // Set: when given, the sets waiting there instead
    Sender<std::optional<Levels>> reply;           // Query
};

// The sets waiting for the levels thread: the newest value of each kind, in
// the order they were last asked for. However fast the device sends them and
// however slow a set is, the queue holds one Set request for them all, so a
// query queued behind a flood waits for one set of each kind at most.
class PendingLevelSets {
public:
    // Keeps the newest value of the kind; true when nothing was waiting, so
    // that the caller queues the one Set request.
    bool put(std::string kind, double value);
    std::vector<std::pair<std::string, double>> take();

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, double>> sets_;
};

// Queues a set through `pending` (a thread that ended drops it).
void queue_level_set(Sender<LevelsRequest>& levels, const std::shared_ptr<PendingLevelSets>& pending,
                     std::string kind, double value);

// A brightness reading: a value 0 and up, none when the PC has no settable
// brightness, or a source that did not answer within its time limit.
struct BrightnessReading {
    std::optional<double> value;
    bool timed_out = false;
};

class LevelsDevices {
public:
    virtual ~LevelsDevices() = default;
    // Opens (or keeps) the default output's volume control; false without one.
    virtual bool open_endpoint() = 0;
    virtual void close_endpoint() = 0;
    virtual std::optional<float> volume() = 0;
    virtual std::optional<bool> muted() = 0;
    virtual void set_volume(float scalar) = 0;
    virtual void set_muted(bool muted) = 0;
    virtual BrightnessReading read_brightness() = 0;
    virtual void set_brightness(std::uint8_t percent) = 0;
};

// A level 0..1 as a whole percentage 0..100 (halves away from zero; not a
// number gives 0).
std::uint8_t level_percent(double value);

// A level limited to 0..1 and stepped to hundredths.
double round_level(double value);

class LevelsLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Deliver = std::function<void(const Levels&)>;
    using Log = std::function<void(std::string_view)>;

    LevelsLoop(LevelsDevices& devices, Deliver deliver, Log log);

    void handle(LevelsRequest request, Clock::time_point now);
    // The wait between samples ran out.
    void on_timeout(Clock::time_point now);
    bool active() const { return active_; }

private:
    void set(const std::string& name, double value);
    std::optional<Levels> sample(bool force_brightness, Clock::time_point now);
    void report(Clock::time_point now);

    LevelsDevices& devices_;
    Deliver deliver_;
    Log log_;
    bool active_ = false;
    std::optional<Levels> last_;
    std::optional<double> brightness_;
    std::optional<Clock::time_point> brightness_read_at_;
    bool told_brightness_timeout_ = false;
};

// The thread body: waits at most 1 s between samples while active, an hour
// otherwise, and ends when every sender is gone.
void run_levels_loop(Receiver<LevelsRequest>& requests, LevelsLoop& loop);

// Asks the levels thread and waits at most `limit` for the answer; none on
// a time-out, a thread that is gone, or no audio output.
std::optional<Levels> ask_levels_thread(Sender<LevelsRequest>& levels,
                                        std::chrono::milliseconds limit = std::chrono::seconds(3));

}  // namespace vorlix
