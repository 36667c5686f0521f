// Scripted H.264 encoders for the stream loop's tests. Each output is a
// small Annex-B access unit (SPS, PPS and an IDR slice on key frames, one
// slice otherwise) whose slice carries the encode's number, so that tests can
// follow every picture to the device. Plans give latency (on the virtual
// clock), a failure on the N-th encode, no output at all, or outputs that
// only come later through take_outputs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "h264/encoder.h"
#include "support/synthetic_capture.h"

namespace vorlix::testing {

struct FakeEncoderPlan {
    Duration encode_time = std::chrono::milliseconds(1);
    std::optional<int> fail_on_call;  // 1-based; that encode fails
    bool never_output = false;
    int silent_encodes = 0;           // the first encodes give no output
    bool asynchronous = false;        // outputs wait for the next take_outputs
    bool output_failed = false;       // reports a failed output after the first encode
    std::optional<std::string> refuse_open;
};

// What one opened encoder saw; kept after the loop drops the encoder.
struct FakeEncoderRecord {
    EncoderSettings settings;
    std::string name;
    bool hardware = false;
    int encodes = 0;
    std::vector<bool> keys;
    std::vector<std::uint32_t> bitrates_applied;
    std::vector<std::uint32_t> sharpening_starts;
    int sharpening_ends = 0;
    std::size_t last_picture_size = 0;
    Bytes last_picture;
    bool released = false;
};

class FakeEncoderFactory {
public:
    explicit FakeEncoderFactory(VirtualClock* clock = nullptr) : clock_(clock) {}

    EncoderOpener opener();

    // Plans for the next openings, then `otherwise`; `choose` overrides both.
    std::deque<FakeEncoderPlan> plans;
    FakeEncoderPlan otherwise;
    std::function<FakeEncoderPlan(const EncoderSettings&)> choose;
    // Whether an encoder opened with hardware allowed is a hardware one.
    bool hardware_available = false;

    std::vector<EncoderSettings> attempts;
    std::vector<std::shared_ptr<FakeEncoderRecord>> opened;

private:
    VirtualClock* clock_;
};

// The number an output of the fake encoder carries, and whether it is a key
// frame; none for bytes it did not make.
struct FakeFrameInfo {
    std::uint32_t encode_number = 0;
    bool key = false;
};
std::optional<FakeFrameInfo> read_fake_output(ByteView annexb_or_packed);

}  // namespace vorlix::testing
