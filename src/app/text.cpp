#include "app/text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vorlix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct LowerPair {
    std::uint32_t from;
    std::uint32_t to;
};
struct LowerMulti {
    std::uint32_t from;
    std::uint32_t to[3];
};
struct CodeRange {
    std::uint32_t first;
    std::uint32_t last;
};

#include "app/lowercase_table.inc"

bool in_ranges(const CodeRange* begin, const CodeRange* end, char32_t cp) {
    auto it = std::upper_bound(begin, end, static_cast<std::uint32_t>(cp),
                               [](std::uint32_t value, const CodeRange& r) { return value < r.first; });
    if (it == begin) return false;
    --it;
    return cp <= it->last;
}

bool case_ignorable(char32_t cp) {
    return in_ranges(std::begin(kCaseIgnorable), std::end(kCaseIgnorable), cp);
}
bool cased(char32_t cp) { return in_ranges(std::begin(kCased), std::end(kCased), cp); }

// Decodes one code point at `pos`, advancing it; an invalid sequence gives
// U+FFFD and consumes its maximal invalid prefix (at least one byte).
char32_t decode_utf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    std::size_t need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        ++pos;
        return kReplacement;
    }
    std::size_t i = pos + 1;
    for (std::size_t k = 0; k < need; ++k, ++i) {
        if (i >= text.size()) {
            pos = i;
            return kReplacement;
        }
        const unsigned char b = byte(i);
        const unsigned char min = k == 0 ? lo : 0x80;
        const unsigned char max = k == 0 ? hi : 0xBF;
        if (b < min || b > max) {
            pos = i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    pos = i;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::u32string decode_all(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) out.push_back(decode_utf8(text, pos));
    return out;
}

bool is_unicode_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

// Whether the capital sigma at `index` ends a word: a cased letter before
// it and none after it, case-ignorable characters skipped on both sides.
bool final_sigma(const std::u32string& cps, std::size_t index) {
    std::size_t j = index;
    bool before = false;
    while (j > 0) {
        --j;
        if (!case_ignorable(cps[j])) {
            before = cased(cps[j]);
            break;
        }
    }
    if (!before) return false;
    for (std::size_t k = index + 1; k < cps.size(); ++k) {
        if (!case_ignorable(cps[k])) return !cased(cps[k]);
    }
    return true;
}

}  // namespace

std::string utf16_to_utf8(const char16_t* units, std::size_t count) {
    std::size_t n = 0;
    while (n < count && units[n] != 0) ++n;
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view units) { return utf16_to_utf8(units.data(), units.size()); }

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t cp = decode_utf8(text, pos);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        if (decode_utf8(text, pos) == kReplacement) {
            // A real U+FFFD is three bytes EF BF BD.
            if (pos - start != 3 || text.substr(start, 3) != "\xEF\xBF\xBD") return false;
        }
    }
    return true;
}

std::string unicode_lower(std::string_view text) {
    const std::u32string cps = decode_all(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < cps.size(); ++i) {
        const char32_t cp = cps[i];
        if (cp == 0x03A3) {
            append_utf8(out, final_sigma(cps, i) ? 0x03C2 : 0x03C3);
            continue;
        }
        auto single = std::lower_bound(std::begin(kLowerSingle), std::end(kLowerSingle), cp,
                                       [](const LowerPair& p, char32_t v) { return p.from < v; });
        if (single != std::end(kLowerSingle) && single->from == cp) {
            append_utf8(out, single->to);
            continue;
        }
        auto multi = std::find_if(std::begin(kLowerMulti), std::end(kLowerMulti),
                                  [cp](const LowerMulti& m) { return m.from == cp; });
        if (multi != std::end(kLowerMulti)) {
            for (std::uint32_t to : multi->to)
                if (to != 0) append_utf8(out, to);
            continue;
        }
        append_utf8(out, cp);
    }
    return out;
}

std::string_view trim_unicode_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t pos = begin;
        if (!is_unicode_space(decode_utf8(text, pos))) break;
        begin = pos;
    }
    std::size_t end = begin;
    for (std::size_t pos = begin; pos < text.size();) {
        const char32_t cp = decode_utf8(text, pos);
        if (!is_unicode_space(cp)) end = pos;
    }
    return text.substr(begin, end - begin);
}

std::filesystem::path path_from_utf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string path_to_utf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace vorlix
