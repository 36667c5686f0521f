#include "host/host_state.h"

#include <algorithm>
#include <thread>

#include "crypto/random.h"
#include "files/screenshots_watch.h"
#include "host/watchers.h"
#include "host/log.h"
#include "json/base64.h"

namespace vorlix {

namespace {

std::string quoted_list(const std::vector<std::string>& names) {
    std::string out = "[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ", ";
        out += '"';
        out += names[i];
        out += '"';
    }
    return out + "]";
}

}  // namespace

std::string device_key_text(ByteView key) { return base64_encode(key); }

std::shared_ptr<HostState> HostState::create(HostStateConfig config) {
    std::shared_ptr<HostState> host(new HostState(config));
    std::weak_ptr<HostState> weak = host;
    host->platform->set_event_handler([weak](PlatformEvent event) { forward_platform_event(weak, std::move(event)); });
    return host;
}

HostState::HostState(HostStateConfig& config)
    : host_name(std::move(config.host_name)),
      host_model(std::move(config.host_model)),
      platform(std::move(config.platform)),
      watchers(std::make_shared<WebWatcherRegistry>()),
      ledger(std::make_shared<FrameLedger>()),
      data_dir(std::move(config.data_dir)),
      identity(config.identity),
      reach(config.reach ? std::move(config.reach) : std::make_shared<ReachServices>()),
      texts(config.texts ? std::move(config.texts) : std::make_shared<TextServices>()),
      started_at(Clock::now()),
      main_(PairingCode(config.now ? config.now : PairingCode::Now([] { return Clock::now(); }),
                        config.random4 ? config.random4 : PairingCode::RandomBytes4([] {
                            std::array<std::uint8_t, 4> bytes{};
                            random_bytes(bytes.data(), bytes.size());
                            return bytes;
                        }))),
      idle_since_(Clock::now()),
      unix_now_(std::move(config.unix_now)),
      now_(config.now ? std::move(config.now) : PairingCode::Now([] { return Clock::now(); })) {
    main_.trusted_devices = std::move(config.trusted_devices);
    wipe_key32(config.identity.secret_key);
    hooks.start_screenshots_watcher = [](std::vector<std::filesystem::path> folders,
                                         std::function<void(std::filesystem::path)> send) {
        return start_screenshots_watcher(std::move(folders), std::move(send));
    };
    // The registry's key-frame callback asks the running stream for one.
    std::weak_ptr<Platform> weak_platform = platform;
    watchers->key_frame_callback = [weak_platform] {
        if (auto strong = weak_platform.lock()) strong->request_keyframe();
    };
}

HostState::~HostState() {
    {
        std::lock_guard<std::mutex> lock(web_grace_wait->mutex);
        web_grace_wait->host_gone = true;
    }
    web_grace_wait->changed.notify_all();
    wipe_key32(const_cast<Key32&>(identity.secret_key));
}

std::string HostState::fingerprint() const {
    auto digest = sha256(identity.public_key);
    return hex_lower(digest);
}

std::string HostState::host_id() const { return fingerprint().substr(0, 12); }

std::int64_t HostState::unix_now() const {
    if (unix_now_) return unix_now_();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    return seconds < 0 ? 0 : seconds;
}

// --- change callback and status ---------------------------------------------------

void HostState::set_on_change(std::function<void()> callback) {
    std::function<void()> previous;
    std::lock_guard<std::mutex> lock(notifier_mutex_);
    previous = std::exchange(on_change_, std::move(callback));
}

void HostState::notify_state_changed() {
    std::lock_guard<std::mutex> lock(notifier_mutex_);
    if (on_change_) on_change_();
}

HostStatus HostState::snapshot_host_status() {
    HostStatus status;
    status.host_name = host_name;
    status.host_id = host_id();
    std::string stopped_text = texts->lookup_text("stream.stopped");
    auto lock = lock_main();
    status.port = main_.listening_port;
    status.status_flag = main_.status_flag;
    status.pairing_code = main_.pairing.code();
    status.pairing_busy = main_.pairing.busy();
    status.locked_seconds = main_.pairing.seconds_locked();
    status.devices = main_.trusted_devices;
    status.device_name = main_.device_name;
    if (main_.current_session) status.device_key = device_key_text(main_.current_session->device_key);
    if (main_.picture_stopped && main_.device_name) {
        status.status_line = stopped_text;
    } else {
        status.status_line = main_.status_text;
    }
    status.notice = main_.notice;
    status.stream_summary = main_.stream_summary;
    {
        auto registry_lock = watchers->lock();
        for (const auto& entry : watchers->entries) status.watchers.push_back(entry.peer_name);
    }
    std::sort(status.watchers.begin(), status.watchers.end());
    return status;
}

