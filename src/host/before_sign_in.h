// A link before sign-in: its Hello and handshake steps, within one sign-in
// time-out from its start (longer while a person types a pairing code), the
// pairing place and trusted-key mark that keep it from making room for newer
// links, the pause after a failed step, and the admission of a device link
// once its keys are agreed.
#pragma once

#include <optional>

#include "handshake/handshake.h"
#include "host/pending_bytes.h"
#include "net/socket.h"

namespace vorlix {

class HostState;
struct SessionRecord;

// Runs the handshake of a new link until it signs in or ends. Signed in, the
// record holds the link's kind, role, peer name, key and log, its sending key
// is installed, and the pending bytes hold what the peer sent after its last
// step. Ended, the link's end is logged, or kept in the record for the link
// log while the link still holds its place.
std::optional<HandshakeDone> run_before_sign_in(HostState& host, SessionRecord& record, Socket& socket,
                                                LinkHandshake& handshake, PendingBytes& pending);

}  // namespace vorlix
