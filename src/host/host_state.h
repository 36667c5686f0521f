// The shared host state: who is connected and in control, what the device
// said about itself, the pairing code, the status the window shows, and the
// shared services. One object, shared by reference count; threads that must
// not keep it alive hold a weak reference (self_ref) and do nothing once it
// is gone.
//
// Locks. The control-turn lock comes first: the sign-in of a device taking
// control and the end of the device in control run whole under it, and any
// other lock may be taken while it is held, never the other way round. The
// main lock guards `main`. The registry's lock (inside `watchers`) may be
// taken while the main lock is held, never the other way round. Every other
// lock is taken alone. No host lock is held across a
// platform call, a queue operation, a log line or the change callback (which
// runs under the notifier lock); the one exception is the screenshots-watcher
// lock, held while asking the platform for the screenshot folders.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "files/file_transfers.h"
#include "ink/ink.h"
#include "host/channel.h"
#include "host/link_writer.h"
#include "host/watchers.h"
#include "host/neighbours.h"
#include "handshake/handshake.h"
#include "host/link_limits.h"
#include "host/log.h"
#include "host/pairing_code.h"
#include "host/platform.h"
#include "host/session_log.h"
#include "host/trusted_devices.h"
#include "stream/frame_ledger.h"

namespace vorlix {

struct SessionRecord;
struct StreamOutput;

// A nudge to the keyboard-layout watch of the session in control.
struct KeyboardNudge {};

// The signed-in device session (the one in control of the PC).
struct CurrentSession {
    LinkWriter writer;
    Bytes device_key;
    std::uint8_t picture_stop_reason = 255;  // none
};

// The copy of the host state that the window and the update loop read.
struct HostStatus {
    std::string host_name;
    std::uint16_t port = 0;
    std::uint8_t status_flag = 0;  // 1 while the listener holds its port
    std::optional<std::string> pairing_code;
    bool pairing_busy = false;  // a pairing was turned away: every place was taken
    std::optional<std::uint64_t> locked_seconds;
    std::vector<TrustedDevice> devices;
    std::optional<std::string> device_name;
    std::optional<std::string> device_key;  // key text of the signed-in device
    std::optional<std::string> status_line;
    std::optional<std::string> notice;
    std::optional<std::string> stream_summary;
    std::string host_id;  // first 12 hexadecimal digits of the SHA-256 of the identity public key
    std::vector<std::string> watchers;
};

// A device link that signed in: with a role (send, watch or preview) or
// taking control.
struct DeviceLink {
    std::uint64_t session = 0;
    Bytes device_key;
    LinkWriter writer;
    // Its keys are installed: a bye queued now is sealed and reaches the
    // device. Until then a forget leaves sending it away to its own reader.
    bool ready = false;
    std::optional<PeerRole> role;  // none for a link that takes control
    // Sent away to make room for a newer link; listed until its thread ends,
    // but no longer counted.
    bool replaced = false;
};

// The open incoming files of one trusted key's send links: each link keeps
// its own table, and they share one count, with `mutex` held.
struct KeyFiles {
    std::mutex mutex;
    std::size_t open = 0;
};

// Where a device link stands once admitted.
enum class LinkStanding : std::uint8_t { Listed, Replaced, Gone };

// The admission of a device link: whether it may sign in, and the older
// links it replaced (each with its writer once its keys were out; one
// without sends itself away).
struct DeviceLinkAdmission {
    bool admitted = false;
    struct Replaced {
        std::uint64_t session = 0;
        std::optional<LinkWriter> writer;
    };
    std::vector<Replaced> replaced;
};

// One browser that came through a watch link.
struct WebViewer {
    std::uint64_t watch_link_id = 0;
    std::uint64_t session = 0;
    LinkWriter writer;
};

// Seams that tests replace.
struct SessionHooks {
    // Starts the screenshots watcher over the folders, handing each new
    // file to `send`; gives the watcher's running flag (cleared to stop it).
    std::function<std::shared_ptr<std::atomic<std::uint8_t>>(std::vector<std::filesystem::path> folders,
                                                             std::function<void(std::filesystem::path)> send)>
        start_screenshots_watcher;
    // Tests only: runs on a browser's session thread after its handshake,
    // before it may join the viewers.
    std::function<void()> before_browser_joins;
    // Tests only: run on a link's session thread after each step of its
    // handshake, before anything of the step goes out, and once a device
    // link is admitted, before its keys go out.
    std::function<void(std::uint64_t session)> on_handshake_step;
    std::function<void(std::uint64_t session)> on_device_link_admitted;
    // Tests only: runs once a device link's keys are out, before its sign-in.
    std::function<void(std::uint64_t session)> on_device_link_ready;
    // Tests only: runs once a forget has taken out and told the device's links.
    std::function<void()> on_device_forgotten;
};

// The reader loop's time-outs and pauses.
struct SessionTimeouts {
    // A link signs in within a few round trips of its start, so it gets the
    // time a signed-in device may stay silent. A pairing waits for a person
    // to type the code and keeps the whole `pairing` from the link's start;
    // once the code is typed, its reveal must follow within `pairing_reveal`.
    std::chrono::milliseconds sign_in{20000};
    std::chrono::milliseconds pairing{120000};
    std::chrono::milliseconds pairing_reveal{10000};
    std::chrono::milliseconds device_in_control{20000};
    std::chrono::milliseconds other_peer{45000};
    std::chrono::milliseconds handshake_failure_pause{200};
    std::chrono::milliseconds writer_wait{5000};
    // A link sent away to make room for a newer one of its key gets this
    // long to write its bye before its socket is shut, and as long again to
    // end. The newer link waits for it before it signs in, so that a device
    // reconnecting in a loop holds no more threads than it has places.
    std::chrono::milliseconds replaced_link_wait{1000};
};

// What a host state is made from (program start-up builds it; tests fill
// it with fakes).
struct HostStateConfig {
    std::shared_ptr<Platform> platform;
    std::string host_name;
    std::string host_model;
    std::filesystem::path data_dir;
    Ed25519KeyPair identity;
    std::vector<TrustedDevice> trusted_devices;
    std::shared_ptr<ReachServices> reach;  // default: no relay
    std::shared_ptr<TextServices> texts;   // default: the translation tables
    PairingCode::Now now;                  // default: the steady clock
    PairingCode::RandomBytes4 random4;     // default: the system's random source
    std::function<std::int64_t()> unix_now;  // default: the system clock
};

// The web grace after the device session in control ends: one waiter thread
// at a time sleeps until the deadline, which every later end pushes back, and
// then ends the watch links unless a device signed in since the last end.
// Shared with the waiter, which holds it and a weak reference to the host
// state; the host state's destructor wakes it so that it leaves at once.
struct WebGraceWait {
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable changed;
    // With `mutex` held:
    Clock::time_point deadline;
    std::uint64_t sign_ins = 0;  // the count of device sign-ins at the last end
    std::uint64_t ends = 0;      // how many ends set a deadline
    bool waiter_runs = false;    // cleared by the waiter, under the lock, as it decides to leave
    bool host_gone = false;
};

class HostState : public std::enable_shared_from_this<HostState> {
public:
    using Clock = std::chrono::steady_clock;

