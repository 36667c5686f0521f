// The bounds that keep peers which never sign in, guess pairing codes or stop
// reading from holding the host's memory and threads.
#pragma once

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
    // behind it, so a relay's cap is above one address's. Two relays (the
    // watch links share the main relay's address) hold at most 48 of the 64
    // places, which leaves the local network a whole address's share.
    std::size_t unsigned_links_per_relay = 24;
    // Pairing handshakes running at once: one person pairs one device.
    std::size_t pairing_handshakes = 4;
    // Bytes other than video waiting to be written to one link. The largest
    // single message is a clipboard picture of 16 MB as Base64; file pieces
    // wait below 4 MB. A link that stays past this does not read.
    std::uint64_t queued_bytes = 64ull << 20;
};

// The links that have not signed in yet, by session number, with the
// address each came from. Thread-safe.
class UnsignedLinks {
public:
    enum class Admission { Admitted, TooMany, TooManyFromAddress };

    // Counts a new direct link in, unless a cap is reached.
    Admission admit(std::uint64_t session, const std::string& source, const LinkLimits& limits);

    // Counts in a link that the relay at `relay` joined. At the relay's cap,
    // or at the overall cap, the relay's oldest link that is not in its
    // handshake yet (no Hello taken from its peer) makes room: it leaves the
    // count and `closed` names it, for the caller to close with the closer it
    // was admitted with. A link in its handshake is never given up, however
    // fast newer links come; it ends at its own sign-in deadline. Refused
    // when the relay has no link to give up.
    struct RelayAdmission {
        Admission admission = Admission::Admitted;
        std::optional<std::uint64_t> closed;
    };
    RelayAdmission admit_through_relay(std::uint64_t session, const std::string& relay, const LinkLimits& limits,
                                       std::function<void()> close);

    // The link's peer sent its Hello and the handshake goes on: it is not
    // given up for a newer link.
    void set_in_handshake(std::uint64_t session);
    // The link runs a pairing, which waits for a person; it is in its
    // handshake as above.
    void set_pairing(std::uint64_t session) { set_in_handshake(session); }
    // The link signed in or ended; true when it was still counted (false
    // for a second call, and for a link that made room for another).
    bool release(std::uint64_t session);
    std::size_t size() const;

private:
    struct Entry {
        std::string source;
        bool relay = false;
        bool in_handshake = false;
        std::function<void()> close;
    };

    mutable std::mutex mutex_;
    std::map<std::uint64_t, Entry> links_;  // oldest first: session numbers only grow
};

}  // namespace vorlix
