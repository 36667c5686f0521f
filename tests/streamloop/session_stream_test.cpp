// A device's picture end to end: a signed-in device peer configures a
// stream through the host's listener, session and dispatcher; the streaming
// test platform runs the stream over the synthetic screen; the device reads
// streamInfo and the Video frames, acknowledges each with `received`, and
// decodes them. An encoder that cannot open is told as pictureStopped and
// tried again while the link keeps working. A stream configured with sound
// sends the PC's sound, which the device switches off and on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "convert/nv12.h"
#include "json/json.h"
#include "recovery/recovery.h"
#include "storage/log_capture.h"
#include "streamloop/device_video.h"
#include "streamloop/openh264_codec.h"
#include "streamloop/session_rig.h"
#include "streamloop/tone_source.h"
#include "support/fake_encoder.h"
#include "support/streaming_platform.h"
#include "support/text_count.h"
#include "support/wait.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

std::optional<Json> message_named(const std::string& text, const std::string& name) {
    auto parsed = parse_json(text, DuplicateKeys::keep_last);
    if (!parsed || !parsed->is_object() || !parsed->contains(name)) return std::nullopt;
    return (*parsed)[name];
}

#ifdef VORLIX_HAVE_OPENH264

TEST(SessionStream, ADeviceThatConfiguresAPictureDecodesTheScreen) {
    StreamingOptions options;
    options.open_encoder = open_openh264_encoder;
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;

    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"pointsWide":320,"pointsHigh":240,"hiDPI":false,"fps":30,)"
                         R"("quality":"sharp","codec":"h264","source":"fitted","audio":false,"takeOver":false},)"
                         R"("generation":3}})"));

    OpenH264Decoder decoder;
    ASSERT_TRUE(decoder.ok());
    int stream_infos = 0;
    int decoded = 0;
    int keys = 0;
    std::uint32_t next_number = 0;
    std::vector<double> psnrs;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (decoded < 30 && std::chrono::steady_clock::now() < end) {
        auto frame = rig.peer().receive_frame(5s);
        ASSERT_TRUE(frame) << frame.error().text;
        if (frame->type == FrameType::Control) {
            const std::string text = to_string(frame->body);
            if (auto info = message_named(text, "streamInfo")) {
                EXPECT_EQ(next_number, 0u) << "the picture format comes before the first picture";
                const Json& record = (*info)["_0"];
                EXPECT_EQ(record["pixelsWide"].get<std::int64_t>(), 320);
                EXPECT_EQ(record["pixelsHigh"].get<std::int64_t>(), 240);
                EXPECT_EQ(record["generation"].get<std::int64_t>(), 3);
                EXPECT_EQ(record["codec"].get<std::string>(), "h264");
                stream_infos += 1;
            }
            EXPECT_FALSE(message_named(text, "pictureStopped")) << text;
            continue;
        }
        if (frame->type != FrameType::Video) continue;
        auto video = parse_video(frame->body);
        ASSERT_TRUE(video);
        EXPECT_EQ(video->number, next_number) << "frames are numbered without gaps";
        next_number = video->number + 1;
        if (video->key) keys += 1;
        ASSERT_TRUE(rig.send("{\"received\":{\"captureMicros\":" + std::to_string(video->number) + "}}"));
        auto picture = decoder.decode(annexb_of(*video));
        if (!picture) continue;
        ASSERT_EQ(picture->width, 320);
        ASSERT_EQ(picture->height, 240);
        auto painted_n = platform->picture_of_frame(3, video->number);
        ASSERT_TRUE(painted_n) << "frame " << video->number;
        auto painted = platform->painted_picture(*painted_n);
        ASSERT_TRUE(painted);
        Bytes expected(320 * 240 * 3 / 2);
        ASSERT_TRUE(convert_to_nv12(*painted, 320, 240, false, 320, 240, expected));
        psnrs.push_back(psnr(picture->y, ByteView(expected).first(320 * 240)));
        decoded += 1;
    }
    EXPECT_EQ(decoded, 30);
    EXPECT_EQ(stream_infos, 1);
    EXPECT_GE(keys, 1);
    ASSERT_FALSE(psnrs.empty());
    EXPECT_GT(*std::min_element(psnrs.begin(), psnrs.end()), 35.0);
    EXPECT_EQ(platform->count("start_stream"), 1u);

    // The acknowledgements reached the ledger that paces the stream.
    EXPECT_TRUE(rig.host().ledger->acknowledgements_seen());

    // The link still answers, and the session's end stops the stream.
    EXPECT_TRUE(rig.until_pong(2, 5s).has_value());
    const std::size_t stops = platform->count("stop_stream");
    rig.finish();
    EXPECT_GT(platform->count("stop_stream"), stops);
    EXPECT_TRUE(platform->wait_for_log("stream #3 ended"));
}

