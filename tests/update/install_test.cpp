#include <gtest/gtest.h>

#include <map>
#include <set>

#include "update/install.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "win/system/wide.h"
#endif

namespace vorlix {
namespace {

namespace fs = std::filesystem;

// A folder in memory; named paths refuse removal, renaming onto them, or
// every write (a read-only folder).
struct FakeFolder : UpdateFileOps {
    std::map<fs::path, Bytes> files;
    std::set<fs::path> stuck, no_rename_from;
    bool read_only = false;

    bool exists(const fs::path& p) override { return files.count(p) > 0; }
    std::optional<FileFailure> write(const fs::path& p, ByteView b) override {
        if (read_only) return FileFailure{true, "denied"};
        files[p] = Bytes(b.begin(), b.end());
        return std::nullopt;
    }
    std::optional<FileFailure> remove(const fs::path& p) override {
        if (stuck.count(p) || !files.count(p)) return FileFailure{false, "in use"};
        files.erase(p);
        return std::nullopt;
    }
    std::optional<FileFailure> rename(const fs::path& from, const fs::path& to) override {
        if (!files.count(from) || files.count(to) || no_rename_from.count(from)) return FileFailure{false, "in use"};
        files[to] = std::move(files[from]);
        files.erase(from);
        return std::nullopt;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& [p, b] : files) out.push_back(p.filename().string() + "=" + std::string(b.begin(), b.end()));
        return out;
    }
};

const fs::path kProgram = "/app/Vorlix.exe";
const fs::path kCamera = "/app/VorLixCamera.dll";
Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

TEST(UpdateInstall, SwapsWithSetAsideNamesAndRollsBack) {
    const std::vector<ZipFile> both = {{"Vorlix.exe", text("new")}, {"VorLixCamera.dll", text("cam2")}};
    FakeFolder folder;
    folder.files = {{kProgram, text("old")}, {"/app/Vorlix.exe.old", text("x")}, {"/app/Vorlix.exe.old2", text("y")}};
    folder.stuck = {"/app/Vorlix.exe.old"};
    ASSERT_EQ(put_files_in_place(both, kProgram, folder).value(), kProgram);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"VorLixCamera.dll=cam2", "Vorlix.exe=new", "Vorlix.exe.old=x",
                                                        "Vorlix.exe.old2=old"}));

    // The camera file cannot be moved into place: the program goes back.
    FakeFolder failing;
    failing.files = {{kProgram, text("old")}, {kCamera, text("cam1")}};
    failing.no_rename_from = {"/app/VorLixCamera.dll.new"};
    const auto result = put_files_in_place(both, kProgram, failing);
    EXPECT_EQ(result.error().text, "VorLix's folder cannot be changed (in use)");
    EXPECT_EQ(failing.names(), (std::vector<std::string>{"VorLixCamera.dll=cam1", "Vorlix.exe=old"}));

    FakeFolder full;
    full.files[kProgram] = text("old");
    for (const char* s : {"", "2", "3", "4", "5", "6", "7", "8", "9"}) {
        full.files[fs::path(kProgram.string() + ".old" + s)] = text("o");
        full.stuck.insert(fs::path(kProgram.string() + ".old" + s));
    }
    EXPECT_EQ(put_files_in_place({both[0]}, kProgram, full).error().text, "/app/Vorlix.exe could not be set aside");
    EXPECT_FALSE(full.exists("/app/Vorlix.exe.new"));
    EXPECT_EQ(full.files[kProgram], text("old"));

    FakeFolder locked;
    locked.read_only = true;
    EXPECT_EQ(put_files_in_place(both, kProgram, locked).error().text,
              "VorLix's folder cannot be changed (no permission)");
    EXPECT_TRUE(locked.files.empty());
}

TEST(UpdateInstall, ArgumentAndNameRules) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(build_relaunch_args({"p", "--open-pairing", "--hidden"}, true), (Args{"--hidden"}));
    EXPECT_EQ(build_relaunch_args({"p", "--open-pairing"}, false), (Args{"--hidden"}));
    EXPECT_EQ(build_relaunch_args({"p", "--port", "1"}, true), (Args{"--port", "1"}));
    EXPECT_EQ(manifest_link_from_args({"p", "--update-url"}, "d"), "d");
    EXPECT_EQ(manifest_link_from_args({"p", "--update-url", "a", "--update-url", "b"}, "d"), "a");

    for (const char* gone : {"Vorlix.exe.old", "Vorlix.exe.old3", "VORLIX.EXE.NEW", "VorLixCamera.dll.old12"}) {
        EXPECT_TRUE(is_update_leftover(gone, "Vorlix.exe")) << gone;
    }
    for (const char* kept : {"Vorlix.exe.older", "Vorlix.exe.old.bak", "Vorlix.exe", "other.exe.old", "Vorlix.exe.new2"}) {
        EXPECT_FALSE(is_update_leftover(kept, "Vorlix.exe")) << kept;
    }
}

// The relaunched copy must read every argument back as it was: a folder
// ending in a backslash must not swallow its closing quote and the
// arguments after it (--after-update among them).
TEST(UpdateInstall, RelaunchArgumentsAreQuotedAsTheSystemReadsThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\a\\", "\"C:\\a\\\\\""},
        {"a\"b", "\"a\\\"b\""},
        {"a b\\\\", "\"a b\\\\\\\\\""},
        {"", "\"\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
    };
    std::string line = "Vorlix.exe";
    for (const auto& [argument, quoted] : cases) {
        EXPECT_EQ(quote_command_line_argument(argument), quoted) << argument;
        line += " " + quote_command_line_argument(argument);
    }
#ifdef _WIN32
    line += " --after-update 12";
    int count = 0;
    LPWSTR* read = CommandLineToArgvW(to_wide(line).c_str(), &count);
    ASSERT_NE(read, nullptr);
    std::vector<std::string> back;
    for (int i = 1; i < count; ++i) back.push_back(wide_to_string(read[i]));
    LocalFree(read);
    std::vector<std::string> expected;
    for (const auto& [argument, quoted] : cases) expected.push_back(argument);
    expected.insert(expected.end(), {"--after-update", "12"});
    EXPECT_EQ(back, expected);
#endif
}

}  // namespace
}  // namespace vorlix
