// Builds without the Windows side capture no sound: the source fails to
// open, and the stream goes on without sound.
#if !defined(_WIN32)

#include "sound/sound_capture.h"

namespace vorlix {

namespace {

class NoSoundSource final : public SoundSource {
public:
    Result<MixFormat> open(std::chrono::milliseconds) override { return Error("no sound device on this system"); }
    Status start() override { return Error("no sound device on this system"); }
    Result<std::uint32_t> next_packet_size() override { return std::uint32_t{0}; }
    Result<Packet> get_packet() override { return Error("no sound device on this system"); }
    Status release_packet(std::uint32_t) override { return {}; }
};

}  // namespace

std::unique_ptr<SoundSource> make_loopback_sound_source() { return std::make_unique<NoSoundSource>(); }

}  // namespace vorlix

#endif
