#include "host/dispatcher.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <thread>

#include "files/file_send.h"
#include "host/host_state.h"
#include "host/log.h"
#include "host/session.h"
#include "host/session_log.h"
#include "host/text_checks.h"
#include "json/base64.h"
#include "pictures/pictures.h"
#include "reach/wake_targets.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxClipboardPicture = 29'999'999;
constexpr auto kKeyframeRequestInterval = std::chrono::seconds(1);
constexpr auto kWakeInterval = std::chrono::seconds(5);
constexpr auto kKeyboardPoll = std::chrono::seconds(1);
constexpr auto kKeyboardFastPoll = std::chrono::milliseconds(150);
constexpr int kKeyboardFastPolls = 5;

std::string prefix(std::uint64_t session) { return "session " + std::to_string(session) + ": "; }

void queue(const LinkWriter& writer, const ControlMessage& message) { queue_control_message(writer, message); }

void queue_notice(const LinkWriter& writer, std::string text) { queue(writer, control::Notice{std::move(text)}); }

std::string quoted_list(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i) out += ", ";
        out += '"' + texts[i] + '"';
    }
    return out + "]";
}

// The messages only the host sends; a device that sends one is logged.
bool is_host_to_device(const ControlMessage& message) {
    return std::visit(
        [](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            return std::is_same_v<T, control::HostInfo> || std::is_same_v<T, control::Pointer> ||
                   std::is_same_v<T, control::StreamInfo> || std::is_same_v<T, control::FrontApp> ||
                   std::is_same_v<T, control::TextFocus> || std::is_same_v<T, control::Pong> ||
                   std::is_same_v<T, control::Permissions> || std::is_same_v<T, control::Notice> ||
                   std::is_same_v<T, control::WakeInfo> || std::is_same_v<T, control::Watchers> ||
                   std::is_same_v<T, control::WatchLink> || std::is_same_v<T, control::WebWatchers> ||
                   std::is_same_v<T, control::FileOffer> || std::is_same_v<T, control::CameraState> ||
                   std::is_same_v<T, control::CursorShape> || std::is_same_v<T, control::Preview> ||
                   std::is_same_v<T, control::MenuCommands> || std::is_same_v<T, control::Levels> ||
                   std::is_same_v<T, control::WakeOtherDone> || std::is_same_v<T, control::Reach> ||
                   std::is_same_v<T, control::PictureStopped> || std::is_same_v<T, control::PictureResumed> ||
                   std::is_same_v<T, control::KeyboardLayout> || std::is_same_v<T, control::Bye>;
        },
        static_cast<const control::Variant&>(message));
}

// Starts a detached thread; false (with the error text) when it cannot start.
template <typename F>
bool start_detached(F body, std::string& error) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error& e) {
        error = e.what();
        return false;
    }
}

// A place among a link's senders of one kind: nothing when they are all
// taken, else a token that frees the place when the sender lets it go. The
// sender holds `turn` while it sends.
std::shared_ptr<SenderTurns> claim_sender(const std::shared_ptr<SenderTurns>& turns) {
    if (turns->senders.fetch_add(1) >= SenderTurns::kMaxSenders) {
        turns->senders.fetch_sub(1);
        return nullptr;
    }
    return std::shared_ptr<SenderTurns>(turns.get(), [turns](SenderTurns*) { turns->senders.fetch_sub(1); });
}

// --- the link's tests ----------------------------------------------------------

struct Standing {
    bool in_control = false;
    bool may_act = false;
    bool send_role = false;
    bool watch_role = false;
};

Standing standing_of(HostState& host, const SessionRecord& record) {
    Standing s;
    s.send_role = record.role == PeerRole::Send;
    s.watch_role = record.role == PeerRole::Watch;
    s.in_control = !record.role && host.is_current_session(record.session);
    s.may_act = s.send_role || s.in_control;
    return s;
}

// A watching link's key frames cost the picture of the device in control: one
// request a second is honoured, the rest ignored.
bool take_keyframe_turn(SessionRecord& record) {
    const auto now = Clock::now();
    if (record.last_keyframe_request &&
        (now < *record.last_keyframe_request || now - *record.last_keyframe_request < kKeyframeRequestInterval)) {
        return false;
    }
    record.last_keyframe_request = now;
    return true;
}

