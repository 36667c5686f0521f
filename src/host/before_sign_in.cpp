#include "host/before_sign_in.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "host/host_state.h"
#include "host/log.h"
#include "host/session.h"
#include "wire/frame.h"

namespace vorlix {

std::optional<HandshakeDone> run_before_sign_in(HostState& host, SessionRecord& record, Socket& socket,
                                                LinkHandshake& handshake, PendingBytes& pending) {
    LinkWriter writer = record.writer;
    const std::string tag = "session " + std::to_string(record.session) + ": ";
    const SessionTimeouts timeouts = host.timeouts;
    // The whole sign-in must fit in one time-out from the start of the link,
    // however the peer spreads its bytes.
    const auto link_start = std::chrono::steady_clock::now();
    auto sign_in_deadline = link_start + timeouts.sign_in;
    bool pairing_time = false;
    bool revealing = false;
    // Given up when the handshake completes, before its outcome goes out.
    bool place_given_up = false;
    // The end of a link that still holds its place waits for the link log
    // with its connection line; every other end is written at once.
    const auto ended = [&](std::string kind, std::string text) -> std::optional<HandshakeDone> {
        if (place_given_up) {
            log_line(tag + text);
        } else {
            record.end_before_sign_in = LinkLog::Line{std::move(kind), tag + text};
        }
        return std::nullopt;
    };

    while (true) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(sign_in_deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ended("no sign-in in time", "link ended (no sign-in in time)");
        if (std::optional<LinkEnd> end = read_link(host, record, socket, pending, left, false)) {
            if (!end->line) return std::nullopt;
            return ended(std::move(end->line->kind), std::move(end->line->text));
        }
        if (pending.unconsumed() > kMaxPendingBeforeSignIn) {
            return ended("too many bytes before sign-in",
                         std::to_string(pending.unconsumed()) + " bytes before sign-in; closing");
        }

        while (pending.unconsumed() >= 4) {
            // Oversized frames are refused from their length, before their
            // bytes are gathered.
            const std::uint32_t length = get_u32_be(pending.view().data());
            if (length > kMaxHandshakeFrameLength) {
                return ended("a frame larger than any message",
                             "a frame of " + std::to_string(length) + " bytes before sign-in is larger than any message; closing");
            }
            // The frame is read in place: its body stays valid until the next
            // bytes are appended.
            PeekResult cut = peek_frame(pending.view());
            if (std::holds_alternative<NeedMoreBytes>(cut)) break;
            if (auto* error = std::get_if<FrameError>(&cut)) {
                return ended("bad framing", "bad framing (" + error->text() + ")");
            }
            const FrameView frame = std::get<FrameView>(cut);
            pending.consume(frame.consumed);

            if (frame.type != FrameType::Hello && frame.type != FrameType::Handshake) {
                const std::string what = std::string(frame_type_name(frame.type)) + " before sign-in";
                return ended(what, what);
            }
            HandshakeOutcome outcome = handshake.step(frame.type, frame.body);
            if (host.hooks.on_handshake_step) host.hooks.on_handshake_step(record.session);
            if (std::holds_alternative<HandshakeDone>(outcome)) {
                // The place is given up before anything of the sign-in goes
                // out: a link that lost it to a newer one is closing and
                // completes nothing.
                std::optional<std::string> connection = host.unsigned_links.release(record.session);
                if (!connection) return std::nullopt;
                place_given_up = true;
                // The lines of a device's links are its key's, however many it opens.
                const HandshakeDone& signed_in = std::get<HandshakeDone>(outcome);
                record.log = host.key_logs.open(
                    record.session, handshake.link_kind().first == LinkKind::Device ? signed_in.device_id_key : Bytes{},
                    signed_in.device_name, host.session_log);
                log_link_line(record.log.get(), "connection", *connection);
                // A device forgotten since its Hello is refused as one never paired.
                if (handshake.link_kind().first == LinkKind::Device) {
                    DeviceLinkAdmission admission = host.admit_device_link(
                        record.session, std::get<HandshakeDone>(outcome), writer, handshake.peer_role());
                    if (!admission.admitted) {
                        outcome = handshake_failure(PairingError::NotPaired);
                    } else {
                        // The newest link of a key wins: the ones it
                        // replaced end before it goes on.
                        for (const auto& old : admission.replaced) {
                            log_link_line(record.log.get(), "replaced by",
                                          "session " + std::to_string(old.session) + ": replaced by session " +
                                              std::to_string(record.session));
                        }
                        host.send_away_replaced_links(record.session, admission.replaced);
                        if (host.hooks.on_device_link_admitted) host.hooks.on_device_link_admitted(record.session);
                    }
                }
            } else if (!revealing && handshake.holds_pairing_place()) {
                // The commit took a pairing place: the link is marked before
                // its answer goes out. One that made room for a newer link
                // meanwhile was closed by the host, not by its peer: its
                // place goes back uncounted.
                if (!host.unsigned_links.mark_pairing(record.session)) {
                    handshake.give_up_pairing_place();
                    return std::nullopt;
                }
                revealing = true;
                record.marked_key.emplace();
                sign_in_deadline =
                    std::min(sign_in_deadline, std::chrono::steady_clock::now() + timeouts.pairing_reveal);
            } else if (!host.unsigned_links.holds(record.session)) {
                return std::nullopt;  // made room for a newer link: it is told nothing more
            } else if (std::optional<Bytes> key = handshake.signing_key();
                       key && std::holds_alternative<HandshakeContinue>(outcome)) {
                // So is the Hello of a trusted key, so that its next step
                // finds the mark wherever the device's answer lands.
                host.unsigned_links.mark_signing(record.session, std::string(key->begin(), key->end()));
                if (!record.marked_key) record.marked_key.emplace(key->begin(), key->end());
            }
            for (const Frame& plain : outcome_frames(outcome)) {
                writer.send(WriterItem::raw(encode_plain_frame(plain.type, plain.body)));
            }
            if (auto* failed = std::get_if<HandshakeFailed>(&outcome)) {
                // A wrong pairing code was counted by the handshake itself.
                const std::string failure = "handshake failed: " + std::string(pairing_error_log_name(failed->error));
                ended(failure, failure);
                // The pause ends at once for a link that makes room for a
                // newer one, so that a flood's links do not outlive their places.
                if (place_given_up) {
                    std::this_thread::sleep_for(timeouts.handshake_failure_pause);
                } else {
                    (void)host.unsigned_links.pause_while_held(record.session, timeouts.handshake_failure_pause);
                }
                return std::nullopt;
            }
            auto* done = std::get_if<HandshakeDone>(&outcome);
            if (!done) {
                // Only what a stranger cannot fake cheaply keeps the link
                // from making room for newer ones: a typed code, or the
                // Hello of a trusted key (the newest of its links), both
                // marked above.
                if (!pairing_time && handshake.pairing()) {
                    pairing_time = true;
                    sign_in_deadline = link_start + timeouts.pairing;
                }
                continue;
            }
            writer.send(WriterItem::install_key(done->host_to_device_key, 0));
            // A device forgotten before its keys went out is sent away here,
            // now that its bye can be sealed. One replaced by a newer link
            // meanwhile goes the same way; its line was written by the newer one.
            if (handshake.link_kind().first == LinkKind::Device) {
                const LinkStanding standing = host.device_link_ready(record.session);
                if (standing != LinkStanding::Listed) {
                    if (standing == LinkStanding::Gone) {
                        log_line(tag + log_safe_text(done->device_name) + " was forgotten while it signed in");
                    }
                    queue_control_message(writer, control::Bye{});
                    return std::nullopt;
                }
                record.device_key = done->device_id_key;
                if (host.hooks.on_device_link_ready) host.hooks.on_device_link_ready(record.session);
            }
            record.role = handshake.peer_role();
            auto [kind, watch_link_id] = handshake.link_kind();
            record.link_kind = kind;
            record.watch_link_id = watch_link_id;
            record.peer_name = done->device_name;
            return std::move(*done);
        }
    }
}

}  // namespace vorlix
