// Arbitrary section headers through the camera writer, and arbitrary picture
// sizes through the fit-and-centre of the camera frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "camera/camera_frames.h"

using namespace vorlix;

namespace {

struct FuzzSection : CameraSectionPort {
    std::vector<std::uint64_t> memory = std::vector<std::uint64_t>(kCameraSectionBytes / 8);
    std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(memory.data()); }
    std::optional<std::span<std::uint8_t>> open() override { return std::span(bytes(), kCameraSectionBytes); }
    void close() override {}
    std::uint64_t tick_ms() override { return 1; }
    std::uint32_t process_id() override { return 7; }
    void log(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzSection section;
    static const Bytes frame(kCameraBgraBytes, 90);
    static Bytes letterboxed(kCameraBgraBytes);
    FuzzedDataProvider in(data, size);

    const auto header = in.ConsumeBytes<std::uint8_t>(72);
    std::memset(section.bytes(), 0, 72);
    if (!header.empty()) std::memcpy(section.bytes(), header.data(), header.size());
    const bool matches = camera_header_matches(ByteView(section.bytes(), 16));
    const auto counter = [] {
        std::uint64_t value = 0;
        std::memcpy(&value, section.bytes() + camera_section::picture_counter, 8);
        return value;
    };
    const std::uint64_t before = counter();
    {
        CameraWriter writer(section);
        writer.write_frame(frame);
        // A picture counts one up (the largest value wraps to 0); a section
        // of another version is left as it was.
        const std::uint64_t expected = matches ? before + 1 : before;
        if (matches != writer.picture_shown() || counter() != expected) std::abort();
    }

    const auto width = in.ConsumeIntegral<std::uint32_t>();
    const auto height = in.ConsumeIntegral<std::uint32_t>();
    const auto fit = fit_in_camera(width, height);
    if (!fit) {
        if (width != 0 && height != 0) std::abort();
        return 0;
    }
    if (fit->width == 0 || fit->height == 0 || fit->left + fit->width > kCameraWidth ||
        fit->top + fit->height > kCameraHeight || (fit->width != kCameraWidth && fit->height != kCameraHeight) ||
        fit->left != (kCameraWidth - fit->width) / 2 || fit->top != (kCameraHeight - fit->height) / 2)
        std::abort();
    const Bytes pixels(std::size_t{fit->width} * fit->height * 4, 200);
    if (!letterbox_into_frame(*fit, pixels, letterboxed)) std::abort();
    return 0;
}
