// The Desktop Duplication back-end's own logic: what a grab does with each
// acquired frame (copying, the changed share from move and dirty rectangles,
// the hardware pointer) and how the pointer is drawn into the picture. The
// system calls themselves sit behind DuplicationSource, which the Windows
// side implements with DXGI and Direct3D 11.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "capture/capture.h"

namespace vorlix {

// Shape types as the system reports them.
inline constexpr std::uint32_t kPointerShapeMonochrome = 1;
inline constexpr std::uint32_t kPointerShapeColor = 2;
inline constexpr std::uint32_t kPointerShapeMaskedColor = 4;

struct DupRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};
static_assert(sizeof(DupRect) == 16);

struct DupMoveRect {
    std::int32_t source_x = 0;
    std::int32_t source_y = 0;
    DupRect destination;
};
static_assert(sizeof(DupMoveRect) == 24);

struct PointerState {
    Bytes shape;               // the last shape buffer received
    std::size_t width = 0;     // for a monochrome shape the height covers both masks
    std::size_t height = 0;
    std::size_t pitch = 0;
    std::size_t hot_x = 0;
    std::size_t hot_y = 0;
    std::uint64_t serial = 0;  // shapes received
    std::int32_t x = 0;        // top-left of the pointer image, picture pixels
    std::int32_t y = 0;
    std::uint32_t type = 0;
    bool visible = false;
};

// What the system says about one acquired frame.
struct AcquiredFrame {
    bool has_resource = true;               // a desktop resource came with it
    std::int64_t last_present_time = 0;
    std::int64_t last_mouse_update_time = 0;
    std::int32_t pointer_x = 0;
    std::int32_t pointer_y = 0;
    bool pointer_visible = false;
    std::uint32_t total_metadata_size = 0;
    std::uint32_t pointer_shape_buffer_size = 0;
};

struct PointerShapeInfo {
    std::uint32_t type = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pitch = 0;
    std::int32_t hot_x = 0;
    std::int32_t hot_y = 0;
};

struct AcquireTimedOut {};
using AcquireOutcome = std::variant<AcquireTimedOut, AcquiredFrame, CaptureError>;

// The system side of a duplication. Between a successful acquire and
// release_frame the frame's data may be asked for.
class DuplicationSource {
public:
    virtual ~DuplicationSource() = default;
    virtual AcquireOutcome acquire(std::uint32_t timeout_ms) = 0;
    // Copies the frame's desktop image into `clean`: height rows of width * 4 bytes.
    virtual std::optional<CaptureError> copy_image(std::uint8_t* clean, std::size_t width,
                                                   std::size_t height) = 0;
    // Fill the lists; `bytes_returned` is what the system reports. False on failure.
    virtual bool move_rects(std::span<DupMoveRect> into, std::uint32_t& bytes_returned) = 0;
    virtual bool dirty_rects(std::span<DupRect> into, std::uint32_t& bytes_returned) = 0;
    virtual bool pointer_shape(std::span<std::uint8_t> into, PointerShapeInfo& info) = 0;
    virtual void release_frame() = 0;
};

// The rotations an output reports (the system's DXGI_MODE_ROTATION values).
inline constexpr std::uint32_t kOutputRotationUnspecified = 0;
inline constexpr std::uint32_t kOutputRotationIdentity = 1;
inline constexpr std::uint32_t kOutputRotation90 = 2;
inline constexpr std::uint32_t kOutputRotation180 = 3;
inline constexpr std::uint32_t kOutputRotation270 = 4;

// Why the duplication of an output with this rotation is not used, or none
// for an output that is not rotated. A duplication hands over the image as
// the panel scans it out, not as the desktop stands, so a rotated screen
// would be streamed turned; a half turn keeps the monitor's size, which the
// size check alone would let through.
std::optional<CaptureError> rotated_output_error(std::uint32_t rotation);

// Share of a width x height picture covered by the move destinations and the
// dirty rectangles (overlaps counted twice), at most 1; 1 for an empty picture.
double rect_changed_fraction(std::span<const DupMoveRect> moves, std::span<const DupRect> dirty,
                             std::size_t width, std::size_t height);

// Draws the pointer into a width x height BGRA picture at its stored
// position. Draws nothing when it is hidden or its shape bytes do not hold
// what the pitch, width and height promise.
void draw_pointer_shape(std::uint8_t* picture, std::size_t width, std::size_t height,
                        const PointerState& pointer);

// The shape as a cursor image (monochrome with the height halved, masked
// colour, or colour), or none.
std::optional<CursorImage> pointer_state_image(const PointerState& pointer);

class DuplicationCapture final : public CaptureBackend {
public:
    DuplicationCapture(std::size_t width, std::size_t height,
                       std::unique_ptr<DuplicationSource> source);

    PictureSize size() const override { return {width_, height_}; }
    GrabResult grab(std::uint32_t timeout_ms) override;
    ByteView pixels() const override { return composed_; }
    std::string_view name() const override { return kDesktopDuplicationName; }
    void set_draw_cursor(bool draw) override;
    std::uint64_t pointer_shape_serial() const override { return pointer_.serial; }
    std::optional<CursorImage> pointer_shape() const override { return pointer_state_image(pointer_); }
    double changed_fraction() const override { return changed_fraction_; }

    const PointerState& pointer() const { return pointer_; }
    ByteView clean_picture() const { return clean_; }

private:
    double measure_fraction(const AcquiredFrame& frame);
    void update_pointer(const AcquiredFrame& frame, bool& changed);
    void compose();

    std::size_t width_;
    std::size_t height_;
    std::unique_ptr<DuplicationSource> source_;
    Bytes clean_;
    Bytes composed_;
    Bytes shape_scratch_;
    PointerState pointer_;
    std::vector<DupMoveRect> moves_;
    std::vector<DupRect> dirty_;
    double changed_fraction_ = 1.0;
    bool has_picture_ = false;
    bool draw_cursor_ = true;
    bool recompose_ = false;
};

}  // namespace vorlix
