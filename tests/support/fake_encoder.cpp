#include "support/fake_encoder.h"

namespace vorlix::testing {

namespace {

class FakeEncoder final : public VideoEncoder {
public:
    FakeEncoder(FakeEncoderPlan plan, std::shared_ptr<FakeEncoderRecord> record, VirtualClock* clock)
        : plan_(std::move(plan)), record_(std::move(record)), clock_(clock) {
        target_ = record_->settings.bitrate;
    }
    ~FakeEncoder() override { record_->released = true; }

    const std::string& name() const override { return record_->name; }
    bool hardware() const override { return record_->hardware; }
    std::uint32_t width() const override { return record_->settings.width; }
    std::uint32_t height() const override { return record_->settings.height; }
    std::uint32_t fps() const override { return record_->settings.fps; }
    std::uint32_t target_bitrate() const override { return target_; }
    void set_target_bitrate(std::uint32_t bps) override { target_ = bps; }
    std::optional<std::uint32_t> sharpening() const override { return sharpening_; }

    Result<std::vector<EncodedOutput>> encode_frame(ByteView nv12, std::int64_t sample_time, bool key) override {
        record_->encodes += 1;
        record_->keys.push_back(key);
        record_->last_picture_size = nv12.size();
        record_->last_picture.assign(nv12.begin(), nv12.end());
        if (clock_) clock_->advance(plan_.encode_time);
        const std::size_t expected = std::size_t{width()} * height() * 3 / 2;
        if (nv12.size() != expected) return Error("the picture is not of the encoder's size");
        if (plan_.fail_on_call && record_->encodes == *plan_.fail_on_call)
            return Error("the transform refused the picture");
        if (plan_.output_failed) failed_ = true;
        if (plan_.never_output || record_->encodes <= plan_.silent_encodes) return std::vector<EncodedOutput>{};
        EncodedOutput out{make_access_unit(key, static_cast<std::uint32_t>(record_->encodes)), sample_time};
        if (plan_.asynchronous) {
            pending_.push_back(std::move(out));
            return std::vector<EncodedOutput>{};
        }
        return std::vector<EncodedOutput>{std::move(out)};
    }

    void set_encoder_bitrate(std::uint32_t bps) override { record_->bitrates_applied.push_back(bps); }
    void start_sharpening(std::uint32_t bps) override {
        if (target_ >= bps || sharpening_ == bps) return;
        sharpening_ = bps;
        record_->sharpening_starts.push_back(bps);
        set_encoder_bitrate(bps);
    }
    void end_sharpening() override {
        if (!sharpening_) return;
        sharpening_.reset();
        record_->sharpening_ends += 1;
        set_encoder_bitrate(target_);
    }
    std::optional<Bytes> sequence_header() override { return Bytes{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 1}; }
    bool output_failed() const override { return failed_; }
    std::vector<EncodedOutput> take_outputs() override { return std::exchange(pending_, {}); }

private:
    Bytes make_access_unit(bool key, std::uint32_t n) const {
        Bytes b;
        auto start = [&] { b.insert(b.end(), {0, 0, 0, 1}); };
        if (key) {
            start();
            b.insert(b.end(), {0x67, 0x42, 0x00, 0x1f});
            start();
            b.insert(b.end(), {0x68, 0xce});
        }
        start();
        b.push_back(key ? 0x65 : 0x41);
        std::uint8_t num[4];
        put_u32_be(num, n);
        b.insert(b.end(), num, num + 4);
        b.push_back(0x80);
        return b;
    }

    FakeEncoderPlan plan_;
    std::shared_ptr<FakeEncoderRecord> record_;
    VirtualClock* clock_;
    std::uint32_t target_ = 0;
    std::optional<std::uint32_t> sharpening_;
    std::vector<EncodedOutput> pending_;
    bool failed_ = false;
};

}  // namespace

EncoderOpener FakeEncoderFactory::opener() {
    return [this](const EncoderSettings& settings) -> Result<std::unique_ptr<VideoEncoder>> {
        attempts.push_back(settings);
        FakeEncoderPlan plan = otherwise;
        if (choose) {
            plan = choose(settings);
        } else if (!plans.empty()) {
            plan = plans.front();
            plans.pop_front();
        }
        if (plan.refuse_open) return Error(*plan.refuse_open);
        auto record = std::make_shared<FakeEncoderRecord>();
        record->settings = settings;
        record->hardware = settings.allow_hardware && hardware_available;
        record->name = record->hardware ? "fake hardware" : "fake software";
        opened.push_back(record);
        return std::unique_ptr<VideoEncoder>(std::make_unique<FakeEncoder>(plan, record, clock_));
    };
}

std::optional<FakeFrameInfo> read_fake_output(ByteView bytes) {
    // The slice is the last unit: its type byte then the 4-byte number and 0x80.
    if (bytes.size() < 6 || bytes.back() != 0x80) return std::nullopt;
    const std::uint8_t* slice = bytes.data() + bytes.size() - 6;
    const std::uint8_t type = slice[0] & 0x1F;
    if (type != 5 && type != 1) return std::nullopt;
    return FakeFrameInfo{get_u32_be(slice + 1), type == 5};
}

}  // namespace vorlix::testing
