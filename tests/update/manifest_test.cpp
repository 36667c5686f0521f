#include <gtest/gtest.h>

#include "support/update_fixture.h"
#include "update/manifest.h"
#include "update/web_link.h"

namespace vorlix {
namespace {

std::string manifest_error(const std::string& text) {
    const Result<Manifest> m = parse_manifest(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return m ? "" : m.error().text;
}

TEST(UpdateManifest, RulesAndTexts) {
    const std::string sig(86, 'A');
    const std::string good = R"({"url":"HTTPS://x/a.zip","size":5,"sha256":")" + std::string(64, 'F') +
                             R"(","signature":" )" + sig + R"(== "})";
    const auto with = [&](const std::string& version, const std::string& entry) {
        return R"({"version":")" + version + R"(","downloads":{"x64":)" + good + "," + entry + "}}";
    };
    const std::string sized = R"("arm":{"url":"http://x","size":0,"sha256":")" + std::string(64, '0') +
                              R"(","signature":")" + sig + R"(=="})";
    struct Case { std::string text, error; } cases[] = {
        {with(" 2.0 ", R"("z":[")" "http://y" R"(",1,")" + std::string(64, 'a') + R"(",")" + sig + R"(=="])"), ""},
        {with("v2", R"("z":1)"), "update.json: invalid type: integer `1`, expected struct Download"},
        {with("v2", sized), "update.json: version v2 is not like 1.2.0"},
        {with("2.0", sized), "update.json: arm: size 0"},
        {with("2.0", R"("b":{"url":"http://a b","size":1,"sha256":"","signature":""})"), "update.json: b: not a web link"},
        {with("2.0", R"("b":{"url":"ftp://a","size":1,"sha256":"","signature":""})"), "update.json: b: not a web link"},
        {with("2.0", R"("b":{"url":"http://a\u0085","size":1,"sha256":"","signature":""})"), "update.json: b: not a web link"},
        {with("2.0", R"("b":{"url":"http://a","size":67108865,"sha256":"","signature":""})"), "update.json: b: size 67108865"},
        {with("2.0", R"("b":{"url":"http://a","size":1,"sha256":"12","signature":""})"), "update.json: b: sha256 is not 64 hex digits"},
        {with("2.0", R"("b":{"url":"http://a","size":1,"sha256":")" + std::string(64, 'a') + R"(","signature":")" + sig + R"(=B"})"),
         "update.json: b: signature is not 64 bytes of base64"},
        {R"({"version":"1","version":"2","downloads":{}})", "update.json: "},
        {R"(["1.0"])", "update.json: invalid length 1, expected struct Manifest with 2 elements"},
        {R"({"version":"1.0","downloads":{}} x)", "update.json: "},
    };
    for (const Case& c : cases) {
        const std::string error = manifest_error(c.text);
        if (c.error == "update.json: ") {
            EXPECT_TRUE(error.starts_with(c.error) && error.size() > c.error.size()) << c.text;
        } else {
            EXPECT_EQ(error, c.error) << c.text;
        }
    }
    std::string padded = R"({"version":"1.0","downloads":{}})";
    padded.resize(kManifestLimit, ' ');
    EXPECT_EQ(manifest_error(padded), "");
    EXPECT_EQ(manifest_error(padded + " "), "update.json is too big");
}

TEST(UpdateManifest, VersionsAndPick) {
    for (const char* ok : {"1", "1.2", "1.2.0", "1.2.3.4", "+1.999999999", " 2.0 "}) EXPECT_TRUE(parse_version(ok)) << ok;
    for (const char* bad : {"", "1.", "v1", "1.2.3.4.5", "-1", "1.1234567890", "1..2", "+"}) {
        EXPECT_FALSE(parse_version(bad)) << bad;
    }
    const struct { const char* a; const char* b; bool newer; } cmp[] = {
        {"1.10", "1.9", true}, {"1.3.3.0", "1.3.3", false}, {"1.3.4", "1.3.3", true}, {"1.2", "1.2.0", false},
        {"1.3.3", "1.3.4", false}, {"x", "1", false}, {" 2.0 ", "1.3.3", true},
    };
    for (const auto& c : cmp) EXPECT_EQ(is_newer_version(c.a, c.b), c.newer) << c.a << " " << c.b;

    const Download d{"http://127.0.0.1/a.zip", 5, std::string(64, 'a'), std::string(86, 'A') + "=="};
    Manifest m{" 2.0 ", {{"x64", d}}};
    EXPECT_EQ(pick_newer_download(m, kAppVersion, "x64"), (PendingUpdate{" 2.0 ", d}));
    EXPECT_FALSE(pick_newer_download(m, kAppVersion, "arm64"));
    m.version = "1.3.3.0";
    EXPECT_FALSE(pick_newer_download(m, kAppVersion, "x64"));
}

TEST(UpdateWebLink, Splits) {
    const struct { const char* text; std::optional<WebLink> link; } cases[] = {
        {"HTTPS://Example.COM:8443/a/b?c=/d", WebLink{"Example.COM", 8443, true, "/a/b?c=/d"}},
        {"https://host", WebLink{"host", 443, true, "/"}},
        {"http://[::1]:8080/u.json", WebLink{"::1", 8080, false, "/u.json"}},
        {"https://[::1]", WebLink{"::1", 443, true, "/"}},
        {"http://127.0.0.1:0", WebLink{"127.0.0.1", 0, false, "/"}},
        {"http://user@host/", std::nullopt}, {"ftp://host/", std::nullopt}, {"http:///x", std::nullopt},
        {"http://host:65536/", std::nullopt}, {"http://host:/", std::nullopt}, {"http://[::1/", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_web_link(c.text), c.link) << c.text;
}

}  // namespace
}  // namespace vorlix
