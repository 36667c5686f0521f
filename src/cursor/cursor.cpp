#include "cursor/cursor.h"

#include <algorithm>
#include <cstdint>

namespace vorlix {
namespace {

// Byte counts are worked out in 64 bits: the sizes come from the system or a
// peer and their products can pass 32 bits.
bool holds(ByteView bytes, std::uint64_t needed) { return bytes.size() >= needed; }

// width * 4 + pitch * (height - 1): the extent of a picture with row pitch.
bool colour_picture_fits(ByteView bytes, std::uint32_t width, std::uint32_t height,
                         std::uint32_t pitch) {
    if (width == 0 || height == 0) return false;
    if (std::uint64_t{pitch} < std::uint64_t{width} * 4) return false;
    return holds(bytes, std::uint64_t{width} * 4 + std::uint64_t{pitch} * (height - 1));
}

bool mask_bit(const std::uint8_t* row, std::uint32_t x) {
    return (row[x / 8] & (0x80u >> (x % 8))) != 0;
}

std::optional<CursorImage> from_masked_color(ByteView bgrx, std::uint32_t width,
                                             std::uint32_t height, std::uint32_t pitch,
                                             std::uint32_t hot_x, std::uint32_t hot_y) {
    std::vector<CursorCell> cells;
    cells.reserve(std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = bgrx.data() + std::size_t{pitch} * y;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + std::size_t{x} * 4;
            if (p[3] == 0) {
                cells.push_back(CursorCell::colour(p[2], p[1], p[0], 255));
            } else if (p[0] != 0 || p[1] != 0 || p[2] != 0) {
                cells.push_back(CursorCell::inverting());
            } else {
                cells.push_back(CursorCell::clear());
            }
        }
    }
    return finish_cursor_image(width, height, hot_x, hot_y, cells);
}

}  // namespace

std::optional<CursorImage> cursor_from_color(ByteView bgra, std::uint32_t width,
                                             std::uint32_t height, std::uint32_t pitch,
                                             std::uint32_t hot_x, std::uint32_t hot_y) {
    if (!colour_picture_fits(bgra, width, height, pitch)) return std::nullopt;
    std::vector<CursorCell> cells;
    cells.reserve(std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = bgra.data() + std::size_t{pitch} * y;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + std::size_t{x} * 4;
            cells.push_back(p[3] == 0 ? CursorCell::clear()
                                      : CursorCell::colour(p[2], p[1], p[0], p[3]));
        }
    }
    return finish_cursor_image(width, height, hot_x, hot_y, cells);
}

std::optional<CursorImage> cursor_from_monochrome(ByteView masks, std::uint32_t width,
                                                  std::uint32_t height, std::uint32_t pitch,
                                                  std::uint32_t hot_x, std::uint32_t hot_y) {
    if (width == 0 || height == 0) return std::nullopt;
    if (std::uint64_t{pitch} * 8 < width) return std::nullopt;
    if (!holds(masks, std::uint64_t{height} * pitch * 2)) return std::nullopt;
    std::vector<CursorCell> cells;
    cells.reserve(std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* and_row = masks.data() + std::size_t{pitch} * y;
        const std::uint8_t* xor_row = masks.data() + std::size_t{pitch} * (std::size_t{height} + y);
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool and_bit = mask_bit(and_row, x);
            const bool xor_bit = mask_bit(xor_row, x);
            if (!and_bit) {
                cells.push_back(xor_bit ? CursorCell::colour(255, 255, 255, 255)
                                        : CursorCell::colour(0, 0, 0, 255));
            } else {
                cells.push_back(xor_bit ? CursorCell::inverting() : CursorCell::clear());
            }
        }
    }
    return finish_cursor_image(width, height, hot_x, hot_y, cells);
}

std::optional<CursorImage> cursor_from_masked_color(ByteView bgrx, std::uint32_t width,
                                                    std::uint32_t height, std::uint32_t pitch,
                                                    std::uint32_t hot_x, std::uint32_t hot_y) {
    if (!colour_picture_fits(bgrx, width, height, pitch)) return std::nullopt;
    return from_masked_color(bgrx, width, height, pitch, hot_x, hot_y);
}

std::optional<CursorImage> cursor_from_icon_bitmaps(ByteView bgra, ByteView mask,
                                                    std::uint32_t width, std::uint32_t height,
                                                    std::uint32_t mask_pitch, std::uint32_t hot_x,
                                                    std::uint32_t hot_y) {
    if (width == 0 || height == 0 || width > UINT32_MAX / 4) return std::nullopt;
    const std::uint64_t colour_bytes = std::uint64_t{width} * height * 4;
    if (!holds(bgra, colour_bytes)) return std::nullopt;
    const std::uint32_t pitch = width * 4;  // fits: width * height * 4 bytes exist
    const ByteView colour = bgra.first(static_cast<std::size_t>(colour_bytes));
    bool any_alpha = false;
    for (std::size_t i = 3; i < colour.size(); i += 4) {
        if (colour[i] != 0) {
            any_alpha = true;
            break;
        }
    }
    if (any_alpha) return cursor_from_color(colour, width, height, pitch, hot_x, hot_y);

    if (std::uint64_t{mask_pitch} * 8 < width) return std::nullopt;
    if (!holds(mask, std::uint64_t{height} * mask_pitch)) return std::nullopt;
    Bytes masked(colour.begin(), colour.end());
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* mask_row = mask.data() + std::size_t{mask_pitch} * y;
        for (std::uint32_t x = 0; x < width; ++x) {
            masked[(std::size_t{y} * width + x) * 4 + 3] = mask_bit(mask_row, x) ? 0xFF : 0x00;
        }
    }
    return from_masked_color(masked, width, height, pitch, hot_x, hot_y);
}

CursorImage finish_cursor_image(std::uint32_t width, std::uint32_t height, std::uint32_t hot_x,
                                std::uint32_t hot_y, const std::vector<CursorCell>& cells) {
    CursorImage image;
    const std::size_t count = std::size_t{width} * height;
    if (width == 0 || height == 0 || cells.size() != count) return image;
    image.width = width;
    image.height = height;
    image.pixels.assign(count * 4, 0);
    auto cell = [&](std::uint32_t x, std::uint32_t y) -> const CursorCell& {
        return cells[std::size_t{y} * width + x];
    };
    auto inverting_near = [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t x0 = x == 0 ? 0 : x - 1, x1 = std::min(x + 1, width - 1);
        const std::uint32_t y0 = y == 0 ? 0 : y - 1, y1 = std::min(y + 1, height - 1);
        for (std::uint32_t ny = y0; ny <= y1; ++ny) {
            for (std::uint32_t nx = x0; nx <= x1; ++nx) {
                if ((nx != x || ny != y) && cell(nx, ny).kind == CursorCell::Kind::inverting) {
                    return true;
                }
            }
        }
        return false;
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const CursorCell& c = cell(x, y);
            std::uint8_t* p = image.pixels.data() + (std::size_t{y} * width + x) * 4;
            switch (c.kind) {
            case CursorCell::Kind::colour:
                p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
                break;
            case CursorCell::Kind::inverting:
                p[3] = 255;
                break;
            case CursorCell::Kind::transparent:
                if (inverting_near(x, y)) p[0] = p[1] = p[2] = p[3] = 255;
                break;
            }
        }
    }
    image.hot_x = std::min(hot_x, width - 1);
    image.hot_y = std::min(hot_y, height - 1);
    return image;
}

}  // namespace vorlix
