// The Media Foundation side of the encoder: identifiers, opening on this
// system, and the adapter driven through a scripted transform with the
// system's own samples, buffers and media types.
#include <gtest/gtest.h>

#include <windows.h>

#include <mfapi.h>
#include <mferror.h>
#include <wmcodecdsp.h>

#include "h264/encoder_h264.h"
#include "win/stream/mf_encoder.h"
#include "win/stream/mf_ids.h"
#include "win/encoder_fake_transform.h"

namespace vorlix {
namespace {

using testing::FakeMfTransform;

class MediaFoundation : public ::testing::Test {
protected:
    void SetUp() override {
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_TRUE(SUCCEEDED(MFStartup(mf_ids::kMfVersion, mf_ids::kStartupFull)));
    }
    void TearDown() override {
        MFShutdown();
        if (com_) CoUninitialize();
    }
    bool com_ = false;
};

TEST(EncoderIds, OurIdentifiersMatchTheSystemLibraries) {
    EXPECT_TRUE(IsEqualGUID(mf_ids::kMajorType, MF_MT_MAJOR_TYPE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kSubtype, MF_MT_SUBTYPE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kAvgBitrate, MF_MT_AVG_BITRATE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kFrameSize, MF_MT_FRAME_SIZE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kFrameRate, MF_MT_FRAME_RATE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kPixelAspectRatio, MF_MT_PIXEL_ASPECT_RATIO));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kInterlaceMode, MF_MT_INTERLACE_MODE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kMpeg2Profile, MF_MT_MPEG2_PROFILE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kYuvMatrix, MF_MT_YUV_MATRIX));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kVideoNominalRange, MF_MT_VIDEO_NOMINAL_RANGE));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kMpegSequenceHeader, MF_MT_MPEG_SEQUENCE_HEADER));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kFriendlyName, MFT_FRIENDLY_NAME_Attribute));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kTransformAsync, MF_TRANSFORM_ASYNC));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kTransformAsyncUnlock, MF_TRANSFORM_ASYNC_UNLOCK));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kLowLatency, MF_LOW_LATENCY));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kMediaTypeVideo, MFMediaType_Video));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kVideoFormatH264, MFVideoFormat_H264));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kVideoFormatNv12, MFVideoFormat_NV12));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kCategoryVideoEncoder, MFT_CATEGORY_VIDEO_ENCODER));
    EXPECT_TRUE(IsEqualGUID(mf_ids::kSoftwareH264Encoder, CLSID_CMSH264EncoderMFT));
}

TEST_F(MediaFoundation, OpeningOnThisSystemEitherEncodesOrFailsWithTheSystemsError) {
    // Wine registers no H.264 encoder; a Windows PC has at least the
    // software one.
    auto opened = encoder_open(EncoderSettings{320, 240, 30, 1'000'000, true});
    if (!opened.ok()) {
        // Wine: neither the software encoder's class nor any enumerated
        // encoder is there.
        EXPECT_NE(opened.error().text.find("0xC00D5212"), std::string::npos) << opened.error().text;
        return;
    }
    Bytes picture(320 * 240 * 3 / 2, 0x80);
    std::vector<EncodedOutput> all;
    for (int i = 0; i < 10 && all.empty(); ++i) {
        auto outputs = (*opened)->encode_frame(picture, i * 333'333, i == 0);
        ASSERT_TRUE(outputs.ok()) << outputs.error().text;
        all = std::move(*outputs);
        auto more = (*opened)->take_outputs();
        all.insert(all.end(), more.begin(), more.end());
    }
    EXPECT_FALSE(all.empty());
}

struct Adapter {
    FakeMfTransform fake;
    std::unique_ptr<H264Encoder> encoder;

    Status open(std::uint32_t width = 64, std::uint32_t height = 32, std::uint32_t fps = 30) {
        fake.AddRef();  // the adapter's reference
        auto transform = std::make_shared<MfTransform>(ComRef<IMFTransform>(static_cast<IMFTransform*>(&fake)));
        Status configured =
            configure_transform(*transform, EncoderSettings{width, height, fps, 3'000'000, false}, kSoftwareEncoderName);
        if (!configured.ok()) return configured;
        H264Encoder::Parts parts;
        parts.transform = transform;
        parts.name = kSoftwareEncoderName;
        parts.settings = EncoderSettings{width, height, fps, 3'000'000, false};
        encoder = std::make_unique<H264Encoder>(std::move(parts));
        return {};
    }
    Bytes picture() const {
        Bytes p(std::size_t{encoder->width()} * encoder->height() * 3 / 2);
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 7);
        return p;
    }
};