// --- sessions --------------------------------------------------------------------

bool HostState::is_current_session(std::uint64_t session) {
    auto lock = lock_main();
    return main_.current_session.has_value() && main_.in_control == session;
}

std::optional<LinkWriter> HostState::current_session_sender() {
    auto lock = lock_main();
    if (!main_.current_session) return std::nullopt;
    return main_.current_session->writer;
}

bool HostState::device_takes_binary_files() {
    auto lock = lock_main();
    if (!main_.current_session) return false;
    return std::find(main_.capabilities.begin(), main_.capabilities.end(), "binaryFiles") !=
           main_.capabilities.end();
}

void HostState::apply_session_options(const SessionOptions& options) {
    bool old_local_cursor;
    {
        auto lock = lock_main();
        old_local_cursor = main_.options.local_cursor;
        main_.options = options;
    }
    {
        std::lock_guard<std::mutex> lock(screenshots_mutex_);
        if (!options.screenshots_to_device) {
            if (auto running = std::exchange(screenshots_running_, nullptr)) running->store(0);
        } else if (!screenshots_running_ && hooks.start_screenshots_watcher) {
            std::weak_ptr<HostState> weak = weak_from_this();
            screenshots_running_ = hooks.start_screenshots_watcher(
                platform->screenshots_dir(), [weak](std::filesystem::path path) { start_file_send(weak, std::move(path)); });
        }
    }
    const bool local_cursor = options.local_cursor;
    if (local_cursor != old_local_cursor) {
        log_line(std::string("pointer drawn ") + (local_cursor ? "on the device" : "into the picture"));
        platform->set_pointer_on_device(local_cursor ? 1 : 0);
    }
}

void HostState::start_session_stream() {
    std::shared_ptr<const StreamConfig> config;
    {
        auto lock = lock_main();
        if (main_.current_session || main_.watchers_only_stream) return;
        {
            auto registry_lock = watchers->lock();
            if (watchers->entries.empty() || !main_.watcher_config) return;
        }
        auto copy = std::make_shared<StreamConfig>(*main_.watcher_config);
        copy->source = "mirror";
        copy->audio = false;
        copy->take_over = false;
        copy->display_id.reset();
        copy->second.reset();
        config = std::move(copy);
        main_.watchers_only_stream = true;
    }
    log_line("picture for watchers only: " + std::to_string(config->fps) + " fps");
    platform->start_stream(*config, 0, make_stream_output(*this, std::nullopt, 0));
}

void HostState::set_watching() {
    std::vector<std::string> names = watcher_names(*watchers);
    std::vector<std::string> shown;
    for (const auto& name : names) shown.push_back(log_safe_text(name));
    log_line("watching: " + quoted_list(shown));
    std::optional<LinkWriter> sender = current_session_sender();
    if (sender) queue_control_message(*sender, control::Watchers{names});
    update_keep_awake();
    notify_state_changed();
}

void HostState::update_session_relay_state() {
    std::int64_t watching = static_cast<std::int64_t>(watchers->browser_count());
    std::int64_t links = static_cast<std::int64_t>(reach->count_watch_links());
    std::optional<LinkWriter> sender = current_session_sender();
    if (sender) queue_control_message(*sender, control::WebWatchers{watching, links});
}

void HostState::update_keep_awake() {
    bool session_exists;
    {
        auto lock = lock_main();
        session_exists = main_.current_session.has_value();
    }
    bool awake;
    if (session_exists) {
        std::lock_guard<std::mutex> lock(idle_mutex_);
        idle_since_.reset();
        awake = true;
    } else {
        std::size_t count = watchers->size();
        std::lock_guard<std::mutex> lock(idle_mutex_);
        if (count != 0) {
            idle_since_.reset();
            awake = true;
        } else {
            if (!idle_since_) idle_since_ = now_();
            awake = false;
        }
    }
    {
        std::unique_lock<std::mutex> lock(keep_awake_mutex_);
        if (keep_awake_told_ == awake) return;
        keep_awake_told_ = awake;
    }
    platform->set_keep_awake(awake);
}

