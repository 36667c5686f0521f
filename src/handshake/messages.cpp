#include "handshake/messages.h"

#include <array>
#include <utility>

#include "json/base64.h"
#include "json/fields.h"
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

// Reads the fields of one message object strictly, one key after the other;
// the first refusal ends the reading and leaves its description in `error`.
class FieldReader {
public:
    explicit FieldReader(const Json& object) : fields_(object) {}

    // A field that must be there.
    template <typename T>
    bool required(std::string_view key, T& out) {
        const Json* v = fields_.find(key);
        if (!v) return fail("missing field `" + std::string(key) + "`");
        return read(*v, key, out);
    }

    // A field that may be missing; absent or null leaves it empty.
    template <typename T>
    bool optional(std::string_view key, std::optional<T>& out) {
        const Json* v = fields_.find_set(key);
        if (!v) return true;
        T value{};
        if (!read(*v, key, value)) return false;
        out = std::move(value);
        return true;
    }

    std::string error;

private:
    template <typename T>
    bool read(const Json& v, std::string_view key, T& out) {
        auto value = json_as<T>(v);
        if (!value) return wrong(key);
        out = std::move(*value);
        return true;
    }

    bool read(const Json& v, std::string_view key, HelloMode& out) { return variant(v, key, kModeTexts, out); }
    bool read(const Json& v, std::string_view key, PeerRole& out) { return variant(v, key, kRoleTexts, out); }
    bool read(const Json& v, std::string_view key, HandshakeKind& out) { return variant(v, key, kKindTexts, out); }
    bool read(const Json& v, std::string_view key, PairingError& out) { return variant(v, key, kErrorTexts, out); }

    bool read(const Json& v, std::string_view key, std::vector<PeerRole>& out) {
        if (!v.is_array()) return wrong(key);
        for (const Json& element : v) {
            PeerRole role{};
            if (!read(element, key, role)) return false;
            out.push_back(role);
        }
        return true;
    }

    template <typename Enum, std::size_t N>
    bool variant(const Json& v, std::string_view key, const std::array<std::string_view, N>& table, Enum& out) {
        if (!v.is_string()) return wrong(key);
        auto found = find_text<Enum>(table, v.get_ref<const std::string&>());
        if (!found) return fail("unknown variant in `" + std::string(key) + "`");
        out = *found;
        return true;
    }

    bool wrong(std::string_view key) { return fail("invalid type in field `" + std::string(key) + "`"); }

    bool fail(std::string text) {
        error = std::move(text);
        return false;
    }

    JsonFields fields_;
};

// Reads one message: a JSON object whose fields `read_fields` asks for in
// order from a FieldReader.
template <typename Message, typename ReadFields>
Result<Message> read_message(ByteView bytes, ReadFields read_fields) {
    // A repeated key of the message itself fails it; members it does not
    // know are skipped unjudged, whatever they hold.
    auto doc = parse_json(bytes, DuplicateKeys::refuse_at_top);
    if (!doc) return doc.error();
    if (!doc->is_object()) return Error("expected a JSON object");
    FieldReader r(doc.value());
    Message message;
    if (!read_fields(r, message)) return Error(r.error);
    return message;
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
    return read_message<Hello>(bytes, [](FieldReader& r, Hello& hello) {
        return r.required("version", hello.version) && r.required("name", hello.name) &&
               r.required("model", hello.model) && r.required("idKey", hello.id_key) &&
               r.required("ephemeralKey", hello.ephemeral_key) && r.optional("mode", hello.mode) &&
               r.optional("known", hello.known) && r.optional("pairingOpen", hello.pairing_open) &&
               r.optional("role", hello.role) && r.optional("invite", hello.invite) &&
               r.optional("roles", hello.roles);
    });
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
    return read_message<HandshakeMessage>(bytes, [](FieldReader& r, HandshakeMessage& message) {
        return r.required("kind", message.kind) && r.optional("value", message.value) &&
               r.optional("nonce", message.nonce) && r.optional("reason", message.reason);
    });
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
