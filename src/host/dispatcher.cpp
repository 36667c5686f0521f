#include "host/dispatcher.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <thread>

#include "crash/crash_log.h"
#include "files/file_send.h"
#include "host/host_state.h"
#include "host/log.h"
#include "host/outgoing.h"
#include "host/session.h"
#include "host/text_checks.h"
#include "json/base64.h"
#include "reach/wake_targets.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxClipboardPicture = 29'999'999;
constexpr auto kBrowserKeyframeInterval = std::chrono::seconds(1);
constexpr auto kWakeInterval = std::chrono::seconds(5);
constexpr auto kKeyboardPoll = std::chrono::seconds(1);
constexpr auto kKeyboardFastPoll = std::chrono::milliseconds(150);
constexpr int kKeyboardFastPolls = 5;

std::string prefix(std::uint64_t session) { return "session " + std::to_string(session) + ": "; }

std::string message(const char* name, Json fields) {
    Json outer = Json::object();
    outer[name] = std::move(fields);
    auto text = write_compact(outer);
    return text.ok() ? std::move(text).value() : std::string();
}

void queue(const LinkWriter& writer, const std::string& json) {
    if (!json.empty()) queue_control_bytes(writer, json);
}

std::string notice_message(const std::string& text) { return message("notice", Json{{"_0", text}}); }

std::string wake_done_message(bool ok) { return message("wakeOtherDone", Json{{"ok", ok}}); }

std::string quoted_list(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i) out += ", ";
        out += '"' + texts[i] + '"';
    }
    return out + "]";
}

// Reading the fields of a message, by the rule of each field's type.
class Fields {
public:
    explicit Fields(const Json& fields) : fields_(fields) {}
    const Json* find(const char* key) const {
        auto it = fields_.find(key);
        return it == fields_.end() ? nullptr : &*it;
    }
    std::optional<std::uint64_t> u64(const char* key) const { return read(key, json_u64); }
    std::optional<std::int64_t> i64(const char* key) const { return read(key, json_i64); }
    std::optional<bool> boolean(const char* key) const { return read(key, json_bool); }
    std::optional<std::string> text(const char* key) const { return read(key, json_string); }
    std::optional<double> f64(const char* key) const { return read(key, json_f64); }
    std::optional<Bytes> bytes(const char* key) const { return read(key, json_base64); }
    std::optional<std::vector<std::string>> strict_list(const char* key) const { return read(key, json_string_array); }
    // Never fails: the string elements of an array, or nothing.
    std::vector<std::string> lenient_list(const char* key) const {
        std::vector<std::string> out;
        const Json* value = find(key);
        if (!value || !value->is_array()) return out;
        for (const Json& element : *value) {
            if (element.is_string()) out.push_back(element.get<std::string>());
        }
        return out;
    }

private:
    template <typename F>
    auto read(const char* key, F reader) const -> decltype(reader(std::declval<const Json&>())) {
        const Json* value = find(key);
        if (!value) return std::nullopt;
        return reader(*value);
    }
    const Json& fields_;
};

bool is_host_to_device(const std::string& name) {
    static const std::array<const char*, 22> names{
        "hostInfo",  "pointer",      "streamInfo",    "frontApp",       "textFocus",       "pong",
        "permissions", "notice",     "wakeInfo",      "watchers",       "watchLink",       "webWatchers",
        "fileOffer", "cameraState",  "cursorShape",   "preview",        "menuCommands",    "levels",
        "wakeOtherDone", "reach",    "pictureStopped", "pictureResumed"};
    if (name == "keyboardLayout") return true;
    for (const char* n : names) {
        if (name == n) return true;
    }
    return false;
}

