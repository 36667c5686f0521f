#include "ink/ink.h"


#include <algorithm>
#include <cmath>

namespace vorlix {

namespace {

double hold01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// Copies numbers onto the end of `out` while it holds fewer than the cap;
// gives how many it took.
std::size_t append_capped(std::vector<double>& out, const std::vector<double>& numbers) {
    std::size_t room = out.size() < kMaxInkStrokeNumbers ? kMaxInkStrokeNumbers - out.size() : 0;
    std::size_t take = std::min(room, numbers.size());
    out.insert(out.end(), numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(take));
    return take;
}

// Drops the oldest strokes other than strokes[keep] while the list holds
// more than kMaxInkStrokes strokes or kMaxInkNumbers numbers.
void drop_oldest(std::vector<InkStroke>& strokes, std::size_t keep) {
    std::size_t count = strokes.size();
    std::size_t numbers = 0;
    for (const InkStroke& s : strokes) numbers += s.points.size();
    std::size_t out = 0;
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        if (i != keep && (count > kMaxInkStrokes || numbers > kMaxInkNumbers)) {
            --count;
            numbers -= strokes[i].points.size();
            continue;
        }
        if (out != i) strokes[out] = std::move(strokes[i]);
        ++out;
    }
    strokes.resize(out);
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

bool apply_ink_event(InkStrokes& ink, const InkEvent& event, double now, std::vector<double>* kept) {
    const std::string author = event.author.value_or(std::string());
    auto& strokes = ink.strokes;
    if (kept) kept->clear();

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
        if (kept) *kept = stroke.points;
        strokes.push_back(std::move(stroke));
        drop_oldest(strokes, strokes.size() - 1);
        return true;
    }

    const std::size_t took = append_capped(found->points, points);
    if (kept) kept->assign(found->points.end() - static_cast<std::ptrdiff_t>(took), found->points.end());
    bool ended = event.phase == "end";
    if (ended) {
        found->ended = true;
        found->time = now;
    }
    drop_oldest(strokes, static_cast<std::size_t>(found - strokes.begin()));
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

InkEvent ink_clear_event(std::string author) {
    InkEvent event;
    event.phase = "clear";
    event.color = 0;
    event.author = std::move(author);
    return event;
}

std::vector<std::string> take_ink_authors(InkStrokes& ink) {
    std::vector<std::string> authors;
    for (const InkStroke& s : ink.strokes) authors.push_back(s.author);
    std::sort(authors.begin(), authors.end());
    authors.erase(std::unique(authors.begin(), authors.end()), authors.end());
    ink.strokes.clear();
    return authors;
}

}  // namespace vorlix
