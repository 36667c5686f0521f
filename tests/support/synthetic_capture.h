// A scripted screen for the stream loop's tests: a virtual clock, capture
// back-ends that paint known pictures and answer grabs from a script
// (pictures with a changed fraction, still screens, Lost, Failed), and a
// capture system whose monitor, screen blocks and openings are scripted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/capture_system.h"
#include "stream/stream_loop.h"

namespace vorlix::testing {

// Time that only moves when the loop sleeps, grabs or encodes.
class VirtualClock final : public LoopClock {
public:
    Instant now() override { return now_; }
    void sleep_for(Duration d) override {
        slept_ += d;
        now_ += d;
    }
    void advance(Duration d) { now_ += d; }
    Duration slept() const { return slept_; }
    Instant start() const { return start_; }
    Duration elapsed() const { return now_ - start_; }

private:
    Instant start_ = Instant{} + std::chrono::hours(1);
    Instant now_ = start_;
    Duration slept_{};
};

// Fills a BGRA picture of the given size for the n-th new picture.
using Painter = std::function<void(Bytes& bgra, std::size_t width, std::size_t height, std::uint64_t n)>;

// A picture of smooth gradients with a square that moves with n.
void paint_test_pattern(Bytes& bgra, std::size_t width, std::size_t height, std::uint64_t n);

struct SyntheticGrab {
    enum class Kind { picture, still, lost, failed };
    Kind kind = Kind::still;
    double fraction = 1.0;
    std::string text;

    static SyntheticGrab picture(double fraction = 1.0) { return {Kind::picture, fraction, {}}; }
    static SyntheticGrab still() { return {Kind::still, 0, {}}; }
    static SyntheticGrab lost() { return {Kind::lost, 0, {}}; }
    static SyntheticGrab failed(std::string text) { return {Kind::failed, 0, std::move(text)}; }
};

// What the test scripts and observes, shared by the system and its back-ends.
struct SyntheticScreen {
    explicit SyntheticScreen(VirtualClock& c) : clock(c) {}

    VirtualClock& clock;
    MonitorInfo monitor{7, 0, 0, 64, 48, 96};
    Painter painter = paint_test_pattern;
    Duration grab_time = std::chrono::milliseconds(20);  // at most the time-out
    // How a grab waits: the virtual clock moves unless this is set.
    std::function<void(Duration)> grab_wait;

    // Grabs answer from the script, then `otherwise`.
    std::deque<SyntheticGrab> grabs;
    SyntheticGrab otherwise = SyntheticGrab::still();

    // Screen blocks: the function decides when set, else none.
    std::function<ScreenBlock(Instant)> block;

    // Openings of open_capture: the script (an error text, or a back-end of
    // the given name and size), then a Desktop Duplication of the monitor's size.
    struct Opening {
        std::optional<std::string> error;
        std::string name = "Desktop Duplication";
        std::optional<PictureSize> size;  // none: the monitor's size
    };
    std::deque<Opening> openings;
    // Openings of open_desktop_duplication: the script, then none.
    std::deque<std::optional<PictureSize>> duplications;

    // Observed.
    int opened = 0;
    int duplication_attempts = 0;
    int grabs_done = 0;
    std::uint64_t pictures_painted = 0;
    std::vector<bool> draw_settings;  // every set_draw_cursor call
    Bytes last_picture;               // the last picture painted
    std::string last_name;            // the name of the back-end that grabbed last
};

class SyntheticCapture final : public CaptureBackend {
public:
    SyntheticCapture(SyntheticScreen& screen, std::string name, PictureSize size);

    PictureSize size() const override { return size_; }
    GrabResult grab(std::uint32_t timeout_ms) override;
    ByteView pixels() const override { return pixels_; }
    std::string_view name() const override { return name_; }
    void set_draw_cursor(bool draw) override { screen_.draw_settings.push_back(draw); }
    std::uint64_t pointer_shape_serial() const override { return 0; }
    std::optional<CursorImage> pointer_shape() const override { return std::nullopt; }
    double changed_fraction() const override { return fraction_; }

private:
    SyntheticScreen& screen_;
    std::string name_;
    PictureSize size_;
    Bytes pixels_;
    double fraction_ = 1.0;
    bool first_ = true;
};

class SyntheticCaptureSystem final : public CaptureSystem {
public:
    explicit SyntheticCaptureSystem(SyntheticScreen& screen) : screen_(screen) {}

    MonitorInfo primary_monitor() override { return screen_.monitor; }
    ScreenBlock screen_block_reason() override;
    Result<CaptureBackendPtr> open_capture(const MonitorInfo& monitor) override;
    CaptureBackendPtr open_desktop_duplication(const MonitorInfo& monitor) override;

private:
    SyntheticScreen& screen_;
};

}  // namespace vorlix::testing
