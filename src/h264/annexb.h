// H.264 Annex-B byte streams (NAL units separated by 00 00 01 start codes)
// rewritten into the length-prefixed form the device receives, and the last
// sequence and picture parameter sets (SPS, PPS) kept for key frames.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "util/bytes.h"

namespace vorlix {

enum NalType : std::uint8_t {
    kNalIdrSlice = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalAccessUnitDelimiter = 9,
};

inline std::uint8_t nal_type(ByteView unit) { return unit.empty() ? 0 : (unit[0] & 0x1F); }

// The stream's last parameter sets, whole NAL units without start codes.
struct ParameterSets {
    std::optional<Bytes> sps;
    std::optional<Bytes> pps;
};

// One encoder output rewritten: each kept unit as a 4-byte big-endian length
// followed by the unit; `key` when an IDR slice was found.
struct PackedOutput {
    Bytes bytes;
    bool key = false;
};

// The NAL units of `data` in order, as views into it. Bytes before the first
// start code are ignored; trailing zero bytes of a unit are dropped (also the
// first zero of a 4-byte start code); empty units are skipped. Data without
// any start code is one unit (none when empty).
std::vector<ByteView> split_annexb(ByteView data);

// Rewrites an encoder output: IDR and other slices are kept, SEI and access
// unit delimiters dropped, SPS and PPS taken into `sets` instead of the
// output.
PackedOutput find_nal_units(ParameterSets& sets, ByteView output);

// Takes the SPS and PPS found in an encoder's sequence header into `sets`.
void store_parameter_sets(ParameterSets& sets, ByteView sequence_header);

// [SPS, PPS] when both are known, else nothing.
std::vector<Bytes> collect_parameter_sets(const ParameterSets& sets);

}  // namespace vorlix
