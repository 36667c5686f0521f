#include "ink/ink.h"

#include "control/records.h"

#include <algorithm>
#include <cmath>

namespace vorlix {

namespace {

double hold01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// Copies numbers onto the end of `out` while it holds fewer than the cap.
void append_capped(std::vector<double>& out, const std::vector<double>& numbers) {
    std::size_t room = out.size() < kMaxInkStrokeNumbers ? kMaxInkStrokeNumbers - out.size() : 0;
    std::size_t take = std::min(room, numbers.size());
    out.insert(out.end(), numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(take));
}

}  // namespace

std::vector<double> filter_ink_points(const std::vector<double>& numbers) {
    std::vector<double> out;
    out.reserve(std::min(numbers.size(), kMaxInkStrokeNumbers) & ~std::size_t{1});
    for (std::size_t i = 0; i + 1 < numbers.size(); i += 2) {
        double x = numbers[i];
        double y = numbers[i + 1];
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        out.push_back(hold01(x));
        out.push_back(hold01(y));
    }
    return out;
}

bool apply_ink_event(InkStrokes& ink, const InkEvent& event, double now) {
    const std::string author = event.author.value_or(std::string());
    auto& strokes = ink.strokes;

    if (event.phase == "clear") {
        auto before = strokes.size();
        std::erase_if(strokes, [&](const InkStroke& s) { return s.author == author; });
        return strokes.size() != before;
    }

    std::vector<double> points = filter_ink_points(event.points);

    auto found = strokes.end();
    for (auto it = strokes.rbegin(); it != strokes.rend(); ++it) {
        if (it->author == author && it->id == event.id) {
            found = std::prev(it.base());
            break;
        }
    }

    if (found != strokes.end() && event.phase == "begin") {
        strokes.erase(found);
        found = strokes.end();
    }

    if (found == strokes.end()) {
        InkStroke stroke;
        stroke.ended = event.phase == "end";
        stroke.time = now;
        stroke.author = author;
        append_capped(stroke.points, points);
        stroke.id = event.id;
        stroke.width = std::clamp(event.width, kMinInkWidth, kMaxInkWidth);
        if (std::isnan(event.width)) stroke.width = kMinInkWidth;
        stroke.color = static_cast<std::uint32_t>(static_cast<std::uint64_t>(event.color) & 0xFFFFFFu);
        stroke.laser = event.kind == "laser";
        strokes.push_back(std::move(stroke));
        if (strokes.size() > kMaxInkStrokes) {
            strokes.erase(strokes.begin(), strokes.begin() + static_cast<std::ptrdiff_t>(strokes.size() - kMaxInkStrokes));
        }
        return true;
    }

    append_capped(found->points, points);
    bool ended = event.phase == "end";
    if (ended) {
        found->ended = true;
        found->time = now;
    }
    return ended || !points.empty();
}

double laser_alpha(const InkStroke& stroke, double now) {
    if (!stroke.laser || !stroke.ended) return 1.0;
    double age = now - stroke.time;
    if (age <= 1.0) return 1.0;
    return std::max(0.0, 1.0 - 2.0 * (age - 1.0));
}

bool expire_laser_strokes(InkStrokes& ink, double now) {
    auto before = ink.strokes.size();
    std::erase_if(ink.strokes,
                  [&](const InkStroke& s) { return s.laser && s.ended && laser_alpha(s, now) <= 0.0; });
    return ink.strokes.size() != before;
}

std::vector<InkEvent> strokes_to_annotate_items(const InkStrokes& ink) {
    std::vector<InkEvent> out;
    for (const InkStroke& s : ink.strokes) {
        if (s.laser) continue;
        InkEvent e;
        e.phase = s.ended ? "end" : "begin";
        e.kind = "pen";
        e.points = s.points;
        e.id = s.id;
        e.color = s.color;
        e.width = s.width;
        if (!s.author.empty()) e.author = s.author;
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<std::string> take_ink_authors(InkStrokes& ink) {
    std::vector<std::string> authors;
    for (const InkStroke& s : ink.strokes) authors.push_back(s.author);
    std::sort(authors.begin(), authors.end());
    authors.erase(std::unique(authors.begin(), authors.end()), authors.end());
    ink.strokes.clear();
    return authors;
}

std::vector<double> read_ink_points(const Json& array) { return read_number_list(array); }

}  // namespace vorlix

namespace vorlix {

std::optional<InkEvent> read_annotate_event(const Json& value) {
    if (!value.is_object()) return std::nullopt;
    auto member = [&](const char* key) -> const Json* {
        auto it = value.find(key);
        return it == value.end() ? nullptr : &*it;
    };
    InkEvent event;
    const Json* phase = member("phase");
    auto phase_text = phase ? json_string(*phase) : std::nullopt;
    if (!phase_text || (*phase_text != "begin" && *phase_text != "move" && *phase_text != "end" && *phase_text != "clear")) {
        return std::nullopt;
    }
    event.phase = *phase_text;
    const Json* kind = member("kind");
    event.kind = kind && json_string(*kind) == std::optional<std::string>("laser") ? "laser" : "pen";
    if (const Json* id = member("id")) event.id = json_i64(*id).value_or(0);
    if (const Json* color = member("color")) event.color = json_i64(*color).value_or(kDefaultInkColor);
    if (const Json* width = member("width")) event.width = json_f64(*width).value_or(kDefaultInkWidth);
    if (const Json* points = member("points")) event.points = read_ink_points(*points);
    if (const Json* author = member("author")) event.author = json_string(*author);
    return event;
}

std::string annotate_message(const InkEvent& event) {
    Json record = Json::object();
    record["id"] = event.id;
    record["phase"] = event.phase;
    record["kind"] = event.kind;
    record["color"] = event.color;
    record["width"] = event.width;
    Json points = Json::array();
    for (double p : event.points) points.push_back(p);
    record["points"] = std::move(points);
    if (event.author) record["author"] = *event.author;
    Json message = Json::object();
    message["annotate"] = Json{{"_0", std::move(record)}};
    auto text = write_compact(message);
    return text.ok() ? std::move(text).value() : std::string();
}

}  // namespace vorlix
