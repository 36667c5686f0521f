// Arbitrary pointer shapes through the cursor converters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

#include "cursor/cursor.h"

using namespace vorlix;

namespace {

void check(const std::optional<CursorImage>& image) {
    if (!image) return;
    if (image->width == 0 || image->height == 0 ||
        image->pixels.size() != std::size_t{image->width} * image->height * 4 ||
        image->hot_x >= image->width || image->hot_y >= image->height) {
        std::abort();
    }
}

// Sizes mostly small, sometimes anything.
std::uint32_t size_value(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 80)
                            : in.ConsumeIntegral<std::uint32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int kind = in.ConsumeIntegralInRange(0, 3);
    const std::uint32_t width = size_value(in);
    const std::uint32_t height = size_value(in);
    const std::uint32_t pitch = size_value(in);
    const std::uint32_t hot_x = in.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t hot_y = in.ConsumeIntegral<std::uint32_t>();
    const std::size_t mask_size = in.ConsumeIntegralInRange<std::size_t>(0, in.remaining_bytes());
    const Bytes mask = in.ConsumeBytes<std::uint8_t>(mask_size);
    const Bytes pixels = in.ConsumeRemainingBytes<std::uint8_t>();
    switch (kind) {
    case 0: check(cursor_from_color(pixels, width, height, pitch, hot_x, hot_y)); break;
    case 1: check(cursor_from_monochrome(pixels, width, height, pitch, hot_x, hot_y)); break;
    case 2: check(cursor_from_masked_color(pixels, width, height, pitch, hot_x, hot_y)); break;
    default: check(cursor_from_icon_bitmaps(pixels, mask, width, height, pitch, hot_x, hot_y)); break;
    }
    return 0;
}
