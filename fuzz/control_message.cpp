// Feeds arbitrary bytes to the control message reader. Whatever reads must
// write, read back as the same message, and write again to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "control/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto message = vorlix::parse_control_message(vorlix::ByteView(data, size));
    if (!message) return 0;
    std::string text = vorlix::encode_control_message(*message);
    if (text.empty()) std::abort();
    (void)vorlix::control_type_name(*message);
    auto again = vorlix::parse_control_message(vorlix::to_bytes(text));
    if (!again || !(*again == *message)) std::abort();
    if (vorlix::encode_control_message(*again) != text) std::abort();
    return 0;
}