std::uint64_t read_u64(IMFMediaType* type, const GUID& key) {
    UINT64 value = 0;
    type->GetUINT64(key, &value);
    return value;
}
std::uint32_t read_u32(IMFMediaType* type, const GUID& key) {
    UINT32 value = 0;
    type->GetUINT32(key, &value);
    return value;
}

TEST_F(MediaFoundation, AdapterSetsTheMediaTypesAndCodecSettings) {
    Adapter a;
    a.fake.output_type_answers = {MF_E_INVALIDMEDIATYPE};  // High refused, Main taken
    ASSERT_TRUE(a.open(1280, 720, 30).ok());
    EXPECT_EQ(a.fake.profiles, (std::vector<UINT32>{100, 77}));

    IMFMediaType* out = a.fake.current_output;
    ASSERT_NE(out, nullptr);
    GUID subtype{};
    out->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_TRUE(IsEqualGUID(subtype, MFVideoFormat_H264));
    EXPECT_EQ(read_u32(out, MF_MT_AVG_BITRATE), 3'000'000u);
    EXPECT_EQ(read_u64(out, MF_MT_FRAME_SIZE), (std::uint64_t{1280} << 32) | 720);
    EXPECT_EQ(read_u64(out, MF_MT_FRAME_RATE), (std::uint64_t{30} << 32) | 1);
    EXPECT_EQ(read_u64(out, MF_MT_PIXEL_ASPECT_RATIO), (std::uint64_t{1} << 32) | 1);
    EXPECT_EQ(read_u32(out, MF_MT_INTERLACE_MODE), 2u);

    IMFMediaType* in = a.fake.current_input;
    ASSERT_NE(in, nullptr);
    in->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_TRUE(IsEqualGUID(subtype, MFVideoFormat_NV12));
    EXPECT_EQ(read_u64(in, MF_MT_FRAME_SIZE), (std::uint64_t{1280} << 32) | 720);
    EXPECT_EQ(read_u32(in, MF_MT_YUV_MATRIX), 1u);
    EXPECT_EQ(read_u32(in, MF_MT_VIDEO_NOMINAL_RANGE), 2u);

    // Rate control, B pictures and GOP size before the types, then all six.
    ASSERT_EQ(a.fake.codec_values.size(), 9u);
    EXPECT_TRUE(IsEqualGUID(a.fake.codec_values[0].first, mf_ids::kRateControlMode));
    EXPECT_TRUE(IsEqualGUID(a.fake.codec_values[2].first, mf_ids::kGopSize));
    EXPECT_EQ(a.fake.codec_values[2].second.ulVal, 240u);
    EXPECT_TRUE(IsEqualGUID(a.fake.codec_values[3].first, mf_ids::kLowLatencyMode));
    EXPECT_EQ(a.fake.codec_values[3].second.vt, VT_BOOL);
    EXPECT_EQ(a.fake.codec_values[3].second.boolVal, VARIANT_TRUE);
    EXPECT_TRUE(IsEqualGUID(a.fake.codec_values[7].first, mf_ids::kGopSize));
    EXPECT_EQ(a.fake.codec_values[7].second.vt, VT_UI4);
    EXPECT_EQ(a.fake.codec_values[7].second.ulVal, 240u);
    EXPECT_EQ(a.fake.messages, (std::vector<MFT_MESSAGE_TYPE>{MFT_MESSAGE_NOTIFY_BEGIN_STREAMING,
                                                              MFT_MESSAGE_NOTIFY_START_OF_STREAM}));
    a.encoder.reset();
    EXPECT_EQ(a.fake.messages.back(), MFT_MESSAGE_NOTIFY_END_STREAMING);
    EXPECT_TRUE(a.fake.shut_down);
    EXPECT_EQ(a.fake.references(), 1u);  // every reference the adapter took is given back
}

