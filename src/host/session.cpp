#include "host/session.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "host/before_sign_in.h"
#include "host/dispatcher.h"
#include "host/host_state.h"
#include "host/watchers.h"
#include "host/log.h"
#include "util/thread_name.h"
#include "wire/frame.h"
#include "wire/input_message.h"
#include "wire/sealed.h"

namespace vorlix {

namespace {

std::atomic<std::int64_t> g_session_threads{0};
std::atomic<std::int64_t> g_grace_waits{0};

std::string prefix(std::uint64_t session) { return "session " + std::to_string(session) + ": "; }

std::string quoted_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += '"';
        out += items[i];
        out += '"';
    }
    return out + "]";
}

}  // namespace

// --- reader loop ----------------------------------------------------------------

std::optional<LinkEnd> read_link(HostState& host, const SessionRecord& record, Socket& socket, PendingBytes& pending,
                                 std::chrono::milliseconds timeout, bool signed_in) {
    ReceiveOutcome got = socket.receive(pending.room(kReadBufferSize), kReadBufferSize, timeout);
    switch (got.kind) {
        case ReceiveOutcome::Kind::Data:
            pending.received(got.size);
            return std::nullopt;
        case ReceiveOutcome::Kind::Closed:
        case ReceiveOutcome::Kind::Shutdown:
            // A stalled writer shuts the link down to end the reading.
            if (record.writer.stalled()) {
                return LinkEnd{LinkLog::Line{"the peer does not read",
                                             "the peer does not read: more than " +
                                                 std::to_string(host.limits.queued_bytes) +
                                                 " bytes wait to be sent; closing"}};
            }
            return LinkEnd{};
        case ReceiveOutcome::Kind::TimedOut:
        case ReceiveOutcome::Kind::Failed:
            break;
    }
    if (!signed_in && got.kind == ReceiveOutcome::Kind::TimedOut) {
        return LinkEnd{LinkLog::Line{"no sign-in in time", "link ended (no sign-in in time)"}};
    }
    return LinkEnd{LinkLog::Line{"link ended (" + got.error + ")", "link ended (" + got.error + ")"}};
}

