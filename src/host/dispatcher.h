// What the host does with the control messages and file pieces a signed-in
// link sends. Runs on the link's session thread.
#pragma once

#include <cstdint>

#include "util/bytes.h"

namespace vorlix {

class HostState;
struct SessionRecord;

enum class ControlOutcome { Continue, Goodbye };

// One Control frame's body. A body that does not read is dropped without a
// log line; `bye` ends the link (Goodbye) and never reaches the dispatcher.
ControlOutcome handle_control_body(HostState& host, SessionRecord& record, ByteView body);

// One FileData piece (the transfer id and the bytes), handled as the
// fileChunk message it stands for.
void handle_file_piece(HostState& host, SessionRecord& record, std::uint32_t id, Bytes data);

}  // namespace vorlix
