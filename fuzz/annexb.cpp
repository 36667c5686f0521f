// Arbitrary encoder output through the Annex-B splitter, the repacking, the
// parameter-set keeping and the Video frame body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "h264/annexb.h"
#include "stream/video_frame.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    const ByteView header = input.first(cut);
    const ByteView output = input.subspan(cut);

    std::size_t total = 0;
    for (ByteView unit : split_annexb(output)) {
        if (unit.empty() || unit.data() < output.data() ||
            unit.data() + unit.size() > output.data() + output.size()) {
            std::abort();
        }
        total += unit.size();
    }
    if (total > output.size()) std::abort();

    ParameterSets sets;
    store_parameter_sets(sets, header);
    const auto frame = prepare_video_frame(sets, output, 0, 0, {}, false,
                                           [&]() -> std::optional<Bytes> {
                                               return Bytes(header.begin(), header.end());
                                           });
    if (frame) {
        // Every kept unit is length-prefixed and the prefixes add up.
        std::size_t at = 0;
        while (at < frame->data.size()) {
            if (frame->data.size() - at < 4) std::abort();
            at += 4 + get_u32_be(&frame->data[at]);
        }
        if (at != frame->data.size()) std::abort();
        const Bytes body = encode_video_frame(*frame);
        if (body.size() < kVideoFrameHeaderSize + frame->data.size()) std::abort();
    }
    const auto list = collect_parameter_sets(sets);
    if (!list.empty() && list.size() != 2) std::abort();
    return 0;
}