    static std::shared_ptr<HostState> create(HostStateConfig config);
    ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    // --- set once, read without a lock ---------------------------------------
    const std::string host_name;
    const std::string host_model;
    const std::shared_ptr<Platform> platform;
    const std::shared_ptr<WebWatcherRegistry> watchers;
    const std::shared_ptr<FrameLedger> ledger;  // the device's acknowledgements
    const std::filesystem::path data_dir;
    const Ed25519KeyPair identity;
    const std::shared_ptr<ReachServices> reach;
    const std::shared_ptr<TextServices> texts;
    const Clock::time_point started_at;
    std::weak_ptr<HostState> self_ref() { return weak_from_this(); }
    const std::shared_ptr<WebGraceWait> web_grace_wait = std::make_shared<WebGraceWait>();
    SessionHooks hooks;        // filled before the first link
    SessionTimeouts timeouts;  // set before the first link
    LinkLimits limits;         // set before the first link
    UnsignedLinks unsigned_links;
    LinkLog link_log{log_line};  // the lines of links that never sign in
    SessionLogLimits session_log;  // set before the first link
    KeyLogs key_logs;              // the lines of each device key's signed-in links

    // The first 12 hexadecimal digits of the SHA-256 of the identity public key.
    std::string host_id() const;
    // The 64 hexadecimal digits of the same hash.
    std::string fingerprint() const;