// --- browser links ---------------------------------------------------------------

void handle_browser_message(HostState& host, SessionRecord& record, const ControlMessage& message) {
    if (auto* configure = std::get_if<control::Configure>(&message)) {
        log_line(prefix(record.session) + "browser can show " + log_safe_text(configure->config.codec));
    } else if (std::holds_alternative<control::RequestKeyframe>(message)) {
        if (take_keyframe_turn(record)) host.platform->request_keyframe();
    } else if (auto* audio = std::get_if<control::SetAudio>(&message)) {
        auto lock = host.watchers->lock();
        for (auto& entry : host.watchers->entries) {
            if (entry.session == record.session && entry.browser) entry.sound = audio->on;
        }
    } else if (auto* ping = std::get_if<control::Ping>(&message)) {
        queue(record.writer, control::Pong{ping->value});
    } else {
        log_line(prefix(record.session) + "a browser may not send " + log_safe_text(control_type_name(message)));
    }
}

// --- files -------------------------------------------------------------------

// Runs `work` on a send link's table with the count of its key held, and
// brings the count up to date with the files the table holds open after it.
template <typename F>
void with_key_count(LinkFiles& files, F work) {
    std::lock_guard<std::mutex> lock(files.key->mutex);
    work(files.transfers, files.key->open - files.counted);
    files.key->open = files.key->open - files.counted + files.transfers.incoming.open.size();
    files.counted = files.transfers.incoming.open.size();
}

// Runs `work` on the table this link's file messages use, with the number of
// files its key holds open on other tables: a send link's own, or the host's
// under the transfer lock for the session in control.
template <typename F>
void with_file_table(HostState& host, SessionRecord& record, const Standing& standing, F work) {
    if (standing.send_role) {
        if (!record.incoming_files) {
            record.incoming_files = std::make_shared<LinkFiles>();
            record.incoming_files->key = host.files_of_key(record.device_key);
            // Files of one name from send links go on numbering where the host's left off.
            std::lock_guard<std::mutex> lock(host.transfer_mutex);
            record.incoming_files->transfers.numbers = host.transfers.numbers;
        }
        with_key_count(*record.incoming_files, work);
    } else if (standing.in_control) {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        work(host.transfers, std::size_t{0});
    }
}

void finish_file(HostState& host, SessionRecord& record, const Standing& standing, std::uint64_t id, bool ok) {
    if (!standing.send_role && !standing.in_control) return;
    IncomingOutcome outcome;
    with_file_table(host, record, standing,
                    [&](FileTransfers& table, std::size_t) { outcome = finish_incoming_file(table, id, ok); });
    switch (outcome.kind) {
        case IncomingOutcome::Kind::none:
            break;
        case IncomingOutcome::Kind::incomplete:
            queue_notice(record.writer, "The file did not arrive whole. Try again.");
            break;
        case IncomingOutcome::Kind::saved:
            // Where a device's files went is told past its other lines.
            log_file_line(record.log.get(), "saved", full_path_text(outcome.path.parent_path()),
                          file_name_text(outcome.path), prefix(record.session) + "saved " + full_path_text(outcome.path));
            queue_notice(record.writer, "Saved to Downloads: " + file_name_text(outcome.path));
            host.platform->reveal_file(outcome.path);
            break;
    }
}

void send_offered_file(HostState& host, SessionRecord& record, std::uint64_t id) {
    std::optional<std::filesystem::path> path;
    std::shared_ptr<FileSystem> files;
    {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        path = find_offered_file(host.transfers, id);
        files = host.transfers.files;
    }
    if (!path) return;
    std::shared_ptr<SenderTurns> place = claim_sender(record.file_senders);
    if (!place) {
        log_line(prefix(record.session) + "files are still being sent; one more request ignored");
        return;
    }
    const bool binary = host.device_takes_binary_files();
    log_line(prefix(record.session) + "sending " + full_path_text(*path));
    std::string ignored;
    start_detached(
        [writer = record.writer, id, path = *path, binary, files, place] {
            set_current_thread_name("vorlix-file-out");
            std::lock_guard turn(place->turn);
            send_file(writer, id, path, "keep", binary, *files);
        },
        ignored);
}

