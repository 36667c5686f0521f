// Picture encoding and decoding through the Windows Imaging Component. Each
// call initialises COM for its own thread and makes its own factory, so any
// thread may call them at any time.
#pragma once

#include <windows.h>

#include <optional>

#include "pictures/pictures.h"
#include "util/result.h"

namespace vorlix {

// PNG with alpha of BGRA pixels; nothing (without a log) for a size of 0 or
// too few bytes, nothing with the log "PNG: {}" when encoding fails.
std::optional<Bytes> encode_png_bgra(std::uint32_t width, std::uint32_t height, ByteView pixels);
// The same of RGBA pixels (cursor shapes).
std::optional<Bytes> encode_png_rgba(std::uint32_t width, std::uint32_t height, ByteView pixels);
// PNG without alpha (24-bit) of BGRA pixels (screenshots).
std::optional<Bytes> encode_png_24(std::uint32_t width, std::uint32_t height, ByteView pixels);
// JPEG (24-bit) of BGRA pixels at a quality from 0 to 1; fails with the log
// "JPEG: {}".
std::optional<Bytes> encode_jpeg_24(std::uint32_t width, std::uint32_t height, ByteView pixels, float quality);

// Any picture WIC reads (PNG, JPEG, BMP, ...) as BGRA pixels; pictures of
// more than `max_pixels` are refused (a PNG by its header, before it is
// decoded). Failures log "picture from the device: {}".
std::optional<Picture> decode_image(ByteView bytes, std::uint64_t max_pixels = kMaxDecodedPixels);
// The same, giving the failure's text instead of logging it.
Result<Picture> try_decode_image(ByteView bytes, std::uint64_t max_pixels = kMaxDecodedPixels);

// Pixels already in `format` (stride bytes a row) encoded in `container`,
// with the encoder option "ImageQuality" when a quality is given.
Result<Bytes> win_image_encode(const GUID& container, const GUID& format, std::uint32_t width, std::uint32_t height,
                               std::uint32_t stride, ByteView pixels, std::optional<float> quality);

}  // namespace vorlix
