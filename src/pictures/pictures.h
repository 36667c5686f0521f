// Pictures inside the host and the rules around them that need no system
// call: the BMP file made around a clipboard DIB, the 24-bit rows handed to
// the encoders, the DIBV5 block put on the clipboard, the preview size and
// the screenshot's file name. Pixels are 32-bit BGRA, top row first, rows of
// width x 4 bytes.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "util/bytes.h"

namespace vorlix {

struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Bytes pixels;
};

// The largest picture that is decoded (width x height).
constexpr std::uint64_t kMaxDecodedPixels = 120'000'000;

// Whether a decoded size is taken: neither side 0, at most `max_pixels`.
bool decoded_size_allowed(std::uint32_t width, std::uint32_t height, std::uint64_t max_pixels = kMaxDecodedPixels);

struct PngSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The size a PNG states in its header (the signature, then IHDR), read
// before anything is decoded; none for bytes that do not start so.
std::optional<PngSize> png_stated_size(ByteView bytes);

// Whether the encoders take this input: neither side 0 and at least
// width x height x 4 bytes.
bool encoder_input_fits(std::uint32_t width, std::uint32_t height, std::size_t bytes);

// The row length of 24-bit pixels: 3 x width rounded up to a multiple of 4.
std::size_t bgr24_stride(std::uint32_t width);

// BGRA pixels as 24-bit BGR rows of bgr24_stride bytes (the fourth byte
// dropped, the row padding zero). The input must fit (encoder_input_fits).
Bytes bgra_to_bgr24(std::uint32_t width, std::uint32_t height, ByteView pixels);

// A copy of width x height pixels with the first and third byte of each swapped
// (RGBA <-> BGRA).
Bytes swap_red_blue(std::uint32_t width, std::uint32_t height, ByteView pixels);

// A BMP file in memory around a packed DIB from the clipboard (header, colour
// masks or table, pixels). Nothing for a DIB shorter than 40 bytes, whose
// header size is below 40 or beyond the block, whose masks or colour table
// run past the block or whose pixel data would start at or past its end.
std::optional<Bytes> bmp_from_dib(ByteView dib);

// The CF_DIBV5 block of a picture: a 124-byte BITMAPV5HEADER (32-bit bit
// fields, sRGB) and the rows bottom-up.
Bytes dibv5_from_picture(const Picture& picture);

struct PreviewSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The preview's size for a monitor: at most 640 wide, the monitor's shape.
PreviewSize preview_size(std::int32_t monitor_width, std::int32_t monitor_height);

// "PC 2026-12-08T000543.png" for a moment in seconds since 1970 (UTC); a moment
// before 1970 counts as 1970.
std::string screenshot_file_name(std::int64_t unix_seconds);

// The names of one link's screenshots: screenshot_file_name, and for a name
// that repeats the one before (two screenshots in one second) the same with
// " (2)", " (3)", ... before ".png", so a device that keeps files by name
// keeps each of them.
class ScreenshotNames {
public:
    std::string next(std::int64_t unix_seconds);

private:
    std::mutex mutex_;
    std::string last_;
    unsigned repeats_ = 0;
};

}  // namespace vorlix
