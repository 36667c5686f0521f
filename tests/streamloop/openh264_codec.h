// A real software H.264 encoder and decoder for tests only, from the
// system's OpenH264 library: the encoder presents the stream's encoder
// interface, the decoder turns length-prefixed NAL units back into pictures.
#pragma once

#if __has_include(<wels/codec_api.h>)
#define VORLIX_HAVE_OPENH264 1

#include <memory>
#include <optional>

#include "h264/encoder.h"

namespace vorlix::testing {

// Opens an OpenH264 encoder (software; `allow_hardware` is ignored).
Result<std::unique_ptr<VideoEncoder>> open_openh264_encoder(const EncoderSettings& settings);

struct DecodedPicture {
    int width = 0;
    int height = 0;
    Bytes y;  // width x height luma bytes
};

class OpenH264Decoder {
public:
    OpenH264Decoder();
    ~OpenH264Decoder();
    OpenH264Decoder(const OpenH264Decoder&) = delete;
    OpenH264Decoder& operator=(const OpenH264Decoder&) = delete;

    bool ok() const { return decoder_ != nullptr; }
    // Decodes one access unit in Annex-B form; the picture when one is ready.
    std::optional<DecodedPicture> decode(ByteView annexb);

private:
    struct Impl;
    void* decoder_ = nullptr;
};

// Peak signal-to-noise ratio of two equally long byte planes, in dB.
double psnr(ByteView a, ByteView b);

}  // namespace vorlix::testing

#endif
