// The body of a Video frame, how one encoder output becomes it, and which web
// watchers get it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "h264/annexb.h"
#include "stream/clock.h"
#include "util/bytes.h"

namespace vorlix {

struct VideoFrame {
    bool key = false;
    bool last_pass = false;  // the last picture of a sharpening run
    std::uint32_t frame_number = 0;
    std::uint64_t picture_time_us = 0;  // from the stream's time origin to the encode
    std::uint64_t send_time_us = 0;     // from the stream's time origin to this body
    std::vector<Bytes> parameter_sets;  // SPS and PPS on key frames, else none
    Bytes data;                         // length-prefixed NAL units
};

inline constexpr std::size_t kVideoFrameHeaderSize = 22;

// The body: flags, frame number, picture and send times (big-endian), the
// parameter sets each with a 16-bit length, then the picture data. A
// parameter set too long for its 16-bit length is left out.
Bytes encode_video_frame(const VideoFrame& frame);

// Turns one encoder output into a frame: NAL units rewritten, parameter sets
// kept and, on key frames, attached (read from the encoder's sequence header
// when not yet known). Nothing when the output holds nothing to send.
// sample_time is in units of 100 ns; since_origin is now minus the stream's
// time origin.
std::optional<VideoFrame> prepare_video_frame(
    ParameterSets& sets, ByteView output, std::int64_t sample_time, std::uint32_t frame_number,
    Duration since_origin, bool last_pass,
    const std::function<std::optional<Bytes>()>& read_sequence_header);

// The log line for the stream's first frames, or nothing.
std::optional<std::string> first_video_log_text(const VideoFrame& frame);

// A web watcher as the video sender sees it.
struct WatcherVideoState {
    bool waiting_for_key_frame = false;
    std::uint32_t queued_frames = 0;  // Video frames queued on its link, not yet written
    bool browser = false;
};

struct WatcherFrameGate {
    std::vector<bool> receives;  // one a watcher, in order
    bool request_key_frame = false;
};

// Which watchers get this frame. A watcher waiting for a key frame skips
// other frames; one more than 3 frames behind waits for the next key frame
// and asks for one (a browser at most every 2 s, tracked in last_request);
// every other watcher gets the frame and stops waiting.
WatcherFrameGate gate_watchers_for_frame(std::span<WatcherVideoState> watchers, bool key_frame,
                                         std::optional<Instant>& last_request, Instant now);

// Points of a capture size on a monitor of the given DPI (below 96 counts as
// 96), rounded to the nearest integer, halves away from zero.
struct PointsSize {
    std::int64_t wide = 0;
    std::int64_t high = 0;
};
PointsSize stream_points(std::uint32_t capture_width, std::uint32_t capture_height,
                         std::uint32_t dpi);

}  // namespace vorlix
