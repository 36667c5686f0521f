#include <gtest/gtest.h>

#include "json/json.h"
#include "stream/stream_output.h"
#include "stream/video_frame.h"
#include "streamloop/loop_harness.h"
#include "support/forwarding_audience.h"
#include "wire/frame.h"

namespace vorlix::testing {
namespace {

using namespace std::chrono_literals;

// The device end of a link driven by hand: what the writer would write.
struct HandLink {
    LinkWriter writer;
    Receiver<WriterItem> items;
    HandLink() {
        auto made = LinkWriter::make();
        writer = std::move(made.first);
        items = std::move(made.second);
    }
    // Takes everything queued, as the writer thread does.
    std::vector<WriterItem> drain() {
        std::vector<WriterItem> out;
        while (auto item = items.try_receive()) {
            if (item->kind == WriterItem::Kind::Frame) {
                if (item->type == FrameType::Video) writer.queued_video_frames_counter()->fetch_sub(1);
                writer.queued_bytes_counter()->fetch_sub(item->bytes.size());
            }
            out.push_back(std::move(*item));
        }
        return out;
    }
};

std::vector<const WriterItem*> of_type(const std::vector<WriterItem>& items, FrameType type) {
    std::vector<const WriterItem*> out;
    for (const auto& i : items)
        if (i.kind == WriterItem::Kind::Frame && i.type == type) out.push_back(&i);
    return out;
}

std::shared_ptr<StreamOutput> device_output(HandLink& link) {
    auto out = std::make_shared<StreamOutput>();
    out->kind = StreamOutput::Kind::device_session;
    out->link = link.writer;
    out->ledger = std::make_shared<FrameLedger>();
    out->watchers = std::make_shared<WebWatcherRegistry>();
    return out;
}

TEST(StreamOutput, StreamInfoAndNoticeMessagesAreWrittenSorted) {
    StreamGeometry g;
    g.monitor.dpi = 144;
    g.capture_width = 1920;
    g.capture_height = 1080;
    g.encoded_width = 960;
    g.encoded_height = 540;
    EXPECT_EQ(stream_info_message(g, 30, 7),
              "{\"streamInfo\":{\"_0\":{\"codec\":\"h264\",\"fitted\":false,\"fps\":30,\"generation\":7,"
              "\"pixelsHigh\":540,\"pixelsWide\":960,\"pointsHigh\":720,\"pointsWide\":1280}}}");
    EXPECT_EQ(notice_message("say \"hi\"\n"), "{\"notice\":{\"_0\":\"say \\\"hi\\\"\\n\"}}");
}

TEST(StreamOutput, LoopFramesReachTheLinkAsVideoFramesAndTheGateHoldsAtThreeQueued) {
    LoopHarness h;
    HandLink link;
    auto out = device_output(link);
    std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> infos;
    out->stream_info = [&](std::int64_t w, std::int64_t ht, std::int64_t fps) { infos.emplace_back(w, ht, fps); };
    auto audience = make_output_audience(out, [&](std::string_view l) { h.lines.emplace_back(l); });

    h.screen.otherwise = SyntheticGrab::picture(0.5);
    Instant stop = h.clock.now() + 1s;
    std::vector<WriterItem> written;
    bool drained_once = false;
    // Closed when the time is up; the writer drains once, half way.
    StreamSeams seams = h.seams();
    struct TimedAudience final : ForwardingAudience {
        std::function<bool()> done;
        bool closed() override { return done() || inner->closed(); }
    } timed;
    timed.inner = audience;
    timed.done = [&] {
        if (!drained_once && h.clock.now() >= stop - 500ms) {
            auto items = link.drain();
            for (auto& i : items) written.push_back(std::move(i));
            drained_once = true;
        }
        return h.clock.now() >= stop;
    };
    run_stream(h.settings, 3, timed, h.control, seams);
    for (auto& i : link.drain()) written.push_back(std::move(i));

    const auto video = of_type(written, FrameType::Video);
    // Nobody writes during the first half second: three frames, then the
    // gate holds; after the drain three more.
    EXPECT_EQ(video.size(), 6u) << h.all_lines();
    ASSERT_FALSE(video.empty());
    const Bytes& first = video[0]->bytes;
    ASSERT_GE(first.size(), kVideoFrameHeaderSize);
    EXPECT_EQ(first[0] & 1, 1) << "the first frame is a key frame";
    EXPECT_EQ(get_u32_be(first.data() + 1), 0u);
    EXPECT_EQ(first[21], 2) << "with SPS and PPS";
    EXPECT_EQ(get_u32_be(video[5]->bytes.data() + 1), 5u);

    const auto control = of_type(written, FrameType::Control);
    ASSERT_GE(control.size(), 1u);
    EXPECT_EQ(to_string(control[0]->bytes).rfind("{\"streamInfo\":", 0), 0u);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0], std::make_tuple(std::int64_t{64}, std::int64_t{48}, std::int64_t{30}));
    EXPECT_TRUE(h.has_line("first video: keyframe true, " + std::to_string(video[0]->bytes.size() - 22 - 2 - 4 - 2 - 2) +
                           " bytes, SPS/PPS [4, 2]"))
        << h.all_lines();
}