void send_screenshot(HostState& host, SessionRecord& record) {
    std::shared_ptr<SenderTurns> place = claim_sender(record.screenshot_senders);
    if (!place) {
        log_line(prefix(record.session) + "screenshots are still being sent; one more request ignored");
        return;
    }
    std::uint64_t id;
    {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        id = take_transfer_id(host.transfers);
    }
    const bool binary = host.device_takes_binary_files();
    std::weak_ptr<HostState> weak = host.self_ref();
    std::string ignored;
    start_detached(
        [writer = record.writer, platform = host.platform, id, binary, weak, place, names = record.screenshot_names] {
            set_current_thread_name("vorlix-screenshot");
            RequestLines lines("requestScreenshot");
            std::lock_guard turn(place->turn);
            std::optional<Bytes> picture = platform->take_screenshot();
            if (!picture) {
                queue_notice(writer, "Could not take the screenshot.");
                return;
            }
            // Named after the moment it was taken, which may be later than the
            // request when an earlier screenshot was still being sent.
            std::int64_t now;
            {
                const std::shared_ptr<HostState> alive = weak.lock();
                if (!alive) return;  // the host is shutting down
                now = alive->unix_now();
            }
            const std::string name = names->next(now);
            log_line("screenshot for the device: " + std::to_string(picture->size()) + " bytes");
            send_bytes_as_file(writer, id, name, *picture, "screenshot", binary);
        },
        ignored);
}

// --- waking another computer --------------------------------------------------

void wake_other(HostState& host, SessionRecord& record, const control::WakeOther& request) {
    const std::string tag = prefix(record.session);
    // The guard is the key's: every link of one device shares it. The instant
    // is taken under the lock, so that the guard's instants only grow.
    bool again;
    {
        auto lock = host.lock_main();
        const auto now = Clock::now();
        auto& wakes = host.main().last_wakes;
        std::erase_if(wakes, [&](const auto& w) { return now < w.second || now - w.second >= kWakeInterval; });
        again = !wakes.emplace(record.device_key, now).second;
    }
    if (again) {
        log_line(tag + "wakeOther again within 5 s: ignored");
        return;
    }
    const auto& macs = request.mac_addresses;
    const auto& addresses = request.addresses;
    WakeTargets targets = collect_wake_targets(macs, addresses);
    log_line(tag + "wake another computer: " + std::to_string(targets.mac_addresses.size()) + " network card(s), " +
             std::to_string(targets.addresses.size()) + " address(es) (" + std::to_string(macs.size()) + " and " +
             std::to_string(addresses.size()) + " given)");
    if (targets.mac_addresses.empty()) {
        queue(record.writer, control::WakeOtherDone{false});
        return;
    }
    std::string error;
    if (!start_detached(
            [writer = record.writer, platform = host.platform, targets = std::move(targets)] {
                set_current_thread_name("vorlix-wake");
                const bool ok = platform->send_wake_packets(targets);
                queue(writer, control::WakeOtherDone{ok});
            },
            error)) {
        log_line(tag + "could not start waking: " + error);
        queue(record.writer, control::WakeOtherDone{false});
    }
}

// --- the keyboard-layout watch ---------------------------------------------------

