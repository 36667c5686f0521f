#include "stream/video_frame.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(VideoFrameBody, KeyFrameLayout) {
    VideoFrame f;
    f.key = true;
    f.frame_number = 0x01020304;
    f.picture_time_us = 0x1112131415161718ull;
    f.send_time_us = 0x2122232425262728ull;
    f.parameter_sets = {Bytes(27, 0x67), Bytes(4, 0x68)};
    f.data = Bytes(5000, 0x65);
    const Bytes body = encode_video_frame(f);
    ASSERT_EQ(body.size(), 22u + 29 + 6 + 5000);
    EXPECT_EQ(body[0], 0x01);
    EXPECT_EQ(get_u32_be(&body[1]), 0x01020304u);
    EXPECT_EQ(get_u64_be(&body[5]), 0x1112131415161718ull);
    EXPECT_EQ(get_u64_be(&body[13]), 0x2122232425262728ull);
    EXPECT_EQ(body[21], 2);
    EXPECT_EQ(get_u16_be(&body[22]), 27);
    EXPECT_EQ(body[24], 0x67);
    EXPECT_EQ(get_u16_be(&body[51]), 4);
    EXPECT_EQ(body[53], 0x68);
    EXPECT_EQ(body[57], 0x65);
}

TEST(VideoFrameBody, OtherFramesAndFlags) {
    VideoFrame f;
    f.data = {0, 0, 0, 1, 0x41};
    Bytes body = encode_video_frame(f);
    ASSERT_EQ(body.size(), 27u);
    EXPECT_EQ(body[0], 0);
    EXPECT_EQ(body[21], 0);
    EXPECT_EQ(body[22 + 4], 0x41);
    f.last_pass = true;
    EXPECT_EQ(encode_video_frame(f)[0], 0x02);
    f.key = true;
    EXPECT_EQ(encode_video_frame(f)[0], 0x03);
    // A parameter set too long for its 16-bit length is left out.
    f.parameter_sets = {Bytes(70'000, 0x67), Bytes(4, 0x68)};
    body = encode_video_frame(f);
    EXPECT_EQ(body[21], 1);
    EXPECT_EQ(body.size(), 22u + 6 + 5);
}

TEST(VideoFramePrepare, KeyFramesCarryTheParameterSets) {
    ParameterSets sets;
    int header_reads = 0;
    auto header = [&]() -> std::optional<Bytes> {
        ++header_reads;
        return Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE};
    };
    const Bytes idr{0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x65, 0x88};
    auto f = prepare_video_frame(sets, idr, 1'234'567, 0, milliseconds(1500), false, header);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->key);
    EXPECT_EQ(header_reads, 1);
    EXPECT_EQ(f->parameter_sets, (std::vector<Bytes>{{0x67, 0x42}, {0x68, 0xCE}}));
    EXPECT_EQ(f->data, (Bytes{0, 0, 0, 2, 0x65, 0x88}));
    EXPECT_EQ(f->picture_time_us, 123'456u);
    EXPECT_EQ(f->send_time_us, 1'500'000u);
    EXPECT_EQ(*first_video_log_text(*f), "first video: keyframe true, 6 bytes, SPS/PPS [2, 2]");

    // Known sets are not read again; ordinary frames carry none.
    f = prepare_video_frame(sets, idr, -30, 2, milliseconds(-1), true, header);
    EXPECT_EQ(header_reads, 1);
    EXPECT_EQ(f->picture_time_us, 0u);
    EXPECT_EQ(f->send_time_us, 0u);
    EXPECT_TRUE(f->last_pass);
    EXPECT_TRUE(first_video_log_text(*f));
    f = prepare_video_frame(sets, Bytes{0, 0, 1, 0x41, 7}, 0, 1, {}, false, header);
    EXPECT_TRUE(f->parameter_sets.empty());
    EXPECT_FALSE(first_video_log_text(*f));
    f->frame_number = 0;
    EXPECT_EQ(*first_video_log_text(*f), "first video: keyframe false, 6 bytes, SPS/PPS []");
    f->key = true, f->frame_number = 3;
    EXPECT_FALSE(first_video_log_text(*f));

    EXPECT_FALSE(prepare_video_frame(sets, Bytes{0, 0, 1, 0x06, 1}, 0, 0, {}, false, header));
    EXPECT_FALSE(prepare_video_frame(sets, Bytes{}, 0, 0, {}, false, header));
}

TEST(WatcherGate, SlowWatchersWaitForTheNextKeyFrame) {
    const Instant t0 = Instant{} + seconds(50);
    std::vector<WatcherVideoState> w = {
        {false, 0, false},  // keeps up
        {true, 0, false},   // waits for a key frame
        {false, 4, false},  // more than 3 behind
        {false, 4, true},   // a browser more than 3 behind
    };
    std::optional<Instant> last_request;
    auto gate = gate_watchers_for_frame(w, false, last_request, t0);
    EXPECT_EQ(gate.receives, (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(gate.request_key_frame);
    EXPECT_TRUE(w[2].waiting_for_key_frame);
    EXPECT_EQ(last_request, t0);  // the browser asked too

    // Browsers ask at most every 2 s.
    std::vector<WatcherVideoState> browser = {{false, 5, true}};
    EXPECT_FALSE(gate_watchers_for_frame(browser, true, last_request, t0 + seconds(2)).request_key_frame);
    EXPECT_TRUE(gate_watchers_for_frame(browser, true, last_request, t0 + milliseconds(2001)).request_key_frame);

    // A key frame reaches the waiting watchers that caught up.
    w[2].queued_frames = 0;
    gate = gate_watchers_for_frame(w, true, last_request, t0 + seconds(9));
    EXPECT_EQ(gate.receives, (std::vector<bool>{true, true, true, false}));
    EXPECT_FALSE(w[1].waiting_for_key_frame);
    EXPECT_FALSE(w[2].waiting_for_key_frame);
}

TEST(StreamPoints, ScaleByMonitorDpi) {
    EXPECT_EQ(stream_points(1920, 1080, 144).wide, 1280);
    EXPECT_EQ(stream_points(1920, 1080, 144).high, 720);
    EXPECT_EQ(stream_points(1920, 1080, 72).wide, 1920);  // below 96 counts as 96
    EXPECT_EQ(stream_points(1001, 3, 192).wide, 501);     // 500.5 rounds away from zero
    EXPECT_EQ(stream_points(1001, 3, 192).high, 2);
}

}  // namespace
}  // namespace vorlix
