#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "watch/clipboard_rules.h"
#include "watch/front_app_naming.h"
#include "watch/window_thread_stop.h"

namespace vorlix {
namespace {

// What the decision hands over, as text: "file:<path>", "text:<text>",
// "picture:<bytes>" or "nothing".
std::string outcome(ClipboardContents contents, ClipboardEcho& echo) {
    const auto decision = decide_clipboard(std::move(contents), echo, [](const std::string& path) {
        return path.ends_with(".txt");  // folders and links are the other names
    });
    if (auto* file = std::get_if<CopiedFile>(&decision)) return "file:" + file->path;
    if (auto* text = std::get_if<OfferText>(&decision)) return "text:" + text->text;
    if (auto* picture = std::get_if<OfferPicture>(&decision)) return "picture:" + to_string(picture->picture.bytes);
    return "nothing";
}

TEST(WatchClipboardRules, WhatOneReadingDelivers) {
    const ClipboardPicture png{ClipboardPicture::Kind::png, to_bytes("png")};
    const std::string longest(kMaxClipboardText, 'x');
    const struct {
        const char* what;
        ClipboardContents contents;
        std::string expected;
    } cases[] = {
        {"one file, its text ignored", {{"C:\\a.txt"}, "a.txt", std::nullopt}, "file:C:\\a.txt"},
        {"one folder: nothing, not even its text", {{"C:\\folder"}, "folder", std::nullopt}, "nothing"},
        {"two files: their text", {{"C:\\a.txt", "C:\\b.txt"}, "a b", std::nullopt}, "text:a b"},
        {"two files and a picture: nothing", {{"C:\\a.txt", "C:\\b.txt"}, std::nullopt, png}, "nothing"},
        {"text at the limit", {{}, longest, std::nullopt}, "text:" + longest},
        {"text over the limit", {{}, longest + "y", std::nullopt}, "nothing"},
        {"empty text", {{}, "", std::nullopt}, "nothing"},
        {"a picture alone", {{}, std::nullopt, png}, "picture:png"},
        {"nothing at all", {}, "nothing"},
    };
    for (const auto& c : cases) {
        ClipboardEcho echo;
        EXPECT_EQ(outcome(c.contents, echo), c.expected) << c.what;
    }
}

TEST(WatchClipboardRules, TextIsNotEchoedNorResent) {
    ClipboardEcho echo;
    const auto text = [&](const char* copied) { return outcome({{}, copied, std::nullopt}, echo); };
    echo.set_baseline("at the start");
    EXPECT_EQ(text("at the start"), "nothing");
    EXPECT_EQ(text("copied"), "text:copied");
    EXPECT_EQ(text("copied"), "nothing");
    echo.remember_device_text("from the device");
    EXPECT_EQ(text("from the device"), "nothing");
    EXPECT_EQ(text("copied"), "text:copied");
    EXPECT_EQ(text("from the device"), "nothing");  // the device's text stays remembered
    // Remembered as the clipboard gives it back: "\r\n" read as "\n", cut at a NUL.
    echo.remember_device_text(std::string("one\r\ntwo\nthree\0rest", 19));
    EXPECT_EQ(text("one\ntwo\nthree"), "nothing");
    echo.set_baseline(std::nullopt);
    EXPECT_EQ(text("copied"), "text:copied");
}

// However a stop and the making of the window fall, exactly one side acts:
// the stopper posts to the window, or the thread finds the stop itself.
TEST(WatchWindowThreadStop, ReachesTheThreadBeforeOrAfterItsWindow) {
    WindowThreadStop early;
    EXPECT_EQ(early.request(), 0u);
    EXPECT_TRUE(early.window_made(7));
    EXPECT_EQ(early.request(), 0u);
    WindowThreadStop late;
    EXPECT_FALSE(late.window_made(7));
    EXPECT_EQ(late.request(), 7u);
    late.window_gone();
    EXPECT_EQ(late.request(), 0u);

    for (int round = 0; round < 500; ++round) {
        WindowThreadStop stop;
        std::atomic<bool> go = false;
        bool found = false;
        std::thread thread([&] {
            while (!go) std::this_thread::yield();
            found = stop.window_made(42);
        });
        go = true;
        const WindowThreadStop::Window posted_to = stop.request();
        thread.join();
        ASSERT_NE(found, posted_to == 42u) << round;
    }
}

TEST(WatchFrontAppNames, FromScriptedVersionData) {
    using Texts = std::map<std::string, std::string>;
    const struct {
        const char* path;
        Texts version;  // raw texts as the resource holds them
        const char* bundle_id;
        const char* name;
    } cases[] = {
        {"C:\\Program Files\\Editor\\Editor.exe", {{"FileDescription", " Text Editor "}, {"ProductName", "Suite"}},
         "editor.exe", "Text Editor"},
        {"C:\\Tools\\TOOL.EXE", {}, "tool.exe", "TOOL"},
        {"C:\\x\\app.exe", {{"FileDescription", "   "}, {"ProductName", "The App"}}, "app.exe", "The App"},
        {"C:\\x\\Mixed.Exe", {}, "mixed.exe", "Mixed.Exe"},
        {"C:\\x\\double.exe.EXE", {}, "double.exe.exe", "double.exe"},
        {"C:\\x\\\xC3\x84pfel.exe", {}, "\xC3\xA4pfel.exe", "\xC3\x84pfel"},
        {"noslash.exe", {{"ProductName", "\tP\n"}}, "noslash.exe", "P"},
    };
    for (const auto& c : cases) {
        const auto app = name_front_app(c.path, [&](const std::string& key) -> std::optional<std::string> {
            auto found = c.version.find(key);
            if (found == c.version.end()) return std::nullopt;
            return version_value(found->second);
        });
        EXPECT_EQ(app.bundle_id, c.bundle_id) << c.path;
        EXPECT_EQ(app.name, c.name) << c.path;
    }
    EXPECT_EQ(version_string_query(0x0409, 0x04b0, "ProductName"), "\\StringFileInfo\\040904b0\\ProductName");
}

TEST(WatchFrontAppNames, OnlyAChangeIsReported) {
    FrontAppMemory memory;
    const control::FrontApp editor{"editor.exe", "Editor"};
    memory.set(editor);
    EXPECT_FALSE(memory.replace_if_changed(editor));
    EXPECT_TRUE(memory.replace_if_changed({"editor.exe", "Editor 2"}));
    EXPECT_TRUE(memory.replace_if_changed(editor));
    memory.set(std::nullopt);
    EXPECT_TRUE(memory.replace_if_changed(editor));
}

}  // namespace
}  // namespace vorlix
