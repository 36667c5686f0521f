#include "host/dispatcher.h"

#include "host/host_state.h"
#include "host/outgoing.h"
#include "host/session.h"
#include "json/json.h"

namespace vorlix {

ControlOutcome handle_control_body(HostState&, SessionRecord& record, ByteView body) {
    Result<Json> parsed = parse_json(body, DuplicateKeys::keep_last);
    if (!parsed || !parsed->is_object() || parsed->size() != 1) return ControlOutcome::Continue;
    auto member = parsed->begin();
    const std::string& name = member.key();
    const Json& fields = member.value();
    if (!fields.is_object()) return ControlOutcome::Continue;
    if (name == "bye") return ControlOutcome::Goodbye;
    if (name == "ping") {
        auto value = fields.find("_0");
        if (value == fields.end()) return ControlOutcome::Continue;
        std::optional<std::uint64_t> number = json_u64(*value);
        if (number) queue_control_bytes(record.writer, pong_message(*number));
    }
    return ControlOutcome::Continue;
}

void handle_file_piece(HostState&, SessionRecord&, std::uint32_t, Bytes) {}

}  // namespace vorlix
