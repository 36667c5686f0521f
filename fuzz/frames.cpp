// Cuts arbitrary received bytes into frames the way a link's reader does and
// opens every Sealed frame with a receive key.
#include <cstdlib>

#include "wire/frame.h"
#include "wire/sealed.h"

using namespace vorlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Key32 key = [] {
        Key32 k;
        for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint8_t>(i);
        return k;
    }();
    SealingKey receive(key);

    ByteView pending(data, size);
    while (pending.size() >= 4) {
        CutResult result = cut_frame(pending);
        if (std::holds_alternative<NeedMoreBytes>(result)) break;
        if (std::holds_alternative<FrameError>(result)) break;
        const CutFrame& cut = std::get<CutFrame>(result);
        if (cut.consumed > pending.size() || cut.consumed != cut.frame.body.size() + kFrameHeaderSize)
            std::abort();
        if (cut.frame.type == FrameType::Sealed) {
            const std::uint64_t before = receive.counter();
            const auto opened = open_frame(receive, cut.frame.body);
            if (opened && (receive.counter() != before + 1 || opened->body.size() + kMinSealedBody !=
                                                                  cut.frame.body.size()))
                std::abort();
        }
        pending = pending.subspan(cut.consumed);
    }

    // Whatever the input, sealing it and opening it again gives it back.
    SealingKey send(key);
    SealingKey check(key);
    const ByteView body(data, std::min<std::size_t>(size, 4096));
    const Bytes frame = seal_frame(send, FrameType::FileData, body);
    const auto opened = open_frame(check, ByteView(frame).subspan(kFrameHeaderSize));
    if (!opened || opened->type != FrameType::FileData || !std::equal(body.begin(), body.end(),
                                                                        opened->body.begin(), opened->body.end()))
        std::abort();
    return 0;
}
