// Opening an encoder: hardware encoders first, refusals logged and skipped,
// then the software encoder; media types and codec settings in order.
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

constexpr ResultCode kRefused = 0xC00D36B4;  // an invalid media type

EncoderSettings settings_1080p30() { return EncoderSettings{1920, 1080, 30, 8'000'000, true}; }

TEST(EncoderOpen, SoftwareEncoderWhenNoHardwareIsPresentWithoutALogLine) {
    ScriptedSystem system;
    ::testing::internal::CaptureStderr();
    auto opened = open_h264_encoder(system, settings_1080p30());
    const std::string log = captured_stderr();
    ASSERT_TRUE(opened.ok()) << opened.error().text;
    EXPECT_EQ(log, "");
    EXPECT_EQ((*opened)->name(), "Microsoft H.264 software encoder");
    EXPECT_FALSE((*opened)->hardware());
    EXPECT_FALSE((*opened)->asynchronous());
    EXPECT_EQ(system.startups, 1);
    EXPECT_EQ(system.enumerations, 1);

    ScriptedTransform& t = *system.software;
    EXPECT_EQ(t.profiles, (std::vector<std::uint32_t>{kProfileHigh}));
    EXPECT_EQ(t.last_output_type.width, 1920u);
    EXPECT_EQ(t.last_output_type.height, 1080u);
    EXPECT_EQ(t.last_output_type.fps, 30u);
    EXPECT_EQ(t.last_output_type.bitrate, 8'000'000u);
    EXPECT_EQ(t.last_input_type.width, 1920u);
    EXPECT_EQ(t.last_input_type.fps, 30u);
    // Constant bitrate, no B pictures and a key frame every 8 s (240
    // pictures at 30 fps) before the output type, for encoders that fix them
    // there; after the types: low latency, those three again with the
    // bitrate, quality against speed 40.
    using P = CodecProperty;
    const std::vector<std::pair<P, std::uint32_t>> expected{
        {P::rate_control_mode, 0},       {P::default_b_picture_count, 0}, {P::gop_size, 240},
        {P::low_latency_mode, 1},        {P::rate_control_mode, 0},       {P::mean_bitrate, 8'000'000},
        {P::default_b_picture_count, 0}, {P::gop_size, 240},              {P::quality_vs_speed, 40}};
    EXPECT_EQ(t.codec_values, expected);
    EXPECT_EQ(t.codec_values_before_output_type, 3u);
    EXPECT_EQ(t.messages,
              (std::vector<TransformMessage>{TransformMessage::begin_streaming, TransformMessage::start_of_stream}));
    const auto calls = t.call_list();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "output_type");
    EXPECT_EQ(calls[1], "input_type");
}

TEST(EncoderOpen, HardwareNotAllowedSkipsTheEnumeration) {
    ScriptedSystem system;
    system.add_candidate(std::string("GPU"));
    auto settings = settings_1080p30();
    settings.allow_hardware = false;
    auto opened = open_h264_encoder(system, settings);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(system.enumerations, 0);
    EXPECT_FALSE((*opened)->hardware());
}

TEST(EncoderOpen, SynchronousHardwareEncoderIsTakenFirst) {
    ScriptedSystem system;
    auto& gpu = system.add_candidate(std::string("Vendor H264 Encoder MFT"));
    gpu.transform->async_value = 0;
    auto opened = open_h264_encoder(system, settings_1080p30());
    ASSERT_TRUE(opened.ok());
    EXPECT_TRUE((*opened)->hardware());
    EXPECT_FALSE((*opened)->asynchronous());
    EXPECT_EQ((*opened)->name(), "Vendor H264 Encoder MFT");
    EXPECT_EQ(gpu.transform->count("unlock_async"), 0);
    EXPECT_EQ(gpu.transform->count("low_latency"), 1);
    EXPECT_EQ(system.software->count("output_type"), 0);
}

TEST(EncoderOpen, RefusedProfilesFallToMainThenTheNextEncoder) {
    ScriptedSystem system;
    auto& first = system.add_candidate(std::nullopt);  // no friendly name
    first.transform->output_type_codes = {kRefused, kRefused};
    auto& second = system.add_candidate(std::string("Second"));
    second.transform->output_type_codes = {kRefused};  // High refused, Main taken

    ::testing::internal::CaptureStderr();
    auto opened = open_h264_encoder(system, settings_1080p30());
    const std::string log = captured_stderr();
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ((*opened)->name(), "Second");
    EXPECT_EQ(first.transform->profiles, (std::vector<std::uint32_t>{kProfileHigh, kProfileMain}));
    EXPECT_EQ(second.transform->profiles, (std::vector<std::uint32_t>{kProfileHigh, kProfileMain}));
    EXPECT_EQ(first.shutdown_objects, 1);
    EXPECT_EQ(second.shutdown_objects, 0);
    EXPECT_EQ(occurrences(log, "hardware encoder ? refused: scripted (0xC00D36B4)"), 1) << log;
    EXPECT_EQ(occurrences(log, "refused"), 1) << log;
}

