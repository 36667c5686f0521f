#include "control/messages.h"

#include <cmath>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "json/base64.h"
#include "json/fields.h"

namespace vorlix {
namespace {

using namespace control;

// --- the message table ---------------------------------------------------------
// Every message type has one entry: its JSON name and its fields, each a key
// and the member that holds it. How a field is read and written follows from
// the member's type; `lenient` marks the two lists of wakeOther.

template <typename M, typename T>
struct FieldDef {
    std::string_view key;
    T M::*member;
    bool lenient = false;
};

template <typename M, typename T>
constexpr FieldDef<M, T> field(std::string_view key, T M::*member) {
    return {key, member, false};
}

template <typename M>
constexpr FieldDef<M, std::vector<std::string>> lenient_list(std::string_view key,
                                                              std::vector<std::string> M::*member) {
    return {key, member, true};
}

template <typename M>
struct Def;

#define VORLIX_CONTROL_MESSAGE(Type, Name, ...)                                           \
    template <>                                                                           \
    struct Def<Type> {                                                                    \
        static constexpr std::string_view name = Name;                                    \
        static constexpr auto fields() { return std::make_tuple(__VA_ARGS__); }           \
    };

VORLIX_CONTROL_MESSAGE(Configure, "configure", field("_0", &Configure::config),
                       field("generation", &Configure::generation))
VORLIX_CONTROL_MESSAGE(RequestKeyframe, "requestKeyframe")
VORLIX_CONTROL_MESSAGE(SetAudio, "setAudio", field("_0", &SetAudio::on))
VORLIX_CONTROL_MESSAGE(Ping, "ping", field("_0", &Ping::value))
VORLIX_CONTROL_MESSAGE(Received, "received", field("captureMicros", &Received::capture_micros))
VORLIX_CONTROL_MESSAGE(Options, "options", field("_0", &Options::value))
VORLIX_CONTROL_MESSAGE(DeviceInfo, "deviceInfo", field("version", &DeviceInfo::version),
                       field("features", &DeviceInfo::features))
VORLIX_CONTROL_MESSAGE(SetLevel, "setLevel", field("kind", &SetLevel::kind), field("value", &SetLevel::value))
VORLIX_CONTROL_MESSAGE(OpenUrl, "openURL", field("_0", &OpenUrl::url))
VORLIX_CONTROL_MESSAGE(FileRequest, "fileRequest", field("id", &FileRequest::id))
VORLIX_CONTROL_MESSAGE(RequestScreenshot, "requestScreenshot")
VORLIX_CONTROL_MESSAGE(Camera, "camera", field("_0", &Camera::on))
VORLIX_CONTROL_MESSAGE(PerformMenu, "performMenu", field("id", &PerformMenu::id))
VORLIX_CONTROL_MESSAGE(WakeOther, "wakeOther", lenient_list("macAddresses", &WakeOther::mac_addresses),
                       lenient_list("addresses", &WakeOther::addresses))
VORLIX_CONTROL_MESSAGE(Annotate, "annotate", field("_0", &Annotate::event))
VORLIX_CONTROL_MESSAGE(RequestWatchLink, "requestWatchLink")
VORLIX_CONTROL_MESSAGE(StopWebWatchers, "stopWebWatchers")
VORLIX_CONTROL_MESSAGE(NextInputSource, "nextInputSource")
VORLIX_CONTROL_MESSAGE(HostInfo, "hostInfo", field("version", &HostInfo::version),
                       field("features", &HostInfo::features))
VORLIX_CONTROL_MESSAGE(Pointer, "pointer", field("x", &Pointer::x), field("y", &Pointer::y),
                       field("applied", &Pointer::applied))
VORLIX_CONTROL_MESSAGE(control::StreamInfo, "streamInfo", field("_0", &control::StreamInfo::info))
VORLIX_CONTROL_MESSAGE(FrontApp, "frontApp", field("bundleID", &FrontApp::bundle_id), field("name", &FrontApp::name))
VORLIX_CONTROL_MESSAGE(TextFocus, "textFocus", field("_0", &TextFocus::on))
VORLIX_CONTROL_MESSAGE(Pong, "pong", field("_0", &Pong::value))
VORLIX_CONTROL_MESSAGE(Permissions, "permissions", field("screenRecording", &Permissions::screen_recording),
                       field("accessibility", &Permissions::accessibility))
VORLIX_CONTROL_MESSAGE(Notice, "notice", field("_0", &Notice::text))
VORLIX_CONTROL_MESSAGE(WakeInfo, "wakeInfo", field("macAddresses", &WakeInfo::mac_addresses),
                       field("addresses", &WakeInfo::addresses))
VORLIX_CONTROL_MESSAGE(Watchers, "watchers", field("_0", &Watchers::names))
VORLIX_CONTROL_MESSAGE(WatchLink, "watchLink", field("url", &WatchLink::url), field("minutes", &WatchLink::minutes))
VORLIX_CONTROL_MESSAGE(WebWatchers, "webWatchers", field("watching", &WebWatchers::watching),
                       field("links", &WebWatchers::links))
VORLIX_CONTROL_MESSAGE(FileOffer, "fileOffer", field("id", &FileOffer::id), field("name", &FileOffer::name),
                       field("size", &FileOffer::size))
VORLIX_CONTROL_MESSAGE(CameraState, "cameraState", field("on", &CameraState::on),
                       field("message", &CameraState::message))
VORLIX_CONTROL_MESSAGE(CursorShape, "cursorShape", field("png", &CursorShape::png),
                       field("hotX", &CursorShape::hot_x), field("hotY", &CursorShape::hot_y),
                       field("scale", &CursorShape::scale))
VORLIX_CONTROL_MESSAGE(Preview, "preview", field("_0", &Preview::picture))
VORLIX_CONTROL_MESSAGE(MenuCommands, "menuCommands", field("_0", &MenuCommands::commands))
VORLIX_CONTROL_MESSAGE(Levels, "levels", field("volume", &Levels::volume), field("brightness", &Levels::brightness),
                       field("muted", &Levels::muted))
VORLIX_CONTROL_MESSAGE(WakeOtherDone, "wakeOtherDone", field("ok", &WakeOtherDone::ok))
VORLIX_CONTROL_MESSAGE(Reach, "reach", field("addresses", &Reach::addresses), field("port", &Reach::port))
VORLIX_CONTROL_MESSAGE(PictureStopped, "pictureStopped", field("reason", &PictureStopped::reason),
                       field("message", &PictureStopped::message), field("retrying", &PictureStopped::retrying))
VORLIX_CONTROL_MESSAGE(PictureResumed, "pictureResumed")
VORLIX_CONTROL_MESSAGE(KeyboardLayout, "keyboardLayout", field("name", &KeyboardLayout::name),
                       field("language", &KeyboardLayout::language), field("method", &KeyboardLayout::method),
                       field("keys", &KeyboardLayout::keys))
VORLIX_CONTROL_MESSAGE(Clipboard, "clipboard", field("_0", &Clipboard::text))
VORLIX_CONTROL_MESSAGE(ClipboardImage, "clipboardImage", field("_0", &ClipboardImage::png))
VORLIX_CONTROL_MESSAGE(FileStart, "fileStart", field("id", &FileStart::id), field("name", &FileStart::name),
                       field("size", &FileStart::size), field("purpose", &FileStart::purpose))
VORLIX_CONTROL_MESSAGE(FileChunk, "fileChunk", field("id", &FileChunk::id), field("data", &FileChunk::data))
VORLIX_CONTROL_MESSAGE(FileEnd, "fileEnd", field("id", &FileEnd::id), field("ok", &FileEnd::ok))
VORLIX_CONTROL_MESSAGE(Bye, "bye")

#undef VORLIX_CONTROL_MESSAGE

constexpr std::size_t kNamedCount = std::variant_size_v<Variant> - 1;  // all but Unrecognized

// --- reading one value by its type's rule --------------------------------------------

// Texts, booleans, integers, floats and Base64 bytes read by the shared rules.
template <typename T>
concept PlainValue = std::is_same_v<T, std::string> || std::is_same_v<T, bool> || std::is_same_v<T, std::uint64_t> ||
                     std::is_same_v<T, std::int64_t> || std::is_same_v<T, double> || std::is_same_v<T, Bytes>;

template <PlainValue T>
bool read_value(const Json& v, T& out) {
    auto x = json_as<T>(v);
    if (x) out = std::move(*x);
    return x.has_value();
}

bool read_value(const Json& v, std::uint16_t& out) {
    auto x = json_u64(v);
    if (!x || *x > 65535) return false;
    out = static_cast<std::uint16_t>(*x);
    return true;
}

bool read_value(const Json& v, std::vector<std::string>& out) {
    auto x = json_string_array(v);
    if (x) out = std::move(*x);
    return x.has_value();
}

bool read_value(const Json& v, std::map<std::string, std::vector<std::string>>& out) {
    if (!v.is_object()) return false;
    std::map<std::string, std::vector<std::string>> keys;
    for (const auto& [name, texts] : v.items()) {
        auto list = json_string_array(texts);
        if (!list) return false;
        keys.emplace(name, std::move(*list));
    }
    out = std::move(keys);
    return true;
}

bool read_value(const Json& v, Json& out) {
    out = v;
    return true;
}

bool read_value(const Json& v, StreamConfig& out) {
    auto x = read_stream_config(v);
    if (x) out = std::move(x).value();
    return x.ok();
}

bool read_value(const Json& v, vorlix::StreamInfo& out) {
    auto x = read_stream_info(v);
    if (x) out = std::move(x).value();
    return x.ok();
}

bool read_value(const Json& v, InkEvent& out) {
    auto x = read_ink_event(v);
    if (x) out = std::move(*x);
    return x.has_value();
}

bool read_value(const Json& v, std::vector<MenuCommand>& out) {
    if (!v.is_array()) return false;
    std::vector<MenuCommand> commands;
    commands.reserve(v.size());
    for (const Json& element : v) {
        auto command = read_menu_command(element);
        if (!command) return false;
        commands.push_back(std::move(command).value());
    }
    out = std::move(commands);
    return true;
}

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename M, typename T>
bool read_field(const Json& fields, const FieldDef<M, T>& def, M& message) {
    auto it = fields.find(def.key);
    T& slot = message.*def.member;
    if constexpr (IsOptional<T>::value) {
        // Missing or refused: absent.
        if (it != fields.end()) {
            typename T::value_type value{};
            if (read_value(*it, value)) slot = std::move(value);
        }
        return true;
    } else {
        if constexpr (std::is_same_v<T, std::vector<std::string>>) {
            if (def.lenient) {
                slot = it == fields.end() ? std::vector<std::string>{} : read_string_list(*it);
                return true;
            }
        }
        return it != fields.end() && read_value(*it, slot);
    }
}

template <typename M>
std::optional<ControlMessage> read_message(const Json& fields) {
    M message{};
    bool ok = std::apply([&](const auto&... defs) { return (read_field(fields, defs, message) && ...); },
                         Def<M>::fields());
    if (!ok) return std::nullopt;
    return ControlMessage(std::move(message));
}

using Reader = std::optional<ControlMessage> (*)(const Json&);

template <std::size_t... I>
std::unordered_map<std::string_view, Reader> make_readers(std::index_sequence<I...>) {
    return {{Def<std::variant_alternative_t<I, Variant>>::name, &read_message<std::variant_alternative_t<I, Variant>>}...};
}

const std::unordered_map<std::string_view, Reader>& readers() {
    static const auto table = make_readers(std::make_index_sequence<kNamedCount>{});
    return table;
}

// --- writing one value ------------------------------------------------------------------

Json write_value(const std::string& v) { return v; }
Json write_value(bool v) { return v; }
Json write_value(std::uint64_t v) { return v; }
Json write_value(std::int64_t v) { return v; }
Json write_value(std::uint16_t v) { return std::uint64_t{v}; }
Json write_value(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }
Json write_value(const Bytes& v) { return base64_encode(v); }
Json write_value(const std::vector<std::string>& v) { return v; }
Json write_value(const std::map<std::string, std::vector<std::string>>& v) {
    Json out = Json::object();
    for (const auto& [key, texts] : v) out[key] = texts;
    return out;
}
Json write_value(const Json& v) { return v; }
Json write_value(const StreamConfig& v) { return Json(write_stream_config(v)); }
Json write_value(const vorlix::StreamInfo& v) { return Json(write_stream_info(v)); }
Json write_value(const InkEvent& v) { return Json(write_ink_event(v)); }
Json write_value(const std::vector<MenuCommand>& v) {
    Json out = Json::array();
    for (const MenuCommand& command : v) out.push_back(Json(write_menu_command(command)));
    return out;
}

template <typename M, typename T>
void write_field(Json& fields, const FieldDef<M, T>& def, const M& message) {
    const T& slot = message.*def.member;
    if constexpr (IsOptional<T>::value) {
        if (slot) fields[std::string(def.key)] = write_value(*slot);
    } else {
        fields[std::string(def.key)] = write_value(slot);
    }
}

template <typename M>
Json write_fields(const M& message) {
    Json fields = Json::object();
    std::apply([&](const auto&... defs) { (write_field(fields, defs, message), ...); }, Def<M>::fields());
    return fields;
}

}  // namespace

std::optional<ControlMessage> parse_control_message(ByteView body, bool* too_large) {
    auto doc = parse_json(body, DuplicateKeys::keep_last);
    if (too_large) *too_large = !doc && doc.error().text == kTooManyJsonValues;
    if (!doc || !doc->is_object() || doc->size() != 1) return std::nullopt;
    auto member = doc->cbegin();
    const std::string& name = member.key();
    const Json& fields = member.value();
    if (!fields.is_object()) return std::nullopt;
    auto found = readers().find(name);
    if (found == readers().end()) return ControlMessage(Unrecognized{name});
    return found->second(fields);
}

Json control_message_to_value(const ControlMessage& message) {
    Json out = Json::object();
    std::visit(
        [&out](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, Unrecognized>) {
                out[m.name] = Json::object();
            } else {
                out[std::string(Def<M>::name)] = write_fields(m);
            }
        },
        static_cast<const Variant&>(message));
    return out;
}

std::string encode_control_message(const ControlMessage& message) {
    auto text = write_compact(control_message_to_value(message));
    return text.ok() ? std::move(text).value() : std::string();
}

std::string control_type_name(const ControlMessage& message) {
    return std::visit(
        [](const auto& m) -> std::string {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, Unrecognized>) {
                return m.name;
            } else {
                return std::string(Def<M>::name);
            }
        },
        static_cast<const Variant&>(message));
}

}  // namespace vorlix
