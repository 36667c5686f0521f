// Arbitrary clipboard DIB blocks through the BMP builder: a BMP is only made
// around a block whose stated header, masks and colour table lie inside it,
// and its pixel offset always points inside the file. The same bytes as a
// clipboard picture from the device: a PNG size is only read from a PNG
// signature followed by a whole IHDR size.
#include <cstdint>
#include <cstdlib>

#include "pictures/pictures.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView dib(data, size);
    if (png_stated_size(dib) && (size < 24 || data[0] != 0x89 || data[12] != 'I')) std::abort();
    const auto bmp = bmp_from_dib(dib);
    if (!bmp) return 0;
    auto u32 = [&](std::size_t at) {
        return (*bmp)[at] | (*bmp)[at + 1] << 8 | (*bmp)[at + 2] << 16 | static_cast<std::uint32_t>((*bmp)[at + 3]) << 24;
    };
    const std::uint32_t header = u32(14);
    if (size < 40 || bmp->size() != size + 14 || u32(2) != bmp->size() || header < 40 || header > size ||
        u32(10) < 14 + header || u32(10) >= bmp->size())
        std::abort();
    return 0;
}
