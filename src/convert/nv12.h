// BGRA to NV12 conversion (BT.709 coefficients, limited range) with fixed
// integer formulas, at full size or at half size (each output pixel stands for
// a 2x2 block of source pixels). Used by the stream for every encoded picture
// and by the virtual camera.
#pragma once

#include <cstdint>
#include <span>

#include "util/bytes.h"

namespace vorlix {

// The ways the conversion can run. `scalar` is the plain reference; the
// others are vector versions that give exactly the same bytes.
enum class Nv12Path { scalar, sse2, avx2, avx512 };

// Converts the BGRA picture `src` (src_width x src_height, rows of
// src_width * 4 bytes, alpha ignored) into `dst`: the Y plane (width x height)
// followed by the interleaved U/V plane (height / 2 rows of width bytes).
// Source coordinates are clamped to the picture, so an output larger than the
// source repeats the last row and column.
//
// width and height must be even; with either equal to 0 nothing is written.
// Returns false, writing nothing, when the sizes are odd, the source is empty
// or a buffer is too small for the sizes given.
bool convert_to_nv12(ByteView src, std::uint32_t src_width, std::uint32_t src_height, bool half,
                     std::uint32_t width, std::uint32_t height, std::span<std::uint8_t> dst);

// The same conversion on a chosen path (false when that path is not available
// on this processor, or for the reasons above).
bool convert_to_nv12_with(Nv12Path path, ByteView src, std::uint32_t src_width,
                          std::uint32_t src_height, bool half, std::uint32_t width,
                          std::uint32_t height, std::span<std::uint8_t> dst);

bool nv12_path_available(Nv12Path path);

// The fastest available path, picked once from what the processor supports.
Nv12Path nv12_best_path();

const char* nv12_path_name(Nv12Path path);

}  // namespace vorlix
