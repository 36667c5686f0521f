#include "i18n/i18n.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace vorlix {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(TranslationTable, ParsesLinesCommentsEscapesAndRepeats) {
    const std::string text =
        "\xEF\xBB\xBF\xEF\xBB\xBF# heading\r\n"
        "   \t\r\n"
        "    # indented comment\n"
        "no equals sign\n"
        " k = a = b \n"
        "=empty key\n"
        "lines = one\\ntwo\n"
        "e1 = \\u00e9\n"
        "e2 = \\uZZ\n"
        "e3 = a\\\\b\\q\n"
        "e4 = \\u+041!\n"
        "e5 = \\ud800\n"
        "tail = end\\\n"
        "short = \\u4\n"
        "k = later\r\n"
        "braces = {x}";
    const Pairs expected{
        {"k", "a = b"},
        {"", "empty key"},
        {"lines", "one\ntwo"},
        {"e1", "\xC3\xA9"},
        {"e2", "\\uZZ"},
        {"e3", "a\\b\\q"},
        {"e4", "A!"},
        {"e5", "\\ud800"},
        {"tail", "end\\"},
        {"short", "\x04"},
        {"k", "later"},
        {"braces", "{x}"},
    };
    EXPECT_EQ(parse_translation_table(text), expected);

    // Of two lines with one key the later wins; a missing key falls back to
    // English, then to the key; an empty value is kept.
    std::vector<TranslationMap> maps(kLanguageCount);
    maps[0] = {{"both", "English"}, {"only.en", "Only English"}, {"empty", "not used"}};
    maps[2] = {{"both", "Deutsch"}, {"empty", ""}};
    EXPECT_EQ(lookup_in(maps, Language::German, "both"), "Deutsch");
    EXPECT_EQ(lookup_in(maps, Language::German, "only.en"), "Only English");
    EXPECT_EQ(lookup_in(maps, Language::German, "nowhere"), "nowhere");
    EXPECT_EQ(lookup_in(maps, Language::German, "empty"), "");
}

TEST(TranslationTable, FillsPlaceholders) {
    struct Case {
        std::string text;
        TextArgs args;
        std::string filled;
    };
    const Case cases[] = {
        {"{x}", {}, "{x}"},
        {"a {x", {{"x", "1"}}, "a {x"},
        {"{y}", {{"x", "1"}}, "{y}"},
        {"{x}{x}", {{"x", "1"}}, "11"},
        {"{{x}", {{"x", "1"}}, "{1"},
        {"{}", {{"", "E"}}, "E"},
        {"{X}", {{"x", "1"}}, "{X}"},
        {"{a} {b}", {{"b", "{a}"}, {"a", "2"}, {"a", "3"}}, "2 {a}"},
    };
    for (const auto& c : cases) EXPECT_EQ(fill_placeholders(c.text, c.args), c.filled) << c.text;
    EXPECT_EQ(fill_placeholders(lookup_text(Language::English, "stream.summary"),
                                {{"width", "1920"}, {"height", "1080"}, {"fps", "60"}}),
              "1920 \xC3\x97 1080 \xC2\xB7 60 fps \xC2\xB7 H.264");
}

std::set<std::string> placeholders(const std::string& text) {
    std::set<std::string> names;
    static const std::regex kName("\\{([a-z_]*)\\}");
    for (std::sregex_iterator it(text.begin(), text.end(), kName), end; it != end; ++it) names.insert((*it)[1]);
    return names;
}

// Keeps later edits of the tables honest: every table holds the same 91
// keys as English, with the same placeholders, and translates what a person
// reads.
TEST(TranslationTable, EveryTableHasEveryKeyWithItsPlaceholders) {
    const auto maps = build_translation_tables();
    ASSERT_EQ(maps.size(), kLanguageCount);
    const TranslationMap& english = maps[0];
    EXPECT_EQ(english.size(), 92u);
    EXPECT_EQ(english.at("status.connected"), "Connected to {name}");
    EXPECT_EQ(english.at("footer"),
              "This PC: {name} \xC2\xB7 port {port} \xC2\xB7 id {id}\nVorlix for Windows {version}");
    for (std::size_t i = 1; i < kLanguageCount; ++i) {
        EXPECT_EQ(parse_translation_table(translation_table_text(static_cast<Language>(i))).size(), 92u) << i;
        ASSERT_EQ(maps[i].size(), english.size()) << i;
        std::size_t same_as_english = 0;
        for (const auto& [key, text] : english) {
            ASSERT_TRUE(maps[i].contains(key)) << i << " " << key;
            EXPECT_EQ(placeholders(maps[i].at(key)), placeholders(text)) << i << " " << key;
            if (maps[i].at(key) == text) ++same_as_english;
        }
        EXPECT_EQ(same_as_english, 0u) << i;
    }
    // Numbers in Arabic keep their order between left-to-right marks.
    EXPECT_NE(maps[1].at("stream.summary").find("\xE2\x80\x8E{width} \xC3\x97 {height}\xE2\x80\x8E"),
              std::string::npos);
}

TEST(Language, MatchesTags) {
    struct Case {
        std::string tag;
        std::optional<Language> language;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", Language::German},  {"zh_TW", Language::ChineseHant},
        {"zh-SG", Language::ChineseHans},   {"ZH-hant-cn", Language::ChineseHant},
        {"zh-Hans-TW", Language::ChineseHans}, {"zh-HK", Language::ChineseHant},
        {"pt-PT", Language::Portuguese},    {"ar@latin", Language::Arabic},
        {" ja ", Language::Japanese},       {"en-US", Language::English},
        {"eng", std::nullopt},              {"", std::nullopt},
        {"nl-NL", std::nullopt},            {"-de", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(match_language_tag(c.tag), c.language) << c.tag;

    auto chosen = [](std::optional<std::string> environment, std::vector<std::string> user) {
        return choose_language({[=] { return environment; }, [=] { return user; }});
    };
    EXPECT_EQ(chosen("de_DE.UTF-8", {"fr-FR"}), Language::German);
    EXPECT_EQ(chosen("eng", {"fy-NL", "", "nl-NL", "fr-FR"}), Language::French);
    EXPECT_EQ(chosen("", {"ko-KR"}), Language::Korean);
    EXPECT_EQ(chosen(std::nullopt, {"fy-NL", "nl-NL"}), Language::English);
}

}  // namespace
}  // namespace vorlix