TEST(StreamOutput, LedgerHoldsBackOnceTheDeviceAcknowledges) {
    HandLink link;
    auto out = device_output(link);
    auto audience = make_output_audience(out, [](std::string_view) {});
    const Instant t0 = Instant{} + 1h;
    EXPECT_FALSE(audience->must_wait(t0));
    out->ledger->acknowledge_frames(0, t0);  // the device acknowledges: pacing starts
    out->ledger->record_sent_frame(1, 1000, t0);
    EXPECT_FALSE(audience->must_wait(t0 + 100ms));
    EXPECT_TRUE(audience->must_wait(t0 + 301ms)) << "unacknowledged for more than 300 ms";
    out->ledger->acknowledge_frames(1, t0 + 310ms);
    EXPECT_FALSE(audience->must_wait(t0 + 320ms));
}

TEST(StreamOutput, ClosedFollowsTheWriterOrTheWatchers) {
    HandLink link;
    auto device = device_output(link);
    auto device_audience = make_output_audience(device, [](std::string_view) {});
    EXPECT_FALSE(device_audience->closed());
    link.writer.running_flag()->store(false);
    EXPECT_TRUE(device_audience->closed());

    auto watchers_only = std::make_shared<StreamOutput>();
    watchers_only->kind = StreamOutput::Kind::watchers_only;
    watchers_only->watchers = std::make_shared<WebWatcherRegistry>();
    auto audience = make_output_audience(watchers_only, [](std::string_view) {});
    EXPECT_TRUE(audience->closed());
    HandLink watcher;
    add_stream_watcher(*watchers_only->watchers, watcher.writer, 9, "browser", true);
    EXPECT_FALSE(audience->closed());
    EXPECT_FALSE(audience->must_wait(Instant{}));
    audience->notice("not for watchers");
    EXPECT_TRUE(watcher.drain().empty());
}

TEST(StreamOutput, AnnouncementsReachWatchersAndTheyWaitForAKeyFrame) {
    HandLink link;
    auto out = device_output(link);
    HandLink watcher;
    int key_requests = 0;
    out->watchers->key_frame_callback = [&] { ++key_requests; };
    add_stream_watcher(*out->watchers, watcher.writer, 2, "tablet", false);
    EXPECT_EQ(key_requests, 1);
    auto audience = make_output_audience(out, [](std::string_view) {});

    StreamGeometry g;
    g.capture_width = g.encoded_width = 64;
    g.capture_height = g.encoded_height = 48;
    audience->announce(g, 30, 1);
    {
        auto guard = out->watchers->lock();
        ASSERT_TRUE(out->watchers->last_stream_info.has_value());
        EXPECT_TRUE(out->watchers->entries[0].waiting_for_key_frame);
    }
    const auto to_watcher = watcher.drain();
    ASSERT_EQ(of_type(to_watcher, FrameType::Control).size(), 1u);
    EXPECT_EQ(to_string(to_watcher[0].bytes), stream_info_message(g, 30, 1));

    FakeEncoderFactory encoders;
    EncoderSettings s;
    s.width = 64;
    s.height = 48;
    auto encoder = encoders.opener()(s);
    ASSERT_TRUE(encoder.ok());
    ParameterSets sets;
    std::uint32_t sent = 0;
    const Instant origin = Instant{} + 1h;
    auto delta = (*encoder)->encode_frame(Bytes(64 * 48 * 3 / 2), 0, false);
    ASSERT_TRUE(delta.ok());
    EXPECT_GT(audience->send_output(sets, **encoder, delta.value()[0], sent, origin, false, origin), 0u);
    EXPECT_TRUE(of_type(watcher.drain(), FrameType::Video).empty()) << "a waiting watcher skips delta frames";
    auto key = (*encoder)->encode_frame(Bytes(64 * 48 * 3 / 2), 0, true);
    ASSERT_TRUE(key.ok());
    audience->send_output(sets, **encoder, key.value()[0], sent, origin, false, origin);
    EXPECT_EQ(of_type(watcher.drain(), FrameType::Video).size(), 1u);
    EXPECT_EQ(of_type(link.drain(), FrameType::Video).size(), 2u) << "the device gets both";
    EXPECT_EQ(sent, 2u);
}

TEST(StreamOutput, NoticeGoesToTheDevice) {
    HandLink link;
    auto out = device_output(link);
    std::vector<std::uint8_t> stops;
    out->picture_stopped = [&](std::uint8_t v) { stops.push_back(v); };
    auto audience = make_output_audience(out, [](std::string_view) {});
    audience->notice("The picture stopped.");
    audience->picture_stopped(3);
    const auto items = link.drain();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(to_string(items[0].bytes), notice_message("The picture stopped."));
    EXPECT_EQ(stops, (std::vector<std::uint8_t>{3}));
}

}  // namespace
}  // namespace vorlix::testing