std::optional<HostState::Clock::time_point> HostState::any_session_active() {
    if (running_sessions.load() != 0) return std::nullopt;
    {
        auto lock = lock_main();
        if (main_.current_session) return std::nullopt;
    }
    if (watchers->size() != 0) return std::nullopt;
    std::lock_guard<std::mutex> lock(idle_mutex_);
    return idle_since_;
}

void HostState::flush_link_logs() {
    link_log.flush();
    reach->flush_link_log();
}

void HostState::say_goodbye_and_close() {
    std::optional<LinkWriter> sender = current_session_sender();
    if (!sender) return;
    queue_control_message(*sender, control::Bye{});
    sender->send(WriterItem::close());
}

void HostState::send_links_away_at_quit(std::vector<LinkWriter>& told) {
    const std::size_t before = told.size();
    {
        auto lock = lock_main();
        for (const DeviceLink& link : main_.device_links) {
            const auto same = [&](const LinkWriter& writer) { return writer.same_link(link.writer); };
            if (link.ready && std::none_of(told.begin(), told.end(), same)) told.push_back(link.writer);
        }
    }
    for (auto it = told.begin() + static_cast<std::ptrdiff_t>(before); it != told.end(); ++it) {
        queue_control_message(*it, control::Bye{});
        it->send(WriterItem::close());
    }
    send_away_web_viewers();
    unsigned_links.close_all();
}

// --- pairing ---------------------------------------------------------------------

void HostState::open_pairing() {
    bool opened;
    {
        auto lock = lock_main();
        opened = main_.pairing.open();
    }
    if (!opened) {
        notify_state_changed();
        return;
    }
    write_code_file();
}

void HostState::close_pairing() {
    {
        auto lock = lock_main();
        main_.pairing.close();
    }
    write_code_file();
}

void HostState::write_code_file() {
    std::optional<std::string> code;
    {
        auto lock = lock_main();
        code = main_.pairing.code();
    }
    code_file_.mirror(code);
    notify_state_changed();
}

void HostState::set_code_file(std::optional<std::filesystem::path> path) { code_file_.set_path(std::move(path)); }

std::optional<std::string> HostState::current_pairing_code(const std::weak_ptr<HostState>& host) {
    auto strong = host.lock();
    if (!strong) return std::nullopt;
    auto lock = strong->lock_main();
    return strong->main_.pairing.code();
}

PairingGuard HostState::pairing_guard(const std::weak_ptr<HostState>& host) {
    PairingGuard guard;
    guard.enter = [host](const std::string& code_at_hello) {
        PairingPlace place;
        auto strong = host.lock();
        if (!strong) return place;
        PairingCode::Place taken;
        bool turned_away_before;
        {
            auto lock = strong->lock_main();
            turned_away_before = strong->main_.pairing.busy();
            taken = strong->main_.pairing.take_place(code_at_hello, strong->limits.pairing_handshakes);
            place.code_number = strong->main_.pairing.code_number();
        }
        if (taken == PairingCode::Place::kChanged) place.refusal = PairingError::WrongCode;
        if (taken == PairingCode::Place::kBusy) {
            strong->link_log.note({{"too many pairings at once", "too many pairings at once: one more refused"}},
                                  strong->limits.link_log_every);
            // The window is told when its word on it turns on, not once a refusal.
            if (!turned_away_before) strong->notify_state_changed();
        }
        if (taken != PairingCode::Place::kTaken) return place;
        // The token gives the place back when the handshake lets it go.
        place.token = std::shared_ptr<void>(strong.get(), [host, number = place.code_number](void*) {
            if (auto alive = host.lock()) alive->give_back_pairing_place(number);
        });
        return place;
    };
    guard.check_reveal = [host](std::uint64_t code_number, const std::string& code_at_hello,
                                const std::function<bool(const std::string&)>& matches) {
        auto strong = host.lock();
        return strong ? strong->check_pairing_reveal(code_number, code_at_hello, matches) : RevealCheck::Closed;
    };
    guard.unrevealed = [host](std::uint64_t code_number) {
        if (auto strong = host.lock()) strong->count_unrevealed_commit(code_number);
    };
    return guard;
}

