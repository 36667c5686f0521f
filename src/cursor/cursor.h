// Pointer shapes as RGBA pictures. Windows describes a pointer as a colour
// bitmap with alpha, a monochrome AND/XOR mask pair, or a masked-colour bitmap
// whose fourth byte is a mask; icons give a colour bitmap plus a mask. Pixels
// that invert the screen cannot be shown in RGBA: they become black with a
// white outline, visible on any background.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "util/bytes.h"

namespace vorlix {

struct CursorImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Bytes pixels;  // width * height * 4 bytes, rows top to bottom, R G B A
    std::uint32_t hot_x = 0;
    std::uint32_t hot_y = 0;

    bool operator==(const CursorImage&) const = default;
};

// What one pointer pixel does.
struct CursorCell {
    enum class Kind : std::uint8_t { transparent, colour, inverting };
    Kind kind = Kind::transparent;
    std::uint8_t r = 0, g = 0, b = 0, a = 0;

    static CursorCell clear() { return {}; }
    static CursorCell inverting() { return {Kind::inverting}; }
    static CursorCell colour(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
        return {Kind::colour, r, g, b, a};
    }
};

// BGRA pixels with straight or premultiplied alpha; alpha 0 is transparent.
std::optional<CursorImage> cursor_from_color(ByteView bgra, std::uint32_t width,
                                             std::uint32_t height, std::uint32_t pitch,
                                             std::uint32_t hot_x, std::uint32_t hot_y);

// AND mask rows followed by XOR mask rows, 1 bit a pixel, most significant
// bit first; `height` is the pointer's height (the masks are twice as high).
std::optional<CursorImage> cursor_from_monochrome(ByteView masks, std::uint32_t width,
                                                  std::uint32_t height, std::uint32_t pitch,
                                                  std::uint32_t hot_x, std::uint32_t hot_y);

// BGRX pixels whose fourth byte is a mask: 0 shows the colour, anything else
// inverts the screen where the colour is not black.
std::optional<CursorImage> cursor_from_masked_color(ByteView bgrx, std::uint32_t width,
                                                    std::uint32_t height, std::uint32_t pitch,
                                                    std::uint32_t hot_x, std::uint32_t hot_y);

// An icon's colour bitmap (BGRA, rows top to bottom, width * 4 bytes a row)
// and its mask bitmap (1 bit a pixel). Colour with any alpha is used as is;
// colour without alpha takes its mask.
std::optional<CursorImage> cursor_from_icon_bitmaps(ByteView bgra, ByteView mask,
                                                    std::uint32_t width, std::uint32_t height,
                                                    std::uint32_t mask_pitch, std::uint32_t hot_x,
                                                    std::uint32_t hot_y);

// Builds the picture from one cell a pixel in row order (cells.size() must be
// width * height): inverting cells become opaque black and every transparent
// cell next to one (diagonals included) opaque white; the hot spot is kept
// within the picture.
CursorImage finish_cursor_image(std::uint32_t width, std::uint32_t height, std::uint32_t hot_x,
                                std::uint32_t hot_y, const std::vector<CursorCell>& cells);

}  // namespace vorlix