    // --- under the main lock -------------------------------------------------
    struct Main {
        std::optional<CurrentSession> current_session;
        std::uint64_t in_control = 0;
        std::vector<std::string> capabilities;
        std::optional<Sender<KeyboardNudge>> keyboard_nudge;
        std::vector<TrustedDevice> trusted_devices;
        PairingCode pairing;
        std::optional<std::string> device_name;
        std::optional<std::string> status_text;
        std::optional<std::string> notice;
        // The last options of the session in control.
        SessionOptions options;
        // The stream summary the window shows ("1920 x 1080 · 60 fps · H.264").
        std::optional<std::string> stream_summary;
        // The picture settings last asked for by a watch-role link.
        std::optional<StreamConfig> watcher_config;
        bool watchers_only_stream = false;
        bool picture_stopped = false;
        std::uint16_t listening_port = 0;
        std::uint8_t status_flag = 0;
        // The device links admitted at the end of their handshake, until their
        // session threads end; forgetting a device takes its links out.
        std::vector<DeviceLink> device_links;
        // The last honoured wakeOther of each key, within the guard's time.
        std::map<Bytes, std::chrono::steady_clock::time_point> last_wakes;
        // The open incoming files of each key's send links, shared by them.
        std::map<Bytes, std::weak_ptr<KeyFiles>> key_files;

        explicit Main(PairingCode code) : pairing(std::move(code)) {}
    };
    std::unique_lock<std::mutex> lock_main() { return std::unique_lock<std::mutex>(main_mutex_); }
    Main& main() { return main_; }  // only with lock_main() held

    // --- atomics ---------------------------------------------------------------
    std::atomic<std::uint64_t> connection_counter{1};
    std::atomic<std::int64_t> running_sessions{0};
    std::atomic<std::uint64_t> device_sign_ins{0};
    std::atomic<bool> closing_for_update{false};
    std::atomic<bool> relay_allowed{false};

    // --- locks of their own ----------------------------------------------------
    std::mutex transfer_mutex;  // the host's file-transfer table (hooks)
    FileTransfers transfers;    // with transfer_mutex held
    std::mutex ink_mutex;       // the host's ink strokes (hooks)
    InkStrokes ink;             // with ink_mutex held

    // --- the turn of control ------------------------------------------------------
    // Held by a device's sign-in to control and by the end of the device in
    // control, each from its check of who is in control to its last step, so
    // that an ending session never undoes what a newer sign-in set up.
    std::unique_lock<std::shared_timed_mutex> lock_control_turn() {
        return std::unique_lock<std::shared_timed_mutex>(control_turn_mutex_);
    }
    // The turn for the sign-in of a device link, given up while waiting once
    // the link is replaced or forgotten: a device reconnecting in a loop
    // leaves no threads waiting for a turn they would not use.
    std::optional<std::unique_lock<std::shared_timed_mutex>> control_turn_while_listed(std::uint64_t session);
    // Runs `act` when `session` is the one in control, holding the turn so
    // that no sign-in or end comes between the check and the act (a key
    // press of a replaced session never lands after the new one's reset).
    // Answers whether it ran.
    template <class Act>
    bool while_in_control(std::uint64_t session, Act&& act) {
        std::shared_lock<std::shared_timed_mutex> turn(control_turn_mutex_);
        if (!is_current_session(session)) return false;
        act();
        return true;
    }

    // --- operations --------------------------------------------------------------
    void set_on_change(std::function<void()> callback);
    void notify_state_changed();
    HostStatus snapshot_host_status();

