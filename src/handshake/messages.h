// The two records of the plain handshake frames: the Hello each side opens
// with, and the HandshakeMessage of each later step. Both are read strictly
// (a repeated key of the record, a missing required key or a mistyped value
// fails; a key the record does not have is skipped with its value) and
// written byte-exactly: compact, keys in declaration order, absent optional
// fields left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

enum class HelloMode : std::uint8_t { Pair, Auth, Invite };
enum class PeerRole : std::uint8_t { Send, Watch, Preview };
enum class HandshakeKind : std::uint8_t { Commit, Reveal, Signature, Failure, Proof };
enum class PairingError : std::uint8_t {
    NotPaired,
    PairingClosed,
    WrongCode,
    BadSignature,
    VersionMismatch,
    Malformed,
    HostChanged,
    RoleUnsupported,
    LinkExpired,
};

// The JSON texts ("pair", "preview", "commit", "wrongCode", ...).
std::string_view hello_mode_text(HelloMode mode);
std::string_view peer_role_text(PeerRole role);
std::string_view handshake_kind_text(HandshakeKind kind);
std::string_view pairing_error_text(PairingError error);
// The name printed in log lines ("WrongCode", ...).
std::string_view pairing_error_log_name(PairingError error);

// Exact, case-sensitive matches of the JSON texts.
std::optional<HelloMode> hello_mode_from_text(std::string_view text);
std::optional<PeerRole> peer_role_from_text(std::string_view text);
std::optional<HandshakeKind> handshake_kind_from_text(std::string_view text);
std::optional<PairingError> pairing_error_from_text(std::string_view text);

struct Hello {
    std::int64_t version = 0;
    std::string name;
    std::string model;
    Bytes id_key;
    Bytes ephemeral_key;
    std::optional<HelloMode> mode;
    std::optional<bool> known;
    std::optional<bool> pairing_open;
    std::optional<PeerRole> role;
    std::optional<std::vector<PeerRole>> roles;
    std::optional<Bytes> invite;

    bool operator==(const Hello&) const = default;
};

struct HandshakeMessage {
    HandshakeKind kind = HandshakeKind::Failure;
    std::optional<Bytes> value;
    std::optional<Bytes> nonce;
    std::optional<PairingError> reason;

    bool operator==(const HandshakeMessage&) const = default;
};

// A parse failure carries the JSON reader's description.
Result<Hello> parse_hello(ByteView bytes);
Bytes write_hello(const Hello& hello);

Result<HandshakeMessage> parse_handshake_message(ByteView bytes);
Bytes write_handshake_message(const HandshakeMessage& message);

}  // namespace vorlix
