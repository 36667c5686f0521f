// A loopback capture for tests: every cycle finds 480 frames of a steady
// tone in a 48 kHz float stereo mix, and the record counts the sources made
// and released (one per sound thread) and the packets taken.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <memory>

#include "sound/sound_capture.h"

namespace vorlix::testing {

struct ToneRecord {
    std::atomic<int> made{0};
    std::atomic<int> released{0};
    std::atomic<int> packets{0};
};

class ToneSource final : public SoundSource {
public:
    explicit ToneSource(std::shared_ptr<ToneRecord> record) : record_(std::move(record)) {
        record_->made += 1;
        const auto sample = std::bit_cast<std::array<std::uint8_t, 4>>(0.5f);
        for (int i = 0; i < 480 * 2; ++i) data_.insert(data_.end(), sample.begin(), sample.end());
    }
    ~ToneSource() override { record_->released += 1; }

    Result<MixFormat> open(std::chrono::milliseconds) override {
        MixFormat format;
        format.format_tag = kWaveFormatIeeeFloat;
        format.rate = 48000;
        format.channels = 2;
        format.bits_per_sample = 32;
        return format;
    }
    Status start() override { return {}; }
    Result<std::uint32_t> next_packet_size() override {
        pending_ = !pending_;
        return pending_ ? std::uint32_t{480} : std::uint32_t{0};
    }
    Result<Packet> get_packet() override {
        record_->packets += 1;
        return Packet{ByteView(data_), 480, false};
    }
    Status release_packet(std::uint32_t) override { return {}; }

private:
    std::shared_ptr<ToneRecord> record_;
    Bytes data_;
    bool pending_ = false;
};

inline SoundSourceFactory tone_factory(const std::shared_ptr<ToneRecord>& record) {
    return [record]() -> std::unique_ptr<SoundSource> { return std::make_unique<ToneSource>(record); };
}

}  // namespace vorlix::testing
