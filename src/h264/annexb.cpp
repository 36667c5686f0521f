#include "h264/annexb.h"

namespace vorlix {
namespace {

// Index of the next 00 00 01 at or after `from`, or data.size().
std::size_t find_start_code(ByteView data, std::size_t from) {
    for (std::size_t i = from; i + 3 <= data.size(); ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // no start code can end at i + 2 or begin before it
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return data.size();
}

void keep_unit(ParameterSets& sets, ByteView unit) {
    switch (nal_type(unit)) {
    case kNalSps:
        sets.sps = Bytes(unit.begin(), unit.end());
        break;
    case kNalPps:
        sets.pps = Bytes(unit.begin(), unit.end());
        break;
    default:
        break;
    }
}

}  // namespace

std::vector<ByteView> split_annexb(ByteView data) {
    std::vector<ByteView> units;
    std::size_t start = find_start_code(data, 0);
    if (start == data.size()) {
        if (!data.empty()) units.push_back(data);
        return units;
    }
    while (start < data.size()) {
        const std::size_t begin = start + 3;
        const std::size_t next = find_start_code(data, begin);
        std::size_t end = next;
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) units.push_back(data.subspan(begin, end - begin));
        start = next;
    }
    return units;
}

PackedOutput find_nal_units(ParameterSets& sets, ByteView output) {
    PackedOutput packed;
    for (ByteView unit : split_annexb(output)) {
        switch (nal_type(unit)) {
        case kNalSei:
        case kNalAccessUnitDelimiter:
            continue;
        case kNalSps:
        case kNalPps:
            keep_unit(sets, unit);
            continue;
        case kNalIdrSlice:
            packed.key = true;
            break;
        default:
            break;
        }
        // A unit cannot reach 4 GiB: encoder outputs are single pictures.
        append_u32_be(packed.bytes, static_cast<std::uint32_t>(unit.size()));
        append(packed.bytes, unit);
    }
    return packed;
}

void store_parameter_sets(ParameterSets& sets, ByteView sequence_header) {
    for (ByteView unit : split_annexb(sequence_header)) keep_unit(sets, unit);
}

std::vector<Bytes> collect_parameter_sets(const ParameterSets& sets) {
    if (!sets.sps || !sets.pps) return {};
    return {*sets.sps, *sets.pps};
}

}  // namespace vorlix