void HostState::give_back_pairing_place(std::uint64_t code_number) {
    // A pairing turned away may try again now.
    bool told;
    {
        auto lock = lock_main();
        told = main_.pairing.give_back_place(code_number);
    }
    if (told) notify_state_changed();
}

bool HostState::count_wrong_code_held(const std::string& wrong_text, const std::string& locked_text, bool redraw) {
    const bool locked = main_.pairing.count_wrong_code(redraw) == PairingCode::WrongCode::kLockedOut;
    main_.notice = locked ? locked_text : wrong_text;
    return locked;
}

void HostState::after_wrong_code(bool locked) {
    if (locked) log_line("five wrong codes: pairing closed for 60 s");
    write_code_file();
}

RevealCheck HostState::check_pairing_reveal(std::uint64_t code_number, const std::string& code_at_hello,
                                            const std::function<bool(const std::string&)>& matches) {
    const std::string wrong_text = texts->translate("event.wrong_code");
    const std::string locked_text = texts->translate("event.locked");
    RevealCheck check;
    bool locked = false;
    {
        auto lock = lock_main();
        PairingCode& pairing = main_.pairing;
        const std::optional<std::string>& code = pairing.code();
        if (code && code_number == pairing.code_number() && *code == code_at_hello) {
            if (matches(*code)) return RevealCheck::Matches;
            locked = count_wrong_code_held(wrong_text, locked_text, true);
            check = RevealCheck::Wrong;
        } else {
            // The code it was made under is gone (a wrong code, pairing opened
            // again, the stop button): nothing of the code shown now is
            // tested, but the guess counts, so that a stranger who holds the
            // places pays for them at every new code.
            check = code ? RevealCheck::Changed : RevealCheck::Closed;
            if (!pairing.counts_stale(code_number)) return check;
            locked = count_wrong_code_held(wrong_text, locked_text, false);
        }
    }
    after_wrong_code(locked);
    return check;
}

void HostState::count_unrevealed_commit(std::uint64_t code_number) {
    const std::string wrong_text = texts->translate("event.wrong_code");
    const std::string locked_text = texts->translate("event.locked");
    bool locked = false;
    {
        auto lock = lock_main();
        PairingCode& pairing = main_.pairing;
        // Since a device signed in or pairing locked, nothing it could have
        // guessed is left; under a code gone, the one shown now stays.
        const bool current = pairing.code() && code_number == pairing.code_number();
        if (!current && !pairing.counts_stale(code_number)) return;
        locked = count_wrong_code_held(wrong_text, locked_text, current);
    }
    after_wrong_code(locked);
}

// --- trusted devices ---------------------------------------------------------------

namespace {

bool key_in(const std::vector<TrustedDevice>& devices, const std::string& text) {
    return std::any_of(devices.begin(), devices.end(), [&](const TrustedDevice& d) { return d.key == text; });
}

}  // namespace

bool HostState::is_key_trusted(const std::weak_ptr<HostState>& host, ByteView key) {
    auto strong = host.lock();
    if (!strong) return false;
    const std::string text = device_key_text(key);
    auto lock = strong->lock_main();
    return key_in(strong->main_.trusted_devices, text);
}

void HostState::forget_trusted_device(const std::string& key_text) {
    // A text that does not decode still removes its records; it matches no link.
    const std::optional<Bytes> key = base64_decode(key_text);
    std::vector<LinkWriter> links;
    {
        auto lock = lock_main();
        auto& list = main_.trusted_devices;
        std::erase_if(list, [&](const TrustedDevice& d) { return d.key == key_text; });
        (void)save_trusted_devices(data_dir, list);
        // The device's links are taken out under the same lock as its records:
        // a link still signing in either finds its key gone or is listed here.
        bool in_control_listed = false;
        std::erase_if(main_.device_links, [&](DeviceLink& link) {
            if (!key || link.device_key != *key) return false;
            in_control_listed = in_control_listed || link.session == main_.in_control;
            // A link whose keys are not out yet finds itself taken out and
            // sends itself away once a bye can be sealed.
            if (link.ready) links.push_back(std::move(link.writer));
            return true;
        });
        if (key && main_.current_session && main_.current_session->device_key == *key && !in_control_listed) {
            links.insert(links.begin(), main_.current_session->writer);
        }
        // Told under the lock that takes them out: a link signing in that
        // sees itself gone and closes its writer then never closes before
        // its bye.
        for (LinkWriter& link : links) {
            queue_control_message(link, control::Bye{});
            link.send(WriterItem::close());
        }
    }
    if (hooks.on_device_forgotten) hooks.on_device_forgotten();
    reach->update_relay_registration(*this);
    notify_state_changed();
}

