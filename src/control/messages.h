// The control messages of a session: one JSON text per Control frame, an
// object with a single member whose name is the message type and whose value
// is the object of its fields, {"ping":{"_0":7}}. The key "_0" names a
// message's single unnamed value.
//
// Reading (parse_control_message): strict JSON; a repeated member name keeps
// its last value, at every level, records included. A type name that matches
// none of the 47 gives Unrecognized. A missing or refused field that is not
// optional makes the whole message unreadable; an optional one is then
// simply absent.
//
// Writing: compact, members of every object (fields, records, the key map)
// in ascending byte order of their keys; optional fields left out when
// absent; floats that are not finite as null.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/records.h"
#include "json/json.h"
#include "util/bytes.h"

namespace vorlix {
namespace control {

// Field type notes: std::string text; bool boolean; std::uint64_t unsigned;
// std::int64_t signed; std::uint16_t port; double float; Bytes Base64 text;
// std::vector<std::string> a list of strings (strict unless marked lenient).

// --- device to host ------------------------------------------------------------
struct Configure {
    StreamConfig config;
    std::int64_t generation = 0;
    bool operator==(const Configure&) const = default;
};
struct RequestKeyframe { bool operator==(const RequestKeyframe&) const = default; };
struct SetAudio {
    bool on = false;
    bool operator==(const SetAudio&) const = default;
};
struct Ping {
    std::uint64_t value = 0;
    bool operator==(const Ping&) const = default;
};
struct Received {
    std::uint64_t capture_micros = 0;
    bool operator==(const Received&) const = default;
};
// Held unchanged; read it with read_session_options.
struct Options {
    Json value;
    bool operator==(const Options&) const = default;
};
struct DeviceInfo {
    std::string version;
    std::vector<std::string> features;
    bool operator==(const DeviceInfo&) const = default;
};
struct SetLevel {
    std::string kind;
    double value = 0.0;
    bool operator==(const SetLevel&) const = default;
};
struct OpenUrl {
    std::string url;
    bool operator==(const OpenUrl&) const = default;
};
struct FileRequest {
    std::int64_t id = 0;
    bool operator==(const FileRequest&) const = default;
};
struct RequestScreenshot { bool operator==(const RequestScreenshot&) const = default; };
struct Camera {
    bool on = false;
    bool operator==(const Camera&) const = default;
};
struct PerformMenu {
    std::int64_t id = 0;
    bool operator==(const PerformMenu&) const = default;
};
// Both lists lenient: non-strings are skipped, a missing list is empty.
struct WakeOther {
    std::vector<std::string> mac_addresses;
    std::vector<std::string> addresses;
    bool operator==(const WakeOther&) const = default;
};
struct RequestWatchLink { bool operator==(const RequestWatchLink&) const = default; };
struct StopWebWatchers { bool operator==(const StopWebWatchers&) const = default; };
struct NextInputSource { bool operator==(const NextInputSource&) const = default; };

// --- both ways -------------------------------------------------------------------
struct Annotate {
    InkEvent event;
    bool operator==(const Annotate&) const = default;
};
struct Clipboard {
    std::string text;
    bool operator==(const Clipboard&) const = default;
};
struct ClipboardImage {
    Bytes png;
    bool operator==(const ClipboardImage&) const = default;
};
struct FileStart {
    std::int64_t id = 0;
    std::string name;
    std::int64_t size = 0;
    std::string purpose;
    bool operator==(const FileStart&) const = default;
};
struct FileChunk {
    std::int64_t id = 0;
    Bytes data;
    bool operator==(const FileChunk&) const = default;
};
struct FileEnd {
    std::int64_t id = 0;
    bool ok = false;
    bool operator==(const FileEnd&) const = default;
};
struct Bye { bool operator==(const Bye&) const = default; };

// --- host to device ----------------------------------------------------------------
struct HostInfo {
    std::string version;
    std::vector<std::string> features;
    bool operator==(const HostInfo&) const = default;
};
struct Pointer {
    double x = 0.0;
    double y = 0.0;
    std::optional<std::int64_t> applied;
    bool operator==(const Pointer&) const = default;
};
struct StreamInfo {
    vorlix::StreamInfo info;
    bool operator==(const StreamInfo&) const = default;
};
struct FrontApp {
    std::string bundle_id;
    std::string name;
    bool operator==(const FrontApp&) const = default;
};
struct TextFocus {
    bool on = false;
    bool operator==(const TextFocus&) const = default;
};
struct Pong {
    std::uint64_t value = 0;
    bool operator==(const Pong&) const = default;
};
struct Permissions {
    bool screen_recording = false;
    bool accessibility = false;
    bool operator==(const Permissions&) const = default;
};
struct Notice {
    std::string text;
    bool operator==(const Notice&) const = default;
};
struct WakeInfo {
    std::vector<std::string> mac_addresses;
    std::vector<std::string> addresses;
    bool operator==(const WakeInfo&) const = default;
};
struct Watchers {
    std::vector<std::string> names;
    bool operator==(const Watchers&) const = default;
};
struct WatchLink {
    std::string url;
    std::int64_t minutes = 0;
    bool operator==(const WatchLink&) const = default;
};
struct WebWatchers {
    std::int64_t watching = 0;
    std::int64_t links = 0;
    bool operator==(const WebWatchers&) const = default;
};
struct FileOffer {
    std::int64_t id = 0;
    std::string name;
    std::int64_t size = 0;
    bool operator==(const FileOffer&) const = default;
};
struct CameraState {
    bool on = false;
    std::optional<std::string> message;
    bool operator==(const CameraState&) const = default;
};
struct CursorShape {
    Bytes png;
    double hot_x = 0.0;
    double hot_y = 0.0;
    double scale = 0.0;
    bool operator==(const CursorShape&) const = default;
};
struct Preview {
    Bytes picture;
    bool operator==(const Preview&) const = default;
};
struct MenuCommands {
    std::vector<MenuCommand> commands;
    bool operator==(const MenuCommands&) const = default;
};
struct Levels {
    double volume = 0.0;
    std::optional<double> brightness;
    bool muted = false;
    bool operator==(const Levels&) const = default;
};
struct WakeOtherDone {
    bool ok = false;
    bool operator==(const WakeOtherDone&) const = default;
};
struct Reach {
    std::vector<std::string> addresses;
    std::uint16_t port = 0;
    bool operator==(const Reach&) const = default;
};
struct PictureStopped {
    std::string reason;
    std::string message;
    bool retrying = false;
    bool operator==(const PictureStopped&) const = default;
};
struct PictureResumed { bool operator==(const PictureResumed&) const = default; };
// Mac key code (decimal text) -> texts (plain, then shifted).
struct KeyboardLayout {
    std::string name;
    std::optional<std::string> language;
    std::optional<std::string> method;
    std::map<std::string, std::vector<std::string>> keys;
    bool operator==(const KeyboardLayout&) const = default;
};

// --- received only -------------------------------------------------------------------
// A type name that matches none of the others, kept as received.
struct Unrecognized {
    std::string name;
    bool operator==(const Unrecognized&) const = default;
};

using Variant = std::variant<
    Configure, RequestKeyframe, SetAudio, Ping, Received, Options, DeviceInfo, SetLevel, OpenUrl, FileRequest,
    RequestScreenshot, Camera, PerformMenu, WakeOther, Annotate, RequestWatchLink, StopWebWatchers,
    NextInputSource, HostInfo, Pointer, StreamInfo, FrontApp, TextFocus, Pong, Permissions, Notice, WakeInfo,
    Watchers, WatchLink, WebWatchers, FileOffer, CameraState, CursorShape, Preview, MenuCommands, Levels,
    WakeOtherDone, Reach, PictureStopped, PictureResumed, KeyboardLayout, Clipboard, ClipboardImage, FileStart,
    FileChunk, FileEnd, Bye, Unrecognized>;

}  // namespace control

// One control message: a variant of the structs above. std::visit,
// std::get_if and std::holds_alternative work on it directly.
struct ControlMessage : control::Variant {
    using control::Variant::Variant;
    using control::Variant::operator=;
};

// Reads the body of one Control frame; nothing when any reading rule fails.
// `too_large`, when given, tells whether the JSON layer refused the body for
// holding more values than any message needs.
std::optional<ControlMessage> parse_control_message(ByteView body, bool* too_large = nullptr);

// The JSON form: a one-member object {type name: fields object}.
Json control_message_to_value(const ControlMessage& message);

// The compact JSON text to queue as the body of a Control frame; the empty
// text only when the writer fails (a text field that is not UTF-8).
std::string encode_control_message(const ControlMessage& message);

// The type name: the message's JSON key, or the name Unrecognized holds.
std::string control_type_name(const ControlMessage& message);

}  // namespace vorlix