    bool is_current_session(std::uint64_t session);
    std::optional<LinkWriter> current_session_sender();
    bool device_takes_binary_files();

    // Stores the session options and acts on the pointer and screenshots ones.
    void apply_session_options(const SessionOptions& options);
    // Every option off (session start and end).
    void reset_session_options() { apply_session_options(SessionOptions{}); }
    void start_session_stream();
    void set_watching();
    void update_session_relay_state();
    void update_keep_awake();
    std::optional<Clock::time_point> any_session_active();

    // Queues bye to the current session and closes its link.
    void say_goodbye_and_close();
    // At quit, after say_goodbye_and_close: every other link is sent away.
    // Each device link whose keys are out is told bye and closed once
    // (`told` holds the writers told so far, and gains those told now; one
    // whose keys are not out yet is told by a later call), every browser is
    // told bye and closed, and every link still signing in is closed.
    void send_links_away_at_quit(std::vector<LinkWriter>& told);
    // At quit, once the links are closed: writes what the host's and the
    // relays' link logs count.
    void flush_link_logs();

    // Pairing.
    void open_pairing();
    void close_pairing();
    void write_code_file();
    void set_code_file(std::optional<std::filesystem::path> path);
    static std::optional<std::string> current_pairing_code(const std::weak_ptr<HostState>& host);
    // The places of pairing handshakes and the reveal check of a link's
    // handshake; both do nothing useful once the state is gone.
    static PairingGuard pairing_guard(const std::weak_ptr<HostState>& host);
    // Tests the reveal of a place taken under code `code_number` against the
    // code open now and counts a wrong one, all under the main lock; one
    // under a code gone since counts without testing anything.
    RevealCheck check_pairing_reveal(std::uint64_t code_number, const std::string& code_at_hello,
                                     const std::function<bool(const std::string&)>& matches);
    // A commit whose reveal never came (its time ran out or its link ended)
    // counts as a wrong code, whether its code is still open or not:
    // otherwise a stranger who never saw the code could hold a pairing place
    // for nothing, over and over. Since a device signed in or pairing
    // locked, it counts nothing.
    void count_unrevealed_commit(std::uint64_t code_number);

    // Trusted devices. Forgetting a device also sends its links away: the
    // session in control and every other link it signed in on.
    static bool is_key_trusted(const std::weak_ptr<HostState>& host, ByteView key);
    void forget_trusted_device(const std::string& key_text);

    // Admits a device link whose handshake just completed, under the main
    // lock that forgetting takes: a link that did not pair with the code is
    // refused unless its key is still trusted; an admitted link is listed,
    // so that a later forget sends it away. An admitted link past the caps
    // of `limits` replaces the oldest of its key and role, or at the overall
    // cap the oldest of the key that holds the most links (of keys holding
    // as many, not the key in control), never the link in control but for a
    // newer control link of its own key.
    DeviceLinkAdmission admit_device_link(std::uint64_t session, const HandshakeDone& done, const LinkWriter& writer,
                                          std::optional<PeerRole> role);
    // Waits for the links the admission of `session` replaced (and told bye,
    // then close) to go: a link that does not take its bye in time has its
    // socket shut, and their threads have, within the time-outs, ended. The
    // wait ends at once when `session` is itself replaced or forgotten.
    void send_away_replaced_links(std::uint64_t session, const std::vector<DeviceLinkAdmission::Replaced>& replaced);
    // The admitted link's keys are queued: from now on a forget or a newer
    // link sends it away itself. Anything but Listed when that happened
    // meanwhile; then the link must send itself away.
    LinkStanding device_link_ready(std::uint64_t session);
    LinkStanding device_link_standing(std::uint64_t session);
    // Runs `act` under the main lock if the link is still listed, so that a
    // forget or a newer link either comes before the check or after the act.
    template <typename Act>
    LinkStanding while_device_link_listed(std::uint64_t session, Act&& act) {
        auto lock = lock_main();
        const LinkStanding standing = device_link_standing_held(session);
        if (standing == LinkStanding::Listed) act();
        return standing;
    }
    void remove_device_link(std::uint64_t session);
    // The device links listed, those replaced but not yet ended included.
    std::size_t device_link_count();
    // The shared count of open incoming files of a key's send links.
    std::shared_ptr<KeyFiles> files_of_key(const Bytes& key);
    // Whole Unix seconds now (0 before 1970).
    std::int64_t unix_now() const;

