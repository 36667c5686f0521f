#include "control/records.h"

#include <cmath>
#include <string_view>
#include <utility>

#include "json/fields.h"
#include "json/record.h"

namespace vorlix {

Result<StreamConfig> read_stream_config(const Json& value) {
    StreamConfig c;
    const RecordField fields[] = {
        {"pointsWide", true, read_into(c.points_wide)},
        {"pointsHigh", true, read_into(c.points_high)},
        {"hiDPI", true, read_into(c.hi_dpi)},
        {"fps", true, read_into(c.fps)},
        {"quality", true, read_into(c.quality)},
        {"codec", true, read_into(c.codec)},
        {"source", true, read_into(c.source)},
        {"audio", true, read_into(c.audio)},
        {"takeOver", true, read_into(c.take_over)},
        {"maxBitrate", true, read_into(c.max_bitrate)},
        {"displayID", true, read_into(c.display_id)},
        {"second", true, read_into(c.second)},
    };
    if (Status s = read_record(value, "StreamConfig", fields, 0); !s) return s.error();
    return c;
}

Result<StreamInfo> read_stream_info(const Json& value) {
    StreamInfo i;
    const RecordField fields[] = {
        {"pixelsWide", false, read_into(i.pixels_wide)},
        {"pixelsHigh", false, read_into(i.pixels_high)},
        {"pointsWide", false, read_into(i.points_wide)},
        {"pointsHigh", false, read_into(i.points_high)},
        {"fps", false, read_into(i.fps)},
        {"codec", false, read_into(i.codec)},
        {"fitted", false, read_into(i.fitted)},
        {"generation", false, read_into(i.generation)},
        {"split", true, read_into(i.split)},
    };
    if (Status s = read_record(value, "StreamInfo", fields, std::size(fields)); !s) return s.error();
    return i;
}

Result<MenuCommand> read_menu_command(const Json& value) {
    MenuCommand m;
    const RecordField fields[] = {
        {"id", false, read_into(m.id)},
        {"title", false, read_into(m.title)},
        {"menu", false, read_into(m.menu)},
        {"shortcut", true, read_into(m.shortcut)},
        {"enabled", false, read_into(m.enabled)},
    };
    if (Status s = read_record(value, "MenuCommand", fields, std::size(fields)); !s) return s.error();
    return m;
}

OrderedJson write_stream_config(const StreamConfig& c) {
    OrderedJson out = OrderedJson::object();
    out["pointsWide"] = c.points_wide;
    out["pointsHigh"] = c.points_high;
    out["hiDPI"] = c.hi_dpi;
    out["fps"] = c.fps;
    out["quality"] = c.quality;
    out["codec"] = c.codec;
    out["source"] = c.source;
    out["audio"] = c.audio;
    out["takeOver"] = c.take_over;
    if (c.max_bitrate) out["maxBitrate"] = *c.max_bitrate;
    if (c.display_id) out["displayID"] = *c.display_id;
    if (c.second) out["second"] = *c.second;
    return out;
}

OrderedJson write_stream_info(const StreamInfo& i) {
    OrderedJson out = OrderedJson::object();
    out["pixelsWide"] = i.pixels_wide;
    out["pixelsHigh"] = i.pixels_high;
    out["pointsWide"] = i.points_wide;
    out["pointsHigh"] = i.points_high;
    out["fps"] = i.fps;
    out["codec"] = i.codec;
    out["fitted"] = i.fitted;
    out["generation"] = i.generation;
    if (i.split) out["split"] = *i.split;
    return out;
}

OrderedJson write_menu_command(const MenuCommand& m) {
    OrderedJson out = OrderedJson::object();
    out["id"] = m.id;
    out["title"] = m.title;
    out["menu"] = m.menu;
    if (m.shortcut) out["shortcut"] = *m.shortcut;
    out["enabled"] = m.enabled;
    return out;
}

SessionOptions read_session_options(const Json& value) {
    SessionOptions o;
    const JsonFields fields(value);
    auto flag = [&fields](std::string_view key) { return fields.get<bool>(key).value_or(false); };
    o.hide_desktop_icons = flag("hideDesktopIcons");
    o.one_app = flag("oneApp");
    o.curtain = flag("curtain");
    o.lock_on_end = flag("lockOnEnd");
    o.two_up = flag("twoUp");
    o.bring_windows = flag("bringWindows");
    o.screenshots_to_device = flag("screenshotsToDevice");
    o.local_cursor = flag("localCursor");
    return o;
}

std::optional<InkEvent> read_ink_event(const Json& value) {
    const JsonFields fields(value);
    InkEvent e;
    std::optional<std::string> phase = fields.get<std::string>("phase");
    if (!phase || (*phase != "begin" && *phase != "move" && *phase != "end" && *phase != "clear")) return std::nullopt;
    e.phase = std::move(*phase);
    if (fields.get<std::string>("kind") == "laser") e.kind = "laser";
    e.id = fields.get<std::int64_t>("id").value_or(0);
    e.color = fields.get<std::int64_t>("color").value_or(kDefaultInkColor);
    e.width = fields.get<double>("width").value_or(kDefaultInkWidth);
    if (const Json* points = fields.find("points")) e.points = read_number_list(*points);
    e.author = fields.get<std::string>("author");
    return e;
}

OrderedJson write_ink_event(const InkEvent& e) {
    OrderedJson out = OrderedJson::object();
    out["id"] = e.id;
    out["phase"] = e.phase;
    out["kind"] = e.kind;
    out["color"] = e.color;
    out["width"] = float_value(e.width);
    OrderedJson points = OrderedJson::array();
    for (double p : e.points) points.push_back(float_value(p));
    out["points"] = std::move(points);
    if (e.author) out["author"] = *e.author;
    return out;
}

std::vector<std::string> read_string_list(const Json& value) {
    std::vector<std::string> out;
    if (!value.is_array()) return out;
    for (const Json& element : value) {
        if (element.is_string()) out.push_back(element.get<std::string>());
    }
    return out;
}

std::vector<double> read_number_list(const Json& value) {
    std::vector<double> out;
    if (!value.is_array()) return out;
    for (const Json& element : value) {
        if (auto number = json_f64(element)) out.push_back(*number);
    }
    return out;
}

OrderedJson float_value(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

}  // namespace vorlix
