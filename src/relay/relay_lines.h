// The relay's line protocol: one compact JSON object per line, ended by a
// line feed, in both directions; and the bounded reader that cuts lines out
// of what the relay sends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/crypto.h"
#include "json/json.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// The longest line taken from a relay; a relay's lines are short objects.
inline constexpr std::size_t kMaxRelayLine = 65536;
// The longest answer to a join.
inline constexpr std::size_t kMaxJoinAnswer = 512;

enum class RelayMode { Sessions, WatchLinks };

// The compact JSON text followed by "\n" ("\n" alone when it cannot be written).
std::string write_json_line(const Json& value);

// {"key":K,"role":"host"} (with "web":true for watch links).
std::string relay_sign_in_line(const Key32& public_key, RelayMode mode);

// {"sig":S} over "vorlix-relay-v1:" followed by the nonce.
std::string relay_signature_line(const Ed25519KeyPair& keys, std::string_view nonce);
Bytes relay_signed_message(std::string_view nonce);

// {"role":"accept","token":T}
std::string relay_accept_line(std::string_view token);

// What one line from the relay asks for; "nonce" wins over "ok", "ok" over
// "incoming"; anything else is ignored.
struct RelayLine {
    enum class Kind { Nonce, Ok, Incoming, Ignored };
    Kind kind = Kind::Ignored;
    std::string text;  // the nonce or the token
};
RelayLine read_relay_line(std::string_view line);

// The relay's answer to a join: success only for an object whose "ok" is
// true; a line that is not JSON is a fault of the relay's, any other answer
// a refusal.
Status check_join_answer(std::string_view line);

// Cuts lines out of received bytes. A line longer than the bound, or bytes
// that are not UTF-8, make an error; the reader is then spent.
class RelayLineReader {
public:
    explicit RelayLineReader(std::size_t max_line = kMaxRelayLine) : max_line_(max_line) {}
    void append(const std::uint8_t* data, std::size_t size) { buffer_.append(reinterpret_cast<const char*>(data), size); }
    // The next whole line without its "\n", nothing while a line is still
    // incomplete, or an error.
    Result<std::optional<std::string>> next();

private:
    std::string buffer_;
    std::size_t scanned_ = 0;
    std::size_t max_line_;
};

}  // namespace vorlix