    // Closing for an update.
    bool begin_closing_for_update();
    void end_closing_for_update();

    // Session threads: each holds one count while it runs; the last one out
    // starts the idle instant again.
    void enter_session_thread();
    void release_session_activity();

    // The browsers that came through watch links.
    std::unique_lock<std::mutex> lock_web_viewers() { return std::unique_lock<std::mutex>(web_viewer_mutex_); }
    std::vector<WebViewer>& web_viewers() { return web_viewers_; }  // with lock_web_viewers() held
    // Sends every browser of the web-viewer list away (bye, then close);
    // answers how many.
    std::size_t send_away_web_viewers();

    std::chrono::milliseconds web_grace() {
        std::lock_guard<std::mutex> lock(grace_mutex_);
        return web_grace_;
    }
    void set_web_grace(std::chrono::milliseconds grace) {
        std::lock_guard<std::mutex> lock(grace_mutex_);
        web_grace_ = grace;
    }

    // The listener's port and the listening flag.
    void set_listening(std::uint16_t port);

private:
    explicit HostState(HostStateConfig& config);
    LinkStanding device_link_standing_held(std::uint64_t session) const;

    std::shared_timed_mutex control_turn_mutex_;
    std::mutex main_mutex_;
    Main main_;

    CodeFile code_file_;  // locks itself

    std::mutex notifier_mutex_;
    std::function<void()> on_change_;

    std::mutex screenshots_mutex_;
    std::shared_ptr<std::atomic<std::uint8_t>> screenshots_running_;  // set while a watcher runs

    std::mutex idle_mutex_;
    std::optional<Clock::time_point> idle_since_;

    std::mutex keep_awake_mutex_;
    std::optional<bool> keep_awake_told_;

    std::mutex web_viewer_mutex_;
    std::vector<WebViewer> web_viewers_;

    std::mutex grace_mutex_;
    std::chrono::milliseconds web_grace_{8000};

    std::function<std::int64_t()> unix_now_;
    PairingCode::Now now_;

    // Counts a wrong code with the main lock held; answers whether it locked
    // pairing. The notice says which.
    bool count_wrong_code_held(const std::string& wrong_text, const std::string& locked_text, bool redraw);
    // After the main lock is let go: the log line of a lock-out and the code file.
    void after_wrong_code(bool locked);
    void give_back_pairing_place(std::uint64_t code_number);
};

// The Base64 text of a device's identity key, as trusted devices store it.
std::string device_key_text(ByteView key);

// The audience of a stream: a device session's link (with the host's frame
// ledger) or, with no writer, the watchers alone; the stream-info and
// picture-stopped callbacks reach the host through a weak reference.
std::shared_ptr<StreamOutput> make_stream_output(HostState& host, std::optional<LinkWriter> device_link,
                                                 std::uint64_t session);

// The picture-stopped callback of a session's stream: a reason code, or
// kPictureResumed. Tells the device when the session is still current.
void notify_picture_stopped(const std::weak_ptr<HostState>& host, std::uint64_t session, std::uint8_t value);

// The stream-info callback: the window's stream summary.
void set_stream_summary(const std::weak_ptr<HostState>& host, std::int64_t pixels_wide, std::int64_t pixels_high,
                        std::int64_t fps);

// The host's platform event handler: ready messages go to the current
// session; a copied file becomes an offer. Does nothing once the state is gone.
void forward_platform_event(const std::weak_ptr<HostState>& host, PlatformEvent event);

// Sends a file to the current session's device on "vorlix-file-out" with
// the purpose "screenshot" (the screenshots watcher's hand-over).
void start_file_send(const std::weak_ptr<HostState>& host, std::filesystem::path path);

}  // namespace vorlix
