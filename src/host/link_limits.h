// The bounds that keep peers which never sign in, guess pairing codes or stop
// reading from holding the host's memory and threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vorlix {

struct LinkLimits {
    // Links not yet signed in. Each holds two threads and a 256 KiB read
    // buffer; a household's devices open a handful at a time.
    std::size_t unsigned_links = 64;
    std::size_t unsigned_links_per_address = 16;
    // Every link a relay joins comes from the relay's address, whoever is
    // behind it, so a relay's cap is above one address's.
    std::size_t unsigned_links_per_relay = 24;
    // Pairings between their commit and their reveal: one person pairs one
    // device, and the reveal follows the commit within a round trip.
    std::size_t pairing_handshakes = 4;
    // Signed-in device links of one trusted key and one role (send, watch,
    // preview, or none: the link that takes control). A phone holds one link
    // of each; the second place lets a new one (a reconnect on another
    // network, or the share sheet sending beside the app) sign in while the
    // old one is still up or not yet noticed gone. The newest wins: past
    // this the key's oldest link of that role is sent away.
    std::size_t signed_in_per_key_and_role = 2;
    // Signed-in device links of all keys: eight devices with a link of each
    // role, or four with two. Past this the key that holds the most links
    // gives its oldest.
    std::size_t signed_in_links = 32;
    // Bytes other than video waiting to be written to one link. The largest
    // single message is a clipboard picture of 16 MB as Base64; file pieces
    // wait below 4 MB. A link that stays past this does not read.
    std::uint64_t queued_bytes = 64ull << 20;
    // The lines of links that never sign in are written one link in this
    // time at most, and in ever longer times while links keep coming, the
    // rest as counts, so that neither a flood nor a trickle of them can push
    // the log past its size limit (0: every line is written).
    std::chrono::milliseconds link_log_every{1000};
};

// What a direct link is counted under: the peer's IPv4 address, or the /64 of
// its IPv6 address (a host on a network has any number of addresses in its
// /64). `peer` is "a.b.c.d:port" or "[v6]:port"; an unreadable text is its
// own source.
std::string link_source(const std::string& peer);

// The links that have not signed in yet, by session number, with the source
// each is counted under. Thread-safe.
//
// A new link past its source's cap, or past the overall cap, takes the place
// of an older link that holds no mark: its source's oldest at the source's
// cap; at the overall cap, the oldest of the source that holds the most such
// links. Marks are few by construction: a pairing between its commit and its
// reveal (there are only a few pairing places), and for each trusted key only
// the newest link waiting for that key's signature. A link is refused only
// when no link may make room.
class UnsignedLinks {
public:
    struct Admission {
        bool admitted = false;
        // What a refused link was refused for, and the same without its source.
        std::string refusal;
        std::string refusal_kind;
        // The link closed to make room, the source it was counted under and
        // its connection line.
        std::optional<std::uint64_t> closed;
        std::string closed_source;
        std::string closed_connection;
    };

    // Counts a new link from `source` in, its source holding at most
    // `source_cap` links; `connection` is its connection line, told when the
    // link signs in or ends. The link cannot make room for others until
    // `set_closer` gives it a way to be closed.
    Admission admit(std::uint64_t session, const std::string& source, std::size_t source_cap,
                    const LinkLimits& limits, std::string connection);
    // `close` ends the admitted link, on the thread of whichever newer link
    // it makes room for.
    void set_closer(std::uint64_t session, std::function<void()> close);

    // The link holds a pairing place until it signs in or ends; false when
    // it is no longer counted (it made room for a newer one).
    bool mark_pairing(std::uint64_t session);
    // The link waits for the signature of the trusted key `key`; it takes the
    // key's mark from any older link of that key.
    void mark_signing(std::uint64_t session, const std::string& key);

