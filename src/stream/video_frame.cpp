#include "stream/video_frame.h"

#include <algorithm>
#include <cmath>

#include "stream/saturate.h"

namespace vorlix {

Bytes encode_video_frame(const VideoFrame& frame) {
    std::vector<ByteView> sets;
    for (const Bytes& set : frame.parameter_sets) {
        if (set.size() <= 0xFFFF && sets.size() < 0xFF) sets.emplace_back(set);
    }
    std::size_t size = kVideoFrameHeaderSize + frame.data.size();
    for (ByteView set : sets) size += 2 + set.size();

    Bytes body(kVideoFrameHeaderSize);
    body.reserve(size);
    body[0] = static_cast<std::uint8_t>((frame.key ? 0x01 : 0) | (frame.last_pass ? 0x02 : 0));
    put_u32_be(&body[1], frame.frame_number);
    put_u64_be(&body[5], frame.picture_time_us);
    put_u64_be(&body[13], frame.send_time_us);
    body[21] = static_cast<std::uint8_t>(sets.size());
    for (ByteView set : sets) {
        std::uint8_t length[2];
        put_u16_be(length, static_cast<std::uint16_t>(set.size()));
        body.insert(body.end(), length, length + 2);
        append(body, set);
    }
    append(body, frame.data);
    return body;
}

std::optional<VideoFrame> prepare_video_frame(
    ParameterSets& sets, ByteView output, std::int64_t sample_time, std::uint32_t frame_number,
    Duration since_origin, bool last_pass,
    const std::function<std::optional<Bytes>()>& read_sequence_header) {
    PackedOutput packed = find_nal_units(sets, output);
    if (packed.bytes.empty()) return std::nullopt;
    VideoFrame frame;
    frame.key = packed.key;
    frame.last_pass = last_pass;
    if (packed.key) {
        if ((!sets.sps || !sets.pps) && read_sequence_header) {
            if (auto header = read_sequence_header()) store_parameter_sets(sets, *header);
        }
        frame.parameter_sets = collect_parameter_sets(sets);
    }
    frame.frame_number = frame_number;
    frame.picture_time_us = static_cast<std::uint64_t>(std::max<std::int64_t>(sample_time / 10, 0));
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since_origin).count();
    frame.send_time_us = static_cast<std::uint64_t>(std::max<std::int64_t>(micros, 0));
    frame.data = std::move(packed.bytes);
    return frame;
}

std::optional<std::string> first_video_log_text(const VideoFrame& frame) {
    if (frame.frame_number != 0 && !(frame.frame_number < 3 && frame.key)) return std::nullopt;
    std::string sets = "[";
    for (std::size_t i = 0; i < frame.parameter_sets.size(); ++i) {
        if (i > 0) sets += ", ";
        sets += std::to_string(frame.parameter_sets[i].size());
    }
    sets += "]";
    return "first video: keyframe " + std::string(frame.key ? "true" : "false") + ", " +
           std::to_string(frame.data.size()) + " bytes, SPS/PPS " + sets;
}

WatcherFrameGate gate_watchers_for_frame(std::span<WatcherVideoState> watchers, bool key_frame,
                                         std::optional<Instant>& last_request, Instant now) {
    WatcherFrameGate gate;
    gate.receives.reserve(watchers.size());
    for (WatcherVideoState& watcher : watchers) {
        if (watcher.waiting_for_key_frame && !key_frame) {
            gate.receives.push_back(false);
        } else if (watcher.queued_frames > 3) {
            watcher.waiting_for_key_frame = true;
            gate.receives.push_back(false);
            if (!watcher.browser) {
                gate.request_key_frame = true;
            } else if (!last_request || now - *last_request > std::chrono::seconds(2)) {
                gate.request_key_frame = true;
                last_request = now;
            }
        } else {
            watcher.waiting_for_key_frame = false;
            gate.receives.push_back(true);
        }
    }
    return gate;
}

PointsSize stream_points(std::uint32_t capture_width, std::uint32_t capture_height,
                         std::uint32_t dpi) {
    const double scale = static_cast<double>(std::max<std::uint32_t>(dpi, 96)) / 96.0;
    return {saturating_cast<std::int64_t>(std::round(capture_width / scale)),
            saturating_cast<std::int64_t>(std::round(capture_height / scale))};
}

}  // namespace vorlix
