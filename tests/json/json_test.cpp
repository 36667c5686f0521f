#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "json/base64.h"
#include "json/json.h"
#include "json/record.h"

namespace vorlix {
namespace {

Json parse_ok(std::string_view text, DuplicateKeys d = DuplicateKeys::refuse) {
    auto r = parse_json(text, d);
    EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().text);
    return r.ok() ? r.value() : Json();
}

bool parses(std::string_view text, DuplicateKeys d = DuplicateKeys::refuse) {
    return parse_json(text, d).ok();
}

std::string compact(const Json& v) { return write_compact(v).value(); }
std::string compact(const OrderedJson& v) { return write_compact(v).value(); }

TEST(JsonRead, WholeTextIsOneValue) {
    EXPECT_TRUE(parses("{}"));
    EXPECT_TRUE(parses(" \t\r\n{\"a\":1} \t\r\n"));
    EXPECT_TRUE(parses("[1,2]"));
    EXPECT_TRUE(parses("\"text\""));
    EXPECT_FALSE(parses("{} {}"));
    EXPECT_FALSE(parses("{}x"));
    EXPECT_FALSE(parses("{}\f"));          // form feed is not JSON white space
    EXPECT_FALSE(parses(""));
    EXPECT_FALSE(parses("   "));
    EXPECT_FALSE(parses("{\"a\":1,}"));     // trailing comma
    EXPECT_FALSE(parses("[1,]"));
    EXPECT_FALSE(parses("{/*c*/}"));        // comments
    EXPECT_FALSE(parses("{} // c"));
    EXPECT_FALSE(parses("\xEF\xBB\xBF{}"));  // byte order mark
    EXPECT_FALSE(parses("{'a':1}"));
    EXPECT_FALSE(parses("NaN"));
    EXPECT_FALSE(parses("01"));
    EXPECT_FALSE(parses("1."));
    EXPECT_FALSE(parses("+1"));
}

TEST(JsonRead, StringsMustBeCleanUtf8) {
    EXPECT_EQ(parse_ok("\"\\u00e9\\ud83d\\ude00\"").get<std::string>(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_FALSE(parses("\"a\nb\""));        // raw control character
    EXPECT_FALSE(parses("\"a\x01" "b\""));
    EXPECT_FALSE(parses("\"\xC3\""));        // truncated UTF-8
    EXPECT_FALSE(parses("\"\xFF\""));
    EXPECT_FALSE(parses("\"\\ud800\""));     // lone surrogate
    EXPECT_FALSE(parses("\"\\x41\""));
    std::string nul("\"a\0b\"", 5);
    EXPECT_FALSE(parses(nul));
}

TEST(JsonRead, NestingIsBounded) {
    std::string ok(kMaxJsonDepth, '[');
    ok += std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(parses(ok));
    std::string deep(kMaxJsonDepth + 1, '[');
    deep += std::string(kMaxJsonDepth + 1, ']');
    EXPECT_FALSE(parses(deep));
    EXPECT_FALSE(parses(std::string(100000, '[')));
}

TEST(JsonRead, RepeatedMemberNames) {
    EXPECT_FALSE(parses("{\"a\":1,\"a\":2}", DuplicateKeys::refuse));
    EXPECT_FALSE(parses("{\"x\":{\"a\":1,\"a\":1}}", DuplicateKeys::refuse));
    EXPECT_FALSE(parses("[{\"a\":1,\"b\":2,\"a\":3}]", DuplicateKeys::refuse));
    EXPECT_TRUE(parses("[{\"a\":1},{\"a\":2}]", DuplicateKeys::refuse));
    EXPECT_TRUE(parses("{\"a\":{\"a\":1}}", DuplicateKeys::refuse));
    // Names are compared exactly: case and escapes of the same text.
    EXPECT_TRUE(parses("{\"a\":1,\"A\":2}", DuplicateKeys::refuse));
    EXPECT_FALSE(parses("{\"a\":1,\"\\u0061\":2}", DuplicateKeys::refuse));

    Json last = parse_ok("{\"a\":1,\"b\":[1],\"a\":{\"x\":2}}", DuplicateKeys::keep_last);
    EXPECT_EQ(compact(last), "{\"a\":{\"x\":2},\"b\":[1]}");
    Json nested = parse_ok("{\"p\":{\"v\":1,\"v\":[2,3]},\"p\":{\"v\":4}}", DuplicateKeys::keep_last);
    EXPECT_EQ(compact(nested), "{\"p\":{\"v\":4}}");

    // Only the document's own object must name each member once.
    EXPECT_FALSE(parses("{\"a\":{},\"b\":1,\"a\":{}}", DuplicateKeys::refuse_at_top));
    Json inner = parse_ok("{\"p\":{\"v\":1,\"v\":2},\"q\":[{\"w\":{\"x\":1,\"x\":3}}]}", DuplicateKeys::refuse_at_top);
    EXPECT_EQ(compact(inner), "{\"p\":{\"v\":2},\"q\":[{\"w\":{\"x\":3}}]}");
    EXPECT_TRUE(parses("[{\"a\":1,\"a\":2}]", DuplicateKeys::refuse_at_top));
}

TEST(JsonRead, IntegersAreToldApartFromFloats) {
    EXPECT_EQ(json_i64(parse_ok("5")), 5);
    EXPECT_EQ(json_u64(parse_ok("5")), 5u);
    EXPECT_EQ(json_f64(parse_ok("5")), 5.0);
    for (const char* text : {"5.0", "5e0", "5E+0", "0.5e1"}) {
        Json v = parse_ok(text);
        EXPECT_FALSE(json_i64(v)) << text;
        EXPECT_FALSE(json_u64(v)) << text;
        EXPECT_EQ(json_f64(v), 5.0) << text;
    }
    EXPECT_EQ(json_i64(parse_ok("-9223372036854775808")), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(json_i64(parse_ok("9223372036854775807")), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(json_i64(parse_ok("9223372036854775808")));
    EXPECT_FALSE(json_i64(parse_ok("-9223372036854775809")));
    EXPECT_EQ(json_u64(parse_ok("18446744073709551615")), std::numeric_limits<std::uint64_t>::max());
    EXPECT_FALSE(json_u64(parse_ok("18446744073709551616")));
    EXPECT_TRUE(json_f64(parse_ok("18446744073709551616")));
    EXPECT_FALSE(json_u64(parse_ok("-1")));
    EXPECT_EQ(json_i64(parse_ok("-1")), -1);
    EXPECT_EQ(json_u64(parse_ok("-0")), 0u);
    EXPECT_FALSE(parses("1e400"));  // overflows a double
    EXPECT_EQ(json_f64(parse_ok("1e-400")), 0.0);
    // Other kinds are no numbers.
    EXPECT_FALSE(json_i64(parse_ok("\"5\"")));
    EXPECT_FALSE(json_f64(parse_ok("true")));
    EXPECT_FALSE(json_f64(parse_ok("null")));
    EXPECT_FALSE(json_bool(parse_ok("1")));
    EXPECT_EQ(json_bool(parse_ok("false")), false);
}

TEST(JsonRead, StringArrays) {
    EXPECT_EQ(json_string_array(parse_ok("[]")), std::vector<std::string>{});
    EXPECT_EQ(json_string_array(parse_ok("[\"a\",\"b\"]")), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(json_string_array(parse_ok("[\"a\",1]")));
    EXPECT_FALSE(json_string_array(parse_ok("\"a\"")));
}

TEST(Base64, StandardIsCanonical) {
    EXPECT_EQ(base64_decode("AAAA"), Bytes(3, 0));
    EXPECT_EQ(base64_decode("AAA="), Bytes(2, 0));
    EXPECT_EQ(base64_decode("AA=="), Bytes(1, 0));
    EXPECT_EQ(base64_decode(""), Bytes{});
    EXPECT_EQ(base64_decode("+/8="), (Bytes{0xfb, 0xff}));
    for (const char* bad : {"AAA", "AAB=", "AB==", "A===", "====", "AA=A", "=AAA", "AAAA=", "AA AA", "AAAA\n",
                            "-_8=", "AA==AAAA", "AAA==", "A"}) {
        EXPECT_FALSE(base64_decode(bad)) << bad;
    }
    for (std::size_t n = 0; n < 70; ++n) {
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
        std::string text = base64_encode(data);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(base64_decode(text), data) << n;
    }
    EXPECT_EQ(base64_encode(to_bytes("foobar")), "Zm9vYmFy");
    EXPECT_EQ(base64_encode(to_bytes("fooba")), "Zm9vYmE=");
    EXPECT_EQ(base64_encode(to_bytes("foob")), "Zm9vYg==");
}

TEST(Base64, UrlSafeIsUnpadded) {
    EXPECT_EQ(base64url_encode(Bytes{0xfb, 0xff}), "-_8");
    EXPECT_EQ(base64url_decode("-_8"), (Bytes{0xfb, 0xff}));
    EXPECT_EQ(base64url_decode(""), Bytes{});
    for (const char* bad : {"-_8=", "+/8", "A", "AAAAA", "AB", "AAB", "AA A"}) {
        EXPECT_FALSE(base64url_decode(bad)) << bad;
    }
    for (std::size_t n = 0; n < 40; ++n) {
        Bytes data(n, static_cast<std::uint8_t>(0xA5 ^ n));
        EXPECT_EQ(base64url_decode(base64url_encode(data)), data);
        EXPECT_EQ(base64url_encode(data).find('='), std::string::npos);
    }
}

TEST(JsonWrite, KeyOrder) {
    OrderedJson ordered;
    ordered["zeta"] = 1;
    ordered["alpha"] = OrderedJson::object({{"b", 1}, {"a", 2}});
    EXPECT_EQ(compact(ordered), "{\"zeta\":1,\"alpha\":{\"b\":1,\"a\":2}}");

    // Generic values sort members by their bytes at every level: capitals
    // before lower case, "_" between them, non-ASCII after everything.
    Json sorted = parse_ok("{\"\xC3\xA9\":0,\"png\":1,\"hotY\":2,\"_0\":3,\"hotX\":4,\"Zeta\":{\"b\":1,\"B\":2}}");
    EXPECT_EQ(compact(sorted), "{\"Zeta\":{\"B\":2,\"b\":1},\"_0\":3,\"hotX\":4,\"hotY\":2,\"png\":1,\"\xC3\xA9\":0}");
}

TEST(JsonWrite, StringEscaping) {
    std::string text = "q\" b\\ s/ \b\t\n\f\r \x01\x1f \x7f \xC3\xA9";
    EXPECT_EQ(compact(Json(text)), "\"q\\\" b\\\\ s/ \\b\\t\\n\\f\\r \\u0001\\u001f \x7f \xC3\xA9\"");
    EXPECT_FALSE(write_compact(Json(std::string("\xC3"))).ok());
    EXPECT_FALSE(write_indented(OrderedJson(std::string("\xFF"))).ok());
    EXPECT_EQ(write_compact(Json(std::string("a\xFF" "b")), BadUtf8::replace).value(), "\"a\xEF\xBF\xBD" "b\"");
}

TEST(JsonWrite, Floats) {
    EXPECT_EQ(compact(Json(1.0)), "1.0");
    EXPECT_EQ(compact(Json(0.0)), "0.0");
    EXPECT_EQ(compact(Json(0.25)), "0.25");
    EXPECT_EQ(compact(Json(-2.5)), "-2.5");
    EXPECT_EQ(compact(Json(0.1)), "0.1");
    EXPECT_EQ(compact(Json(std::nan(""))), "null");
    EXPECT_EQ(compact(Json(std::numeric_limits<double>::infinity())), "null");
    for (double v : {1e300, 1e-300, 5e-324, 1.7976931348623157e308, 123456.789, 1.0 / 3.0}) {
        std::string text = compact(Json(v));
        EXPECT_EQ(json_f64(parse_ok(text)), v) << text;
    }
    EXPECT_NE(compact(Json(1e300)).find('e'), std::string::npos);
    EXPECT_NE(compact(Json(1e-300)).find('e'), std::string::npos);
    EXPECT_EQ(compact(Json(std::int64_t{-3})), "-3");
    EXPECT_EQ(compact(Json(std::uint64_t{18446744073709551615u})), "18446744073709551615");
}

TEST(JsonWrite, Indented) {
    OrderedJson list = OrderedJson::array();
    EXPECT_EQ(write_indented(list).value(), "[]");
    list.push_back(OrderedJson::object({{"key", "k"}, {"added", 1}, {"nested", {1, OrderedJson::array()}}}));
    list.push_back(OrderedJson::object());
    EXPECT_EQ(write_indented(list).value(),
              "[\n  {\n    \"key\": \"k\",\n    \"added\": 1,\n    \"nested\": [\n      1,\n      []\n    ]\n  },\n"
              "  {}\n]");
    EXPECT_EQ(write_indented(Json::object()).value(), "{}");
}

TEST(JsonWrite, ReadWriteIsStable) {
    for (const char* text : {"{\"a\":[1,-2,3.5,true,null,\"x\"],\"b\":{}}", "[1e+300,0.0,-0.5]",
                             "\"\\u0000\\u007f\"", "{\"\":\"\"}"}) {
        Json first = parse_ok(text);
        std::string written = compact(first);
        EXPECT_EQ(parse_ok(written), first) << text;
        EXPECT_EQ(compact(parse_ok(written)), written);
    }
}

struct Sample {
    std::int64_t id = 0;
    std::string title;
    std::optional<std::string> note;
    bool on = true;
};

Status read_sample(const Json& v, Sample& s, std::size_t min_array) {
    RecordField fields[] = {
        {"id", false, read_into(s.id)},
        {"title", false, read_into(s.title)},
        {"note", true, read_into(s.note)},
        {"on", true, read_into(s.on)},
    };
    return read_record(v, "Sample", fields, min_array);
}

TEST(JsonRecord, ObjectForm) {
    Sample s;
    ASSERT_TRUE(read_sample(parse_ok("{\"title\":\"t\",\"id\":-4,\"ID\":9,\"extra\":{\"x\":[]}}"), s, 4));
    EXPECT_EQ(s.id, -4);
    EXPECT_EQ(s.title, "t");
    EXPECT_FALSE(s.note);
    EXPECT_TRUE(s.on);

    ASSERT_TRUE(read_sample(parse_ok("{\"id\":1,\"title\":\"t\",\"note\":null,\"on\":false}"), s, 4));
    EXPECT_FALSE(s.note);
    EXPECT_FALSE(s.on);

    EXPECT_EQ(read_sample(parse_ok("{\"on\":true}"), s, 4).error().text, "missing field `id`");
    EXPECT_EQ(read_sample(parse_ok("{\"id\":1}"), s, 4).error().text, "missing field `title`");
    EXPECT_EQ(read_sample(parse_ok("{\"id\":1.0,\"title\":\"t\"}"), s, 4).error().text,
              "invalid type: floating point `1.0`, expected i64");
    EXPECT_EQ(read_sample(parse_ok("5"), s, 4).error().text, "invalid type: integer `5`, expected struct Sample");
    EXPECT_EQ(read_sample(parse_ok("\"x\""), s, 4).error().text,
              "invalid type: string \"x\", expected struct Sample");
    EXPECT_FALSE(read_sample(parse_ok("{\"id\":1,\"title\":\"t\",\"note\":3}"), s, 4));
}

TEST(JsonRecord, RefusalsNameTheExpectedType) {
    auto refusal = [](auto out, std::string_view text) {
        Status read = read_typed(parse_ok(text), out);
        return read ? std::string("read") : read.error().text;
    };
    EXPECT_EQ(refusal(std::int64_t{}, "9223372036854775808"),
              "invalid type: integer `9223372036854775808`, expected i64");
    EXPECT_EQ(refusal(std::uint64_t{}, "-1"), "invalid type: integer `-1`, expected u64");
    EXPECT_EQ(refusal(std::uint32_t{}, "4294967296"), "invalid type: integer `4294967296`, expected u32");
    EXPECT_EQ(refusal(std::uint32_t{}, "4294967295"), "read");
    EXPECT_EQ(refusal(false, "1"), "invalid type: integer `1`, expected a boolean");
    EXPECT_EQ(refusal(0.0, "\"1\""), "invalid type: string \"1\", expected f64");
    EXPECT_EQ(refusal(std::string(), "null"), "invalid type: null, expected a string");
    EXPECT_EQ(refusal(std::optional<std::uint32_t>(), "-1"), "invalid type: integer `-1`, expected u32");

    std::optional<std::string> note = "kept?";
    ASSERT_TRUE(read_typed(parse_ok("null"), note));
    EXPECT_FALSE(note);

    // Present values are all read before any missing field is named.
    Sample s;
    EXPECT_EQ(read_sample(parse_ok("{\"note\":3}"), s, 4).error().text, "invalid type: integer `3`, expected a string");
}

TEST(JsonRecord, ArrayForm) {
    Sample s;
    ASSERT_TRUE(read_sample(parse_ok("[7,\"t\",\"n\",false]"), s, 4));
    EXPECT_EQ(s.id, 7);
    EXPECT_EQ(s.note, "n");
    EXPECT_FALSE(s.on);
    EXPECT_EQ(read_sample(parse_ok("[7,\"t\",null]"), s, 4).error().text,
              "invalid length 3, expected struct Sample with 4 elements");
    EXPECT_EQ(read_sample(parse_ok("[7,\"t\",null,true,1]"), s, 4).error().text,
              "invalid length 5, expected fewer elements in array");
    Sample d;
    ASSERT_TRUE(read_sample(parse_ok("[7,\"t\"]"), d, 2));
    EXPECT_TRUE(d.on);
    EXPECT_FALSE(read_sample(parse_ok("[\"7\",\"t\"]"), d, 2));
}

}  // namespace
}  // namespace vorlix