    // The link signed in or ended: its connection line while it was still
    // counted (nothing for a second call, and for a link that made room for
    // another).
    std::optional<std::string> release(std::uint64_t session);
    // Whether the link is still counted (it has not made room for another).
    bool holds(std::uint64_t session) const;
    // Waits up to `pause` while the link is still counted; answers whether
    // it still is. A link made to give up its place ends its wait at once.
    bool pause_while_held(std::uint64_t session, std::chrono::milliseconds pause);
    std::size_t size() const;
    // Closes every link that can be closed (at quit); each gives its place
    // back, and has its lines written, as its thread ends.
    void close_all();

private:
    enum class Mark { None, Pairing, Signing };
    struct Entry {
        std::string source;
        std::string connection;
        std::function<void()> close;
        Mark mark = Mark::None;
        std::string key;  // the trusted key of a Signing mark
        // Set while the link's thread pauses, woken when it gives up its place.
        std::shared_ptr<std::condition_variable> pausing;
        bool may_make_room() const { return close && mark == Mark::None; }
    };
    using Links = std::map<std::uint64_t, Entry>;  // oldest first: session numbers only grow

    Links::iterator room_for(const std::string& source, std::size_t source_cap, const LinkLimits& limits,
                             Admission& refusal);

    mutable std::mutex mutex_;
    Links links_;
};

// The log lines of links that never sign in. A link's lines are written
// whole when nothing is counted and the wait since the last line is over;
// the lines of further links are counted by kind, and once the wait is over
// the counts are written as one line, by the next link or by a thread of this
// log's own when no further link comes, and at the latest when the log is
// flushed or let go. Each line, whole or of counts, waits twice as long as
// the one before, up to `kLongestWait` times `every`, so that a trickle of a
// link a wait is soon counted as a flood is. After a quiet while (that
// longest wait without a link) the next link is written whole and the waits
// start over from `every`. Thread-safe.
class LinkLog {
public:
    struct Line {
        std::string kind;  // what is counted: the line without its session and numbers
        std::string text;  // the whole line
    };
    using Write = std::function<void(std::string_view)>;
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // `counted` leads each count line, before the time counting began. The
    // waits are measured by `now`, in the steady clock's time points: this
    // log's thread sleeps on that clock until its line is due.
    explicit LinkLog(Write write, std::string counted = "links that did not sign in since ", Now now = Clock::now);
    // Writes what is counted.
    ~LinkLog();
    LinkLog(const LinkLog&) = delete;
    LinkLog& operator=(const LinkLog&) = delete;

    // The lines of one link.
    void note(std::vector<Line> lines, std::chrono::milliseconds every);
    // The lines of a link that few links are, written whole whatever is
    // counted: one that took a pairing place (there are only a few, and
    // every wrong code counts), or, with its `key`, one that held a trusted
    // key's mark. A Hello copied off the network takes its key's mark link
    // after link, so each key's links are written whole once a wait at most
    // (`every`, or longer while the waits grow); the rest are noted as any
    // link's.
    void note_marked(std::vector<Line> lines, std::chrono::milliseconds every, const std::string& key = {});
    // Writes what is counted now.
    void flush();

    // Named kinds counted in one line; the lines of further kinds are
    // counted together as "other".
    static constexpr std::size_t kMaxKinds = 16;
    // The longest wait between count lines, in `every`s: a minute for the
    // host's second.
    static constexpr int kLongestWait = 60;

private:
    void run();
    // Under the lock, for a link noted `now`: puts a count line whose wait is
    // over in `written`, and answers whether the link's lines may be written
    // whole, which makes the next line wait longer.
    bool take_turn(Clock::time_point now, std::chrono::milliseconds every, std::vector<std::string>& written);
    // The line of the counts, which are cleared; empty when none. The next
    // line waits longer.
    std::string take_counts_line(Clock::time_point now);
    // A line was written `now`: the next waits twice as long, within bounds.
    void back_off(Clock::time_point now);

    const Write write_;
    const std::string counted_;
    const Now now_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<std::string, std::uint64_t>> counts_;  // in the order first counted
    std::uint64_t others_ = 0;                                   // lines past the named kinds
    std::uint64_t counted_since_ = 0;                            // UTC milliseconds
    Clock::time_point next_line_{};
    std::chrono::milliseconds every_{0};
    std::chrono::milliseconds wait_{0};  // between the last line and the next
    std::optional<Clock::time_point> last_link_;  // when the last link was noted
    std::map<std::string, Clock::time_point> marked_keys_;  // when each key's links are next written whole
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vorlix