DeviceLinkAdmission HostState::admit_device_link(std::uint64_t session, const HandshakeDone& done,
                                                 const LinkWriter& writer, std::optional<PeerRole> role) {
    const std::string text = device_key_text(done.device_id_key);
    DeviceLinkAdmission admission;
    auto lock = lock_main();
    if (!done.paired && !key_in(main_.trusted_devices, text)) return admission;
    admission.admitted = true;
    auto& links = main_.device_links;
    links.push_back(DeviceLink{session, done.device_id_key, writer, false, role, false});
    // The oldest counted link other than the new one that `pick` takes.
    const auto oldest = [&](auto pick) {
        auto found = links.end();
        for (auto it = links.begin(); it != links.end(); ++it) {
            if (it->replaced || it->session == session || !pick(*it)) continue;
            if (found == links.end() || it->session < found->session) found = it;
        }
        return found;
    };
    const auto replace = [&](std::vector<DeviceLink>::iterator link) {
        if (link == links.end()) return;
        link->replaced = true;
        // Told under the lock, as a forget tells: the link's own thread, which
        // ends once it sees itself replaced, then never closes before its bye.
        if (link->ready) {
            queue_control_message(link->writer, control::Bye{});
            link->writer.send(WriterItem::close());
        }
        admission.replaced.push_back({link->session, link->ready ? std::optional<LinkWriter>(link->writer) : std::nullopt});
    };
    const auto same_key_and_role = [&](const DeviceLink& l) { return l.device_key == done.device_id_key && l.role == role; };
    const auto counted = [](const DeviceLink& l) { return !l.replaced; };
    if (static_cast<std::size_t>(std::count_if(links.begin(), links.end(), [&](const DeviceLink& l) {
            return counted(l) && same_key_and_role(l);
        })) > limits.signed_in_per_key_and_role) {
        replace(oldest(same_key_and_role));
    }
    if (static_cast<std::size_t>(std::count_if(links.begin(), links.end(), counted)) > limits.signed_in_links) {
        // The link in control gives way only to a newer control link of its
        // own key: a device that merely opens another link never ends it.
        const Bytes* control_key = main_.current_session ? &main_.current_session->device_key : nullptr;
        const bool of_control_key = control_key && *control_key == done.device_id_key;
        const auto may_go = [&](const DeviceLink& l) {
            return !control_key || l.session != main_.in_control || (of_control_key && !role);
        };
        // The key that holds the most links gives its oldest; of keys that
        // hold as many, one other than the key in control.
        std::map<Bytes, std::size_t> per_key;
        for (const DeviceLink& l : links) {
            if (counted(l)) ++per_key[l.device_key];
        }
        const auto rank = [&](const DeviceLink& l) {
            return std::pair(per_key[l.device_key], !control_key || l.device_key != *control_key);
        };
        std::pair<std::size_t, bool> first{0, false};
        for (const DeviceLink& l : links) {
            if (counted(l) && l.session != session && may_go(l)) first = std::max(first, rank(l));
        }
        replace(oldest([&](const DeviceLink& l) { return may_go(l) && rank(l) == first; }));
    }
    return admission;
}