TEST(SessionStream, AWatcherWithoutADeviceSessionGetsAPictureOfItsOwn) {
    StreamingOptions options;
    options.open_encoder = open_openh264_encoder;
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, "[]", PeerRole::Watch);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"pointsWide":320,"pointsHigh":240,"fps":20,"audio":true},)"
                         R"("generation":7}})"));

    // The stream runs for the watchers alone: stream number 0, no sound.
    OpenH264Decoder decoder;
    int decoded = 0;
    int stream_infos = 0;
    std::vector<double> psnrs;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (decoded < 10 && std::chrono::steady_clock::now() < end) {
        auto frame = rig.peer().receive_frame(5s);
        ASSERT_TRUE(frame) << frame.error().text;
        ASSERT_NE(frame->type, FrameType::Audio);
        if (frame->type == FrameType::Control) {
            if (auto info = message_named(to_string(frame->body), "streamInfo")) {
                EXPECT_EQ((*info)["_0"]["generation"].get<std::int64_t>(), 0);
                stream_infos += 1;
            }
            continue;
        }
        if (frame->type != FrameType::Video) continue;
        auto video = parse_video(frame->body);
        ASSERT_TRUE(video);
        auto picture = decoder.decode(annexb_of(*video));
        if (!picture) continue;
        auto painted_n = platform->picture_of_frame(0, video->number);
        ASSERT_TRUE(painted_n);
        auto painted = platform->painted_picture(*painted_n);
        Bytes expected(320 * 240 * 3 / 2);
        ASSERT_TRUE(painted && convert_to_nv12(*painted, 320, 240, false, 320, 240, expected));
        psnrs.push_back(psnr(picture->y, ByteView(expected).first(320 * 240)));
        decoded += 1;
    }
    EXPECT_EQ(decoded, 10);
    EXPECT_GE(stream_infos, 1);
    ASSERT_FALSE(psnrs.empty());
    EXPECT_GT(*std::min_element(psnrs.begin(), psnrs.end()), 35.0);
    ASSERT_EQ(platform->count("start_stream"), 1u);
    for (const auto& call : platform->calls()) {
        if (call.operation == "start_stream") {
            EXPECT_EQ(call.detail, "0");
        }
    }
    auto control = platform->current_stream();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->sound.load(), 0) << "a picture for watchers has no sound";

    // The last watcher leaves: the stream ends.
    rig.finish();
    EXPECT_TRUE(platform->wait_for_log("stream #0 ended"));
}

#endif

