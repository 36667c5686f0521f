#include "update/manifest.h"

#include <algorithm>
#include <charconv>

#include "app/text.h"
#include "json/base64.h"
#include "json/json.h"
#include "json/record.h"

namespace vorlix {
namespace {

bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool is_space_or_control(char16_t u) {
    if (u <= 0x20 || (u >= 0x7F && u <= 0xA0)) return true;
    return u == 0x1680 || (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F ||
           u == 0x205F || u == 0x3000;
}

Status read_download(const Json& value, Download& d) {
    const RecordField fields[] = {
        {"url", false, read_into(d.url)},
        {"size", false, read_into(d.size)},
        {"sha256", false, read_into(d.sha256)},
        {"signature", false, read_into(d.signature)},
    };
    return read_record(value, "Download", fields, std::size(fields));
}

Status read_downloads(const Json& value, std::map<std::string, Download>& out) {
    if (!value.is_object()) return type_error(value, "a map");
    for (const auto& [key, entry] : value.items()) {
        Download d;
        if (Status s = read_download(entry, d); !s) return s;
        out.emplace(key, std::move(d));
    }
    return {};
}

bool is_hex64(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

}  // namespace

bool is_manifest_link(std::string_view url) {
    if (!starts_with_ascii_nocase(url, "http://") && !starts_with_ascii_nocase(url, "https://")) return false;
    const std::u16string units = utf8_to_utf16(url);
    return std::none_of(units.begin(), units.end(), is_space_or_control);
}

Result<Manifest> parse_manifest(ByteView text) {
    if (text.size() > kManifestLimit) return Error("update.json is too big");
    Result<Json> json = parse_json(text, DuplicateKeys::refuse);
    if (!json) return Error("update.json: " + json.error().text);
    Manifest m;
    const RecordField fields[] = {
        {"version", false, read_into(m.version)},
        {"downloads", false, [&m](const Json& v) { return read_downloads(v, m.downloads); }},
    };
    if (Status s = read_record(*json, "Manifest", fields, std::size(fields)); !s) {
        return Error("update.json: " + s.error().text);
    }
    if (!parse_version(m.version)) return Error("update.json: version " + m.version + " is not like 1.2.0");
    for (const auto& [key, d] : m.downloads) {
        const std::string where = "update.json: " + key + ": ";
        if (!is_manifest_link(d.url)) return Error(where + "not a web link");
        if (d.size < 1 || d.size > kArchiveLimit) return Error(where + "size " + std::to_string(d.size));
        if (!is_hex64(d.sha256)) return Error(where + "sha256 is not 64 hex digits");
        const std::optional<Bytes> signature = base64_decode(trim_unicode_space(d.signature));
        if (!signature || signature->size() != 64) return Error(where + "signature is not 64 bytes of base64");
    }
    return m;
}

std::optional<std::vector<std::uint32_t>> parse_version(std::string_view text) {
    text = trim_unicode_space(text);
    std::vector<std::uint32_t> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        std::string_view part = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || part.size() > 9 || parts.size() == 4) return std::nullopt;
        if (part.front() == '+') part.remove_prefix(1);
        if (part.empty() || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        std::from_chars(part.data(), part.data() + part.size(), number);
        parts.push_back(number);
        if (dot == std::string_view::npos) return parts;
        start = dot + 1;
    }
}

namespace {

// Both versions padded with zeros to the same length; none when either is
// not a version.
std::optional<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> padded(std::string_view a,
                                                                                       std::string_view b) {
    auto va = parse_version(a);
    auto vb = parse_version(b);
    if (!va || !vb) return std::nullopt;
    const std::size_t n = std::max(va->size(), vb->size());
    va->resize(n, 0);
    vb->resize(n, 0);
    return std::pair(std::move(*va), std::move(*vb));
}

}  // namespace

bool is_newer_version(std::string_view a, std::string_view b) {
    const auto both = padded(a, b);
    return both && both->first > both->second;
}

bool is_same_version(std::string_view a, std::string_view b) {
    const auto both = padded(a, b);
    return both && both->first == both->second;
}

std::optional<PendingUpdate> pick_newer_download(const Manifest& manifest, std::string_view own_version,
                                                 std::string_view key) {
    if (!is_newer_version(manifest.version, own_version)) return std::nullopt;
    const auto found = manifest.downloads.find(std::string(key));
    if (found == manifest.downloads.end()) return std::nullopt;
    return PendingUpdate{manifest.version, found->second};
}

}  // namespace vorlix