void HostState::send_away_replaced_links(std::uint64_t session,
                                         const std::vector<DeviceLinkAdmission::Replaced>& replaced) {
    if (replaced.empty()) return;
    std::vector<LinkWriter> writers;
    for (const auto& link : replaced) {
        if (link.writer) writers.push_back(*link.writer);
    }
    // Both waits end once this link is itself replaced or forgotten: it will
    // not sign in, and a chain of links each waiting for the one before
    // would otherwise keep every link of a fast reconnecting device alive
    // for the whole wait.
    const auto wait_while_listed = [&](std::chrono::milliseconds limit, auto gone) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            {
                auto lock = lock_main();
                const auto& links = main_.device_links;
                const auto self = std::find_if(links.begin(), links.end(),
                                               [&](const DeviceLink& l) { return l.session == session; });
                if (self == links.end() || self->replaced || gone(links)) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    // A peer that does not read never takes its bye: its socket is shut, at
    // once when this link will not sign in.
    wait_while_listed(timeouts.replaced_link_wait, [&](const std::vector<DeviceLink>&) {
        return std::none_of(writers.begin(), writers.end(), [](const LinkWriter& w) { return w.running(); });
    });
    for (const LinkWriter& writer : writers) {
        if (writer.running()) writer.shut_down();
    }
    wait_while_listed(timeouts.replaced_link_wait, [&](const std::vector<DeviceLink>& links) {
        return std::none_of(replaced.begin(), replaced.end(), [&](const DeviceLinkAdmission::Replaced& r) {
            return std::any_of(links.begin(), links.end(), [&](const DeviceLink& l) { return l.session == r.session; });
        });
    });
}

LinkStanding HostState::device_link_ready(std::uint64_t session) {
    auto lock = lock_main();
    auto& links = main_.device_links;
    auto found = std::find_if(links.begin(), links.end(), [&](const DeviceLink& link) { return link.session == session; });
    if (found == links.end()) return LinkStanding::Gone;
    if (found->replaced) return LinkStanding::Replaced;
    found->ready = true;
    return LinkStanding::Listed;
}

LinkStanding HostState::device_link_standing(std::uint64_t session) {
    auto lock = lock_main();
    return device_link_standing_held(session);
}

LinkStanding HostState::device_link_standing_held(std::uint64_t session) const {
    const auto& links = main_.device_links;
    auto found = std::find_if(links.begin(), links.end(), [&](const DeviceLink& link) { return link.session == session; });
    if (found == links.end()) return LinkStanding::Gone;
    return found->replaced ? LinkStanding::Replaced : LinkStanding::Listed;
}

std::optional<std::unique_lock<std::shared_timed_mutex>> HostState::control_turn_while_listed(std::uint64_t session) {
    std::unique_lock<std::shared_timed_mutex> turn(control_turn_mutex_, std::defer_lock);
    while (!turn.try_lock_for(std::chrono::milliseconds(10))) {
        if (device_link_standing(session) != LinkStanding::Listed) return std::nullopt;
    }
    return turn;
}

std::shared_ptr<KeyFiles> HostState::files_of_key(const Bytes& key) {
    auto lock = lock_main();
    auto& all = main_.key_files;
    std::erase_if(all, [](const auto& entry) { return entry.second.expired(); });
    std::shared_ptr<KeyFiles> files = all[key].lock();
    if (!files) {
        files = std::make_shared<KeyFiles>();
        all[key] = files;
    }
    return files;
}

void HostState::remove_device_link(std::uint64_t session) {
    auto lock = lock_main();
    std::erase_if(main_.device_links, [&](const DeviceLink& link) { return link.session == session; });
}

std::size_t HostState::device_link_count() {
    auto lock = lock_main();
    return main_.device_links.size();
}

// --- closing for an update -----------------------------------------------------------

bool HostState::begin_closing_for_update() {
    closing_for_update.exchange(true);
    bool busy;
    {
        auto lock = lock_main();
        busy = main_.current_session.has_value();
    }
    busy = busy || watchers->size() != 0;
    if (busy) {
        closing_for_update.exchange(false);
        return false;
    }
    log_line("closing for an update: new links are turned away");
    return true;
}

void HostState::end_closing_for_update() {
    if (closing_for_update.exchange(false)) log_line("no longer closing for an update: links are taken again");
}

// --- session threads -------------------------------------------------------------------

void HostState::enter_session_thread() { running_sessions.fetch_add(1); }

void HostState::release_session_activity() {
    if (running_sessions.fetch_sub(1) != 1) return;
    std::lock_guard<std::mutex> lock(idle_mutex_);
    if (idle_since_) idle_since_ = now_();
}

std::size_t HostState::send_away_web_viewers() {
    std::vector<WebViewer> viewers;
    {
        auto lock = lock_web_viewers();
        viewers.swap(web_viewers_);
    }
    for (auto& viewer : viewers) {
        queue_control_message(viewer.writer, control::Bye{});
        viewer.writer.send(WriterItem::close());
    }
    return viewers.size();
}

void HostState::set_listening(std::uint16_t port) {
    {
        auto lock = lock_main();
        main_.listening_port = port;
        main_.status_flag = 1;
    }
    notify_state_changed();
}

}  // namespace vorlix

