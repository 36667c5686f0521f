// Texts shown to a person, looked up by key in one of eleven built-in
// translation tables. The language is chosen once per run (VORLIX_LANG, then
// the user's preferred UI languages, then English); the tables are parsed at
// the first look-up. Every look-up returns an owned copy.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vorlix {

// The value is the index of the language's table.
enum class Language : std::uint8_t {
    English = 0,
    Arabic = 1,
    German = 2,
    Spanish = 3,
    French = 4,
    Italian = 5,
    Japanese = 6,
    Korean = 7,
    Portuguese = 8,   // Brazilian Portuguese
    ChineseHans = 9,  // simplified script
    ChineseHant = 10, // traditional script
};
constexpr std::size_t kLanguageCount = 11;

// Placeholder arguments: (name, display text), first match wins.
using TextArgs = std::vector<std::pair<std::string, std::string>>;

// One table text as (key, value) pairs in line order, values unescaped.
std::vector<std::pair<std::string, std::string>> parse_translation_table(std::string_view text);

// The built-in table text of a language.
std::string_view translation_table_text(Language language);

using TranslationMap = std::unordered_map<std::string, std::string>;
// All eleven tables parsed, in Language order (a repeated key: the later wins).
std::vector<TranslationMap> build_translation_tables();

// The key's value in the language, else in English, else the key itself.
std::string lookup_text(Language language, std::string_view key);
// The same over given tables (indexed by Language, English first).
std::string lookup_in(const std::vector<TranslationMap>& maps, Language language, std::string_view key);

// "{name}" placeholders filled from the arguments; unknown ones stay as written.
std::string fill_placeholders(std::string_view text, const TextArgs& args);

// Look-ups in the current language.
std::string translate(std::string_view key);
std::string translate_with(std::string_view key, const TextArgs& args);

// Where the choice of language reads from: the VORLIX_LANG value (none when
// unset or not valid Unicode) and the user's preferred UI language names.
struct LanguageSources {
    std::function<std::optional<std::string>()> environment;
    std::function<std::vector<std::string>()> user_languages;
};

// The language for these sources: the environment value when it matches, else
// the first user language that matches, else English.
Language choose_language(const LanguageSources& sources);

// Installs the sources the current language is chosen from (the program entry
// does so before the first look-up). Without it: VORLIX_LANG through the C
// library and no user languages.
void set_language_sources(LanguageSources sources);

// The language of this run, chosen at the first call.
Language current_language();

// A language tag ("de_DE.UTF-8", "zh-Hant-CN") as a Language, or none.
std::optional<Language> match_language_tag(std::string_view tag);

// Whether the subtags hold a region of traditional-script Chinese (tw, hk, mo).
bool is_traditional_region(const std::vector<std::string_view>& subtags);

}  // namespace vorlix
