// Feeds arbitrary bytes to the Hello and handshake message readers, and
// checks that whatever reads is written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "handshake/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorlix::ByteView input(data, size);
    if (auto hello = vorlix::parse_hello(input); hello.ok()) {
        auto again = vorlix::parse_hello(vorlix::write_hello(hello.value()));
        if (!again.ok() || !(again.value() == hello.value())) std::abort();
    }
    if (auto message = vorlix::parse_handshake_message(input); message.ok()) {
        auto again = vorlix::parse_handshake_message(vorlix::write_handshake_message(message.value()));
        if (!again.ok() || !(again.value() == message.value())) std::abort();
    }
    return 0;
}
