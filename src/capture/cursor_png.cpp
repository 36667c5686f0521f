#include "capture/cursor_png.h"

#include <zlib.h>

namespace vorlix {

namespace {

void append_chunk(Bytes& png, const char* type, ByteView data) {
    append_u32_be(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, png.data() + start, static_cast<uInt>(png.size() - start));
    append_u32_be(png, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::optional<Bytes> cursor_png(const CursorImage& image) {
    const std::size_t w = image.width;
    const std::size_t h = image.height;
    if (w == 0 || h == 0 || w > 4096 || h > 4096 || image.pixels.size() != w * h * 4) return std::nullopt;

    // Each row: filter type 0, then the row's RGBA bytes.
    Bytes raw;
    raw.reserve(h * (w * 4 + 1));
    for (std::size_t y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), image.pixels.begin() + static_cast<std::ptrdiff_t>(y * w * 4),
                   image.pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * w * 4));
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return std::nullopt;
    packed.resize(packed_size);

    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes header;
    append_u32_be(header, static_cast<std::uint32_t>(w));
    append_u32_be(header, static_cast<std::uint32_t>(h));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, filter 0, no interlace
    append_chunk(png, "IHDR", header);
    append_chunk(png, "IDAT", packed);
    append_chunk(png, "IEND", {});
    return png;
}

}  // namespace vorlix
