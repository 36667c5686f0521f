#include "handshake/messages.h"

#include <array>

#include "json/base64.h"
#include "json/json.h"

namespace vorlix {
namespace {

constexpr std::array<std::string_view, 3> kModeTexts = {"pair", "auth", "invite"};
constexpr std::array<std::string_view, 3> kRoleTexts = {"send", "watch", "preview"};
constexpr std::array<std::string_view, 5> kKindTexts = {"commit", "reveal", "signature", "failure", "proof"};
constexpr std::array<std::string_view, 9> kErrorTexts = {
    "notPaired", "pairingClosed", "wrongCode", "badSignature", "versionMismatch",
    "malformed", "hostChanged",   "roleUnsupported", "linkExpired"};
constexpr std::array<std::string_view, 9> kErrorLogNames = {
    "NotPaired", "PairingClosed", "WrongCode", "BadSignature", "VersionMismatch",
    "Malformed", "HostChanged",   "RoleUnsupported", "LinkExpired"};

template <typename Enum, std::size_t N>
std::optional<Enum> find_text(const std::array<std::string_view, N>& table, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i] == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}

// Reads one object field by field. Every reader leaves a description in
// `error` when it refuses.
class FieldReader {
public:
    explicit FieldReader(const Json& object) : object_(object) {}

    const Json* find(std::string_view key) const {
        auto it = object_.find(key);
        return it == object_.end() ? nullptr : &*it;
    }

    // A required field; sets the error and gives nullptr when missing.
    const Json* require(std::string_view key) {
        const Json* v = find(key);
        if (!v) fail("missing field `" + std::string(key) + "`");
        return v;
    }

    // An optional field: nullptr when absent or null.
    const Json* optional(std::string_view key) const {
        const Json* v = find(key);
        return (v && !v->is_null()) ? v : nullptr;
    }

    bool text(std::string_view key, std::string& out) {
        const Json* v = require(key);
        if (!v) return false;
        if (!v->is_string()) return wrong(key);
        out = v->get<std::string>();
        return true;
    }

    bool bytes(const Json& v, std::string_view key, Bytes& out) {
        auto decoded = json_base64(v);
        if (!decoded) return wrong(key);
        out = std::move(*decoded);
        return true;
    }

    bool bytes(std::string_view key, Bytes& out) {
        const Json* v = require(key);
        return v && bytes(*v, key, out);
    }

    bool optional_bytes(std::string_view key, std::optional<Bytes>& out) {
        const Json* v = optional(key);
        if (!v) return true;
        Bytes b;
        if (!bytes(*v, key, b)) return false;
        out = std::move(b);
        return true;
    }

    bool optional_bool(std::string_view key, std::optional<bool>& out) {
        const Json* v = optional(key);
        if (!v) return true;
        if (!v->is_boolean()) return wrong(key);
        out = v->get<bool>();
        return true;
    }

    template <typename Enum, std::size_t N>
    bool enum_value(const Json& v, std::string_view key, const std::array<std::string_view, N>& table, Enum& out) {
        if (!v.is_string()) return wrong(key);
        auto found = find_text<Enum>(table, v.get_ref<const std::string&>());
        if (!found) return fail("unknown variant in `" + std::string(key) + "`");
        out = *found;
        return true;
    }

    template <typename Enum, std::size_t N>
    bool optional_enum(std::string_view key, const std::array<std::string_view, N>& table,
                       std::optional<Enum>& out) {
        const Json* v = optional(key);
        if (!v) return true;
        Enum e{};
        if (!enum_value(*v, key, table, e)) return false;
        out = e;
        return true;
    }

    bool wrong(std::string_view key) { return fail("invalid type in field `" + std::string(key) + "`"); }

    bool fail(std::string text) {
        if (error.empty()) error = std::move(text);
        return false;
    }

    std::string error;

private:
    const Json& object_;
};

Result<Json> read_object(ByteView bytes) {
    auto doc = parse_json(bytes, DuplicateKeys::refuse);
    if (!doc) return doc.error();
    if (!doc->is_object()) return Error("expected a JSON object");
    return std::move(doc).value();
}

Bytes to_json_bytes(const OrderedJson& value) {
    // Texts that are not valid UTF-8 (a badly converted name) are written
    // with replacement characters rather than failing the whole message.
    auto text = write_compact(value, BadUtf8::replace);
    return to_bytes(text.ok() ? text.value() : std::string());
}

}  // namespace

