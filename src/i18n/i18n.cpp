#include "i18n/i18n.h"

#include <cstdlib>
#include <mutex>

#include "app/text.h"

namespace vorlix {
namespace {

// The byte length of the UTF-8 sequence that starts with this byte (1 for a
// stray continuation byte, so that scanning always moves on).
std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// A hexadecimal number of one to four digits with an optional leading "+".
std::optional<std::uint32_t> parse_hex(std::string_view digits) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    std::size_t i = 0;
    while (i < value.size()) {
        const char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            ++i;
            continue;
        }
        const char next = value[i + 1];
        if (next == 'n') {
            out += '\n';
            i += 2;
        } else if (next == '\\') {
            out += '\\';
            i += 2;
        } else if (next == 'u') {
            // Up to four whole characters after the "u".
            std::size_t end = i + 2;
            for (int taken = 0; taken < 4 && end < value.size(); ++taken) {
                end = std::min(value.size(), end + utf8_length(static_cast<unsigned char>(value[end])));
            }
            const std::string_view digits = value.substr(i + 2, end - i - 2);
            const auto cp = parse_hex(digits);
            if (cp && *cp <= 0x10FFFF && !(*cp >= 0xD800 && *cp <= 0xDFFF)) {
                append_utf8(out, *cp);
            } else {
                out.append(value.substr(i, end - i));
            }
            i = end;
        } else {
            out += c;
            out += next;
            i += 2;
        }
    }
    return out;
}

const std::vector<TranslationMap>& tables() {
    static const std::vector<TranslationMap> built = build_translation_tables();
    return built;
}

std::mutex g_sources_mutex;
LanguageSources g_sources;

LanguageSources default_sources() {
    return LanguageSources{
        [] () -> std::optional<std::string> {
            const char* value = std::getenv("VORLIX_LANG");
            if (!value || !is_valid_utf8(value)) return std::nullopt;
            return std::string(value);
        },
        [] { return std::vector<std::string>{}; },
    };
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parse_translation_table(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!last && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        while (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        const std::string_view trimmed = trim_unicode_space(line);
        if (!trimmed.empty() && trimmed.front() != '#') {
            const std::size_t equals = line.find('=');
            if (equals != std::string_view::npos) {
                pairs.emplace_back(std::string(trim_unicode_space(line.substr(0, equals))),
                                   unescape(trim_unicode_space(line.substr(equals + 1))));
            }
        }
        if (last) break;
    }
    return pairs;
}

std::vector<TranslationMap> build_translation_tables() {
    std::vector<TranslationMap> maps(kLanguageCount);
    for (std::size_t i = 0; i < kLanguageCount; ++i) {
        for (auto& [key, value] : parse_translation_table(translation_table_text(static_cast<Language>(i)))) {
            maps[i].insert_or_assign(std::move(key), std::move(value));
        }
    }
    return maps;
}

std::string lookup_text(Language language, std::string_view key) { return lookup_in(tables(), language, key); }

std::string lookup_in(const std::vector<TranslationMap>& maps, Language language, std::string_view key) {
    const std::string owned(key);
    const auto index = static_cast<std::size_t>(language);
    if (index < maps.size()) {
        if (auto found = maps[index].find(owned); found != maps[index].end()) return found->second;
    }
    if (!maps.empty()) {
        if (auto found = maps[0].find(owned); found != maps[0].end()) return found->second;
    }
    return owned;
}

std::string fill_placeholders(std::string_view text, const TextArgs& args) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('{', i);
        if (open == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const std::size_t close = text.find('}', open + 1);
        const TextArgs::value_type* match = nullptr;
        if (close != std::string_view::npos) {
            const std::string_view name = text.substr(open + 1, close - open - 1);
            for (const auto& arg : args) {
                if (arg.first == name) {
                    match = &arg;
                    break;
                }
            }
        }
        if (match) {
            out += match->second;
            i = close + 1;
        } else {
            out += '{';
            i = open + 1;
        }
    }
    return out;
}

std::string translate(std::string_view key) { return lookup_text(current_language(), key); }

std::string translate_with(std::string_view key, const TextArgs& args) {
    return fill_placeholders(translate(key), args);
}

bool is_traditional_region(const std::vector<std::string_view>& subtags) {
    for (std::string_view subtag : subtags) {
        if (subtag.size() == 2 && (subtag == "tw" || subtag == "hk" || subtag == "mo")) return true;
    }
    return false;
}

std::optional<Language> match_language_tag(std::string_view tag) {
    tag = tag.substr(0, std::min(tag.find('.'), tag.find('@')));
    std::string text(trim_unicode_space(tag));
    for (char& c : text) {
        if (c == '_') c = '-';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    std::vector<std::string_view> subtags;
    std::string_view rest = text;
    for (;;) {
        const std::size_t dash = rest.find('-');
        subtags.push_back(rest.substr(0, dash));
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    const std::string_view first = subtags.front();
    if (first.size() != 2) return std::nullopt;
    struct Code {
        std::string_view code;
        Language language;
    };
    static constexpr Code kCodes[] = {
        {"en", Language::English}, {"ar", Language::Arabic},  {"de", Language::German},
        {"es", Language::Spanish}, {"fr", Language::French},  {"it", Language::Italian},
        {"ja", Language::Japanese}, {"ko", Language::Korean}, {"pt", Language::Portuguese},
    };
    for (const auto& code : kCodes) {
        if (first == code.code) return code.language;
    }
    if (first != "zh") return std::nullopt;
    const std::vector<std::string_view> later(subtags.begin() + 1, subtags.end());
    auto holds = [&](std::string_view wanted) {
        for (std::string_view subtag : later) {
            if (subtag == wanted) return true;
        }
        return false;
    };
    if (holds("hant")) return Language::ChineseHant;
    if (holds("hans")) return Language::ChineseHans;
    return is_traditional_region(later) ? Language::ChineseHant : Language::ChineseHans;
}

Language choose_language(const LanguageSources& sources) {
    if (sources.environment) {
        if (auto value = sources.environment()) {
            if (auto language = match_language_tag(*value)) return *language;
        }
    }
    if (sources.user_languages) {
        for (const std::string& name : sources.user_languages()) {
            if (name.empty()) continue;
            if (auto language = match_language_tag(name)) return *language;
        }
    }
    return Language::English;
}

void set_language_sources(LanguageSources sources) {
    std::lock_guard<std::mutex> lock(g_sources_mutex);
    g_sources = std::move(sources);
}

Language current_language() {
    static const Language chosen = [] {
        LanguageSources sources;
        {
            std::lock_guard<std::mutex> lock(g_sources_mutex);
            sources = g_sources;
        }
        if (!sources.environment && !sources.user_languages) sources = default_sources();
        return choose_language(sources);
    }();
    return chosen;
}

}  // namespace vorlix
