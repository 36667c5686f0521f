#include "pictures/pictures.h"

#include <algorithm>
#include <cmath>

#include "crash/crash_log.h"

namespace vorlix {

namespace {

constexpr std::uint64_t kBmpFileHeader = 14;

std::uint32_t read_u32_le(ByteView bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void append_u16_le(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append_u32_le(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

bool decoded_size_allowed(std::uint32_t width, std::uint32_t height, std::uint64_t max_pixels) {
    return width != 0 && height != 0 && std::uint64_t{width} * height <= max_pixels;
}

std::optional<PngSize> png_stated_size(ByteView bytes) {
    static constexpr std::uint8_t kStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (bytes.size() < sizeof kStart + 8 || !std::equal(std::begin(kStart), std::end(kStart), bytes.begin()))
        return std::nullopt;
    return PngSize{get_u32_be(bytes.data() + 16), get_u32_be(bytes.data() + 20)};
}

bool encoder_input_fits(std::uint32_t width, std::uint32_t height, std::size_t bytes) {
    return width != 0 && height != 0 && std::uint64_t{width} * height * 4 <= bytes;
}

std::size_t bgr24_stride(std::uint32_t width) { return (std::size_t{width} * 3 + 3) / 4 * 4; }

Bytes bgra_to_bgr24(std::uint32_t width, std::uint32_t height, ByteView pixels) {
    const std::size_t stride = bgr24_stride(width);
    Bytes rows(stride * height, 0);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels.data() + y * width * 4;
        std::uint8_t* out = rows.data() + y * stride;
        for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) std::copy(in, in + 3, out);
    }
    return rows;
}

Bytes swap_red_blue(std::uint32_t width, std::uint32_t height, ByteView pixels) {
    Bytes copy(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{width} * height * 4));
    for (std::size_t i = 0; i < copy.size(); i += 4) std::swap(copy[i], copy[i + 2]);
    return copy;
}

std::optional<Bytes> bmp_from_dib(ByteView dib) {
    const std::uint64_t size = dib.size();
    if (size < 40 || size > 0xFFFFFFFFull - kBmpFileHeader) return std::nullopt;
    // Every count comes from the block itself, so it is checked against the
    // block and summed in 64 bits.
    const std::uint64_t header = read_u32_le(dib, 0);
    if (header < 40 || header > size) return std::nullopt;
    const std::uint32_t bit_count = static_cast<std::uint32_t>(dib[14]) | static_cast<std::uint32_t>(dib[15]) << 8;
    const std::uint32_t compression = read_u32_le(dib, 16);
    const std::uint32_t colours_used = read_u32_le(dib, 32);
    const std::uint64_t masks = header == 40 && compression == 3 ? 12 : 0;
    const std::uint64_t colours = colours_used != 0 ? colours_used : bit_count <= 8 ? std::uint64_t{1} << bit_count : 0;
    const std::uint64_t pixels_at = header + masks + 4 * colours;
    if (pixels_at >= size) return std::nullopt;

    Bytes bmp;
    bmp.reserve(kBmpFileHeader + dib.size());
    bmp.push_back('B');
    bmp.push_back('M');
    append_u32_le(bmp, static_cast<std::uint32_t>(size + kBmpFileHeader));
    append_u32_le(bmp, 0);
    append_u32_le(bmp, static_cast<std::uint32_t>(pixels_at + kBmpFileHeader));
    append(bmp, dib);
    return bmp;
}

Bytes dibv5_from_picture(const Picture& picture) {
    const std::uint32_t row = picture.width * 4;
    Bytes block;
    block.reserve(124 + std::size_t{row} * picture.height);
    append_u32_le(block, 124);                                          // header size
    append_u32_le(block, picture.width);
    append_u32_le(block, picture.height);                               // positive: bottom-up
    append_u16_le(block, 1);                                            // planes
    append_u16_le(block, 32);                                           // bits per pixel
    append_u32_le(block, 3);                                            // bit fields
    append_u32_le(block, row * picture.height);                         // image size
    append_u32_le(block, 2835);                                         // pixels per metre
    append_u32_le(block, 2835);
    append_u32_le(block, 0);                                            // colours used
    append_u32_le(block, 0);                                            // colours important
    for (std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) append_u32_le(block, mask);
    append(block, std::string_view("BGRs"));                            // LCS_sRGB
    block.resize(block.size() + 36 + 12, 0);                            // end points, gamma
    append_u32_le(block, 4);                                            // LCS_GM_IMAGES
    block.resize(124, 0);                                               // profile data, size, reserved
    for (std::uint32_t y = picture.height; y-- > 0;) {
        const auto start = picture.pixels.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * row);
        block.insert(block.end(), start, start + row);
    }
    return block;
}

PreviewSize preview_size(std::int32_t monitor_width, std::int32_t monitor_height) {
    const std::int64_t across = std::max<std::int64_t>(monitor_width, 1);
    const std::int64_t width = std::min<std::int64_t>(across, 640);
    const double exact = static_cast<double>(width) * std::max<std::int32_t>(monitor_height, 0) / static_cast<double>(across);
    const std::int64_t height = std::max<std::int64_t>(std::llround(exact), 1);
    return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

std::string screenshot_file_name(std::int64_t unix_seconds) {
    return "PC " + format_utc_datetime(unix_seconds < 0 ? 0 : static_cast<std::uint64_t>(unix_seconds)) + ".png";
}

std::string ScreenshotNames::next(std::int64_t unix_seconds) {
    std::string name = screenshot_file_name(unix_seconds);
    std::lock_guard lock(mutex_);
    if (name != last_) {
        last_ = name;
        repeats_ = 1;
        return name;
    }
    name.insert(name.size() - 4, " (" + std::to_string(++repeats_) + ")");
    return name;
}

}  // namespace vorlix