bool run_session(HostState& host, SessionRecord& record, Socket& socket, PendingBytes& pending,
                 const HandshakeDone& done) {
    const std::string tag = prefix(record.session);
    const SessionTimeouts timeouts = host.timeouts;
    SealingKey receive_key(done.device_to_host_key);
    const std::chrono::milliseconds receive_timeout =
        (record.link_kind == LinkKind::Device && !record.role) ? timeouts.device_in_control : timeouts.other_peer;
    // A link to watch takes only small frames.
    const bool watching = record.role == PeerRole::Watch || record.role == PeerRole::Preview;
    const std::uint32_t bound = watching ? kMaxWatchSealedFrameLength : kMaxSealedFrameLength;
    switch (run_sign_in(host, record, done)) {
        case SignInEnd::GoesOn: break;
        case SignInEnd::Goodbye: return true;
        case SignInEnd::Forgotten: return false;
    }
    const auto ended = [&](const std::string& text) {
        log_line(tag + text);
        return false;
    };
    // How the link ends is one of its key's link lines; what its frames make
    // is diverted again below.
    SessionLines ending(record.log.get(), "link ended", KeyLog::Lines::links);

    // What the peer sent after its last handshake step is read first.
    while (true) {
        while (pending.unconsumed() >= 4) {
            // Oversized frames are refused from their length, before their
            // bytes are gathered.
            const std::uint32_t length = get_u32_be(pending.view().data());
            if (length > bound) {
                return ended("a frame of " + std::to_string(length) + " bytes is larger than any message" +
                             (watching ? " of a link to watch" : "") + "; closing");
            }
            // The frame is read in place: its body stays valid until the next
            // bytes are appended.
            PeekResult cut = peek_frame(pending.view());
            if (std::holds_alternative<NeedMoreBytes>(cut)) break;
            if (auto* error = std::get_if<FrameError>(&cut)) return ended("bad framing (" + error->text() + ")");
            const FrameView frame = std::get<FrameView>(cut);
            pending.consume(frame.consumed);

            if (frame.type != FrameType::Sealed) {
                log_line(tag + "plain " + std::string(frame_type_name(frame.type)) + " after sign-in");
                return false;
            }
            std::optional<Frame> inner = open_frame(receive_key, frame.body);
            if (!inner) {
                log_line(tag + "a sealed frame did not open");
                return false;
            }
            // What the frame makes the host log is the session's, counted
            // past its rate.
            SessionLines lines(record.log.get(), std::string(frame_type_name(inner->type)));
            switch (inner->type) {
                case FrameType::Control:
                    if (inner->body.size() > kMaxControlBody) {
                        log_line(tag + "a control message of " + std::to_string(inner->body.size()) +
                                 " bytes is larger than any message; dropped");
                        break;
                    }
                    if (handle_control_body(host, record, inner->body) == ControlOutcome::Goodbye) return true;
                    break;
                case FrameType::FileData: {
                    if (inner->body.size() < 4) {
                        log_line(tag + "a file piece too short to read");
                        break;
                    }
                    std::uint32_t id = get_u32_be(inner->body.data());
                    handle_file_piece(host, record, id, ByteView(inner->body).subspan(4));
                    break;
                }
                case FrameType::Input: {
                    std::optional<InputEvent> event = decode_input_message(inner->body);
                    if (!event || record.role) break;
                    host.while_in_control(record.session, [&] { host.platform->send_input(std::move(*event)); });
                    break;
                }
                case FrameType::Camera: {
                    const Bytes& body = inner->body;
                    if (body.size() < 12) break;
                    CameraPicture picture;
                    picture.width = get_u16_be(body.data());
                    picture.height = get_u16_be(body.data() + 2);
                    picture.value = get_u64_be(body.data() + 4);
                    picture.bytes.assign(body.begin() + 12, body.end());
                    host.while_in_control(record.session,
                                          [&] { host.platform->push_camera_picture(std::move(picture)); });
                    break;
                }
                default:
                    break;  // Video, Audio, Video2, MicAudio from a peer are dropped
            }
        }
        if (std::optional<LinkEnd> end = read_link(host, record, socket, pending, receive_timeout, true)) {
            if (end->line) log_line(tag + end->line->text);
            return false;
        }
    }
}

// --- sign-in sequence --------------------------------------------------------------

std::vector<std::string> host_features(HostState& host) {
    std::vector<std::string> features = {"pointerPosition", "files",     "screenshots", "openURL",   "wake",
                                         "cursor",          "watch",     "annotate",    "watchLink", "received",
                                         "binaryFiles",     "wakeOthers", "pictureStopped"};
    Platform& platform = *host.platform;
    if (platform.camera_ready()) features.push_back("camera");
    if (platform.supports_menus()) features.push_back("menus");
    if (platform.read_levels()) features.push_back("levels");
    if (host.relay_allowed.load()) features.push_back("relaySessions");
    if (platform.supports_keyboard_layout()) features.push_back("keyboardLayout");
    return features;
}

std::vector<std::string> reach_addresses(const std::vector<IpAddress>& addresses) {
    std::vector<std::string> v4;
    std::vector<std::string> v6;
    auto add = [](std::vector<std::string>& list, std::string text, std::vector<std::string>& other) {
        if (std::find(list.begin(), list.end(), text) != list.end()) return;
        if (std::find(other.begin(), other.end(), text) != other.end()) return;
        list.push_back(std::move(text));
    };
    for (const auto& address : addresses) {
        const auto& b = address.bytes;
        if (address.is_v4()) {
            if (b[0] == 100 && b[1] >= 64 && b[1] <= 127) add(v4, address.to_text(), v6);
        } else if (b[0] == 0xfd && b[1] == 0x7a && b[2] == 0x11 && b[3] == 0x5c && b[4] == 0xa1 && b[5] == 0xe0) {
            add(v6, address.to_text(), v4);
        }
    }
    v4.insert(v4.end(), v6.begin(), v6.end());
    return v4;
}

