// Feeds arbitrary bytes from a relay through the line reader in uneven
// pieces; every line it gives is read as a relay message and as a join
// answer. Checks the reader's bound: no line it gives is longer than it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "relay/relay_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorlix::RelayLineReader reader(256);
    std::size_t at = 0;
    while (at < size) {
        std::size_t piece = 1 + data[at] % 37;
        if (piece > size - at) piece = size - at;
        reader.append(data + at, piece);
        at += piece;
        while (true) {
            auto line = reader.next();
            if (!line.ok()) return 0;
            if (!*line) break;
            if ((*line)->size() > 256) std::abort();
            vorlix::RelayLine message = vorlix::read_relay_line(**line);
            if (message.kind == vorlix::RelayLine::Kind::Ignored && !message.text.empty()) std::abort();
            (void)vorlix::check_join_answer(**line);
        }
    }
    return 0;
}
