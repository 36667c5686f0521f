// Encoding on a synchronous transform: feeding, pulling, NOTACCEPTING,
// stream changes, buffer sizes, bitrate and sharpening bookkeeping.
#include <gtest/gtest.h>

#include "encoder/scripted_system.h"
#include "h264/encoder_h264.h"
#include "support/text_count.h"
#include "support/captured_stderr.h"

namespace vorlix {
namespace {

using testing::occurrences;

using testing::ScriptedSystem;
using testing::ScriptedTransform;

constexpr ResultCode kBroken = 0x80004005;

struct SyncEncoder {
    ScriptedSystem system;
    std::unique_ptr<H264Encoder> encoder;

    explicit SyncEncoder(std::uint32_t width = 64, std::uint32_t height = 32, std::uint32_t fps = 30,
                         std::uint32_t bitrate = 2'000'000) {
        auto opened = open_h264_encoder(system, EncoderSettings{width, height, fps, bitrate, false});
        EXPECT_TRUE(opened.ok());
        if (opened.ok()) encoder = std::move(*opened);
        transform().codec_values.clear();
    }
    ScriptedTransform& transform() { return *system.software; }
    Bytes picture() const { return Bytes(std::size_t{encoder->width()} * encoder->height() * 3 / 2, 0x80); }
};

TEST(EncoderSync, FeedsOnePictureAndPullsUntilMoreInputIsNeeded) {
    SyncEncoder e;
    e.transform().add_output(0x67, 11);
    e.transform().add_output(0x65, 22);
    const Bytes picture = e.picture();
    auto outputs = e.encoder->encode_frame(picture, 123'456, false);
    ASSERT_TRUE(outputs.ok()) << outputs.error().text;
    ASSERT_EQ(outputs->size(), 2u);
    EXPECT_EQ((*outputs)[0], (EncodedOutput{Bytes{0, 0, 0, 1, 0x67}, 11}));
    EXPECT_EQ((*outputs)[1].sample_time, 22);

    ASSERT_EQ(e.transform().prepared.size(), 1u);
    EXPECT_EQ(e.transform().prepared[0].picture, picture);
    EXPECT_EQ(e.transform().prepared[0].time, 123'456);
    EXPECT_EQ(e.transform().prepared[0].duration, 333'333);  // 1/30 s in 100 ns units
    EXPECT_EQ(e.transform().inputs_fed, 1);
    EXPECT_EQ(e.transform().count("process_output"), 3);  // two outputs, then "need more input"

    // Nothing ready is an empty list, not an error.
    auto none = e.encoder->encode_frame(picture, 0, false);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
}

TEST(EncoderSync, SampleDurationFollowsTheRateAndAZeroRateCountsAsOne) {
    SyncEncoder sixty(64, 32, 60);
    ASSERT_TRUE(sixty.encoder->encode_frame(sixty.picture(), 0, false).ok());
    EXPECT_EQ(sixty.transform().prepared.back().duration, 166'666);

    SyncEncoder zero(64, 32, 0);
    ASSERT_TRUE(zero.encoder->encode_frame(zero.picture(), 0, false).ok());
    EXPECT_EQ(zero.transform().prepared.back().duration, 10'000'000);
}

TEST(EncoderSync, NotAcceptingPullsFirstThenFeedsAgain) {
    SyncEncoder e;
    e.transform().input_codes = {result_codes::not_accepting};
    e.transform().add_output(0x41, 1);  // waiting inside the transform
    auto outputs = e.encoder->encode_frame(e.picture(), 0, false);
    ASSERT_TRUE(outputs.ok());
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].sample_time, 1);
    EXPECT_EQ(e.transform().inputs_fed, 1);
    const auto calls = e.transform().call_list();
    // Opening, then: prepare, refused input, pull (one output, then "need
    // more input"), the same input again, pull ("need more input").
    const std::vector<std::string> expected{"output_type",   "input_type",     "prepare_input",
                                            "process_input", "stream_info",    "process_output",
                                            "stream_info",   "process_output", "process_input",
                                            "stream_info",   "process_output"};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(e.transform().count("process_input"), 2);
    EXPECT_EQ(e.transform().count("prepare_input"), 1);  // the same sample is fed twice
}

TEST(EncoderSync, InputFailuresAreReturned) {
    SyncEncoder twice;
    twice.transform().input_codes = {result_codes::not_accepting, result_codes::not_accepting};
    auto refused = twice.encoder->encode_frame(twice.picture(), 0, false);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().text, "not accepting (0xC00D36B5)");

    SyncEncoder broken;
    broken.transform().input_codes = {kBroken};
    auto failed = broken.encoder->encode_frame(broken.picture(), 0, false);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text, "scripted (0x80004005)");
    EXPECT_EQ(broken.transform().count("process_output"), 0);

    SyncEncoder no_sample;
    no_sample.transform().prepare_codes = {kBroken};
    EXPECT_FALSE(no_sample.encoder->encode_frame(no_sample.picture(), 0, false).ok());
    EXPECT_EQ(no_sample.transform().count("process_input"), 0);
}

TEST(EncoderSync, APictureOfTheWrongSizeIsRefusedBeforeTheTransformSeesIt) {
    SyncEncoder e;
    Bytes short_picture(e.picture().size() - 1);
    auto result = e.encoder->encode_frame(short_picture, 0, false);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(e.transform().count("prepare_input"), 0);
}

TEST(EncoderSync, StreamChangeTakesTheFirstAvailableTypeAndPullsAgain) {
    SyncEncoder e;
    e.transform().add_answer(result_codes::stream_change);
    e.transform().add_output(0x65, 5);
    auto outputs = e.encoder->encode_frame(e.picture(), 0, false);
    ASSERT_TRUE(outputs.ok());
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ(e.transform().count("first_output_type"), 1);

    SyncEncoder refused;
    refused.transform().add_answer(result_codes::stream_change);
    refused.transform().first_type_code = kBroken;
    EXPECT_FALSE(refused.encoder->encode_frame(refused.picture(), 0, false).ok());

    // A transform that never settles does not hold the stream thread.
    SyncEncoder endless;
    for (int i = 0; i < 100; ++i) endless.transform().add_answer(result_codes::stream_change);
    auto result = endless.encoder->encode_frame(endless.picture(), 0, false);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().text.find("0xC00D6D61"), std::string::npos);
}

TEST(EncoderSync, OutputFailuresAreReturned) {
    SyncEncoder e;
    e.transform().add_output(0x65, 1);
    e.transform().add_answer(kBroken);
    EXPECT_FALSE(e.encoder->encode_frame(e.picture(), 0, false).ok());

    SyncEncoder info;
    info.transform().stream_info_code = kBroken;
    EXPECT_FALSE(info.encoder->encode_frame(info.picture(), 0, false).ok());
}

TEST(EncoderSync, OutputBufferIsOnePictureOrTheStatedSizeAndAtLeastOneMebibyte) {
    EXPECT_EQ(output_buffer_size(0, 1920, 1080), 3'110'400u);
    EXPECT_EQ(output_buffer_size(4'000'000, 1920, 1080), 4'000'000u);
    EXPECT_EQ(output_buffer_size(0, 64, 32), 1'048'576u);
    EXPECT_EQ(output_buffer_size(1'048'576, 64, 32), 1'048'576u);
    EXPECT_EQ(output_buffer_size(1'048'577, 64, 32), 1'048'577u);
    EXPECT_EQ(output_buffer_size(0, 65535, 65535), 0xFFFFFFFFu);  // capped, not wrapped

    SyncEncoder e;
    e.transform().stream_info = {false, 2'000'000};
    ASSERT_TRUE(e.encoder->encode_frame(e.picture(), 0, false).ok());
    EXPECT_EQ(e.transform().buffer_sizes.back(), 2'000'000u);

    SyncEncoder own;
    own.transform().stream_info = {true, 2'000'000};
    ASSERT_TRUE(own.encoder->encode_frame(own.picture(), 0, false).ok());
    EXPECT_EQ(own.transform().buffer_sizes.back(), 0u);  // the transform brings its samples
}

TEST(EncoderSync, ForcedKeyFrameIsAskedForWhenTheEncoderHasCodecSettings) {
    SyncEncoder e;
    ASSERT_TRUE(e.encoder->encode_frame(e.picture(), 0, true).ok());
    ASSERT_EQ(e.transform().codec_values.size(), 1u);
    EXPECT_EQ(e.transform().codec_values[0], std::make_pair(CodecProperty::force_key_frame, 1u));

    e.transform().codec_codes[CodecProperty::force_key_frame] = kBroken;
    EXPECT_TRUE(e.encoder->encode_frame(e.picture(), 0, true).ok());  // a refusal is ignored

    ScriptedSystem bare;
    bare.software->codec_settings = false;
    auto opened = open_h264_encoder(bare, EncoderSettings{64, 32, 30, 1'000'000, false});
    ASSERT_TRUE(opened.ok());
    bare.software->add_output(0x65, 0);
    auto outputs = (*opened)->encode_frame(Bytes(64 * 32 * 3 / 2), 0, true);
    ASSERT_TRUE(outputs.ok());
    EXPECT_EQ(outputs->size(), 1u);
    EXPECT_TRUE(bare.software->codec_values.empty());
}

TEST(EncoderSync, SequenceHeaderComesFromTheTransform) {
    SyncEncoder e;
    EXPECT_FALSE(e.encoder->sequence_header().has_value());
    e.transform().header = Bytes{0, 0, 0, 1, 0x67, 0, 0, 0, 1, 0x68};
    EXPECT_EQ(e.encoder->sequence_header(), e.transform().header);
    EXPECT_FALSE(e.encoder->output_failed());
    EXPECT_TRUE(e.encoder->take_outputs().empty());
}

TEST(EncoderBitrate, RefusedBitrateIsLoggedOncePerEncoder) {
    SyncEncoder e;
    e.transform().codec_codes[CodecProperty::mean_bitrate] = kBroken;
    ::testing::internal::CaptureStderr();
    e.encoder->set_encoder_bitrate(3'000'000);
    e.encoder->set_encoder_bitrate(4'000'000);
    e.encoder->set_encoder_bitrate(5'000'000);
    const std::string log = captured_stderr();
    EXPECT_EQ(occurrences(log, "Microsoft H.264 software encoder: refused a new bitrate while running"), 1) << log;
    EXPECT_EQ(e.transform().codec_values.size(), 3u);

    SyncEncoder other;  // a new encoder logs again
    other.transform().codec_codes[CodecProperty::mean_bitrate] = kBroken;
    ::testing::internal::CaptureStderr();
    other.encoder->set_encoder_bitrate(3'000'000);
    EXPECT_EQ(occurrences(captured_stderr(), "refused a new bitrate"), 1);
}

TEST(EncoderBitrate, SharpeningRaisesTheRateAndCapsTheQuantiserUntilItEnds) {
    using P = CodecProperty;
    SyncEncoder e(64, 32, 30, 2'000'000);
    auto& values = e.transform().codec_values;

    e.encoder->start_sharpening(2'000'000);  // not above the target
    e.encoder->end_sharpening();             // no pass in force
    EXPECT_TRUE(values.empty());
    EXPECT_FALSE(e.encoder->sharpening().has_value());

    ::testing::internal::CaptureStderr();
    e.encoder->start_sharpening(16'000'000);
    e.encoder->start_sharpening(16'000'000);  // the same pass again: nothing
    e.encoder->start_sharpening(20'000'000);
    std::string log = captured_stderr();
    EXPECT_EQ(occurrences(log, "sharpening: quantiser ceiling set"), 1) << log;
    EXPECT_EQ(e.encoder->sharpening(), 20'000'000u);
    EXPECT_EQ(values, (std::vector<std::pair<P, std::uint32_t>>{
                          {P::mean_bitrate, 16'000'000}, {P::max_qp, 24}, {P::mean_bitrate, 20'000'000}, {P::max_qp, 24}}));

    values.clear();
    e.encoder->set_target_bitrate(3'000'000);  // changed by the stream during the pass
    e.encoder->end_sharpening();
    EXPECT_EQ(values, (std::vector<std::pair<P, std::uint32_t>>{{P::mean_bitrate, 3'000'000}, {P::max_qp, 51}}));
    EXPECT_FALSE(e.encoder->sharpening().has_value());
    EXPECT_EQ(e.encoder->target_bitrate(), 3'000'000u);
}

TEST(EncoderBitrate, RefusedQuantiserCeilingIsLoggedOnce) {
    SyncEncoder e;
    e.transform().codec_codes[CodecProperty::max_qp] = kBroken;
    ::testing::internal::CaptureStderr();
    e.encoder->start_sharpening(10'000'000);
    e.encoder->end_sharpening();
    e.encoder->start_sharpening(10'000'000);
    const std::string log = captured_stderr();
    EXPECT_EQ(occurrences(log, "sharpening: quantiser ceiling refused by this encoder"), 1) << log;
}

TEST(EncoderBitrate, WithoutCodecSettingsOnlyTheRecordChanges) {
    ScriptedSystem bare;
    bare.software->codec_settings = false;
    auto opened = open_h264_encoder(bare, EncoderSettings{64, 32, 30, 1'000'000, false});
    ASSERT_TRUE(opened.ok());
    auto& encoder = **opened;
    ::testing::internal::CaptureStderr();
    encoder.set_encoder_bitrate(5'000'000);
    encoder.start_sharpening(8'000'000);
    EXPECT_EQ(encoder.sharpening(), 8'000'000u);
    encoder.end_sharpening();
    EXPECT_EQ(captured_stderr(), "");
    EXPECT_FALSE(encoder.sharpening().has_value());
    EXPECT_TRUE(bare.software->codec_values.empty());
}

}  // namespace
}  // namespace vorlix
