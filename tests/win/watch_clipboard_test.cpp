#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>

#include "storage/log_capture.h"
#include "support/text_count.h"
#include "support/wait.h"
#include "win/pictures/picture_coding.h"
#include "win/platform.h"
#include "win/watch/clipboard_watcher.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

Bytes utf16(const std::wstring& text) {
    const auto* units = reinterpret_cast<const std::uint8_t*>(text.c_str());
    return Bytes(units, units + (text.size() + 1) * 2);
}

// A platform whose events are collected as text ("text:...", "file:...",
// "picture" with its PNG kept), and a window of the test's own that owns
// what the test copies, as another app would. Waits answer the messages sent
// to that window (an owner that does not answer holds up the next writer).
class ClipboardScene {
public:
    ClipboardScene() {
        platform_->set_event_handler([this](PlatformEvent event) {
            std::lock_guard lock(mutex_);
            if (auto* path = std::get_if<std::filesystem::path>(&event)) {
                events_.push_back("file:" + path->string());
            } else if (auto* text = std::get_if<control::Clipboard>(&std::get<ControlMessage>(event))) {
                events_.push_back("text:" + text->text);
            } else if (auto* picture = std::get_if<control::ClipboardImage>(&std::get<ControlMessage>(event))) {
                events_.push_back("picture");
                png_ = picture->png;
            }
        });
    }
    ~ClipboardScene() {
        platform_.reset();
        DestroyWindow(window_);
    }

    WindowsPlatform& platform() { return *platform_; }
    Bytes png() { return png_; }

    template <typename Predicate>
    static bool pumping_wait(Predicate done, std::chrono::milliseconds limit = 5s) {
        return wait_until([&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            return done();
        }, limit, 5ms);
    }

    std::string next_event(std::chrono::milliseconds limit = 5s) {
        std::string event = "nothing";
        pumping_wait([&] {
            std::lock_guard lock(mutex_);
            if (events_.empty()) return false;
            event = events_.front();
            events_.pop_front();
            return true;
        }, limit);
        return event;
    }

