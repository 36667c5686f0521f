#include "relay/relay_lines.h"

#include "app/text.h"
#include "json/base64.h"

namespace vorlix {

namespace {

constexpr std::string_view kSignedPrefix = "vorlix-relay-v1:";

std::string_view trim(std::string_view text) {
    const char* space = " \t\r\n";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

Result<Json> parse_line(std::string_view line) { return parse_json(trim(line), DuplicateKeys::keep_last); }

// An object whose "ok" is the literal true.
bool says_ok(const Json& value) {
    if (!value.is_object()) return false;
    auto ok = value.find("ok");
    return ok != value.end() && ok->is_boolean() && ok->get<bool>();
}

}  // namespace

std::string write_json_line(const Json& value) {
    Result<std::string> text = write_compact(value);
    return text ? *text + "\n" : std::string("\n");
}

std::string relay_sign_in_line(const Key32& public_key, RelayMode mode) {
    Json line = {{"key", base64_encode(ByteView(public_key.data(), public_key.size()))}, {"role", "host"}};
    if (mode == RelayMode::WatchLinks) line["web"] = true;
    return write_json_line(line);
}

Bytes relay_signed_message(std::string_view nonce) {
    Bytes message(kSignedPrefix.begin(), kSignedPrefix.end());
    message.insert(message.end(), nonce.begin(), nonce.end());
    return message;
}

std::string relay_signature_line(const Ed25519KeyPair& keys, std::string_view nonce) {
    Signature64 sig = ed25519_sign(keys, relay_signed_message(nonce));
    return write_json_line(Json{{"sig", base64_encode(ByteView(sig.data(), sig.size()))}});
}

std::string relay_accept_line(std::string_view token) {
    return write_json_line(Json{{"role", "accept"}, {"token", std::string(token)}});
}

RelayLine read_relay_line(std::string_view line) {
    Result<Json> parsed = parse_line(line);
    if (!parsed || !parsed->is_object()) return {};
    const Json& value = *parsed;
    auto text_of = [&](const char* key) -> std::optional<std::string> {
        auto it = value.find(key);
        if (it == value.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    if (auto nonce = text_of("nonce")) return {RelayLine::Kind::Nonce, *nonce};
    if (says_ok(value)) return {RelayLine::Kind::Ok, {}};
    if (auto token = text_of("incoming")) return {RelayLine::Kind::Incoming, *token};
    return {};
}

Status check_join_answer(std::string_view line) {
    Result<Json> value = parse_line(line);
    if (!value) return Error("the relay's answer to a join is not JSON");
    if (!says_ok(*value)) return Error("the relay did not join the link");
    return {};
}

Result<std::optional<std::string>> RelayLineReader::next() {
    std::size_t end = buffer_.find('\n', scanned_);
    if (end == std::string::npos) {
        scanned_ = buffer_.size();
        if (buffer_.size() > max_line_) {
            return Error("a line longer than " + std::to_string(max_line_) + " bytes");
        }
        return std::optional<std::string>();
    }
    if (end > max_line_) return Error("a line longer than " + std::to_string(max_line_) + " bytes");
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    scanned_ = 0;
    if (!is_valid_utf8(line)) return Error("the relay sent bytes that are not UTF-8");
    return std::optional<std::string>(std::move(line));
}

}  // namespace vorlix
