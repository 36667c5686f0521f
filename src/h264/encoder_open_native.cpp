// Builds without the Windows side have no platform H.264 encoder; the
// stream loop is driven there by encoders handed to it directly.
#if !defined(_WIN32)

#include "h264/encoder.h"

namespace vorlix {

Result<std::unique_ptr<VideoEncoder>> encoder_open(const EncoderSettings&) {
    return Error("no H.264 encoder on this system");
}

}  // namespace vorlix

#endif