    // Replaces the clipboard with these formats.
    bool copy(const std::vector<std::pair<UINT, Bytes>>& formats) {
        if (!pumping_wait([&] { return OpenClipboard(window_) != FALSE; })) return false;
        EmptyClipboard();
        bool all = true;
        for (const auto& [format, bytes] : formats) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
            std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
            GlobalUnlock(block);
            all = SetClipboardData(format, block) != nullptr && all;
        }
        CloseClipboard();
        return all;
    }
    bool copy_text(const std::wstring& text, std::chrono::milliseconds settle = 0ms) {
        const bool copied = copy({{CF_UNICODETEXT, utf16(text)}});
        pumping_wait([] { return false; }, settle);  // lets the watcher read it alone
        return copied;
    }

    // The bytes of one format now on the clipboard.
    std::optional<Bytes> pasted(UINT format) {
        if (!pumping_wait([&] { return OpenClipboard(window_) != FALSE; })) return std::nullopt;
        std::optional<Bytes> bytes;
        if (HANDLE data = GetClipboardData(format)) {
            const auto* locked = static_cast<const std::uint8_t*>(GlobalLock(data));
            if (locked) bytes = Bytes(locked, locked + GlobalSize(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
        return bytes;
    }

private:
    std::shared_ptr<WindowsPlatform> platform_ = platform_new(DataFolder{});
    HWND window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::mutex mutex_;
    std::deque<std::string> events_;
    Bytes png_;
};

TEST(WatchClipboard, MirrorsTextPicturesAndACopiedFileBothWays) {
    ClipboardScene scene;
    ASSERT_TRUE(scene.copy_text(L"there before"));
    scene.platform().set_session_active(true);
    ASSERT_TRUE(scene.copy_text(L"there before", 300ms));

    // The device's text lands with "\r\n" line ends and is not sent back.
    scene.platform().set_clipboard_text("one\ntwo\r\nthree");
    ASSERT_TRUE(scene.pumping_wait([&] { return scene.pasted(CF_UNICODETEXT) == utf16(L"one\r\ntwo\r\nthree"); }));
    // Nor when another app puts the same text there again.
    ASSERT_TRUE(scene.copy_text(L"one\r\ntwo\r\nthree", 300ms));

    // Text the user copies reaches the device with "\n"; the same text again,
    // and the text of the session's start (above), are not sent.
    ASSERT_TRUE(scene.copy_text(L"from the PC\r\nline 2"));
    EXPECT_EQ(scene.next_event(), "text:from the PC\nline 2");
    ASSERT_TRUE(scene.copy_text(L"from the PC\r\nline 2", 300ms));
    ASSERT_TRUE(scene.copy_text(L"last"));
    EXPECT_EQ(scene.next_event(), "text:last");

    // A picture from the device is put as DIBV5 and PNG and not sent back;
    // the same DIB copied by another app comes back as a PNG of its pixels.
    Bytes pixels;
    for (int i = 0; i < 6 * 4; ++i) pixels.insert(pixels.end(), {std::uint8_t(i * 9), std::uint8_t(i * 5), 77, 255});
    const auto png = encode_png_bgra(6, 4, pixels);
    scene.platform().set_clipboard_picture(*png);
    std::optional<Bytes> dib;
    ASSERT_TRUE(scene.pumping_wait([&] { return (dib = scene.pasted(17)).has_value(); }));
    EXPECT_EQ(scene.pasted(RegisterClipboardFormatW(L"PNG")), png);
    ASSERT_TRUE(scene.copy({{CF_DIB, *dib}}));
    ASSERT_EQ(scene.next_event(), "picture");
    EXPECT_EQ(decode_image(scene.png()).value_or(Picture{}).pixels, pixels);

    // What the device sends is bounded before it costs memory: a picture
    // whose PNG header states over 40 million pixels, text over 999,999 bytes.
    test::LogCapture log;
    Bytes huge = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                  0, 0, 0x1B, 0x58, 0, 0, 0x17, 0x70, 8, 6, 0, 0, 0};  // 7000 x 6000
    huge.resize(500'000, 0);
    scene.platform().set_clipboard_picture(huge);
    EXPECT_TRUE(scene.pumping_wait([&] {
        return log.messages().find("picture from the device: a picture of 7000x6000 pixels is refused\n") !=
               std::string::npos;
    }));
    EXPECT_EQ(scene.pasted(CF_DIB), dib);
    scene.platform().set_clipboard_text(std::string(1'000'000, 'y'));
    scene.platform().set_clipboard_text(std::string(999'999, 'x'));
    ASSERT_TRUE(scene.pumping_wait([&] { return scene.pasted(CF_UNICODETEXT) == utf16(std::wstring(999'999, L'x')); }));
    EXPECT_NE(log.messages().find("clipboard: 1000000 bytes of text from the device, more than 999999: not set\n"),
              std::string::npos);

    // One copied file is offered by its path.
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "vorlix clipboard test.txt";
    std::ofstream(file) << "copied";
    Bytes drop(sizeof(DROPFILES), 0);
    reinterpret_cast<DROPFILES*>(drop.data())->pFiles = sizeof(DROPFILES);
    reinterpret_cast<DROPFILES*>(drop.data())->fWide = TRUE;
    append(drop, utf16(file.wstring()));
    drop.insert(drop.end(), {0, 0});
    ASSERT_TRUE(scene.copy({{CF_HDROP, drop}}));
    EXPECT_EQ(scene.next_event(), "file:" + file.string());

    // After the session nothing is read.
    scene.platform().set_session_active(false);
    ASSERT_TRUE(scene.copy_text(L"while nobody is there"));
    EXPECT_EQ(scene.next_event(400ms), "nothing");
    std::filesystem::remove(file);
}

// The device's text set in a loop adds a few lines to the log: past its
// first, the watcher's lines are counted, and written when the platform goes.
TEST(WatchClipboard, TheDevicesTextInALoopIsCountedPastItsFirstLines) {
    test::LogCapture log;
    const int sent = 2000;
    {
        ClipboardScene scene;
        ClipboardWatcher& watcher = *scene.platform().watcher();
        for (int i = 0; i < sent; ++i) {
            scene.platform().set_clipboard_text("set " + std::to_string(i));
            // Each text is set before the next comes, so that none replaces another.
            ASSERT_TRUE(wait_until([&] {
                std::lock_guard lock(watcher.text_mutex);
                return !watcher.text_mailbox;
            }, 10s, 1ms));
        }
    }
    const std::string lines = log.messages();
    EXPECT_LT(testing::occurrences(lines, "\n"), 60) << lines.substr(0, 2000);
    EXPECT_EQ(testing::told(lines, "clipboard", " characters from the device",
                            "lines of the devices' requests counted since "), std::uint64_t{sent});
}

TEST(WatchFrontApp, NamesTheProgramInFront) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    wchar_t command[] = L"notepad.exe";
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    auto platform = platform_new(DataFolder{});
    std::optional<FrontApp> app;
    const bool named = wait_until([&] { return (app = platform->front_app_name()) && app->bundle_id == "notepad.exe"; },
                                  10s, 20ms);
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(named);
    EXPECT_FALSE(app->name.empty());
    EXPECT_EQ(app->name.find(".exe"), std::string::npos) << app->name;
}

}  // namespace
}  // namespace vorlix
