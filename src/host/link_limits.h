// The bounds that keep peers which never sign in, guess pairing codes or stop
// reading from holding the host's memory and threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vorlix {

struct LinkLimits {
    // Links not yet signed in. Each holds two threads and a 256 KiB read
    // buffer; a household's devices open a handful at a time.
    std::size_t unsigned_links = 64;
    std::size_t unsigned_links_per_address = 16;
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

    // Counts a new link in, unless a cap is reached.
    Admission admit(std::uint64_t session, const std::string& source, const LinkLimits& limits);
    // The link signed in or ended; a second call does nothing.
    void release(std::uint64_t session);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::string> links_;
};

}  // namespace vorlix
