// The streaming test platform: its stream operations run a real stream of
// the synthetic screen and are recorded like every other operation.
#include <gtest/gtest.h>

#include <thread>

#include "control/records.h"
#include "stream/stream_output.h"
#include "support/fake_encoder.h"
#include "support/streaming_platform.h"
#include "wire/frame.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

TEST(StreamingPlatform, StreamsTheSyntheticScreenAndRemembersEachFramesPicture) {
    FakeEncoderFactory encoders;
    StreamingOptions options;
    options.open_encoder = encoders.opener();
    StreamingPlatform platform(options);

    auto [writer, items] = LinkWriter::make();
    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::device_session;
    output->link = writer;
    output->ledger = std::make_shared<FrameLedger>();
    output->watchers = std::make_shared<WebWatcherRegistry>();
    StreamConfig config;
    config.fps = 20;
    platform.start_stream(config, 6, output);
    platform.set_pointer_on_device(1);
    EXPECT_TRUE(platform.wait_for("start_stream"));
    EXPECT_EQ(platform.calls().front().detail, "6");
    auto control = platform.current_stream();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->pointer_on_device->load(), 1u);

    // Nobody writes the link: the send gate holds after three frames.
    std::vector<std::uint32_t> numbers;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (numbers.size() < 3 && std::chrono::steady_clock::now() < end) {
        auto item = items.receive_for(100ms);
        if (item && item->type == FrameType::Video) numbers.push_back(get_u32_be(item->bytes.data() + 1));
    }
    ASSERT_EQ(numbers, (std::vector<std::uint32_t>{0, 1, 2}));
    platform.stop_stream();
    EXPECT_EQ(control->running.load(), 0);
    EXPECT_TRUE(platform.wait_for_log("stream #6 ended"));

    std::optional<std::uint64_t> previous;
    for (std::uint32_t n : numbers) {
        auto painted = platform.picture_of_frame(6, n);
        ASSERT_TRUE(painted) << "frame " << n;
        if (previous) {
            EXPECT_GT(*painted, *previous) << "every frame carries a newer picture";
        }
        previous = painted;
    }
    EXPECT_FALSE(platform.picture_of_frame(6, 3));
    EXPECT_FALSE(platform.picture_of_frame(5, 0));
    auto picture = platform.painted_picture(*previous);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), 320u * 240u * 4u);
    ASSERT_FALSE(platform.encoder_openings().empty());
    EXPECT_EQ(platform.encoder_openings().front().width, 320u);
    EXPECT_EQ(platform.operations(),
              (std::vector<std::string>{"start_stream", "set_pointer_on_device", "stop_stream"}));
}

}  // namespace
}  // namespace vorlix::testing
