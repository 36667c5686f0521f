// The bounds that keep peers which never sign in, guess pairing codes or stop
// reading from holding the host's memory and threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

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
    // Bytes other than video waiting to be written to one link. The largest
    // single message is a clipboard picture of 16 MB as Base64; file pieces
    // wait below 4 MB. A link that stays past this does not read.
    std::uint64_t queued_bytes = 64ull << 20;
    // Refused links are logged as a count, one line in this time at most, so
    // that a flood of them cannot push the log past its size limit.
    std::chrono::milliseconds refusal_log_every{1000};
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
        // The link closed to make room, and the source it was counted under.
        std::optional<std::uint64_t> closed;
        std::string closed_source;
        // "N links refused: ...", when a line is due.
        std::optional<std::string> refusals;
    };

    // Counts a new link from `source` in, its source holding at most
    // `source_cap` links. The link cannot make room for others until
    // `set_closer` gives it a way to be closed.
    Admission admit(std::uint64_t session, const std::string& source, std::size_t source_cap,
                    const LinkLimits& limits);
    // `close` ends the admitted link, on the thread of whichever newer link
    // it makes room for.
    void set_closer(std::uint64_t session, std::function<void()> close);

    // The link holds a pairing place until it signs in or ends.
    void mark_pairing(std::uint64_t session);
    // The link waits for the signature of the trusted key `key`; it takes the
    // key's mark from any older link.
    void mark_signing(std::uint64_t session, const std::string& key);

    // The link signed in or ended; true when it was still counted (false
    // for a second call, and for a link that made room for another).
    bool release(std::uint64_t session);
    std::size_t size() const;

private:
    enum class Mark { None, Pairing, Signing };
    struct Entry {
        std::string source;
        std::function<void()> close;
        Mark mark = Mark::None;
        std::string key;  // the trusted key of a Signing mark
        bool may_make_room() const { return close && mark == Mark::None; }
    };
    using Links = std::map<std::uint64_t, Entry>;  // oldest first: session numbers only grow

    Links::iterator room_for(const std::string& source, std::size_t source_cap, const LinkLimits& limits,
                             std::string& refusal);
    std::optional<std::string> refusals_due(const LinkLimits& limits);

    mutable std::mutex mutex_;
    Links links_;
    std::uint64_t refused_ = 0;  // since the last refusals line
    std::string last_refusal_;
    std::optional<std::chrono::steady_clock::time_point> last_line_;
};

}  // namespace vorlix
