// The virtual camera's frames: the layout of the shared section that the
// camera component creates and the host fills, the host's writer of it (over
// a port that opens the section, so the writer runs on any memory), and the
// fit-and-centre of a device picture in the camera's 1280x720 frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "util/bytes.h"

namespace vorlix {

constexpr std::uint32_t kCameraWidth = 1280;
constexpr std::uint32_t kCameraHeight = 720;
constexpr std::size_t kCameraBgraBytes = std::size_t{kCameraWidth} * kCameraHeight * 4;
constexpr std::size_t kCameraNv12Bytes = std::size_t{kCameraWidth} * kCameraHeight * 3 / 2;
constexpr std::size_t kCameraSectionBytes = 0x2A4000;
constexpr std::uint32_t kCameraMagic = 0x31435856;  // "VXC1" read little-endian
constexpr std::uint32_t kCameraVersion = 1;

// Byte offsets of the section's fields.
namespace camera_section {
constexpr std::size_t magic = 0, version = 4, width = 8, height = 12, has_picture = 16, latest = 20;
constexpr std::size_t picture_counter = 24, last_tick = 32, sequence_0 = 48, sequence_1 = 56, host_pid = 64;
constexpr std::size_t buffer_0 = 4096, buffer_1 = buffer_0 + kCameraNv12Bytes;
}  // namespace camera_section

// Whether the section starts with this host's header ("VXC1", version 1,
// 1280x720); false for fewer than 16 bytes.
bool camera_header_matches(ByteView header);

// Where a w x h picture goes in the camera frame: scaled to fit keeping its
// shape, centred. Nothing for a zero side.
struct CameraFit {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    bool operator==(const CameraFit&) const = default;
};
std::optional<CameraFit> fit_in_camera(std::uint32_t width, std::uint32_t height);

// Clears the 1280x720 BGRA frame to black and copies the fitted picture
// (fit.width x fit.height BGRA pixels) into its place. False, leaving the
// frame untouched, when the sizes do not agree.
bool letterbox_into_frame(const CameraFit& fit, ByteView pixels, std::span<std::uint8_t> frame);

// How the writer reaches the section and the system.
class CameraSectionPort {
public:
    virtual ~CameraSectionPort() = default;
    // Opens and maps kCameraSectionBytes of the section, 8-byte aligned;
    // nothing when it does not exist (yet) or cannot be mapped.
    virtual std::optional<std::span<std::uint8_t>> open() = 0;
    // Unmaps the view and closes the section.
    virtual void close() = 0;
    // Milliseconds since the system started.
    virtual std::uint64_t tick_ms() = 0;
    virtual std::uint32_t process_id() = 0;
    virtual void log(std::string_view line) = 0;
};

// The host's side of the section, owned by the camera thread.
class CameraWriter {
public:
    explicit CameraWriter(CameraSectionPort& port);
    ~CameraWriter();
    CameraWriter(const CameraWriter&) = delete;
    CameraWriter& operator=(const CameraWriter&) = delete;

    // Delivers one 1280x720 BGRA picture into the spare buffer, opening the
    // section first when needed (at most every 500 ms).
    void write_frame(ByteView bgra);
    // Tells the component to show its placeholder.
    void show_placeholder();
    bool picture_shown() const { return picture_shown_; }

private:
    bool open_section();

    CameraSectionPort& port_;
    std::optional<std::span<std::uint8_t>> view_;
    std::optional<std::uint64_t> last_attempt_;
    std::uint64_t delivered_ = 0;
    bool picture_shown_ = false;
    bool version_complaint_made_ = false;
};

}  // namespace vorlix
