#include "support/synthetic_capture.h"

#include <algorithm>

namespace vorlix::testing {

void paint_test_pattern(Bytes& bgra, std::size_t width, std::size_t height, std::uint64_t n) {
    bgra.resize(width * height * 4);
    const std::size_t side = std::max<std::size_t>(4, std::min(width, height) / 4);
    const std::size_t sx = width > side ? (n * 3) % (width - side) : 0;
    const std::size_t sy = height > side ? (n * 2) % (height - side) : 0;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            std::uint8_t* p = &bgra[(y * width + x) * 4];
            const bool in_square = x >= sx && x < sx + side && y >= sy && y < sy + side;
            p[0] = static_cast<std::uint8_t>(in_square ? 40 : 60 + (x * 120) / std::max<std::size_t>(width, 1));
            p[1] = static_cast<std::uint8_t>(in_square ? 200 : 50 + (y * 150) / std::max<std::size_t>(height, 1));
            p[2] = static_cast<std::uint8_t>(in_square ? 220 : 90 + ((x + y) * 60) / std::max<std::size_t>(width + height, 1));
            p[3] = 255;
        }
    }
}

SyntheticCapture::SyntheticCapture(SyntheticScreen& screen, std::string name, PictureSize size)
    : screen_(screen), name_(std::move(name)), size_(size), pixels_(size.width * size.height * 4, 0) {}

GrabResult SyntheticCapture::grab(std::uint32_t timeout_ms) {
    const Duration wait = std::min<Duration>(screen_.grab_time, std::chrono::milliseconds(timeout_ms));
    if (screen_.grab_wait) screen_.grab_wait(wait);
    else screen_.clock.advance(wait);
    screen_.grabs_done += 1;
    screen_.last_name = name_;
    SyntheticGrab step = screen_.otherwise;
    if (!screen_.grabs.empty()) {
        step = screen_.grabs.front();
        screen_.grabs.pop_front();
    }
    if (first_ && step.kind == SyntheticGrab::Kind::still) step = SyntheticGrab::picture(1.0);
    switch (step.kind) {
        case SyntheticGrab::Kind::lost: return CaptureError::lost();
        case SyntheticGrab::Kind::failed: return CaptureError::failed(step.text);
        case SyntheticGrab::Kind::still: return false;
        case SyntheticGrab::Kind::picture: break;
    }
    first_ = false;
    screen_.painter(pixels_, size_.width, size_.height, screen_.pictures_painted++);
    screen_.last_picture = pixels_;
    fraction_ = step.fraction;
    return true;
}

ScreenBlock SyntheticCaptureSystem::screen_block_reason() {
    return screen_.block ? screen_.block(screen_.clock.now()) : ScreenBlock::none;
}

Result<CaptureBackendPtr> SyntheticCaptureSystem::open_capture(const MonitorInfo& monitor) {
    SyntheticScreen::Opening opening;
    if (!screen_.openings.empty()) {
        opening = screen_.openings.front();
        screen_.openings.pop_front();
    }
    if (opening.error) return Error(*opening.error);
    screen_.opened += 1;
    const PictureSize size = opening.size.value_or(
        PictureSize{static_cast<std::size_t>(monitor.width), static_cast<std::size_t>(monitor.height)});
    return CaptureBackendPtr(std::make_unique<SyntheticCapture>(screen_, opening.name, size));
}

CaptureBackendPtr SyntheticCaptureSystem::open_desktop_duplication(const MonitorInfo&) {
    screen_.duplication_attempts += 1;
    if (screen_.duplications.empty()) return nullptr;
    std::optional<PictureSize> size = screen_.duplications.front();
    screen_.duplications.pop_front();
    if (!size) return nullptr;
    screen_.opened += 1;
    return std::make_unique<SyntheticCapture>(screen_, std::string(kDesktopDuplicationName), *size);
}

}  // namespace vorlix::testing