void run_keyboard_watch(Receiver<KeyboardNudge> nudges, std::shared_ptr<HostState> host, std::uint64_t session) {
    std::optional<KeyboardLayout> last_sent;
    int fast_polls = 0;
    while (true) {
        std::optional<LinkWriter> writer;
        {
            auto lock = host->lock_main();
            auto& main = host->main();
            if (main.current_session && main.in_control == session) writer = main.current_session->writer;
        }
        if (!writer || !writer->running()) return;
        if (auto layout = host->platform->keyboard_layout()) {
            const bool same = last_sent && last_sent->name == layout->name && last_sent->language == layout->language &&
                              last_sent->method == layout->method && last_sent->keys == layout->keys;
            if (!same) {
                log_line(prefix(session) + "keyboard " + layout->name +
                         (layout->language ? " (" + *layout->language + ")" : std::string()) +
                         (layout->method ? ", " + *layout->method : std::string()) + ", " +
                         std::to_string(layout->keys.size()) + " keys");
                queue(*writer, keyboard_layout_message(*layout));
                last_sent = std::move(layout);
            }
        }
        writer.reset();
        const auto wait = fast_polls > 0 ? std::chrono::milliseconds(kKeyboardFastPoll)
                                         : std::chrono::milliseconds(kKeyboardPoll);
        if (fast_polls > 0) --fast_polls;
        const auto started = Clock::now();
        if (nudges.receive_for(wait)) {
            fast_polls = kKeyboardFastPolls;
        } else if (Clock::now() - started < wait) {
            return;  // woken early without a nudge: the host dropped the sending end
        }
    }
}

}  // namespace

// --- public ------------------------------------------------------------------------

control::KeyboardLayout keyboard_layout_message(const KeyboardLayout& layout) {
    control::KeyboardLayout message{layout.name, layout.language, layout.method, {}};
    for (const auto& [code, texts] : layout.keys) message.keys[std::to_string(code)] = {texts.first, texts.second};
    return message;
}

void start_keyboard_layout_watch(HostState& host, std::uint64_t session) {
    std::shared_ptr<HostState> strong = host.self_ref().lock();
    if (!strong) return;
    auto [sender, receiver] = make_channel<KeyboardNudge>();
    {
        auto lock = host.lock_main();
        auto& main = host.main();
        if (!main.current_session || main.in_control != session || main.keyboard_nudge) return;
        main.keyboard_nudge = std::move(sender);
    }
    std::string error;
    if (!start_detached(
            [receiver = std::move(receiver), strong = std::move(strong), session]() mutable {
                set_current_thread_name("vorlix-keyboard");
                run_keyboard_watch(std::move(receiver), std::move(strong), session);
            },
            error)) {
        log_line(prefix(session) + "could not watch the keyboard: " + error);
    }
}

void apply_annotation(HostState& host, const SessionRecord& record, InkEvent event) {
    event.author = record.peer_name;
    const double now = std::chrono::duration<double>(Clock::now() - host.started_at).count();
    // The overlay and the watchers get the points as the drawing keeps them,
    // never more than a stroke can hold.
    std::vector<double> kept;
    {
        std::lock_guard<std::mutex> lock(host.ink_mutex);
        apply_ink_event(host.ink, event, now, &kept);
        expire_laser_strokes(host.ink, now);
    }
    event.points = std::move(kept);
    host.platform->send_ink_event(event);
    broadcast_control_message(*host.watchers, control::Annotate{std::move(event)});
}

void drop_link_files(LinkFiles& files) {
    if (!files.key) {
        drop_incoming_files(files.transfers);
        return;
    }
    with_key_count(files, [](FileTransfers& table, std::size_t) { drop_incoming_files(table); });
}

ControlOutcome handle_control_body(HostState& host, SessionRecord& record, ByteView body) {
    bool too_large = false;
    std::optional<ControlMessage> message = parse_control_message(body, &too_large);
    if (too_large) {
        log_line(prefix(record.session) + "a control message of more than " + std::to_string(kMaxJsonValues) +
                 " values refused");
    }
    if (!message) return ControlOutcome::Continue;
    if (std::holds_alternative<control::Bye>(*message)) return ControlOutcome::Goodbye;
    handle_control_message(host, record, std::move(*message));
    return ControlOutcome::Continue;
}

void handle_file_piece(HostState& host, SessionRecord& record, std::uint32_t id, ByteView data) {
    if (record.link_kind == LinkKind::Browser) {
        log_line(prefix(record.session) + "a browser may not send fileChunk");
        return;
    }
    const Standing standing = standing_of(host, record);
    with_file_table(host, record, standing,
                    [&](FileTransfers& table, std::size_t) { write_incoming_chunk(table, id, data); });
}

