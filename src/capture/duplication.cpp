#include "capture/duplication.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vorlix {

namespace {

bool checked_mul(std::size_t a, std::size_t b, std::size_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

bool checked_add(std::size_t a, std::size_t b, std::size_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

std::uint64_t rect_area(const DupRect& r) {
    const std::int64_t w = std::max<std::int64_t>(0, std::int64_t{r.right} - r.left);
    const std::int64_t h = std::max<std::int64_t>(0, std::int64_t{r.bottom} - r.top);
    return static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
}

std::size_t drawn_height(const PointerState& p) {
    return p.type == kPointerShapeMonochrome ? p.height / 2 : p.height;
}

// Whether the shape bytes hold every byte the drawing will read.
bool shape_bytes_suffice(const PointerState& p) {
    const std::size_t h = drawn_height(p);
    std::size_t need = 0;
    if (p.type == kPointerShapeMonochrome) {
        std::size_t bits = 0;
        if (!checked_mul(p.pitch, 8, bits) || bits < p.width) return false;
        if (!checked_mul(h, p.pitch, need) || !checked_mul(need, 2, need)) return false;
        return p.shape.size() >= need;
    }
    std::size_t row = 0;
    if (!checked_mul(p.width, 4, row) || p.pitch < row) return false;
    if (!checked_mul(p.pitch, h - 1, need) || !checked_add(need, row, need)) return false;
    return p.shape.size() >= need;
}

}  // namespace

std::optional<CaptureError> rotated_output_error(std::uint32_t rotation) {
    switch (rotation) {
        case kOutputRotationUnspecified:
        case kOutputRotationIdentity: return std::nullopt;
        case kOutputRotation90: return CaptureError::failed("the output is rotated by 90 degrees");
        case kOutputRotation180: return CaptureError::failed("the output is rotated by 180 degrees");
        case kOutputRotation270: return CaptureError::failed("the output is rotated by 270 degrees");
        default: return CaptureError::failed("the output is rotated (" + std::to_string(rotation) + ")");
    }
}

double rect_changed_fraction(std::span<const DupMoveRect> moves, std::span<const DupRect> dirty,
                             std::size_t width, std::size_t height) {
    const double total = static_cast<double>(width) * static_cast<double>(height);
    if (total <= 0) return 1.0;
    double covered = 0;
    for (const auto& m : moves) covered += static_cast<double>(rect_area(m.destination));
    for (const auto& d : dirty) covered += static_cast<double>(rect_area(d));
    return std::min(1.0, covered / total);
}

void draw_pointer_shape(std::uint8_t* picture, std::size_t width, std::size_t height,
                        const PointerState& p) {
    const std::size_t h = drawn_height(p);
    if (!p.visible || p.shape.empty() || p.width == 0 || h == 0 || picture == nullptr) return;
    if (!shape_bytes_suffice(p)) return;

    const std::int64_t W = static_cast<std::int64_t>(width);
    const std::int64_t H = static_cast<std::int64_t>(height);
    const std::uint8_t* shape = p.shape.data();
    for (std::size_t i = 0; i < h; ++i) {
        const std::int64_t row = std::int64_t{p.y} + static_cast<std::int64_t>(i);
        if (row < 0 || row >= H) continue;
        for (std::size_t j = 0; j < p.width; ++j) {
            const std::int64_t col = std::int64_t{p.x} + static_cast<std::int64_t>(j);
            if (col < 0 || col >= W) continue;
            std::uint8_t* px = picture + (static_cast<std::size_t>(row) * width +
                                          static_cast<std::size_t>(col)) * 4;
            if (p.type == kPointerShapeMonochrome) {
                const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (j % 8));
                const bool and_bit = (shape[i * p.pitch + j / 8] & bit) != 0;
                const bool xor_bit = (shape[(h + i) * p.pitch + j / 8] & bit) != 0;
                for (int c = 0; c < 3; ++c) {
                    if (and_bit && xor_bit) px[c] = static_cast<std::uint8_t>(~px[c]);
                    else if (!and_bit) px[c] = xor_bit ? 255 : 0;
                }
            } else if (p.type == kPointerShapeMaskedColor) {
                const std::uint8_t* s = shape + i * p.pitch + 4 * j;
                for (int c = 0; c < 3; ++c) px[c] = s[3] != 0 ? (px[c] ^ s[c]) : s[c];
            } else {
                const std::uint8_t* s = shape + i * p.pitch + 4 * j;
                const unsigned a = s[3];
                for (int c = 0; c < 3; ++c)
                    px[c] = static_cast<std::uint8_t>((s[c] * a + px[c] * (255 - a)) / 255);
            }
        }
    }
}

std::optional<CursorImage> pointer_state_image(const PointerState& p) {
    if (p.shape.empty()) return std::nullopt;
    const auto w = static_cast<std::uint32_t>(std::min<std::size_t>(p.width, UINT32_MAX));
    const auto pitch = static_cast<std::uint32_t>(std::min<std::size_t>(p.pitch, UINT32_MAX));
    const auto hx = static_cast<std::uint32_t>(std::min<std::size_t>(p.hot_x, UINT32_MAX));
    const auto hy = static_cast<std::uint32_t>(std::min<std::size_t>(p.hot_y, UINT32_MAX));
    if (p.type == kPointerShapeMonochrome) {
        const auto h = static_cast<std::uint32_t>(std::min<std::size_t>(p.height / 2, UINT32_MAX));
        return cursor_from_monochrome(p.shape, w, h, pitch, hx, hy);
    }
    const auto h = static_cast<std::uint32_t>(std::min<std::size_t>(p.height, UINT32_MAX));
    if (p.type == kPointerShapeMaskedColor) return cursor_from_masked_color(p.shape, w, h, pitch, hx, hy);
    return cursor_from_color(p.shape, w, h, pitch, hx, hy);
}

DuplicationCapture::DuplicationCapture(std::size_t width, std::size_t height,
                                       std::unique_ptr<DuplicationSource> source)
    : width_(width),
      height_(height),
      source_(std::move(source)),
      clean_(width * height * 4, 0),
      composed_(width * height * 4, 0) {}

void DuplicationCapture::set_draw_cursor(bool draw) {
    if (draw == draw_cursor_) return;
    draw_cursor_ = draw;
    recompose_ = true;
}

void DuplicationCapture::compose() {
    composed_ = clean_;
    if (draw_cursor_) draw_pointer_shape(composed_.data(), width_, height_, pointer_);
}

double DuplicationCapture::measure_fraction(const AcquiredFrame& frame) {
    const std::size_t meta = frame.total_metadata_size;
    if (meta == 0 || width_ * height_ == 0) return 1.0;

    const std::size_t move_entries = meta / sizeof(DupMoveRect) + 1;
    if (moves_.size() < move_entries) moves_.resize(move_entries);
    std::uint32_t move_bytes = 0;
    if (!source_->move_rects(moves_, move_bytes)) return 1.0;
    const std::size_t move_count = std::min<std::size_t>(move_bytes / sizeof(DupMoveRect), moves_.size());

    const std::size_t dirty_entries = meta / sizeof(DupRect) + 1;
    if (dirty_.size() < dirty_entries) dirty_.resize(dirty_entries);
    std::uint32_t dirty_bytes = 0;
    if (!source_->dirty_rects(dirty_, dirty_bytes)) return 1.0;
    const std::size_t dirty_count = std::min<std::size_t>(dirty_bytes / sizeof(DupRect), dirty_.size());

    return rect_changed_fraction(std::span(moves_).first(move_count),
                                 std::span(dirty_).first(dirty_count), width_, height_);
}

void DuplicationCapture::update_pointer(const AcquiredFrame& frame, bool& changed) {
    if (frame.last_mouse_update_time == 0) return;
    if (draw_cursor_ && (frame.pointer_visible != pointer_.visible || frame.pointer_x != pointer_.x ||
                         frame.pointer_y != pointer_.y))
        changed = true;
    pointer_.visible = frame.pointer_visible;
    pointer_.x = frame.pointer_x;
    pointer_.y = frame.pointer_y;
    if (frame.pointer_shape_buffer_size == 0) return;

    shape_scratch_.assign(frame.pointer_shape_buffer_size, 0);
    PointerShapeInfo info;
    if (!source_->pointer_shape(shape_scratch_, info)) return;
    pointer_.type = info.type;
    pointer_.width = info.width;
    pointer_.height = info.height;
    pointer_.pitch = info.pitch;
    pointer_.hot_x = static_cast<std::size_t>(std::max(0, info.hot_x));
    pointer_.hot_y = static_cast<std::size_t>(std::max(0, info.hot_y));
    pointer_.shape.swap(shape_scratch_);
    pointer_.serial += 1;
    if (draw_cursor_) changed = true;
}

GrabResult DuplicationCapture::grab(std::uint32_t timeout_ms) {
    AcquireOutcome outcome = source_->acquire(timeout_ms);
    if (std::holds_alternative<AcquireTimedOut>(outcome)) {
        if (has_picture_ && recompose_) {
            recompose_ = false;
            compose();
            return true;
        }
        return false;
    }
    if (auto* error = std::get_if<CaptureError>(&outcome)) return std::move(*error);

    const AcquiredFrame& frame = std::get<AcquiredFrame>(outcome);
    changed_fraction_ = 0;
    bool changed = false;
    const bool new_image = frame.has_resource && !(frame.last_present_time == 0 && has_picture_);

    std::optional<CaptureError> error;
    if (new_image) {
        error = source_->copy_image(clean_.data(), width_, height_);
        if (!error) {
            changed_fraction_ = has_picture_ ? measure_fraction(frame) : 1.0;
            has_picture_ = true;
            changed = true;
        }
    }
    if (!error) update_pointer(frame, changed);
    source_->release_frame();
    if (error) return std::move(*error);

    if (recompose_) changed = true;
    recompose_ = false;
    if (changed && has_picture_) {
        compose();
        return true;
    }
    return false;
}

}  // namespace vorlix
