// Starting a stream for a session: the settings a `configure` message gives
// the loop, which links hear the stream's sound, and the sound thread's
// start and end with its stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stream/stream_start.h"
#include "streamloop/tone_source.h"
#include "support/fake_encoder.h"
#include "support/synthetic_capture.h"
#include "wire/frame.h"
#include "support/wait.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

// One link's queue, drained by the test.
struct TestLink {
    LinkWriter writer;
    Receiver<WriterItem> items;
    int audio = 0;
    int video = 0;
    Bytes last_audio;

    TestLink() {
        auto made = LinkWriter::make();
        writer = std::move(made.first);
        items = std::move(made.second);
    }
    void drain() {
        while (auto item = items.try_receive()) {
            if (item->kind != WriterItem::Kind::Frame) continue;
            if (item->type == FrameType::Audio) {
                audio += 1;
                last_audio = item->bytes;
            }
            if (item->type == FrameType::Video) video += 1;
        }
    }
};

void add_watcher(WebWatcherRegistry& registry, const LinkWriter& writer, std::uint64_t session, bool sound) {
    auto lock = registry.lock();
    WebWatcherRegistry::Entry entry;
    entry.writer = writer;
    entry.session = session;
    entry.peer_name = "watcher " + std::to_string(session);
    entry.sound = sound;
    registry.entries.push_back(entry);
}

std::shared_ptr<StreamControl> running_control(bool sound) {
    auto control = std::make_shared<StreamControl>();
    control->pointer_on_device = std::make_shared<std::atomic<std::uint32_t>>(0);
    control->sound.store(sound ? 1 : 0);
    return control;
}

TEST(StreamStart, SettingsComeFromTheConfiguration) {
    StreamConfig config;
    config.fps = 24;
    config.quality = "fast";
    config.max_bitrate = 5'000'000;
    config.audio = true;
    config.codec = "h264";
    const StreamSettings settings = stream_settings(config);
    EXPECT_EQ(settings.fps, 24);
    EXPECT_EQ(settings.quality, "fast");
    EXPECT_EQ(settings.max_bitrate, std::optional<std::int64_t>(5'000'000));
    EXPECT_TRUE(settings.audio);

    config = StreamConfig{};
    config.fps = 0;  // the loop clamps it
    const StreamSettings plain = stream_settings(config);
    EXPECT_EQ(plain.fps, 0);
    EXPECT_EQ(plain.quality, "sharp");
    EXPECT_FALSE(plain.max_bitrate.has_value());
    EXPECT_FALSE(plain.audio);
}

TEST(StreamStart, ADeviceSessionsSoundGoesToItsLinkAndToWatchersThatAskedForIt) {
    TestLink session;
    TestLink hearing;
    TestLink silent;
    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::device_session;
    output->link = session.writer;
    output->watchers = std::make_shared<WebWatcherRegistry>();
    add_watcher(*output->watchers, hearing.writer, 2, true);
    add_watcher(*output->watchers, silent.writer, 3, false);

    auto record = std::make_shared<ToneRecord>();
    auto control = running_control(true);
    auto thread = stream_sound_starter(output, tone_factory(record))(control);
    ASSERT_TRUE(thread.has_value());
    EXPECT_TRUE(wait_until([&] {
        session.drain();
        hearing.drain();
        return session.audio >= 3 && hearing.audio >= 3;
    }));
    control->running.store(0);
    thread->join();
    EXPECT_EQ(record->made.load(), 1);
    EXPECT_EQ(record->released.load(), 1);
    silent.drain();
    EXPECT_EQ(silent.audio, 0);
    ASSERT_GE(session.last_audio.size(), 5u);
    EXPECT_EQ(get_u32_be(session.last_audio.data()), 48000u);
    EXPECT_EQ(session.last_audio[4], 2);
    EXPECT_EQ(session.last_audio.size(), 5u + 480 * 2 * 2);
}

TEST(StreamStart, WatchersOnlySoundSkipsTheSessionLinkAndEndsWithTheLastWatcher) {
    TestLink session;  // a link the output carries but must not hear
    TestLink hearing;
    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::watchers_only;
    output->link = session.writer;
    output->watchers = std::make_shared<WebWatcherRegistry>();
    add_watcher(*output->watchers, hearing.writer, 5, true);

    auto record = std::make_shared<ToneRecord>();
    auto control = running_control(true);
    auto thread = stream_sound_starter(output, tone_factory(record))(control);
    ASSERT_TRUE(thread.has_value());
    EXPECT_TRUE(wait_until([&] {
        hearing.drain();
        return hearing.audio >= 2;
    }));
    {
        auto lock = output->watchers->lock();
        output->watchers->entries.clear();
    }
    // No watcher is left: the thread ends by itself, with the stream still running.
    EXPECT_TRUE(wait_until([&] { return record->released.load() == 1; }));
    thread->join();
    EXPECT_EQ(control->running.load(), 1);
    session.drain();
    EXPECT_EQ(session.audio, 0);
}

TEST(StreamStart, TheSoundThreadRunsOnlyForStreamsWithAudioAndStopsWithThem) {
    VirtualClock unused;
    SyntheticScreen screen{unused};
    screen.otherwise = SyntheticGrab::picture(0.3);
    screen.grab_time = 10ms;
    screen.grab_wait = [](Duration d) { std::this_thread::sleep_for(d); };
    SyntheticCaptureSystem capture{screen};
    FakeEncoderFactory encoders;
    std::atomic<bool> hardware_off{false};
    StreamSeams seams;
    seams.clock = &system_loop_clock();
    seams.capture = &capture;
    seams.open_encoder = encoders.opener();
    seams.log = [](std::string_view) {};
    seams.hardware_encoding_off = &hardware_off;
    auto owned_slot = std::make_unique<StreamSlot>(std::move(seams), nullptr, nullptr);
    StreamSlot& slot = *owned_slot;

    TestLink link;
    auto output = std::make_shared<StreamOutput>();
    output->kind = StreamOutput::Kind::device_session;
    output->link = link.writer;
    output->ledger = std::make_shared<FrameLedger>();
    output->watchers = std::make_shared<WebWatcherRegistry>();
    auto record = std::make_shared<ToneRecord>();

    StreamConfig quiet;
    quiet.fps = 12;
    start_output_stream(slot, quiet, 1, output, tone_factory(record));
    ASSERT_TRUE(wait_until([&] {
        link.drain();
        return link.video >= 2;
    }));
    EXPECT_EQ(record->made.load(), 0) << "a stream without audio has no sound thread";
    auto first = slot.current();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sound.load(), 0);

    StreamConfig loud;
    loud.fps = 12;
    loud.audio = true;
    start_output_stream(slot, loud, 2, output, tone_factory(record));
    EXPECT_EQ(first->running.load(), 0);
    auto second = slot.current();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->sound.load(), 1);
    ASSERT_TRUE(wait_until([&] {
        link.drain();
        return link.audio >= 2;
    }));
    EXPECT_EQ(record->made.load(), 1);

    slot.stop_stream();
    EXPECT_TRUE(wait_until([&] { return record->released.load() == 1; })) << "the sound ends with its stream";
    link.drain();
    const int audio = link.audio;
    owned_slot.reset();  // waits for the stream thread, which waited for the sound thread
    link.drain();
    EXPECT_EQ(link.audio, audio) << "nothing was sent after the sound source was released";
    ASSERT_FALSE(encoders.attempts.empty());
    EXPECT_EQ(encoders.attempts.front().fps, 12u) << "the configured fps reaches the encoder";
}

}  // namespace
}  // namespace vorlix::testing
