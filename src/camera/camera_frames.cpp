#include "camera/camera_frames.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include "convert/nv12.h"

namespace vorlix {
namespace {

std::uint32_t load32(ByteView bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

template <typename T>
T& field(std::span<std::uint8_t> view, std::size_t at) {
    return *reinterpret_cast<T*>(view.data() + at);
}

template <typename T>
void atomic_increment(std::span<std::uint8_t> view, std::size_t at) {
    std::atomic_ref<T>(field<T>(view, at)).fetch_add(1);
}

}  // namespace

bool camera_header_matches(ByteView header) {
    using namespace camera_section;
    return header.size() >= 16 && load32(header, magic) == kCameraMagic && load32(header, version) == kCameraVersion &&
           load32(header, width) == kCameraWidth && load32(header, height) == kCameraHeight;
}

std::optional<CameraFit> fit_in_camera(std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) return std::nullopt;
    CameraFit fit{kCameraWidth, kCameraHeight, 0, 0};
    if (width != kCameraWidth || height != kCameraHeight) {
        const double factor = std::min(double(kCameraWidth) / width, double(kCameraHeight) / height);
        auto side = [&](std::uint32_t from, std::uint32_t limit) {
            return static_cast<std::uint32_t>(std::clamp(std::round(from * factor), 1.0, double(limit)));
        };
        fit.width = side(width, kCameraWidth);
        fit.height = side(height, kCameraHeight);
        fit.left = (kCameraWidth - fit.width) / 2;
        fit.top = (kCameraHeight - fit.height) / 2;
    }
    return fit;
}

bool letterbox_into_frame(const CameraFit& fit, ByteView pixels, std::span<std::uint8_t> frame) {
    const std::size_t row = std::size_t{fit.width} * 4;
    if (frame.size() < kCameraBgraBytes || pixels.size() < row * fit.height || fit.left + fit.width > kCameraWidth ||
        fit.top + fit.height > kCameraHeight)
        return false;
    std::fill(frame.begin(), frame.begin() + kCameraBgraBytes, std::uint8_t{0});
    for (std::uint32_t y = 0; y < fit.height; ++y)
        std::memcpy(frame.data() + (std::size_t{fit.top + y} * kCameraWidth + fit.left) * 4, pixels.data() + y * row,
                    row);
    return true;
}

CameraWriter::CameraWriter(CameraSectionPort& port) : port_(port) {}

CameraWriter::~CameraWriter() {
    if (view_) port_.close();
}

bool CameraWriter::open_section() {
    const std::uint64_t now = port_.tick_ms();
    if (last_attempt_ && now - *last_attempt_ < 500) return false;
    last_attempt_ = now;
    auto view = port_.open();
    if (!view) return false;
    if (view->size() < kCameraSectionBytes || !camera_header_matches(ByteView(view->data(), 16))) {
        if (!version_complaint_made_) {
            version_complaint_made_ = true;
            port_.log("camera: the installed VorLix Camera speaks another version: set it up again");
        }
        port_.close();
        return false;
    }
    view_ = view;
    // A host that ended between a buffer's two increments left its counter
    // odd; this host is the section's only writer, so it completes the pair
    // before writing, or readers would take that buffer's parity inverted.
    for (std::size_t sequence : {camera_section::sequence_0, camera_section::sequence_1}) {
        if (field<std::uint64_t>(*view_, sequence) & 1) atomic_increment<std::uint64_t>(*view_, sequence);
    }
    field<std::uint32_t>(*view_, camera_section::host_pid) = port_.process_id();
    port_.log("camera: an app is using VorLix Camera");
    return true;
}

void CameraWriter::write_frame(ByteView bgra) {
    using namespace camera_section;
    if (bgra.size() < kCameraBgraBytes) return;
    if (!view_ && !open_section()) return;
    auto view = *view_;
    const std::uint32_t spare = 1 - (field<std::uint32_t>(view, latest) & 1);
    const std::size_t sequence = spare == 0 ? sequence_0 : sequence_1;
    atomic_increment<std::uint64_t>(view, sequence);
    (void)convert_to_nv12(bgra, kCameraWidth, kCameraHeight, false, kCameraWidth, kCameraHeight,
                          view.subspan(spare == 0 ? buffer_0 : buffer_1, kCameraNv12Bytes));
    atomic_increment<std::uint64_t>(view, sequence);
    field<std::uint32_t>(view, latest) = spare;
    field<std::uint64_t>(view, last_tick) = port_.tick_ms();
    atomic_increment<std::uint64_t>(view, picture_counter);
    if (!picture_shown_) {
        picture_shown_ = true;
        field<std::uint32_t>(view, has_picture) = 1;
    }
    if (++delivered_ == 1) port_.log("camera: first picture handed to the camera");
}

void CameraWriter::show_placeholder() {
    picture_shown_ = false;
    if (view_) field<std::uint32_t>(*view_, camera_section::has_picture) = 0;
    if (delivered_ != 0) {
        port_.log("camera: " + std::to_string(delivered_) + " pictures handed to the camera; showing the placeholder");
        delivered_ = 0;
    }
}

}  // namespace vorlix