TEST(SessionStream, AnEncoderThatCannotOpenIsToldAsPictureStoppedAndTriedAgain) {
    StreamingOptions options;
    options.open_encoder = [](const EncoderSettings&) -> Result<std::unique_ptr<VideoEncoder>> {
        return Error("no H.264 encoder on this PC");
    };
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":30,"codec":"h264"},"generation":5}})"));

    // The first failure is tried again at once; the second is told.
    std::optional<Json> stopped;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!stopped && std::chrono::steady_clock::now() < end) {
        auto frame = rig.peer().receive_frame(5s);
        ASSERT_TRUE(frame) << frame.error().text;
        ASSERT_NE(frame->type, FrameType::Video);
        if (frame->type == FrameType::Control) stopped = message_named(to_string(frame->body), "pictureStopped");
    }
    ASSERT_TRUE(stopped);
    EXPECT_EQ((*stopped)["reason"].get<std::string>(), "encoderFailed");
    EXPECT_EQ((*stopped)["message"].get<std::string>(), picture_stopped_text(PictureStopReason::encoderFailed));
    EXPECT_TRUE((*stopped)["retrying"].get<bool>());

    // The stream keeps trying, and the link keeps answering without telling
    // the same stop again.
    const std::size_t openings = platform->encoder_openings().size();
    EXPECT_TRUE(wait_until([&] { return platform->encoder_openings().size() > openings; }));
    auto texts = rig.until_pong(8);
    ASSERT_TRUE(texts);
    for (const auto& text : *texts) EXPECT_FALSE(message_named(text, "pictureStopped")) << text;
    EXPECT_EQ(platform->encoder_openings().front().fps, 30u);

    rig.finish();
    EXPECT_TRUE(platform->wait_for_log("stream #5 ended"));
}

TEST(SessionStream, AFloodOfConfigurationsKeepsOneStreamWaitingAndStreamsTheLast) {
    // The first stream's thread is held at its end until the flood is in: every later configuration finds it.
    std::atomic<int> threads{0};
    std::atomic<bool> flood_in{false};
    FakeEncoderFactory encoders;
    StreamingOptions options;
    options.open_encoder = encoders.opener();
    options.runner = [&](const std::function<void()>& body) {
        const bool first = threads++ == 0;
        body();
        EXPECT_TRUE(!first || wait_until([&] { return flood_in.load(); }, 30s));
    };
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    for (int generation = 1; generation <= 200; ++generation) {
        ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":)" + std::string(generation == 200 ? "25" : "10") +
                             R"(},"generation":)" + std::to_string(generation) + "}}"));
    }
    ASSERT_TRUE(rig.until_pong(2, 30s));  // every configure is handled
    flood_in = true;
    EXPECT_TRUE(platform->wait_for_log("stream #200: ")) << "the newest configuration streams";
    EXPECT_EQ(threads.load(), 2) << "the stream that ends and one waiting";
    EXPECT_EQ(platform->encoder_openings().back().fps, 25u);
    rig.finish();
}

TEST(SessionStream, TheLinesOfStreamAfterStreamAreCountedPastTheirRate) {
    test::LogCapture log;
    FakeEncoderFactory encoders;
    StreamingOptions options;
    options.open_encoder = encoders.opener();
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    const int streams = 60;
    for (int generation = 1; generation <= streams; ++generation) {
        ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":10},"generation":)" + std::to_string(generation) + "}}"));
        ASSERT_TRUE(platform->wait_for_log("stream #" + std::to_string(generation) + ": "));
    }
    rig.finish();
    const std::size_t made = platform->count_log("stream #");
    EXPECT_GE(made, std::size_t{streams});
    const auto whole = static_cast<std::size_t>(occurrences(log.messages(), "\nstream #"));
    EXPECT_LE(whole, SessionLogLimits{}.first_lines + 16) << "of " << made;
    platform.reset();  // its counts are written when its streams' slot is let go
    EXPECT_NE(log.messages().find("stream lines counted since "), std::string::npos);
}

// Audio frames that reach the device while it waits for the pong of a ping.
std::optional<int> audio_until_pong(SessionRig& rig, std::uint64_t ping) {
    if (!rig.send("{\"ping\":{\"_0\":" + std::to_string(ping) + "}}")) return std::nullopt;
    const std::string pong = "{\"pong\":{\"_0\":" + std::to_string(ping) + "}}";
    int audio = 0;
    for (int i = 0; i < 10000; ++i) {
        auto frame = rig.peer().receive_frame(5s);
        if (!frame) return std::nullopt;
        if (frame->type == FrameType::Audio) {
            EXPECT_GE(frame->body.size(), 5u);
            if (frame->body.size() >= 5) {
                EXPECT_EQ(get_u32_be(frame->body.data()), 48000u);
                EXPECT_EQ(frame->body[4], 2);
            }
            audio += 1;
        }
        if (frame->type == FrameType::Control && to_string(frame->body) == pong) return audio;
    }
    return std::nullopt;
}

