// Encoding on an asynchronous transform: the events thread counts input
// requests and collects outputs; encode_frame waits briefly for both; shut
// down never hangs on the thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "encoder/scripted_system.h"
#include "h264/encoder_h264.h"
#include "support/captured_stderr.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedSystem;
using testing::ScriptedTransform;
using Clock = std::chrono::steady_clock;

constexpr ResultCode kBroken = 0x80004005;

// Short waits so that the time-out paths run quickly.
constexpr EncoderWaits kShortWaits{std::chrono::milliseconds(40), std::chrono::milliseconds(5),
                                   std::chrono::milliseconds(100)};

// Waits (bounded) for a condition another thread makes true.
template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = Clock::now() + 5s;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct AsyncEncoder {
    ScriptedSystem system;
    std::shared_ptr<ScriptedTransform> transform;
    std::unique_ptr<H264Encoder> encoder;

    explicit AsyncEncoder(EncoderWaits waits = kShortWaits) {
        auto& gpu = system.add_candidate(std::string("Async GPU"));
        gpu.transform->async_value = 1;
        transform = gpu.transform;
        auto opened = open_h264_encoder(system, EncoderSettings{64, 32, 60, 4'000'000, true}, waits);
        EXPECT_TRUE(opened.ok());
        if (opened.ok()) encoder = std::move(*opened);
    }
    ~AsyncEncoder() {
        // Lets the events thread end before the encoder's shut-down waits.
        transform->events->close();
        encoder.reset();
    }
    Bytes picture() const { return Bytes(64 * 32 * 3 / 2, 0x10); }
    testing::ScriptedEvents& events() { return *transform->events; }
};

TEST(EncoderAsync, OpensWithTheEventsThreadAndTheUnlock) {
    AsyncEncoder e;
    ASSERT_TRUE(e.encoder);
    EXPECT_TRUE(e.encoder->asynchronous());
    EXPECT_TRUE(e.encoder->hardware());
    EXPECT_EQ(e.transform->count("unlock_async"), 1);
    EXPECT_EQ(e.transform->count("event_source"), 1);
    EXPECT_TRUE(eventually([&] { return e.events().entered() == 1; }));
}

TEST(EncoderAsync, AnInputRequestLetsThePictureInAndItsOutputComesBack) {
    AsyncEncoder e;
    e.transform->add_output(0x65, 77);
    e.events().push(kEventNeedInput);
    e.events().push(kEventHaveOutput);
    ASSERT_TRUE(e.events().wait_idle());
    ASSERT_TRUE(eventually([&] { return e.transform->count("process_output") == 1; }));

    auto outputs = e.encoder->encode_frame(e.picture(), 5, false);
    ASSERT_TRUE(outputs.ok()) << outputs.error().text;
    EXPECT_EQ(e.transform->inputs_fed, 1);
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].sample_time, 77);
    EXPECT_EQ(e.transform->prepared.back().duration, 166'666);
}

TEST(EncoderAsync, OutputArrivingAfterTheInputIsWaitedForBriefly) {
    AsyncEncoder e(EncoderWaits{std::chrono::milliseconds(2000), std::chrono::milliseconds(2000),
                                std::chrono::milliseconds(100)});
    e.events().push(kEventNeedInput);
    // The output shows up while encode_frame waits for it.
    std::thread late([&] {
        while (e.transform->inputs_fed == 0) std::this_thread::sleep_for(1ms);
        e.transform->add_output(0x41, 9);
        e.events().push(kEventHaveOutput);
    });
    auto outputs = e.encoder->encode_frame(e.picture(), 0, false);
    late.join();
    ASSERT_TRUE(outputs.ok());
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].sample_time, 9);
}

TEST(EncoderAsync, WithoutAnInputRequestThePictureIsDroppedAndCollectedOutputsStillCome) {
    AsyncEncoder e;
    e.transform->add_output(0x41, 3);
    e.events().push(kEventHaveOutput);  // output without any request
    ASSERT_TRUE(e.events().wait_idle());
    ASSERT_TRUE(eventually([&] { return e.transform->count("process_output") == 1; }));

    const auto start = Clock::now();
    auto outputs = e.encoder->encode_frame(e.picture(), 0, false);
    const auto waited = Clock::now() - start;
    ASSERT_TRUE(outputs.ok());
    EXPECT_EQ(e.transform->inputs_fed, 0);  // dropped, not fed
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].sample_time, 3);
    EXPECT_GE(waited, kShortWaits.input_request);
}

TEST(EncoderAsync, EachRequestLetsOnePictureIn) {
    AsyncEncoder e;
    e.events().push(kEventNeedInput);
    e.events().push(kEventNeedInput);
    ASSERT_TRUE(e.events().wait_idle());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(e.encoder->encode_frame(e.picture(), i, false).ok());
    EXPECT_EQ(e.transform->inputs_fed, 2);
    EXPECT_EQ(e.transform->count("prepare_input"), 3);
}

TEST(EncoderAsync, InputFailureIsReturned) {
    AsyncEncoder e;
    e.transform->input_codes = {kBroken};
    e.events().push(kEventNeedInput);
    ASSERT_TRUE(e.events().wait_idle());
    auto result = e.encoder->encode_frame(e.picture(), 0, false);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().text, "scripted (0x80004005)");
}