TEST_F(MediaFoundation, AdapterFeedsThePictureAndReturnsOutputsInOrder) {
    Adapter a;
    ASSERT_TRUE(a.open().ok());
    a.fake.output_answers.push_back({S_OK, Bytes{0, 0, 0, 1, 0x67, 1}, 1000});
    a.fake.output_answers.push_back({S_OK, Bytes{0, 0, 0, 1, 0x65, 2, 3}, -1});  // no sample time
    const Bytes picture = a.picture();
    auto outputs = a.encoder->encode_frame(picture, 4'000'000, false);
    ASSERT_TRUE(outputs.ok()) << outputs.error().text;
    ASSERT_EQ(outputs->size(), 2u);
    EXPECT_EQ((*outputs)[0], (EncodedOutput{Bytes{0, 0, 0, 1, 0x67, 1}, 1000}));
    EXPECT_EQ((*outputs)[1], (EncodedOutput{Bytes{0, 0, 0, 1, 0x65, 2, 3}, 0}));

    ASSERT_EQ(a.fake.fed.size(), 1u);
    EXPECT_EQ(a.fake.fed[0].bytes, picture);
    EXPECT_EQ(a.fake.fed[0].time, 4'000'000);
    EXPECT_EQ(a.fake.fed[0].duration, 333'333);
    // Each pull hands in a 1 MiB sample (the picture is small).
    EXPECT_EQ(a.fake.offered_sizes, (std::vector<DWORD>{1'048'576, 1'048'576, 1'048'576}));
}

TEST_F(MediaFoundation, AdapterHandlesNotAcceptingAndStreamChange) {
    Adapter a;
    ASSERT_TRUE(a.open().ok());
    a.fake.input_answers = {MF_E_NOTACCEPTING};
    a.fake.output_answers.push_back({MF_E_TRANSFORM_STREAM_CHANGE, {}, 0});
    a.fake.output_answers.push_back({S_OK, Bytes{0, 0, 1, 0x41}, 7});
    auto outputs = a.encoder->encode_frame(a.picture(), 0, false);
    ASSERT_TRUE(outputs.ok()) << outputs.error().text;
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0].sample_time, 7);
    EXPECT_EQ(a.fake.fed.size(), 1u);  // refused once, then taken
    EXPECT_EQ(a.fake.profiles.back(), 66u);  // the first available type was set

    // A second refusal is returned with the system's code.
    a.fake.input_answers = {MF_E_NOTACCEPTING, MF_E_NOTACCEPTING};
    auto refused = a.encoder->encode_frame(a.picture(), 0, false);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().text.find("0xC00D36B5"), std::string::npos) << refused.error().text;
}

TEST_F(MediaFoundation, AdapterSizesBuffersAndTakesSamplesTheTransformBrings) {
    Adapter a;
    ASSERT_TRUE(a.open(1920, 1080).ok());
    a.fake.output_answers.push_back({S_OK, Bytes{1, 2, 3}, 5});
    ASSERT_TRUE(a.encoder->encode_frame(a.picture(), 0, true).ok());
    EXPECT_EQ(a.fake.offered_sizes.front(), 3'110'400u);  // one NV12 picture
    EXPECT_TRUE(IsEqualGUID(a.fake.codec_values.back().first, mf_ids::kForceKeyFrame));
    EXPECT_EQ(a.fake.codec_values.back().second.ulVal, 1u);

    a.fake.stream_flags = MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
    a.fake.offered_sizes.clear();
    a.fake.output_answers.push_back({S_OK, Bytes{9, 9}, 6});
    auto outputs = a.encoder->encode_frame(a.picture(), 0, false);
    ASSERT_TRUE(outputs.ok()) << outputs.error().text;
    ASSERT_EQ(outputs->size(), 1u);
    EXPECT_EQ((*outputs)[0], (EncodedOutput{Bytes{9, 9}, 6}));
    EXPECT_EQ(a.fake.offered_sizes.front(), 0u);  // nothing handed in
}

TEST_F(MediaFoundation, AdapterReadsTheSequenceHeader) {
    Adapter a;
    ASSERT_TRUE(a.open().ok());
    EXPECT_FALSE(a.encoder->sequence_header().has_value());
    a.fake.sequence_header = Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce};
    EXPECT_EQ(a.encoder->sequence_header(), a.fake.sequence_header);
}

}  // namespace
}  // namespace vorlix
