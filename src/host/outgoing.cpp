#include "host/outgoing.h"

#include <cmath>

#include "json/base64.h"
#include "json/json.h"

namespace vorlix {

namespace {

// Json keeps its members in byte order, which is the order messages are
// written in.
std::string message(const char* name, Json fields) {
    Json outer = Json::object();
    outer[name] = std::move(fields);
    Result<std::string> text = write_compact(outer);
    return text ? std::move(*text) : std::string();
}

Json string_list(const std::vector<std::string>& items) {
    Json list = Json::array();
    for (const auto& item : items) list.push_back(item);
    return list;
}

Json number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

}  // namespace

std::string bye_message() { return message("bye", Json::object()); }

std::string pong_message(std::uint64_t value) { return message("pong", Json{{"_0", value}}); }

std::string host_info_message(const std::string& version, const std::vector<std::string>& features) {
    return message("hostInfo", Json{{"version", version}, {"features", string_list(features)}});
}

std::string permissions_message(bool screen_recording, bool accessibility) {
    return message("permissions", Json{{"screenRecording", screen_recording}, {"accessibility", accessibility}});
}

std::string levels_message(const Levels& levels) {
    Json fields = Json{{"volume", number(levels.volume)}, {"muted", levels.muted}};
    if (levels.brightness) fields["brightness"] = number(*levels.brightness);
    return message("levels", std::move(fields));
}

std::string front_app_message(const FrontApp& app) {
    return message("frontApp", Json{{"bundleID", app.bundle_id}, {"name", app.name}});
}

std::string watchers_message(const std::vector<std::string>& names) {
    return message("watchers", Json{{"_0", string_list(names)}});
}

std::string web_watchers_message(std::int64_t watching, std::int64_t links) {
    return message("webWatchers", Json{{"watching", watching}, {"links", links}});
}

std::string reach_message(const std::vector<std::string>& addresses, std::uint16_t port) {
    return message("reach", Json{{"addresses", string_list(addresses)}, {"port", port}});
}

std::string wake_info_message(const std::vector<std::string>& mac_addresses, const std::vector<std::string>& addresses) {
    return message("wakeInfo", Json{{"macAddresses", string_list(mac_addresses)}, {"addresses", string_list(addresses)}});
}

std::string preview_message(ByteView picture) { return message("preview", Json{{"_0", base64_encode(picture)}}); }

std::string ink_clear_message(const std::string& author) {
    Json event = Json{{"id", 0},          {"phase", "clear"}, {"kind", "pen"},    {"color", 0},
                      {"width", 0.004},   {"points", Json::array()},              {"author", author}};
    return message("annotate", Json{{"_0", std::move(event)}});
}

}  // namespace vorlix
