// Screen capture: the record of the primary monitor, the capture error and
// the interface every capture back-end presents to the stream thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "cursor/cursor.h"
#include "util/bytes.h"

namespace vorlix {

// The primary monitor: the one that contains the desktop point (0, 0).
struct MonitorInfo {
    std::uintptr_t monitor = 0;  // the system's monitor handle
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t dpi = 96;  // effective horizontal DPI

    bool operator==(const MonitorInfo&) const = default;
};

// Why a grab or an opening failed. Lost: the duplication is no longer valid
// and must be made again; Failed: anything else, with the system's text.
struct CaptureError {
    enum class Kind { Lost, Failed };
    Kind kind = Kind::Failed;
    std::string text;

    static CaptureError lost() { return {Kind::Lost, {}}; }
    static CaptureError failed(std::string text) { return {Kind::Failed, std::move(text)}; }
    bool operator==(const CaptureError&) const = default;
};

// `Lost`, or `Failed("text")` with the text escaped as a string literal.
std::string debug_form(const CaptureError& error);

// A value of T or a CaptureError.
template <typename T>
class [[nodiscard]] CaptureResult {
public:
    CaptureResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    CaptureResult(CaptureError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const CaptureError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, CaptureError> state_;
};

// Answer of a grab: whether a new picture is ready, or the error.
using GrabResult = CaptureResult<bool>;

struct PictureSize {
    std::size_t width = 0;
    std::size_t height = 0;
    bool operator==(const PictureSize&) const = default;
};

// A picture source owned by the stream thread alone. The picture is one
// block of BGRA pixels, rows top to bottom, each exactly width * 4 bytes.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // The picture's size in pixels.
    virtual PictureSize size() const = 0;
    // Waits at most about `timeout_ms` for a change; true when `pixels` holds
    // a picture that differs from the last one reported (or must be sent
    // again because the pointer drawing was switched).
    virtual GrabResult grab(std::uint32_t timeout_ms) = 0;
    // The composed picture, width * height * 4 bytes.
    virtual ByteView pixels() const = 0;
    // "Desktop Duplication" or "GDI".
    virtual std::string_view name() const = 0;
    // Whether the pointer is drawn into the picture; a change makes the next
    // grab recompose and answer true.
    virtual void set_draw_cursor(bool draw) = 0;
    // Count of pointer shapes received; 0 for a back-end that does not track them.
    virtual std::uint64_t pointer_shape_serial() const = 0;
    // The current pointer shape, when the back-end tracks it.
    virtual std::optional<CursorImage> pointer_shape() const = 0;
    // Share of the picture touched by the last new picture, 0 to 1.
    virtual double changed_fraction() const = 0;
};

using CaptureBackendPtr = std::unique_ptr<CaptureBackend>;

inline constexpr std::string_view kDesktopDuplicationName = "Desktop Duplication";
inline constexpr std::string_view kGdiName = "GDI";

}  // namespace vorlix
