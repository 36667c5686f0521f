// The GDI back-end's own logic: pacing, and bringing the picture up to date
// from the bitmap the screen was copied into, row by row, so that a still
// screen answers no. The copy itself (BitBlt and the cursor drawn with
// DrawIconEx) sits behind GdiScreen, which the Windows side implements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "capture/capture.h"

namespace vorlix {

class GdiScreen {
public:
    virtual ~GdiScreen() = default;
    // Waits this long (the grab's pacing).
    virtual void sleep_ms(std::uint32_t ms) = 0;
    // Copies the monitor's rectangle into the bitmap and, when asked, draws
    // the cursor into it. The error's text on failure ("BitBlt: ...").
    virtual std::optional<std::string> copy_screen(bool draw_cursor) = 0;
    // The bitmap's pixels: height rows of width * 4 bytes, top-down.
    virtual ByteView bits() const = 0;
};

// Brings `picture` up to date from the bitmap. Answers whether a new picture
// is there; `fraction` is set to the changed share (kept when nothing changed).
bool update_gdi_picture(Bytes& picture, ByteView dib, std::size_t row_size, bool& recompose,
                        double& fraction);

class GdiCapture final : public CaptureBackend {
public:
    GdiCapture(std::size_t width, std::size_t height, std::unique_ptr<GdiScreen> screen);

    PictureSize size() const override { return {width_, height_}; }
    GrabResult grab(std::uint32_t timeout_ms) override;
    ByteView pixels() const override { return picture_; }
    std::string_view name() const override { return kGdiName; }
    void set_draw_cursor(bool draw) override;
    std::uint64_t pointer_shape_serial() const override { return 0; }
    std::optional<CursorImage> pointer_shape() const override { return std::nullopt; }
    double changed_fraction() const override { return changed_fraction_; }

private:
    std::size_t width_;
    std::size_t height_;
    std::unique_ptr<GdiScreen> screen_;
    Bytes picture_;
    double changed_fraction_ = 1.0;
    bool recompose_ = true;
    bool draw_cursor_ = true;
};

}  // namespace vorlix
