#include "streamloop/openh264_codec.h"

#ifdef VORLIX_HAVE_OPENH264

#include <wels/codec_api.h>

#include <cmath>
#include <cstring>

namespace vorlix::testing {

namespace {

class OpenH264Encoder final : public VideoEncoder {
public:
    explicit OpenH264Encoder(const EncoderSettings& s) : s_(s), target_(s.bitrate) {}
    ~OpenH264Encoder() override {
        if (encoder_) {
            encoder_->Uninitialize();
            WelsDestroySVCEncoder(encoder_);
        }
    }

    Status open() {
        if (WelsCreateSVCEncoder(&encoder_) != 0 || !encoder_) return Error("no OpenH264 encoder");
        int quiet = WELS_LOG_QUIET;
        encoder_->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
        SEncParamExt p;
        encoder_->GetDefaultParams(&p);
        p.iUsageType = SCREEN_CONTENT_REAL_TIME;
        p.iPicWidth = static_cast<int>(s_.width);
        p.iPicHeight = static_cast<int>(s_.height);
        p.iTargetBitrate = static_cast<int>(s_.bitrate);
        p.iRCMode = RC_BITRATE_MODE;
        p.fMaxFrameRate = static_cast<float>(s_.fps);
        p.iSpatialLayerNum = 1;
        p.bEnableFrameSkip = false;
        p.uiIntraPeriod = s_.fps * 8;
        p.iMultipleThreadIdc = 1;
        p.sSpatialLayers[0].iVideoWidth = p.iPicWidth;
        p.sSpatialLayers[0].iVideoHeight = p.iPicHeight;
        p.sSpatialLayers[0].fFrameRate = p.fMaxFrameRate;
        p.sSpatialLayers[0].iSpatialBitrate = p.iTargetBitrate;
        if (encoder_->InitializeExt(&p) != 0) return Error("OpenH264 refused the settings");
        int format = videoFormatI420;
        encoder_->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
        return {};
    }

    const std::string& name() const override { return name_; }
    bool hardware() const override { return false; }
    std::uint32_t width() const override { return s_.width; }
    std::uint32_t height() const override { return s_.height; }
    std::uint32_t fps() const override { return s_.fps; }
    std::uint32_t target_bitrate() const override { return target_; }
    void set_target_bitrate(std::uint32_t b) override { target_ = b; }
    std::optional<std::uint32_t> sharpening() const override { return sharpening_; }

    Result<std::vector<EncodedOutput>> encode_frame(ByteView nv12, std::int64_t sample_time, bool key) override {
        const std::size_t w = s_.width, h = s_.height;
        if (nv12.size() != w * h * 3 / 2) return Error("the picture is not of the encoder's size");
        // NV12 to I420: the chroma pairs go to two planes.
        i420_.resize(w * h * 3 / 2);
        std::memcpy(i420_.data(), nv12.data(), w * h);
        std::uint8_t* u = i420_.data() + w * h;
        std::uint8_t* v = u + (w / 2) * (h / 2);
        const std::uint8_t* uv = nv12.data() + w * h;
        for (std::size_t i = 0; i < (w / 2) * (h / 2); ++i) {
            u[i] = uv[2 * i];
            v[i] = uv[2 * i + 1];
        }
        if (key) encoder_->ForceIntraFrame(true);
        SSourcePicture pic{};
        pic.iColorFormat = videoFormatI420;
        pic.iPicWidth = static_cast<int>(w);
        pic.iPicHeight = static_cast<int>(h);
        pic.iStride[0] = static_cast<int>(w);
        pic.iStride[1] = pic.iStride[2] = static_cast<int>(w / 2);
        pic.pData[0] = i420_.data();
        pic.pData[1] = u;
        pic.pData[2] = v;
        pic.uiTimeStamp = sample_time / 10'000;
        SFrameBSInfo info{};
        if (encoder_->EncodeFrame(&pic, &info) != cmResultSuccess) return Error("OpenH264 could not encode");
        std::vector<EncodedOutput> outs;
        if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid) return outs;
        EncodedOutput out;
        out.sample_time = sample_time;
        for (int l = 0; l < info.iLayerNum; ++l) {
            const SLayerBSInfo& layer = info.sLayerInfo[l];
            std::size_t size = 0;
            for (int n = 0; n < layer.iNalCount; ++n) size += static_cast<std::size_t>(layer.pNalLengthInByte[n]);
            out.bytes.insert(out.bytes.end(), layer.pBsBuf, layer.pBsBuf + size);
        }
        if (!out.bytes.empty()) outs.push_back(std::move(out));
        return outs;
    }