bool is_device_to_host(const std::string& name) {
    static const std::array<const char*, 24> names{
        "configure",    "requestKeyframe", "setAudio",         "ping",          "received",    "options",
        "deviceInfo",   "setLevel",        "openURL",          "fileRequest",   "requestScreenshot", "camera",
        "performMenu",  "wakeOther",       "annotate",         "requestWatchLink", "stopWebWatchers",
        "nextInputSource", "clipboard",    "clipboardImage",   "fileStart",     "fileChunk",   "fileEnd", "bye"};
    for (const char* n : names) {
        if (name == n) return true;
    }
    return false;
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

// --- browser links ---------------------------------------------------------------

void handle_browser_message(HostState& host, SessionRecord& record, const std::string& name, const Fields& fields) {
    if (name == "configure") {
        const Json* config = fields.find("_0");
        if (!config || !(config->is_object() || config->is_array()) || !fields.i64("generation")) return;
        std::string codec = "hevc";
        if (config->is_object()) {
            auto it = config->find("codec");
            if (it != config->end()) {
                if (!it->is_string()) return;
                codec = it->get<std::string>();
            }
        }
        log_line(prefix(record.session) + "browser can show " + codec);
    } else if (name == "requestKeyframe") {
        const auto now = Clock::now();
        if (record.last_keyframe_request &&
            (now < *record.last_keyframe_request || now - *record.last_keyframe_request < kBrowserKeyframeInterval)) {
            return;
        }
        record.last_keyframe_request = now;
        host.platform->request_keyframe();
    } else if (name == "setAudio") {
        auto on = fields.boolean("_0");
        if (!on) return;
        auto lock = host.watchers->lock();
        for (auto& entry : host.watchers->entries) {
            if (entry.session == record.session && entry.browser) entry.sound = *on;
        }
    } else if (name == "ping") {
        if (auto value = fields.u64("_0")) queue(record.writer, pong_message(*value));
    } else {
        log_line(prefix(record.session) + "a browser may not send " + name);
    }
}

// --- files -------------------------------------------------------------------

// Runs `work` on the table this link's file messages use: a send link's own,
// or the host's under the transfer lock for the session in control.
template <typename F>
void with_file_table(HostState& host, SessionRecord& record, const Standing& standing, F work) {
    if (standing.send_role) {
        if (!record.incoming_files) record.incoming_files = std::make_shared<LinkFiles>();
        work(record.incoming_files->transfers);
    } else if (standing.in_control) {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        work(host.transfers);
    }
}

void finish_file(HostState& host, SessionRecord& record, const Standing& standing, std::uint64_t id, bool ok) {
    if (!standing.send_role && !standing.in_control) return;
    IncomingOutcome outcome;
    with_file_table(host, record, standing,
                    [&](FileTransfers& table) { outcome = finish_incoming_file(table, id, ok); });
    switch (outcome.kind) {
        case IncomingOutcome::Kind::none:
            break;
        case IncomingOutcome::Kind::incomplete:
            queue(record.writer, notice_message("The file did not arrive whole. Try again."));
            break;
        case IncomingOutcome::Kind::saved:
            log_line(prefix(record.session) + "saved " + full_path_text(outcome.path));
            queue(record.writer, notice_message("Saved to Downloads: " + file_name_text(outcome.path)));
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
    const bool binary = host.device_takes_binary_files();
    log_line(prefix(record.session) + "sending " + full_path_text(*path));
    std::string ignored;
    start_detached(
        [writer = record.writer, id, path = *path, binary, files] {
            set_current_thread_name("vorlix-file-out");
            send_file(writer, id, path, "keep", binary, *files);
        },
        ignored);
}

void send_screenshot(HostState& host, SessionRecord& record) {
    std::uint64_t id;
    {
        std::lock_guard<std::mutex> lock(host.transfer_mutex);
        id = take_transfer_id(host.transfers);
    }
    const bool binary = host.device_takes_binary_files();
    const std::int64_t now = host.unix_now();
    std::string ignored;
    start_detached(
        [writer = record.writer, platform = host.platform, id, binary, now] {
            set_current_thread_name("vorlix-screenshot");
            std::optional<Bytes> picture = platform->take_screenshot();
            if (!picture) {
                queue(writer, notice_message("Could not take the screenshot."));
                return;
            }
            const std::string name = "PC " + format_utc_datetime(now < 0 ? 0 : static_cast<std::uint64_t>(now)) + ".png";
            log_line("screenshot for the device: " + std::to_string(picture->size()) + " bytes");
            send_bytes_as_file(writer, id, name, *picture, "screenshot", binary);
        },
        ignored);
}

// --- waking another computer --------------------------------------------------

void wake_other(HostState& host, SessionRecord& record, const Fields& fields) {
    const std::string tag = prefix(record.session);
    const auto now = Clock::now();
    if (record.last_wake && now >= *record.last_wake && now - *record.last_wake < kWakeInterval) {
        log_line(tag + "wakeOther again within 5 s: ignored");
        return;
    }
    record.last_wake = now;
    const auto macs = fields.lenient_list("macAddresses");
    const auto addresses = fields.lenient_list("addresses");
    WakeTargets targets = collect_wake_targets(macs, addresses);
    log_line(tag + "wake another computer: " + std::to_string(targets.mac_addresses.size()) + " network card(s), " +
             std::to_string(targets.addresses.size()) + " address(es) (" + std::to_string(macs.size()) + " and " +
             std::to_string(addresses.size()) + " given)");
    if (targets.mac_addresses.empty()) {
        queue(record.writer, wake_done_message(false));
        return;
    }
    std::string error;
    if (!start_detached(
            [writer = record.writer, platform = host.platform, targets = std::move(targets)] {
                set_current_thread_name("vorlix-wake");
                const bool ok = platform->send_wake_packets(targets);
                queue(writer, wake_done_message(ok));
            },
            error)) {
        log_line(tag + "could not start waking: " + error);
        queue(record.writer, wake_done_message(false));
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

std::string keyboard_layout_message(const KeyboardLayout& layout) {
    Json keys = Json::object();
    for (const auto& [code, texts] : layout.keys) keys[std::to_string(code)] = Json::array({texts.first, texts.second});
    Json fields = Json::object();
    fields["name"] = layout.name;
    if (layout.language) fields["language"] = *layout.language;
    if (layout.method) fields["method"] = *layout.method;
    fields["keys"] = std::move(keys);
    return message("keyboardLayout", std::move(fields));
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
    {
        std::lock_guard<std::mutex> lock(host.ink_mutex);
        apply_ink_event(host.ink, event, now);
        expire_laser_strokes(host.ink, now);
    }
    host.platform->send_ink_event(event);
    broadcast_control_message(*host.watchers, annotate_message(event));
}

ControlOutcome handle_control_body(HostState& host, SessionRecord& record, ByteView body) {
    Result<Json> parsed = parse_json(body, DuplicateKeys::keep_last);
    if (!parsed || !parsed->is_object() || parsed->size() != 1) return ControlOutcome::Continue;
    auto member = parsed->begin();
    const std::string& name = member.key();
    const Json& fields = member.value();
    if (!fields.is_object()) return ControlOutcome::Continue;
    if (name == "bye") return ControlOutcome::Goodbye;
    handle_control_message(host, record, name, fields);
    return ControlOutcome::Continue;
}

void handle_file_piece(HostState& host, SessionRecord& record, std::uint32_t id, Bytes data) {
    if (record.link_kind == LinkKind::Browser) {
        log_line(prefix(record.session) + "a browser may not send fileChunk");
        return;
    }
    const Standing standing = standing_of(host, record);
    with_file_table(host, record, standing,
                    [&](FileTransfers& table) { write_incoming_chunk(table, id, data); });
}

void handle_control_message(HostState& host, SessionRecord& record, const std::string& name, const Json& json) {
    const Fields fields(json);
    if (record.link_kind == LinkKind::Browser) {
        handle_browser_message(host, record, name, fields);
        return;
    }
    const std::string tag = prefix(record.session);
    Platform& platform = *host.platform;
    if (!is_device_to_host(name)) {
        if (is_host_to_device(name)) {
            log_line(tag + "unexpected " + name);
        } else {
            log_line(tag + name + " is not handled on Windows");
        }
        return;
    }
    const Standing standing = standing_of(host, record);

    if (name == "ping") {
        if (auto value = fields.u64("_0")) queue(record.writer, pong_message(*value));
    } else if (name == "requestKeyframe") {
        if (standing.in_control || standing.watch_role) platform.request_keyframe();
    } else if (name == "setAudio") {
        auto on = fields.boolean("_0");
        if (on && standing.in_control) platform.set_stream_audio(*on);
    } else if (name == "options") {
        const Json* value = fields.find("_0");
        if (!value || !standing.in_control) return;
        auto flag = [&](const char* key) {
            if (!value->is_object()) return false;
            auto it = value->find(key);
            return it != value->end() && json_bool(*it).value_or(false);
        };
        host.apply_session_switches(flag("localCursor"), flag("screenshotsToDevice"));
    } else if (name == "deviceInfo") {
        auto version = fields.text("version");
        auto features = fields.strict_list("features");
        if (!version || !features) return;
        log_line(tag + "device app " + *version + ", features " + quoted_list(*features));
        if (!standing.in_control) return;
        {
            auto lock = host.lock_main();
            if (host.main().current_session) host.main().capabilities = *features;
        }
        const bool wants_layout = std::find(features->begin(), features->end(), "keyboardLayout") != features->end();
        if (wants_layout && platform.supports_keyboard_layout()) start_keyboard_layout_watch(host, record.session);
    } else if (name == "setLevel") {
        auto kind = fields.text("kind");
        auto value = fields.f64("value");
        if (!kind || !value || !standing.in_control || !std::isfinite(*value)) return;
        char shown[64];
        std::snprintf(shown, sizeof shown, "%.2f", *value);
        log_line(tag + *kind + " to " + shown);
        platform.set_level(*kind, std::clamp(*value, 0.0, 1.0));
    } else if (name == "openURL") {
        auto link = fields.text("_0");
        if (!link || !standing.may_act) return;
        if (!is_openable_link(*link)) {
            log_line(tag + "not opening a link of that kind");
            return;
        }
        const bool opened = platform.open_url(*link);
        log_line(tag + "opened a link" + (opened ? std::string() : std::string(" (Windows refused)")));
        // Only a link that did open is reported as opened.
        if (opened) queue(record.writer, notice_message("Opened on " + host.host_name));
    } else if (name == "fileRequest") {
        auto id = fields.i64("id");
        if (id && standing.in_control) send_offered_file(host, record, static_cast<std::uint64_t>(*id));
    } else if (name == "requestScreenshot") {
        if (standing.in_control) send_screenshot(host, record);
    } else if (name == "camera") {
        auto on = fields.boolean("_0");
        if (!on || !host.is_current_session(record.session)) return;
        CameraState state = platform.set_device_camera(*on);
        Json answer = Json::object();
        answer["on"] = state.on;
        if (state.message) answer["message"] = *state.message;
        queue(record.writer, message("cameraState", std::move(answer)));
    } else if (name == "performMenu") {
        auto id = fields.i64("id");
        if (!id || !standing.in_control) return;
        log_line(tag + "menu command " + std::to_string(*id));
        platform.perform_menu(static_cast<std::uint64_t>(*id));
    } else if (name == "wakeOther") {
        if (standing.may_act) wake_other(host, record, fields);
    } else if (name == "annotate") {
        const Json* value = fields.find("_0");
        if (!value) return;
        auto event = read_annotate_event(*value);
        if (event && standing.in_control) apply_annotation(host, record, std::move(*event));
    } else if (name == "requestWatchLink") {
        if (!standing.in_control) return;
        std::optional<std::string> url = host.reach->open_watch_link(host);
        if (!url) {
            queue(record.writer,
                  notice_message("Too many watch links are waiting to be opened. Stop them and try again."));
            return;
        }
        log_line(tag + "a new watch link");
        queue(record.writer, message("watchLink", Json{{"url", *url}, {"minutes", 30}}));
        host.update_session_relay_state();
    } else if (name == "stopWebWatchers") {
        if (standing.in_control) host.reach->end_watch_links(host, "stopped by the device in control");
    } else if (name == "nextInputSource") {
        if (!standing.in_control || !platform.supports_keyboard_layout()) return;
        log_line(tag + "next input language");
        platform.next_input_language();
        auto lock = host.lock_main();
        auto& main = host.main();
        if (main.current_session && main.keyboard_nudge) main.keyboard_nudge->send(KeyboardNudge{});
    } else if (name == "clipboard") {
        auto text = fields.text("_0");
        if (text && standing.may_act) platform.set_clipboard_text(std::move(*text));
    } else if (name == "clipboardImage") {
        // The size the Base64 text stands for, known before decoding it.
        if (const Json* text = fields.find("_0"); text && text->is_string()) {
            const auto& chars = text->get_ref<const std::string&>();
            std::size_t size = chars.size() / 4 * 3;
            if (chars.size() >= 1 && chars.back() == '=') --size;
            if (chars.size() >= 2 && chars[chars.size() - 2] == '=') --size;
            if (size > kMaxClipboardPicture) return;
        }
        auto picture = fields.bytes("_0");
        if (!picture || !standing.may_act || picture->size() > kMaxClipboardPicture) return;
        log_line(tag + "a picture for the clipboard (" + std::to_string(picture->size()) + " bytes)");
        platform.set_clipboard_picture(std::move(*picture));
    } else if (name == "fileStart") {
        auto id = fields.i64("id");
        auto file_name = fields.text("name");
        auto size = fields.i64("size");
        auto purpose = fields.text("purpose");
        if (!id || !file_name || !size || !purpose) return;
        if (!standing.send_role && !standing.in_control) return;
        const std::filesystem::path folder = platform.downloads_dir();
        // A negative size can never be met: it is refused like one too large.
        const std::uint64_t announced = *size < 0 ? kMaxTransferFileSize + 1 : static_cast<std::uint64_t>(*size);
        with_file_table(host, record, standing, [&](FileTransfers& table) {
            begin_incoming_file(table, folder, static_cast<std::uint64_t>(*id), *file_name, announced);
        });
    } else if (name == "fileChunk") {
        auto id = fields.i64("id");
        auto data = fields.bytes("data");
        if (!id || !data) return;
        with_file_table(host, record, standing, [&](FileTransfers& table) {
            write_incoming_chunk(table, static_cast<std::uint64_t>(*id), *data);
        });
    } else if (name == "fileEnd") {
        auto id = fields.i64("id");
        auto ok = fields.boolean("ok");
        if (id && ok) finish_file(host, record, standing, static_cast<std::uint64_t>(*id), *ok);
    }
    // configure and received wait for the stream settings and the frame
    // ledger; until then they are taken and ignored.
}

void install_dispatcher_hooks(HostState& host) {
    HostState* state = &host;
    host.hooks.drop_incoming_files = [state] { drop_incoming_files(state->transfers); };
    host.hooks.take_ink_authors = [state] { return take_ink_authors(state->ink); };
    host.hooks.ink_strokes_for_replay = [state] {
        std::vector<std::string> messages;
        for (const InkEvent& event : strokes_to_annotate_items(state->ink)) messages.push_back(annotate_message(event));
        return messages;
    };
    host.hooks.drop_link_files = [](SessionRecord& record) {
        if (record.incoming_files) drop_incoming_files(record.incoming_files->transfers);
    };
    host.hooks.offer_copied_file = [state](const std::filesystem::path& path) -> std::optional<std::string> {
        std::optional<FileOffer> offer;
        {
            std::lock_guard<std::mutex> lock(state->transfer_mutex);
            offer = register_file_offer(state->transfers, path);
        }
        if (!offer) return std::nullopt;
        log_line("clipboard: offering " + offer->name + " (" + std::to_string(offer->size) + " bytes)");
        Json fields = Json::object();
        fields["id"] = static_cast<std::int64_t>(offer->id);
        fields["name"] = offer->name;
        fields["size"] = static_cast<std::int64_t>(offer->size);
        return message("fileOffer", std::move(fields));
    };
}

}  // namespace vorlix