TEST(SessionStream, AStreamWithSoundSendsItUntilTheDeviceSwitchesItOff) {
    FakeEncoderFactory encoders;
    auto tones = std::make_shared<ToneRecord>();
    StreamingOptions options;
    options.open_encoder = encoders.opener();
    options.make_sound_source = tone_factory(tones);
    auto platform = std::make_shared<StreamingPlatform>(options);
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":10,"audio":true},"generation":9}})"));

    // Sound flows (the device does not acknowledge the pictures here; that
    // does not hold the sound back).
    int heard = 0;
    for (std::uint64_t ping = 10; ping < 60 && heard < 5; ++ping) {
        auto audio = audio_until_pong(rig, ping);
        ASSERT_TRUE(audio);
        heard += *audio;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(heard, 5);
    EXPECT_EQ(tones->made.load(), 1);

    // Switched off: the capture goes on, and of the next ten packets at most
    // one already under way still comes.
    ASSERT_TRUE(rig.send(R"({"setAudio":{"_0":false}})"));
    ASSERT_TRUE(audio_until_pong(rig, 100));
    const int taken = tones->packets.load();
    ASSERT_TRUE(wait_until([&] { return tones->packets.load() >= taken + 10; }));
    auto after = audio_until_pong(rig, 101);
    ASSERT_TRUE(after);
    EXPECT_LE(*after, 1);
    EXPECT_EQ(tones->released.load(), 0);

    // On again, without a new sound thread.
    ASSERT_TRUE(rig.send(R"({"setAudio":{"_0":true}})"));
    heard = 0;
    for (std::uint64_t ping = 200; ping < 250 && heard < 3; ++ping) {
        auto audio = audio_until_pong(rig, ping);
        ASSERT_TRUE(audio);
        heard += *audio;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(heard, 3);
    EXPECT_EQ(tones->made.load(), 1);

    // The session's end stops the stream and its sound.
    rig.finish();
    EXPECT_TRUE(wait_until([&] { return tones->released.load() == 1; }));
}

TEST(SessionStream, AFaultInTheSoundThreadEndsOnlyTheSound) {
    FakeEncoderFactory encoders;
    std::atomic<int> tries{0};
    StreamingOptions options;
    options.open_encoder = encoders.opener();
    options.make_sound_source = [&]() -> std::unique_ptr<SoundSource> {
        tries += 1;
        throw std::bad_alloc();
    };
    auto platform = std::make_shared<StreamingPlatform>(options);
    test::LogCapture log;
    SessionRig rig;
    rig.start(platform, R"(["pictureStopped"])");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.send(R"({"configure":{"_0":{"fps":10,"audio":true},"generation":4}})"));
    EXPECT_TRUE(wait_until([&] {
        return log.messages().find("sound capture stopped: a fault in the sound thread (std::bad_alloc)\n") !=
               std::string::npos;
    }));

    // The pictures go on, and the session answers.
    int pictures = 0;
    for (std::uint64_t ping = 10; ping < 60 && pictures < 3; ++ping) {
        ASSERT_TRUE(rig.send("{\"ping\":{\"_0\":" + std::to_string(ping) + "}}"));
        const std::string pong = "{\"pong\":{\"_0\":" + std::to_string(ping) + "}}";
        for (;;) {
            auto frame = rig.peer().receive_frame(5s);
            ASSERT_TRUE(frame);
            pictures += frame->type == FrameType::Video;
            if (frame->type == FrameType::Control && to_string(frame->body) == pong) break;
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GE(pictures, 3);
    EXPECT_EQ(tries.load(), 1);
    rig.finish();
}

}  // namespace
}  // namespace vorlix::testing
