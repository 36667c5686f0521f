// One link's session: the reader loop that cuts, opens and routes frames of a
// signed-in link, the sign-in sequence that runs once when the handshake
// completes, and the session thread that runs the link before sign-in (in
// before_sign_in.cpp), then both, and undoes the link's traces at its end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "handshake/handshake.h"
#include "handshake/messages.h"
#include "host/link_limits.h"
#include "host/link_writer.h"
#include "host/pending_bytes.h"
#include "host/session_log.h"
#include "net/ip_address.h"
#include "net/socket.h"
#include "pictures/pictures.h"

namespace vorlix {

class HostState;
struct HandshakeDone;
struct LinkFiles;  // a link's own table of unfinished incoming files

// Senders of one kind on one link take turns: one sends while at most one
// more waits for its turn; a request beyond that is turned away.
struct SenderTurns {
    static constexpr int kMaxSenders = 2;
    std::atomic<int> senders{0};
    std::mutex turn;
};

// The per-link record, built by the session thread.
struct SessionRecord {
    LinkKind link_kind = LinkKind::Device;
    std::uint64_t watch_link_id = 0;
    std::string peer_name;
    std::optional<PeerRole> role;  // none until sign-in, and for a device in control
    std::uint64_t session = 0;
    Bytes device_key;  // a device link's identity key, from sign-in
    LinkWriter writer;
    std::shared_ptr<LinkFiles> incoming_files;
    // The rate guard of the dispatcher for a browser: its last honoured
    // requestKeyframe. The wakeOther guard is the host's, per key.
    std::optional<std::chrono::steady_clock::time_point> last_keyframe_request;
    // The link's file sender and its screenshot sender: one runs at a time.
    std::shared_ptr<SenderTurns> file_senders = std::make_shared<SenderTurns>();
    std::shared_ptr<SenderTurns> screenshot_senders = std::make_shared<SenderTurns>();
    std::shared_ptr<ScreenshotNames> screenshot_names = std::make_shared<ScreenshotNames>();
    // How a link that never signed in ended, for the link log.
    std::optional<LinkLog::Line> end_before_sign_in;
    // The lines its messages make, from its sign-in to its end.
    std::unique_ptr<SessionLog> log;
    // A link that took a pairing place (an empty key) or a trusted key's
    // mark: its lines are written whole, with its source.
    std::optional<std::string> marked_key;
};

// The sizes and limits of the reader loop.
inline constexpr std::size_t kMaxPendingBeforeSignIn = 1048576;
// A Hello or handshake message is a small JSON object well under 1 KiB.
inline constexpr std::uint32_t kMaxHandshakeFrameLength = 16384;
// The largest message a peer sends is a clipboard picture of 29,999,999
// bytes, written as 40,000,000 characters of Base64 inside its JSON.
inline constexpr std::size_t kMaxControlBody = 40'001'024;
// A sealed frame holds one inner frame: its type byte, body and the sealing's
// counter and tag.
inline constexpr std::uint32_t kMaxSealedFrameLength = kMaxControlBody + 64;
// A link to watch, a device's or a browser's, sends only small messages
// (configure, requestKeyframe, setAudio, ping, deviceInfo, bye), each well
// under 1 KiB; a preview peer sends nothing once signed in.
inline constexpr std::size_t kMaxWatchControlBody = 65536;
inline constexpr std::uint32_t kMaxWatchSealedFrameLength = kMaxWatchControlBody + 64;

// Runs the sign-in sequence of a link whose handshake is `done`, then reads
// it until it ends, from the bytes its peer sent after its last handshake
// step on; answers whether the peer said goodbye.
bool run_session(HostState& host, SessionRecord& record, Socket& socket, PendingBytes& pending,
                 const HandshakeDone& done);

// How a read ended a link: with a line to log, or none when the peer closed.
struct LinkEnd {
    std::optional<LinkLog::Line> line;
};
// Reads what the peer sent into the pending bytes, waiting at most `timeout`;
// nothing while the link goes on.
std::optional<LinkEnd> read_link(HostState& host, const SessionRecord& record, Socket& socket, PendingBytes& pending,
                                 std::chrono::milliseconds timeout, bool signed_in);

// How the sign-in sequence leaves the link: reading on, done after its
// goodbye (a preview peer), or done because the device was forgotten while
// it signed in.
enum class SignInEnd : std::uint8_t { GoesOn, Goodbye, Forgotten };
SignInEnd run_sign_in(HostState& host, SessionRecord& record, const HandshakeDone& done);

// The body of "vorlix-session-{}": turns the link away while closing for an
// update, else runs the reader loop, stops the writer, shuts the socket,
// logs the end and undoes what the link set up.
void run_session_thread(std::shared_ptr<HostState> host, std::uint64_t session, Socket socket, LinkWriter writer,
                        std::unique_ptr<LinkHandshake> handshake);

// Clears every stroke, on screen and on every watcher.
void clear_all_ink(HostState& host);

// The feature list of hostInfo.
std::vector<std::string> host_features(HostState& host);

// The local addresses a device may reach the PC on through the overlay
// network: IPv4 in 100.64.0.0/10, then IPv6 under fd7a:115c:a1e0::/48, each
// text once, in the platform's order.
std::vector<std::string> reach_addresses(const std::vector<IpAddress>& addresses);

// The number of session threads running in this process (for tests).
std::int64_t running_session_threads();

// The number of threads waiting out the web grace in this process, each
// counted from its first step to its last (for tests).
std::int64_t running_grace_waits();

}  // namespace vorlix