void handle_control_message(HostState& host, SessionRecord& record, ControlMessage message) {
    // Its lines are counted under its name; an unknown name is the peer's.
    SessionLines lines(record.log.get(), std::holds_alternative<control::Unrecognized>(message)
                                             ? std::string("an unknown message")
                                             : control_type_name(message));
    if (record.link_kind == LinkKind::Browser) {
        handle_browser_message(host, record, message);
        return;
    }
    const std::string tag = prefix(record.session);
    Platform& platform = *host.platform;
    if (auto* unknown = std::get_if<control::Unrecognized>(&message)) {
        log_line(tag + log_safe_text(unknown->name) + " is not handled on Windows");
        return;
    }
    if (is_host_to_device(message)) {
        log_line(tag + "unexpected " + control_type_name(message));
        return;
    }
    const Standing standing = standing_of(host, record);

    if (auto* configure = std::get_if<control::Configure>(&message)) {
        const StreamConfig& config = configure->config;
        if (standing.watch_role) {
            log_line(tag + "watcher asks for " + std::to_string(config.points_wide) + "x" +
                     std::to_string(config.points_high) + " pt, " + std::to_string(config.fps) + " fps");
            {
                auto lock = host.lock_main();
                host.main().watcher_config = config;
            }
            host.start_session_stream();
        } else if (standing.in_control) {
            log_line(tag + "configure #" + std::to_string(configure->generation) + ": " +
                     std::to_string(config.points_wide) + "x" + std::to_string(config.points_high) + " pt, " +
                     std::to_string(config.fps) + " fps, " + log_safe_text(config.codec) + " " +
                     log_safe_text(config.source) + ", audio " +
                     (config.audio ? "true" : "false") + ", max " +
                     (config.max_bitrate ? "Some(" + std::to_string(*config.max_bitrate) + ")" : std::string("None")));
            {
                auto lock = host.lock_main();
                host.main().watchers_only_stream = false;
            }
            platform.start_stream(config, configure->generation,
                                  make_stream_output(host, record.writer, record.session));
        }
    } else if (std::holds_alternative<control::RequestKeyframe>(message)) {
        if (standing.in_control || (standing.watch_role && take_keyframe_turn(record))) platform.request_keyframe();
    } else if (auto* audio = std::get_if<control::SetAudio>(&message)) {
        if (standing.in_control) platform.set_stream_audio(audio->on);
    } else if (auto* ping = std::get_if<control::Ping>(&message)) {
        queue(record.writer, control::Pong{ping->value});
    } else if (auto* received = std::get_if<control::Received>(&message)) {
        if (standing.in_control) host.ledger->acknowledge_frames(received->capture_micros, Clock::now());
    } else if (auto* options = std::get_if<control::Options>(&message)) {
        if (standing.in_control) host.apply_session_options(read_session_options(options->value));
    } else if (auto* info = std::get_if<control::DeviceInfo>(&message)) {
        log_line(tag + "device app " + log_safe_text(info->version) + ", features " +
                 log_safe_text(quoted_list(info->features)));
        if (!standing.in_control) return;
        {
            auto lock = host.lock_main();
            if (host.main().current_session) host.main().capabilities = info->features;
        }
        const bool wants_layout =
            std::find(info->features.begin(), info->features.end(), "keyboardLayout") != info->features.end();
        if (wants_layout && platform.supports_keyboard_layout()) start_keyboard_layout_watch(host, record.session);
    } else if (auto* level = std::get_if<control::SetLevel>(&message)) {
        if (!standing.in_control || !std::isfinite(level->value)) return;
        char shown[64];
        std::snprintf(shown, sizeof shown, "%.2f", level->value);
        log_line(tag + log_safe_text(level->kind) + " to " + shown);
        platform.set_level(level->kind, std::clamp(level->value, 0.0, 1.0));
    } else if (auto* open = std::get_if<control::OpenUrl>(&message)) {
        if (!standing.may_act) return;
        if (!is_openable_link(open->url)) {
            log_line(tag + "not opening a link of that kind");
            return;
        }
        const bool opened = platform.open_url(open->url);
        log_line(tag + "opened a link" + (opened ? std::string() : std::string(" (Windows refused)")));
        // Only a link that did open is reported as opened.
        if (opened) queue_notice(record.writer, "Opened on " + host.host_name);
    } else if (auto* request = std::get_if<control::FileRequest>(&message)) {
        if (standing.in_control) send_offered_file(host, record, static_cast<std::uint64_t>(request->id));
    } else if (std::holds_alternative<control::RequestScreenshot>(message)) {
        if (standing.in_control) send_screenshot(host, record);
    } else if (auto* camera = std::get_if<control::Camera>(&message)) {
        if (!host.is_current_session(record.session)) return;
        queue(record.writer, platform.set_device_camera(camera->on));
    } else if (auto* menu = std::get_if<control::PerformMenu>(&message)) {
        if (!standing.in_control) return;
        log_line(tag + "menu command " + std::to_string(menu->id));
        platform.perform_menu(static_cast<std::uint64_t>(menu->id));
    } else if (auto* wake = std::get_if<control::WakeOther>(&message)) {
        if (standing.may_act) wake_other(host, record, *wake);
    } else if (auto* annotate = std::get_if<control::Annotate>(&message)) {
        if (standing.in_control) apply_annotation(host, record, std::move(annotate->event));
    } else if (std::holds_alternative<control::RequestWatchLink>(message)) {
        if (!standing.in_control) return;
        // A watch link is carried by the relay: with relay use turned off
        // nothing is made and the relay is not reached.
        if (!host.relay_allowed.load()) {
            queue_notice(record.writer, "Watch links need the relay, which is turned off on this PC.");
            return;
        }
        std::optional<std::string> url = host.reach->open_watch_link(host);
        if (!url) {
            queue_notice(record.writer, "Too many watch links are waiting to be opened. Stop them and try again.");
            return;
        }
        log_line(tag + "a new watch link");
        queue(record.writer, control::WatchLink{*url, 30});
        host.update_session_relay_state();
    } else if (std::holds_alternative<control::StopWebWatchers>(message)) {
        if (standing.in_control) host.reach->end_watch_links(host, "stopped by the device in control");
    } else if (std::holds_alternative<control::NextInputSource>(message)) {
        if (!standing.in_control || !platform.supports_keyboard_layout()) return;
        log_line(tag + "next input language");
        platform.next_input_language();
        auto lock = host.lock_main();
        auto& main = host.main();
        if (main.current_session && main.keyboard_nudge) main.keyboard_nudge->send(KeyboardNudge{});
    } else if (auto* text = std::get_if<control::Clipboard>(&message)) {
        if (standing.may_act) platform.set_clipboard_text(std::move(text->text));
    } else if (auto* picture = std::get_if<control::ClipboardImage>(&message)) {
        if (!standing.may_act || picture->png.size() > kMaxClipboardPicture) return;
        log_line(tag + "a picture for the clipboard (" + std::to_string(picture->png.size()) + " bytes)");
        platform.set_clipboard_picture(std::move(picture->png));
    } else if (auto* start = std::get_if<control::FileStart>(&message)) {
        if (!standing.send_role && !standing.in_control) return;
        const std::filesystem::path folder = platform.downloads_dir();
        // A negative size can never be met: it is refused like one too large.
        const std::uint64_t announced =
            start->size < 0 ? kMaxTransferFileSize + 1 : static_cast<std::uint64_t>(start->size);
        FileLines lines(record.log.get(), full_path_text(folder), log_safe_text(start->name));
        with_file_table(host, record, standing, [&](FileTransfers& table, std::size_t elsewhere) {
            begin_incoming_file(table, folder, static_cast<std::uint64_t>(start->id), start->name, announced, elsewhere);
        });
    } else if (auto* chunk = std::get_if<control::FileChunk>(&message)) {
        with_file_table(host, record, standing, [&](FileTransfers& table, std::size_t) {
            write_incoming_chunk(table, static_cast<std::uint64_t>(chunk->id), chunk->data);
        });
    } else if (auto* end = std::get_if<control::FileEnd>(&message)) {
        finish_file(host, record, standing, static_cast<std::uint64_t>(end->id), end->ok);
    }
}

}  // namespace vorlix