TEST(EncoderAsync, OutputsCollectedBetweenPicturesAreTaken) {
    AsyncEncoder e;
    EXPECT_TRUE(e.encoder->take_outputs().empty());
    e.transform->add_output(0x41, 1);
    e.transform->add_output(0x41, 2);
    e.events().push(kEventHaveOutput);
    e.events().push(kEventHaveOutput);
    e.events().push(kEventHaveOutput);  // nothing more to pull: no output, no fault
    e.events().push(4321);              // an event of another type is ignored
    e.events().push_read({TransformEventRead::Kind::unreadable, 0});
    ASSERT_TRUE(e.events().wait_idle());
    ASSERT_TRUE(eventually([&] { return e.transform->count("process_output") == 3; }));
    auto taken = e.encoder->take_outputs();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].sample_time, 1);
    EXPECT_EQ(taken[1].sample_time, 2);
    EXPECT_TRUE(e.encoder->take_outputs().empty());
    EXPECT_FALSE(e.encoder->output_failed());
}

TEST(EncoderAsync, StreamChangeInTheEventsThreadIsFollowed) {
    AsyncEncoder e;
    e.transform->add_answer(result_codes::stream_change);
    e.transform->add_output(0x65, 8);
    e.events().push(kEventHaveOutput);
    ASSERT_TRUE(eventually([&] { return e.transform->count("process_output") == 2; }));
    ASSERT_TRUE(eventually([&] { return !e.encoder->take_outputs().empty(); }));
    EXPECT_EQ(e.transform->count("first_output_type"), 1);
    EXPECT_FALSE(e.encoder->output_failed());
}

TEST(EncoderAsync, AFailedOutputIsLoggedAndReportedThroughOutputFailed) {
    AsyncEncoder e;
    e.transform->add_answer(kBroken);
    ::testing::internal::CaptureStderr();
    e.events().push(kEventHaveOutput);
    const bool failed = eventually([&] { return e.encoder->output_failed(); });
    const std::string log = captured_stderr();
    ASSERT_TRUE(failed);
    EXPECT_NE(log.find("hardware encoder output failed: scripted (0x80004005)"), std::string::npos) << log;

    // encode_frame does not return the failure itself.
    e.events().push(kEventNeedInput);
    ASSERT_TRUE(e.events().wait_idle());
    EXPECT_TRUE(e.encoder->encode_frame(e.picture(), 0, false).ok());
}

TEST(EncoderAsync, TheEventsThreadLetsGoOfItsTransformBeforeLeavingItsThreadingModel) {
    auto transform = std::make_shared<ScriptedTransform>();
    auto events = transform->events;
    std::weak_ptr<ScriptedTransform> watched = transform;
    bool held_at_leave = true;
    events->on_leave = [&] { held_at_leave = !watched.expired(); };
    events->push(kEventDrainComplete);
    std::thread thread(run_encoder_events, events, std::move(transform), 64, 32, std::make_shared<EncoderEvents>());
    thread.join();
    EXPECT_EQ(events->left(), 1);
    EXPECT_FALSE(held_at_leave);
}

TEST(EncoderAsync, ShutDownSendsEndOfStreamDrainAndEndStreamingThenShutsDown) {
    AsyncEncoder e;
    e.events().push(kEventDrainComplete);  // the thread ends by itself
    ASSERT_TRUE(e.events().wait_left());
    e.encoder.reset();
    const std::vector<TransformMessage> expected{TransformMessage::begin_streaming, TransformMessage::start_of_stream,
                                                 TransformMessage::end_of_stream,   TransformMessage::command_drain,
                                                 TransformMessage::end_streaming};
    EXPECT_EQ(e.transform->messages, expected);
    EXPECT_TRUE(e.transform->shut_down);
    EXPECT_EQ(e.events().left(), 1);
}

TEST(EncoderAsync, ShutDownDoesNotWaitLongForAThreadThatNeverEnds) {
    // The encoder's own bound on the wait is one second; the test shortens it.
    EXPECT_LE(EncoderWaits{}.thread_end, 1000ms);
    auto e = std::make_unique<AsyncEncoder>();
    ASSERT_TRUE(eventually([&] { return e->events().entered() == 1; }));
    auto transform = e->transform;
    auto events = transform->events;  // kept so the let-go thread can be ended

    const auto start = Clock::now();
    e->encoder.reset();  // the events thread is still waiting for an event
    const auto took = Clock::now() - start;
    EXPECT_GE(took, kShortWaits.thread_end);
    EXPECT_LT(took, 1000ms);
    EXPECT_TRUE(transform->shut_down);
    EXPECT_EQ(events->left(), 0);

    // The thread was let go; it ends when its event request fails.
    events->close();
    EXPECT_TRUE(events->wait_left());
    e.reset();
}

TEST(EncoderAsync, ShutDownJoinsAThreadWhoseRequestFailsOnShutDown) {
    AsyncEncoder e(EncoderWaits{std::chrono::milliseconds(40), std::chrono::milliseconds(5),
                                std::chrono::milliseconds(1000)});
    auto events = e.transform->events;
    // Shutting the transform down ends its event queue, as the platform's does.
    std::thread closer([&] {
        eventually([&] { return e.transform->shut_down.load(); });
        events->close();
    });
    const auto start = Clock::now();
    e.encoder.reset();
    closer.join();
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(events->left(), 1);
}

}  // namespace
}  // namespace vorlix