    void set_encoder_bitrate(std::uint32_t bps) override {
        SBitrateInfo info{};
        info.iLayer = SPATIAL_LAYER_ALL;
        info.iBitrate = static_cast<int>(bps);
        encoder_->SetOption(ENCODER_OPTION_BITRATE, &info);
    }
    void start_sharpening(std::uint32_t bps) override {
        if (target_ >= bps || sharpening_ == bps) return;
        sharpening_ = bps;
        set_encoder_bitrate(bps);
    }
    void end_sharpening() override {
        if (!sharpening_) return;
        sharpening_.reset();
        set_encoder_bitrate(target_);
    }
    std::optional<Bytes> sequence_header() override { return std::nullopt; }
    bool output_failed() const override { return false; }
    std::vector<EncodedOutput> take_outputs() override { return {}; }

private:
    EncoderSettings s_;
    std::uint32_t target_;
    std::optional<std::uint32_t> sharpening_;
    ISVCEncoder* encoder_ = nullptr;
    Bytes i420_;
    std::string name_ = "OpenH264 test encoder";
};

}  // namespace

Result<std::unique_ptr<VideoEncoder>> open_openh264_encoder(const EncoderSettings& settings) {
    auto encoder = std::make_unique<OpenH264Encoder>(settings);
    if (Status opened = encoder->open(); !opened) return opened.error();
    return std::unique_ptr<VideoEncoder>(std::move(encoder));
}

OpenH264Decoder::OpenH264Decoder() {
    ISVCDecoder* decoder = nullptr;
    if (WelsCreateDecoder(&decoder) != 0 || !decoder) return;
    int quiet = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
    SDecodingParam param{};
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    if (decoder->Initialize(&param) != 0) {
        WelsDestroyDecoder(decoder);
        return;
    }
    decoder_ = decoder;
}

OpenH264Decoder::~OpenH264Decoder() {
    if (auto* decoder = static_cast<ISVCDecoder*>(decoder_)) {
        decoder->Uninitialize();
        WelsDestroyDecoder(decoder);
    }
}

std::optional<DecodedPicture> OpenH264Decoder::decode(ByteView annexb) {
    auto* decoder = static_cast<ISVCDecoder*>(decoder_);
    if (!decoder || annexb.empty()) return std::nullopt;
    unsigned char* planes[3] = {nullptr, nullptr, nullptr};
    SBufferInfo info{};
    const DECODING_STATE state =
        decoder->DecodeFrameNoDelay(annexb.data(), static_cast<int>(annexb.size()), planes, &info);
    if (state != dsErrorFree || info.iBufferStatus != 1) return std::nullopt;
    DecodedPicture pic;
    pic.width = info.UsrData.sSystemBuffer.iWidth;
    pic.height = info.UsrData.sSystemBuffer.iHeight;
    const int stride = info.UsrData.sSystemBuffer.iStride[0];
    pic.y.resize(static_cast<std::size_t>(pic.width) * pic.height);
    for (int row = 0; row < pic.height; ++row)
        std::memcpy(&pic.y[static_cast<std::size_t>(row) * pic.width], planes[0] + row * stride,
                    static_cast<std::size_t>(pic.width));
    return pic;
}

double psnr(ByteView a, ByteView b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    if (mse == 0) return 100;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace vorlix::testing

#endif