namespace {

void log_forgotten(const SessionRecord& record) {
    log_line(prefix(record.session) + log_safe_text(record.peer_name) + " was forgotten while it signed in");
}

// The line of who watches now is one of the link's.
void set_watching(HostState& host, SessionRecord& record) {
    SessionLines lines(record.log.get(), "watching", KeyLog::Lines::links);
    host.set_watching();
}

void queue_host_info(HostState& host, const LinkWriter& writer) {
    queue_control_message(writer, control::HostInfo{"1.2", host_features(host)});
}

// A device forgotten or replaced while its picture was taken gets none: the
// forget or the newer link sends it away.
bool sign_in_preview(HostState& host, SessionRecord& record) {
    auto start = std::chrono::steady_clock::now();
    std::optional<Bytes> picture = host.platform->take_preview();
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    Bytes bytes = picture ? std::move(*picture) : Bytes{};
    const std::size_t size = bytes.size();
    // Written out before the main lock is taken: only the queueing is in its hold.
    const std::string preview = encode_control_message(control::Preview{std::move(bytes)});
    const std::string bye = encode_control_message(control::Bye{});
    const LinkStanding standing = host.while_device_link_listed(record.session, [&] {
        if (!preview.empty()) queue_control_bytes(record.writer, preview);
        queue_control_bytes(record.writer, bye);
    });
    if (standing != LinkStanding::Listed) {
        if (standing == LinkStanding::Gone) log_forgotten(record);
        return true;
    }
    log_link_line(record.log.get(), "preview",
                  prefix(record.session) + "preview for " + log_safe_text(record.peer_name) + ": " +
                      std::to_string(size) + " bytes in " + std::to_string(elapsed.count()) + " ms");
    return true;
}

// Answers true when the link is done: its watch link was ended meanwhile.
bool sign_in_browser(HostState& host, SessionRecord& record) {
    if (host.hooks.before_browser_joins) host.hooks.before_browser_joins();
    // The platform is asked before the viewers' lock is taken: it may wait.
    control::HostInfo info{"1.2", host_features(host)};
    std::optional<WebViewer> replaced;
    {
        auto lock = host.lock_web_viewers();
        // The links may have been ended since the proof was redeemed; a
        // browser joins the viewers only while its link is still held.
        if (!host.reach->holds_watch_link(record.watch_link_id)) {
            lock.unlock();
            log_line(prefix(record.session) + "a browser came after the watch links were ended");
            queue_control_message(record.writer, control::Bye{});
            return true;
        }
        auto& viewers = host.web_viewers();
        auto found = std::find_if(viewers.begin(), viewers.end(),
                                  [&](const WebViewer& v) { return v.watch_link_id == record.watch_link_id; });
        if (found != viewers.end()) {
            replaced = std::move(*found);
            viewers.erase(found);
        }
        viewers.push_back(WebViewer{record.watch_link_id, record.session, record.writer});
    }
    log_link_line(record.log.get(), "watching",
                  prefix(record.session) + log_safe_text(record.peer_name) + " is watching through a watch link");
    queue_control_message(record.writer, std::move(info));
    if (replaced && replaced->session != record.session) {
        queue_control_message(replaced->writer, control::Bye{});
        replaced->writer.send(WriterItem::close());
    }
    add_stream_watcher(*host.watchers, record.writer, record.session, record.peer_name, true);
    set_watching(host, record);
    host.update_session_relay_state();
    return false;
}

// Answers false when the device was forgotten or replaced since its keys
// went out: the forget or the newer link sends it away, and it neither signs
// in nor watches.
bool sign_in_with_role(HostState& host, SessionRecord& record, const HandshakeDone& done) {
    const bool watch = *record.role == PeerRole::Watch;
    const std::string info = encode_control_message(control::HostInfo{"1.2", host_features(host)});
    WebWatcherRegistry::KeyFrameCallback key_frame;
    // One replaced by a newer link was sent away by it, and its line written there.
    const LinkStanding standing = host.while_device_link_listed(record.session, [&] {
        queue_control_bytes(record.writer, info);
        if (watch) key_frame = list_stream_watcher(*host.watchers, record.writer, record.session, record.peer_name, false);
    });
    if (standing != LinkStanding::Listed) {
        if (standing == LinkStanding::Gone) log_forgotten(record);
        return false;
    }
    log_link_line(record.log.get(), "signed in",
                  prefix(record.session) + log_safe_text(done.device_name) + " (" + log_safe_text(done.device_model) +
                      ") signed in to " + (watch ? "watch" : "send"));
    if (!watch) return true;
    if (key_frame) key_frame();
    set_watching(host, record);
    std::vector<InkEvent> strokes;
    {
        std::lock_guard<std::mutex> lock(host.ink_mutex);
        strokes = strokes_to_annotate_items(host.ink);
    }
    for (auto& stroke : strokes) queue_control_message(record.writer, control::Annotate{std::move(stroke)});
    return true;
}

// Answers false when the device was forgotten since its link was admitted:
// the forget sends the link away, and the device is neither recorded nor
// put in control.
bool sign_in_device(HostState& host, SessionRecord& record, const HandshakeDone& done) {
    // The whole sequence takes its turn: an older session's end waits for it
    // (and then finds itself replaced) or runs whole before it.
    const std::string tag = prefix(record.session);
    auto turn = host.control_turn_while_listed(record.session);
    if (!turn) {
        // A replaced link was sent away by the newer one; a forgotten one by the forget.
        if (host.device_link_standing(record.session) == LinkStanding::Gone) {
            log_forgotten(record);
        }
        return false;
    }
    Platform& platform = *host.platform;
    const std::string key_text = device_key_text(done.device_id_key);
    const std::string notice =
        host.texts->translate_with(done.paired ? "event.paired" : "event.signed_in", {{"name", done.device_name}});

    std::optional<CurrentSession> older;
    std::uint64_t older_number = 0;
    {
        auto lock = host.lock_main();
        auto& main = host.main();
        const auto& links = main.device_links;
        auto listed =
            std::find_if(links.begin(), links.end(), [&](const DeviceLink& l) { return l.session == record.session; });
        if (listed == links.end()) {
            lock.unlock();
            log_forgotten(record);
            return false;
        }
        if (listed->replaced) return false;
        // The newest link of a device wins: one that got the turn after a
        // newer link of the device, or before it, gives way to it.
        std::uint64_t newer = 0;
        for (const DeviceLink& l : links) {
            if (!l.replaced && !l.role && l.device_key == done.device_id_key) newer = std::max(newer, l.session);
        }
        if (newer > record.session) {
            lock.unlock();
            log_link_line(record.log.get(), "replaced by", tag + "replaced by session " + std::to_string(newer));
            queue_control_message(record.writer, control::Bye{});
            return false;
        }
        main.pairing.reset_wrong_codes();
        const std::int64_t now = host.unix_now();
        record_sign_in(main.trusted_devices, key_text, done.device_name, done.device_model, now);
        (void)save_trusted_devices(host.data_dir, main.trusted_devices);
        main.device_name = done.device_name;
        main.status_text.reset();
        main.notice = notice;
        main.watchers_only_stream = false;
        main.picture_stopped = false;
        if (main.current_session) {
            older = std::move(main.current_session);
            older_number = main.in_control;
        }
        main.current_session = CurrentSession{record.writer, done.device_id_key, 255};
        main.capabilities.clear();
        main.keyboard_nudge.reset();
        main.in_control = record.session;
    }
    host.device_sign_ins.fetch_add(1);
    // A pairing is rare, and always told.
    const std::string signed_in = tag + (done.paired ? "paired with " : "signed in: ") +
                                  log_safe_text(done.device_name) + " (" + log_safe_text(done.device_model) + ")";
    log_link_line(done.paired ? nullptr : record.log.get(), "signed in", signed_in);
    if (done.paired) {
        host.close_pairing();
        host.reach->update_relay_registration(host);
    }
    if (older && older_number != record.session) {
        log_link_line(record.log.get(), "replaced by",
                      "session " + std::to_string(older_number) + ": replaced by session " +
                          std::to_string(record.session));
        queue_control_message(older->writer, control::Bye{});
        older->writer.send(WriterItem::close());
        platform.stop_stream();
        platform.reset_input();
        (void)platform.set_device_camera(false);
        clear_all_ink(host);
    }
    host.reset_session_options();
    {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        drop_incoming_files(host.transfers);
    }
    host.ledger->clear();
    platform.set_session_active(true);

    const LinkWriter& writer = record.writer;
    MacAddressList macs = platform.mac_addresses();
    if (!macs.mac_addresses.empty()) {
        queue_control_message(writer, control::WakeInfo{macs.mac_addresses, macs.addresses});
    }
    queue_host_info(host, writer);
    queue_control_message(writer, control::Permissions{true, true});
    if (std::optional<Levels> levels = platform.read_levels()) {
        queue_control_message(writer, std::move(*levels));
    }
    if (std::optional<FrontApp> app = platform.front_app_name()) {
        queue_control_message(writer, std::move(*app));
    }
    std::vector<std::string> names;
    std::int64_t browsers = 0;
    {
        auto lock = host.watchers->lock();
        for (const auto& entry : host.watchers->entries) {
            names.push_back(entry.peer_name);
            if (entry.browser) ++browsers;
        }
    }
    if (!names.empty()) queue_control_message(writer, control::Watchers{names});
    std::int64_t links = static_cast<std::int64_t>(host.reach->count_watch_links());
    if (browsers != 0 || links != 0) queue_control_message(writer, control::WebWatchers{browsers, links});

    std::vector<std::string> reach = reach_addresses(platform.local_addresses());
    std::uint16_t port;
    {
        auto lock = host.lock_main();
        port = host.main().listening_port;
    }
    if (!reach.empty() && port != 0) {
        log_link_line(record.log.get(), "reach", tag + "reach " + quoted_list(reach) + " port " + std::to_string(port));
        queue_control_message(writer, control::Reach{reach, port});
    }
    host.update_keep_awake();
    host.notify_state_changed();
    return true;
}

}  // namespace