std::string_view hello_mode_text(HelloMode mode) { return kModeTexts[static_cast<std::size_t>(mode)]; }
std::string_view peer_role_text(PeerRole role) { return kRoleTexts[static_cast<std::size_t>(role)]; }
std::string_view handshake_kind_text(HandshakeKind kind) { return kKindTexts[static_cast<std::size_t>(kind)]; }
std::string_view pairing_error_text(PairingError error) { return kErrorTexts[static_cast<std::size_t>(error)]; }
std::string_view pairing_error_log_name(PairingError error) {
    return kErrorLogNames[static_cast<std::size_t>(error)];
}

std::optional<HelloMode> hello_mode_from_text(std::string_view text) { return find_text<HelloMode>(kModeTexts, text); }
std::optional<PeerRole> peer_role_from_text(std::string_view text) { return find_text<PeerRole>(kRoleTexts, text); }
std::optional<HandshakeKind> handshake_kind_from_text(std::string_view text) {
    return find_text<HandshakeKind>(kKindTexts, text);
}
std::optional<PairingError> pairing_error_from_text(std::string_view text) {
    return find_text<PairingError>(kErrorTexts, text);
}

Result<Hello> parse_hello(ByteView bytes) {
    auto doc = read_object(bytes);
    if (!doc) return doc.error();
    FieldReader r(doc.value());
    Hello hello;

    if (const Json* v = r.require("version")) {
        auto version = json_i64(*v);
        if (version) {
            hello.version = *version;
        } else {
            r.wrong("version");
        }
    }
    if (r.error.empty()) {
        r.text("name", hello.name) && r.text("model", hello.model) && r.bytes("idKey", hello.id_key) &&
            r.bytes("ephemeralKey", hello.ephemeral_key) && r.optional_enum("mode", kModeTexts, hello.mode) &&
            r.optional_bool("known", hello.known) && r.optional_bool("pairingOpen", hello.pairing_open) &&
            r.optional_enum("role", kRoleTexts, hello.role) && r.optional_bytes("invite", hello.invite);
    }
    if (r.error.empty()) {
        if (const Json* v = r.optional("roles")) {
            if (!v->is_array()) {
                r.wrong("roles");
            } else {
                std::vector<PeerRole> roles;
                for (const Json& element : *v) {
                    PeerRole role{};
                    if (!r.enum_value(element, "roles", kRoleTexts, role)) break;
                    roles.push_back(role);
                }
                hello.roles = std::move(roles);
            }
        }
    }
    if (!r.error.empty()) return Error(r.error);
    return hello;
}

Bytes write_hello(const Hello& hello) {
    OrderedJson out = OrderedJson::object();
    out["version"] = hello.version;
    out["name"] = hello.name;
    out["model"] = hello.model;
    out["idKey"] = base64_encode(hello.id_key);
    out["ephemeralKey"] = base64_encode(hello.ephemeral_key);
    if (hello.mode) out["mode"] = hello_mode_text(*hello.mode);
    if (hello.known) out["known"] = *hello.known;
    if (hello.pairing_open) out["pairingOpen"] = *hello.pairing_open;
    if (hello.role) out["role"] = peer_role_text(*hello.role);
    if (hello.roles) {
        OrderedJson roles = OrderedJson::array();
        for (PeerRole role : *hello.roles) roles.push_back(peer_role_text(role));
        out["roles"] = std::move(roles);
    }
    if (hello.invite) out["invite"] = base64_encode(*hello.invite);
    return to_json_bytes(out);
}

Result<HandshakeMessage> parse_handshake_message(ByteView bytes) {
    auto doc = read_object(bytes);
    if (!doc) return doc.error();
    FieldReader r(doc.value());
    HandshakeMessage message;
    if (const Json* v = r.require("kind")) r.enum_value(*v, "kind", kKindTexts, message.kind);
    if (r.error.empty()) {
        r.optional_bytes("value", message.value) && r.optional_bytes("nonce", message.nonce) &&
            r.optional_enum("reason", kErrorTexts, message.reason);
    }
    if (!r.error.empty()) return Error(r.error);
    return message;
}

Bytes write_handshake_message(const HandshakeMessage& message) {
    OrderedJson out = OrderedJson::object();
    out["kind"] = handshake_kind_text(message.kind);
    if (message.value) out["value"] = base64_encode(*message.value);
    if (message.nonce) out["nonce"] = base64_encode(*message.nonce);
    if (message.reason) out["reason"] = pairing_error_text(*message.reason);
    return to_json_bytes(out);
}

}  // namespace vorlix
