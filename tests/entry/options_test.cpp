#include "app/options.h"

#include <gtest/gtest.h>

namespace vorlix {
namespace {

ArgList args(std::initializer_list<const char*> list) {
    ArgList out{"Vorlix.exe"};
    for (const char* a : list) out.emplace_back(a);
    return out;
}

TEST(HostOptions, PortValues) {
    EXPECT_EQ(read_host_options(args({})).port, 47910);
    EXPECT_EQ(read_host_options(args({"--port", "0"})).port, 0);
    EXPECT_EQ(read_host_options(args({"--port", "+8080"})).port, 8080);
    EXPECT_EQ(read_host_options(args({"--port", "65535"})).port, 65535);
    for (const char* bad : {"70000", "65536", "-1", "abc", "+", "-", "", "8080x", " 8080", "++1"}) {
        EXPECT_EQ(read_host_options(args({"--port", bad})).port, 47910) << bad;
    }
    // An option that is the last argument has no value.
    EXPECT_EQ(read_host_options(args({"--port"})).port, 47910);
    // Only the value after the first occurrence counts.
    EXPECT_EQ(read_host_options(args({"--port", "1000", "--port", "2000"})).port, 1000);
}

TEST(HostOptions, ValuesAndFlags) {
    HostOptions o = read_host_options(
        args({"--hidden", "--data-dir", "D:\\one", "--data-dir", "D:\\two", "--code-file", "c.txt", "--open-pairing"}));
    EXPECT_EQ(o.data_dir, "D:\\one");
    EXPECT_EQ(o.code_file, "c.txt");
    EXPECT_TRUE(o.hidden);
    EXPECT_TRUE(o.open_pairing);
    EXPECT_TRUE(o.advertise());
    EXPECT_TRUE(o.relay_allowed());

    // Comparison is exact and case-sensitive; no joined forms.
    o = read_host_options(args({"--Hidden", "--data-dir=D:\\x", "--code-file"}));
    EXPECT_FALSE(o.hidden);
    EXPECT_FALSE(o.data_dir);
    EXPECT_FALSE(o.code_file);

    // The value is the next argument, whatever it looks like.
    o = read_host_options(args({"--data-dir", "--hidden"}));
    EXPECT_EQ(o.data_dir, "--hidden");
    EXPECT_TRUE(o.hidden);
}

TEST(HostOptions, RelayAndAdvertising) {
    HostOptions o = read_host_options(args({"--no-advertise"}));
    EXPECT_FALSE(o.advertise());
    EXPECT_FALSE(o.relay_allowed());
    o = read_host_options(args({"--no-relay"}));
    EXPECT_TRUE(o.advertise());
    EXPECT_FALSE(o.relay_allowed());
}

TEST(AfterUpdate, TakesOptionAndValueOut) {
    AfterUpdateArgs a = take_after_update(args({"--hidden", "--after-update", "+1234", "--port", "5"}));
    EXPECT_EQ(a.remaining, args({"--hidden", "--port", "5"}));
    ASSERT_TRUE(a.after_update());
    EXPECT_EQ(*a.old_process, 1234u);

    a = take_after_update(args({"--after-update", "4294967295"}));
    EXPECT_EQ(a.old_process, 4294967295u);
    EXPECT_EQ(a.remaining, args({}));

    // A value that is not a 32-bit number is removed all the same.
    for (const char* bad : {"4294967296", "-5", "x", ""}) {
        a = take_after_update(args({"--after-update", bad, "--hidden"}));
        EXPECT_FALSE(a.after_update()) << bad;
        EXPECT_EQ(a.remaining, args({"--hidden"})) << bad;
    }

    // Every occurrence is taken out; the last decides.
    a = take_after_update(args({"--after-update", "7", "--hidden", "--after-update", "9"}));
    EXPECT_EQ(a.old_process, 9u);
    EXPECT_EQ(a.remaining, args({"--hidden"}));
    a = take_after_update(args({"--after-update", "7", "--after-update", "x"}));
    EXPECT_FALSE(a.after_update());
    EXPECT_EQ(a.remaining, args({}));

    a = take_after_update(args({"--hidden", "--after-update"}));
    EXPECT_FALSE(a.after_update());
    EXPECT_EQ(a.remaining, args({"--hidden"}));

    a = take_after_update(args({"--hidden"}));
    EXPECT_FALSE(a.after_update());
    EXPECT_EQ(a.remaining, args({"--hidden"}));
}

TEST(ParseDecimal, Limits) {
    EXPECT_EQ(parse_decimal("18446744073709551615", UINT64_MAX), UINT64_MAX);
    EXPECT_FALSE(parse_decimal("18446744073709551616", UINT64_MAX));
    EXPECT_EQ(parse_decimal("000042", 100), 42u);
    EXPECT_EQ(parse_decimal("100", 100), 100u);
    EXPECT_FALSE(parse_decimal("101", 100));
}

TEST(InstanceMutex, NameFollowsFolderWithoutCase) {
    EXPECT_EQ(instance_mutex_name(std::nullopt), "Local\\VorlixHost");
    EXPECT_EQ(instance_mutex_name("C:\\Temp\\Host"), "Local\\VorlixHost-cdd85cb55ac8089c");
    EXPECT_EQ(instance_mutex_name("c:\\temp\\host"), "Local\\VorlixHost-cdd85cb55ac8089c");
    // The text is hashed unchanged otherwise: other separators are other folders.
    EXPECT_NE(instance_mutex_name("c:/temp/host"), instance_mutex_name("c:\\temp\\host"));
    // Non-ASCII capitals fold too.
    EXPECT_EQ(instance_mutex_name("D:\\ÄRGER\\ΣΟΦΙΑ"), instance_mutex_name("d:\\ärger\\σοφια"));
}

TEST(InstanceMutex, Fnv1a) {
    EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a64("foobar"), 0x85944171f73967e8ull);
}

TEST(DataFolder, DefaultFolder) {
    EXPECT_EQ(default_data_folder(std::filesystem::path("C:/Users/a/AppData/Roaming")),
              std::filesystem::path("C:/Users/a/AppData/Roaming") / "Vorlix");
    EXPECT_EQ(default_data_folder(std::nullopt), std::filesystem::path(".") / "Vorlix");
}

}  // namespace
}  // namespace vorlix