SignInEnd run_sign_in(HostState& host, SessionRecord& record, const HandshakeDone& done) {
    auto done_if = [](bool link_done) { return link_done ? SignInEnd::Goodbye : SignInEnd::GoesOn; };
    // A device link replaced by a newer one since its keys went out was sent away by it.
    if (record.link_kind == LinkKind::Device && record.role &&
        host.device_link_standing(record.session) == LinkStanding::Replaced) {
        return SignInEnd::Forgotten;
    }
    if (record.role == PeerRole::Preview) return done_if(sign_in_preview(host, record));
    if (record.link_kind == LinkKind::Browser) return done_if(sign_in_browser(host, record));
    if (record.role) return sign_in_with_role(host, record, done) ? SignInEnd::GoesOn : SignInEnd::Forgotten;
    return sign_in_device(host, record, done) ? SignInEnd::GoesOn : SignInEnd::Forgotten;
}

// --- session end -------------------------------------------------------------------

void clear_all_ink(HostState& host) {
    std::vector<std::string> authors;
    {
        std::lock_guard<std::mutex> lock(host.ink_mutex);
        authors = take_ink_authors(host.ink);
    }
    std::sort(authors.begin(), authors.end());
    authors.erase(std::unique(authors.begin(), authors.end()), authors.end());
    host.platform->clear_ink_overlay();
    for (const auto& author : authors) broadcast_control_message(*host.watchers, control::Annotate{ink_clear_event(author)});
}

