#include "capture/gdi.h"

#include <algorithm>
#include <cstring>

namespace vorlix {

bool update_gdi_picture(Bytes& picture, ByteView dib, std::size_t row_size, bool& recompose,
                        double& fraction) {
    if (recompose) {
        picture.assign(dib.begin(), dib.end());
        recompose = false;
        fraction = 1.0;
        return true;
    }
    if (picture.empty() || row_size == 0 || picture.size() != dib.size()) {
        fraction = 1.0;
        if (picture.size() == dib.size()) std::copy(dib.begin(), dib.end(), picture.begin());
        return true;
    }
    const std::size_t rows = (dib.size() + row_size - 1) / row_size;
    std::size_t changed = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t start = r * row_size;
        const std::size_t len = std::min(row_size, dib.size() - start);
        if (std::memcmp(picture.data() + start, dib.data() + start, len) != 0) {
            std::memcpy(picture.data() + start, dib.data() + start, len);
            ++changed;
        }
    }
    if (changed == 0) return false;
    fraction = static_cast<double>(changed) / static_cast<double>(rows);
    return true;
}

GdiCapture::GdiCapture(std::size_t width, std::size_t height, std::unique_ptr<GdiScreen> screen)
    : width_(width), height_(height), screen_(std::move(screen)), picture_(width * height * 4, 0) {}

void GdiCapture::set_draw_cursor(bool draw) {
    if (draw == draw_cursor_) return;
    draw_cursor_ = draw;
    recompose_ = true;
}

GrabResult GdiCapture::grab(std::uint32_t timeout_ms) {
    screen_->sleep_ms(std::min<std::uint32_t>(timeout_ms, 16));
    if (auto error = screen_->copy_screen(draw_cursor_)) return CaptureError::failed(std::move(*error));
    ByteView dib = screen_->bits();
    const std::size_t dib_size = height_ * width_ * 4;
    if (dib.size() < dib_size) return CaptureError::failed("the screen bitmap is smaller than the screen");
    dib = dib.first(dib_size);
    return update_gdi_picture(picture_, dib, width_ * 4, recompose_, changed_fraction_);
}

}  // namespace vorlix
