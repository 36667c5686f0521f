// The payload records that some control messages carry. Each is a JSON
// object. StreamConfig, StreamInfo and MenuCommand are read strictly (a
// mistyped value or a missing required key refuses the record; the
// positional array form is read too); SessionOptions and InkEvent are read
// leniently, key by key, with defaults. The writers give the keys in
// declaration order; a control message sorts them again (messages.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ink/ink_event.h"
#include "json/json.h"
#include "util/result.h"

namespace vorlix {

// What the device asks of the picture stream. Every key may be missing.
struct StreamConfig {
    std::int64_t points_wide = 0;
    std::int64_t points_high = 0;
    bool hi_dpi = false;
    std::int64_t fps = 60;
    std::string quality = "sharp";
    std::string codec = "hevc";
    std::string source = "fitted";
    bool audio = false;
    bool take_over = false;
    std::optional<std::int64_t> max_bitrate;
    std::optional<std::uint32_t> display_id;
    std::optional<bool> second;

    bool operator==(const StreamConfig&) const = default;
};

// What the host streams.
struct StreamInfo {
    std::int64_t pixels_wide = 0;
    std::int64_t pixels_high = 0;
    std::int64_t points_wide = 0;
    std::int64_t points_high = 0;
    std::int64_t fps = 0;
    std::string codec = "h264";
    bool fitted = false;
    std::int64_t generation = 0;
    std::optional<std::int64_t> split;

    bool operator==(const StreamInfo&) const = default;
};

// One entry of the front application's menus.
struct MenuCommand {
    std::int64_t id = 0;
    std::string title;
    std::string menu;
    std::optional<std::string> shortcut;
    bool enabled = false;

    bool operator==(const MenuCommand&) const = default;
};

// The eight switches of a session; false unless the device sends true.
struct SessionOptions {
    bool hide_desktop_icons = false;
    bool one_app = false;
    bool curtain = false;
    bool lock_on_end = false;
    bool two_up = false;
    bool bring_windows = false;
    bool screenshots_to_device = false;
    bool local_cursor = false;

    bool operator==(const SessionOptions&) const = default;
};

// `InkEvent`, one step of an ink or laser-pointer stroke, is shared with the
// ink model (ink/ink_event.h).

// Strict records. The errors read like "missing field `generation`",
// "invalid type: floating point `30.0`, expected i64",
// "invalid length 3, expected struct StreamInfo with 9 elements".
Result<StreamConfig> read_stream_config(const Json& value);
Result<StreamInfo> read_stream_info(const Json& value);
Result<MenuCommand> read_menu_command(const Json& value);

OrderedJson write_stream_config(const StreamConfig& config);
OrderedJson write_stream_info(const StreamInfo& info);
OrderedJson write_menu_command(const MenuCommand& command);

// Lenient records. SessionOptions never fails; an InkEvent fails only for a
// `phase` that is not one of the four texts.
SessionOptions read_session_options(const Json& value);
std::optional<InkEvent> read_ink_event(const Json& value);
OrderedJson write_ink_event(const InkEvent& event);

// The string elements of an array, in order; anything else gives an empty list.
std::vector<std::string> read_string_list(const Json& value);

// The numbers of an array as doubles, in order, other elements skipped;
// anything else gives an empty list.
std::vector<double> read_number_list(const Json& value);

// A float as these records and messages write it: null when not finite.
OrderedJson float_value(double value);

}  // namespace vorlix