namespace {

void end_watcher(HostState& host, SessionRecord& record) {
    if (record.link_kind == LinkKind::Browser) {
        std::vector<WebViewer> taken;
        {
            auto lock = host.lock_web_viewers();
            auto& viewers = host.web_viewers();
            for (auto it = viewers.begin(); it != viewers.end();) {
                if (it->watch_link_id == record.watch_link_id && it->session == record.session) {
                    taken.push_back(std::move(*it));
                    it = viewers.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    remove_watcher_entry(*host.watchers, record.session);
    set_watching(host, record);
    bool stop = false;
    // A device signing in meanwhile keeps its stream.
    auto turn = host.lock_control_turn();
    {
        auto lock = host.lock_main();
        auto& main = host.main();
        if (!main.current_session && host.watchers->size() == 0) {
            main.watcher_config.reset();
            stop = std::exchange(main.watchers_only_stream, false);
        }
    }
    if (stop) {
        host.platform->stop_stream();
        clear_stream_info(*host.watchers);
    }
    turn.unlock();
    if (record.link_kind == LinkKind::Browser) host.update_session_relay_state();
}

// Ends the watch links unless the host state is gone, a device is in control
// or one signed in since the count was taken.
void end_watch_links_unless_back(const std::weak_ptr<HostState>& weak, std::uint64_t sign_ins) {
    auto strong = weak.lock();
    if (!strong) return;
    {
        auto lock = strong->lock_main();
        if (strong->main().current_session) return;
    }
    if (strong->device_sign_ins.load() != sign_ins) return;
    strong->reach->end_watch_links(*strong, "the session ended");
}

// The waiter's body. It holds no host-state lock while it waits, and its
// reference to the host state only while it checks, with the wait's lock
// free (the last reference may run the destructor here, which takes it).
void wait_out_web_grace(WebGraceWait& wait, const std::weak_ptr<HostState>& weak) {
    std::unique_lock<std::mutex> lock(wait.mutex);
    while (true) {
        while (!wait.host_gone && WebGraceWait::Clock::now() < wait.deadline) {
            const auto until = wait.deadline;
            wait.changed.wait_until(lock, until);
        }
        if (wait.host_gone) break;
        const std::uint64_t sign_ins = wait.sign_ins;
        const std::uint64_t ends = wait.ends;
        lock.unlock();
        end_watch_links_unless_back(weak, sign_ins);
        lock.lock();
        // An end during the check found the waiter running and set a later
        // deadline: wait for that one too. With none, leave under the lock,
        // so that the next end sees no waiter and starts its own.
        if (wait.ends == ends) break;
    }
    wait.waiter_runs = false;
}

void start_web_grace_thread(HostState& host) {
    // The turn is held: no sign-in raises the count before the wait has it.
    const std::uint64_t sign_ins = host.device_sign_ins.load();
    const auto grace = host.web_grace();
    std::shared_ptr<WebGraceWait> wait = host.web_grace_wait;
    std::lock_guard<std::mutex> lock(wait->mutex);
    wait->deadline = WebGraceWait::Clock::now() + grace;
    wait->sign_ins = sign_ins;
    ++wait->ends;
    if (wait->waiter_runs) {
        wait->changed.notify_one();  // the grace may have been made shorter
        return;
    }
    try {
        std::thread([wait, weak = host.self_ref()] {
            g_grace_waits.fetch_add(1);
            set_current_thread_name("vorlix-web-grace");
            wait_out_web_grace(*wait, weak);
            g_grace_waits.fetch_sub(1);
        }).detach();
        wait->waiter_runs = true;
    } catch (const std::system_error&) {
        // The browsers stay until they leave by themselves.
    }
}

void end_device(HostState& host, SessionRecord& record) {
    // A link that never took control, or was replaced, has nothing to undo
    // and never can: it ends without waiting for the turn.
    {
        auto lock = host.lock_main();
        if (!host.main().current_session || host.main().in_control != record.session) return;
    }
    // Every step runs in the turn: a sign-in of the same device on a new link
    // waits until the old session is undone, and never the other way round.
    auto turn = host.lock_control_turn();
    {
        auto lock = host.lock_main();
        auto& main = host.main();
        if (!main.current_session || main.in_control != record.session) return;
        main.current_session.reset();
        main.keyboard_nudge.reset();
        main.capabilities.clear();
        main.device_name.reset();
        main.status_text.reset();
        main.picture_stopped = false;
    }
    Platform& platform = *host.platform;
    platform.stop_stream();
    platform.reset_input();
    (void)platform.set_device_camera(false);
    platform.set_session_active(false);
    clear_all_ink(host);
    host.reset_session_options();
    {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        drop_incoming_files(host.transfers);
    }
    clear_stream_info(*host.watchers);
    host.start_session_stream();
    host.update_keep_awake();
    host.notify_state_changed();
    // The session's watch links end with it unless a device signs in within
    // the grace, whether or not a browser watches now.
    start_web_grace_thread(host);
}

}  // namespace

void run_session_thread(std::shared_ptr<HostState> host, std::uint64_t session, Socket socket, LinkWriter writer,
                        std::unique_ptr<LinkHandshake> handshake) {
    g_session_threads.fetch_add(1);
    host->enter_session_thread();
    const std::string tag = prefix(session);
    if (host->closing_for_update.load()) {
        if (std::optional<std::string> connection = host->unsigned_links.release(session)) log_line(*connection);
        log_line(tag + "turned away, VorLix is restarting for an update");
        writer.send(WriterItem::close());
        socket.shutdown_both();
    } else {
        SessionRecord record;
        record.session = session;
        record.writer = writer;
        PendingBytes pending;
        const std::optional<HandshakeDone> done = run_before_sign_in(*host, record, socket, *handshake, pending);
        const bool signed_in = done.has_value();
        const bool goodbye = signed_in && run_session(*host, record, socket, pending, *done);
        // A link that never signed in gives its place back at once, and has
        // nothing in the host state to undo: it never waits for the turn.
        // Its lines go to the link log, where a flood of them is counted.
        if (!signed_in) {
            std::vector<LinkLog::Line> lines;
            if (std::optional<std::string> connection = host->unsigned_links.release(session)) {
                lines.push_back({"connection", std::move(*connection)});
            }
            // A link closed to make room had its connection line noted by the
            // link it made room for; how it ended (a failed handshake, during
            // its pause) is noted here all the same.
            if (record.end_before_sign_in) lines.push_back(std::move(*record.end_before_sign_in));
            if (!lines.empty() && record.marked_key) {
                host->link_log.note_marked(std::move(lines), host->limits.link_log_every, *record.marked_key);
            } else if (!lines.empty()) {
                host->link_log.note(std::move(lines), host->limits.link_log_every);
            }
        }
        handshake.reset();
        close_and_wait_for_writer(writer, host->timeouts.writer_wait);
        socket.shutdown_both();
        if (signed_in) {
            // What the link's lines left counted comes before its end.
            const std::string closed = tag + "closed" + (goodbye ? " (the device said goodbye)" : "");
            if (record.log) {
                record.log->key().write_end("closed", closed);
            } else {
                log_line(closed);
            }
        }
        if (record.role == PeerRole::Watch) {
            end_watcher(*host, record);
        } else if (!record.role && signed_in) {
            end_device(*host, record);
        } else if (record.incoming_files) {
            drop_link_files(*record.incoming_files);
        }
        host->remove_device_link(session);
        record.log.reset();
    }
    host->release_session_activity();
    writer = LinkWriter();
    socket.close();
    host.reset();
    g_session_threads.fetch_sub(1);
}

std::int64_t running_session_threads() { return g_session_threads.load(); }

std::int64_t running_grace_waits() { return g_grace_waits.load(); }

}  // namespace vorlix
