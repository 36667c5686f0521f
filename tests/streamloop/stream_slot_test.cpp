#include <gtest/gtest.h>

#include <thread>

#include "streamloop/loop_harness.h"
#include "util/thread_name.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

// An audience that a test thread may read while the stream thread sends.
class SharedAudience final : public StreamAudience {
public:
    bool closed() override { return false; }
    bool must_wait(Instant) override { return false; }
    std::optional<std::uint64_t> best_delivered_rate() override { return std::nullopt; }
    std::optional<std::uint64_t> acked_rate() override { return std::nullopt; }
    std::size_t send_output(ParameterSets&, VideoEncoder&, const EncodedOutput& out, std::uint32_t& frames_sent,
                            Instant, bool, Instant) override {
        frames_sent += 1;
        frames += 1;
        {
            std::lock_guard lock(mutex);
            thread_name = current_thread_name();
        }
        while (hold) held = true, std::this_thread::sleep_for(1ms);
        return out.bytes.size();
    }
    void announce(const StreamGeometry&, std::uint32_t, std::int64_t) override {}
    void picture_stopped(std::uint8_t) override {}
    void notice(std::string_view) override {}
    void send_to_all(const std::string&) override {}

    std::atomic<int> frames{0};
    std::atomic<bool> hold{false}, held{false};  // while `hold` is set sends wait, and `held` tells one does
    std::mutex mutex;
    std::string thread_name;
};

bool wait_for(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct SlotFixture {
    VirtualClock clock;  // used only by the stream threads, one after the other
    SyntheticScreen screen{clock};
    SyntheticCaptureSystem system{screen};
    FakeEncoderFactory encoders{&clock};
    std::atomic<bool> hardware_off{false};
    std::atomic<int> runner_calls{0};
    std::atomic<int> runs_ended{0};

    std::unique_ptr<StreamSlot> make() {
        StreamSeams s;
        s.clock = &clock;
        s.capture = &system;
        s.open_encoder = encoders.opener();
        s.log = [](std::string_view) {};
        s.hardware_encoding_off = &hardware_off;
        return std::make_unique<StreamSlot>(std::move(s), nullptr, [this](const std::function<void()>& body) {
            runner_calls += 1;
            body();
            runs_ended += 1;
        });
    }
};

TEST(StreamSlot, SteeringWithoutAStreamDoesNothing) {
    SlotFixture f;
    auto slot = f.make();
    slot->stop_stream();
    slot->request_keyframe();
    slot->set_stream_audio(true);
    EXPECT_EQ(slot->current(), nullptr);
}

TEST(StreamSlot, StartsNamedThreadsAndTheNextWaitsForThePrevious) {
    SlotFixture f;
    auto slot = f.make();
    auto first = std::make_shared<SharedAudience>();
    StreamSettings settings;
    settings.audio = true;
    std::atomic<bool> sound_ended{false};
    SoundStarter sound = [&](std::shared_ptr<StreamControl> control) -> std::optional<std::thread> {
        return std::thread([control, &sound_ended] {
            while (control->running.load() != 0) std::this_thread::sleep_for(1ms);
            sound_ended = true;
        });
    };
    slot->start_stream(settings, 5, first, sound);
    ASSERT_TRUE(wait_for([&] { return first->frames.load() >= 2; }));
    auto first_control = slot->current();
    EXPECT_EQ(first_control->sound.load(), 1);
    {
        std::lock_guard lock(first->mutex);
        EXPECT_EQ(first->thread_name, "vorlix-stream-5");
    }

    // The first stream is held in a send: the next one waits for it. A start while it waits
    // takes its place, over a stop that came meanwhile (a device taking over as the old stream ends).
    first->hold = true;
    EXPECT_TRUE(wait_for([&] { return first->held.load(); }));
    auto waits = std::make_shared<SharedAudience>(), second = std::make_shared<SharedAudience>();
    settings.audio = false;
    slot->start_stream(settings, 6, waits);
    EXPECT_EQ(first_control->running.load(), 0);
    slot->stop_stream();
    slot->start_stream(settings, 7, second);
    auto second_control = slot->current();
    ASSERT_NE(second_control, first_control);
    EXPECT_EQ(second_control->sound.load(), 0);
    first->hold = false;
    ASSERT_TRUE(wait_for([&] { return second->frames.load() >= 2; }));
    EXPECT_EQ(waits->frames.load(), 0);
    {
        std::lock_guard lock(second->mutex);
        EXPECT_EQ(second->thread_name, "vorlix-stream-7");
    }
    EXPECT_EQ(f.runs_ended.load(), 1) << "the first stream ended before the second sent";
    EXPECT_TRUE(sound_ended.load()) << "the first stream's sound ended with it";
    EXPECT_EQ(f.runner_calls.load(), 2);

    slot->set_pointer_on_device(1);
    EXPECT_EQ(second_control->pointer_on_device->load(), 1u);
    slot->stop_stream();
    EXPECT_EQ(second_control->running.load(), 0);
    slot.reset();  // waits for the last thread
    EXPECT_FALSE(second_control->thread.has_value());
}

}  // namespace
}  // namespace vorlix::testing