TEST(EncoderOpen, EveryHardwareRefusalIsLoggedAndSoftwareTakesOver) {
    ScriptedSystem system;
    auto& no_activation = system.add_candidate(std::string("A"));
    no_activation.activation_fails = true;
    auto& no_unlock = system.add_candidate(std::string("B"));
    no_unlock.transform->async_value = 1;
    no_unlock.transform->unlock_code = kRefused;
    auto& no_events = system.add_candidate(std::string("C"));
    no_events.transform->async_value = 1;
    no_events.transform->event_source_code = kRefused;
    auto& no_streaming = system.add_candidate(std::string("D"));
    no_streaming.transform->message_codes[TransformMessage::begin_streaming] = kRefused;

    ::testing::internal::CaptureStderr();
    auto opened = open_h264_encoder(system, settings_1080p30());
    const std::string log = captured_stderr();
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ((*opened)->name(), kSoftwareEncoderName);
    EXPECT_EQ(occurrences(log, "hardware encoder A refused: cannot activate"), 1) << log;
    EXPECT_EQ(occurrences(log, "hardware encoder B refused: "), 1) << log;
    EXPECT_EQ(occurrences(log, "hardware encoder C refused: no events"), 1) << log;
    EXPECT_EQ(occurrences(log, "hardware encoder D refused: "), 1) << log;
    // Every refusal after the activation gives the encoder's session back.
    EXPECT_EQ(no_activation.shutdown_objects, 0);
    EXPECT_EQ(no_unlock.shutdown_objects, 1);
    EXPECT_EQ(no_events.shutdown_objects, 1);
    EXPECT_EQ(no_streaming.shutdown_objects, 1);
}

TEST(EncoderOpen, SoftwarePathErrorsReachTheCaller) {
    {
        ScriptedSystem system;
        system.startup_status = Error("media layer did not start");
        auto opened = open_h264_encoder(system, settings_1080p30());
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().text, "media layer did not start");
        EXPECT_EQ(system.enumerations, 0);
    }
    {
        ScriptedSystem system;
        system.software_missing = true;
        auto opened = open_h264_encoder(system, settings_1080p30());
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().text, "no software encoder");
    }
    {
        ScriptedSystem system;
        system.software->output_type_codes = {kRefused, kRefused};
        auto opened = open_h264_encoder(system, settings_1080p30());
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().text, "scripted (0xC00D36B4)");
    }
    {
        ScriptedSystem system;
        system.software->input_type_code = kRefused;
        EXPECT_FALSE(open_h264_encoder(system, settings_1080p30()).ok());
    }
    {
        ScriptedSystem system;
        system.software->message_codes[TransformMessage::start_of_stream] = kRefused;
        EXPECT_FALSE(open_h264_encoder(system, settings_1080p30()).ok());
    }
}

TEST(EncoderOpen, RefusedCodecSettingsNeverFailAndMissingOnesAreSkipped) {
    ScriptedSystem system;
    for (auto p : {CodecProperty::low_latency_mode, CodecProperty::rate_control_mode, CodecProperty::mean_bitrate,
                   CodecProperty::default_b_picture_count, CodecProperty::gop_size, CodecProperty::quality_vs_speed})
        system.software->codec_codes[p] = kRefused;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(open_h264_encoder(system, settings_1080p30()).ok());
    const std::string log = captured_stderr();
    EXPECT_EQ(system.software->codec_values.size(), 9u);
    // Each fixed setting refused before and after the types is said once.
    for (const char* setting : {"rate control mode 0", "B-picture count 0", "GOP size 240"})
        EXPECT_EQ(occurrences(log, std::string("Microsoft H.264 software encoder: refused the ") + setting), 1) << log;
    EXPECT_EQ(occurrences(log, "refused"), 3) << log;

    ScriptedSystem fixed_early;  // takes them only before its types, as hardware encoders may
    for (auto p : {CodecProperty::rate_control_mode, CodecProperty::default_b_picture_count, CodecProperty::gop_size})
        fixed_early.software->late_codec_codes[p] = kRefused;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(open_h264_encoder(fixed_early, settings_1080p30()).ok());
    EXPECT_EQ(captured_stderr(), "");

    ScriptedSystem bare;
    bare.software->codec_settings = false;
    EXPECT_TRUE(open_h264_encoder(bare, settings_1080p30()).ok());
    EXPECT_TRUE(bare.software->codec_values.empty());
}

TEST(EncoderOpen, ReleasingASynchronousEncoderEndsStreamingAndShutsDown) {
    ScriptedSystem system;
    {
        auto opened = open_h264_encoder(system, settings_1080p30());
        ASSERT_TRUE(opened.ok());
    }
    EXPECT_EQ(system.software->messages,
              (std::vector<TransformMessage>{TransformMessage::begin_streaming, TransformMessage::start_of_stream,
                                             TransformMessage::end_streaming}));
    EXPECT_TRUE(system.software->shut_down);
}

}  // namespace
}  // namespace vorlix
