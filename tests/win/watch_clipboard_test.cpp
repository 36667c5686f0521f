#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>

#include "support/wait.h"
#include "win/pictures/picture_coding.h"
#include "win/platform.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

// Waits as wait_until does, answering the messages sent to the test's own
// window meanwhile (a clipboard owner that does not answer holds up the next
// writer).
template <typename Predicate>
bool pumping_wait(Predicate done, std::chrono::milliseconds limit) {
    return wait_until([&] {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        return done();
    }, limit, 5ms);
}

void pump_for(std::chrono::milliseconds time) {
    pumping_wait([] { return false; }, time);
}

// A platform whose events are collected, with a window of the test's own to
// own what the test puts on the clipboard, as another app would.
class ClipboardScene {
public:
    ClipboardScene() {
        platform_->set_event_handler([this](PlatformEvent event) {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        });
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~ClipboardScene() {
        platform_.reset();
        DestroyWindow(window_);
    }

    WindowsPlatform& platform() { return *platform_; }

    // The next event within the limit.
    std::optional<PlatformEvent> next_event(std::chrono::milliseconds limit = 5s) {
        std::optional<PlatformEvent> event;
        pumping_wait([&] {
            std::lock_guard lock(mutex_);
            if (events_.empty()) return false;
            event = std::move(events_.front());
            events_.pop_front();
            return true;
        }, limit);
        return event;
    }

    // Replaces the clipboard with these formats.
    bool copy(const std::vector<std::pair<UINT, Bytes>>& formats) {
        if (!pumping_wait([&] { return OpenClipboard(window_) != FALSE; }, 2s)) return false;
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
    bool copy_text(const std::wstring& text) {
        const auto* units = reinterpret_cast<const std::uint8_t*>(text.c_str());
        return copy({{CF_UNICODETEXT, Bytes(units, units + (text.size() + 1) * 2)}});
    }

    // The bytes of one format now on the clipboard.
    std::optional<Bytes> pasted(UINT format) {
        if (!pumping_wait([&] { return OpenClipboard(window_) != FALSE; }, 2s)) return std::nullopt;
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
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::deque<PlatformEvent> events_;
};

std::wstring wide_text(const Bytes& bytes) {
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    return text.substr(0, text.find(L'\0'));
}

template <typename T>
const T* message_of(const std::optional<PlatformEvent>& event) {
    if (!event || !std::holds_alternative<ControlMessage>(*event)) return nullptr;
    return std::get_if<T>(&std::get<ControlMessage>(*event));
}

TEST(WatchClipboard, MirrorsTextPicturesAndACopiedFileBothWays) {
    ClipboardScene scene;
    ASSERT_TRUE(scene.copy_text(L"there before"));
    scene.platform().set_session_active(true);
    ASSERT_TRUE(scene.copy_text(L"there before"));
    pump_for(300ms);

    // The device's text lands with "\r\n" line ends and is not sent back.
    scene.platform().set_clipboard_text("one\ntwo\r\nthree");
    ASSERT_TRUE(pumping_wait(
        [&] { return wide_text(scene.pasted(CF_UNICODETEXT).value_or(Bytes{})) == L"one\r\ntwo\r\nthree"; }, 5s));

    // Text the user copies reaches the device with "\n"; the same text again
    // and the text of the session's start (above) are not sent.
    ASSERT_TRUE(scene.copy_text(L"from the PC\r\nline 2"));
    const auto first = scene.next_event();
    ASSERT_TRUE(message_of<control::Clipboard>(first));
    EXPECT_EQ(message_of<control::Clipboard>(first)->text, "from the PC\nline 2");
    ASSERT_TRUE(scene.copy_text(L"from the PC\r\nline 2"));
    pump_for(300ms);
    ASSERT_TRUE(scene.copy_text(L"last"));
    const auto last = scene.next_event();
    ASSERT_TRUE(message_of<control::Clipboard>(last));
    EXPECT_EQ(message_of<control::Clipboard>(last)->text, "last");

    // A picture from the device is put as DIBV5 and PNG and not sent back;
    // the same DIB copied by another app comes back as a PNG of its pixels.
    Bytes pixels;
    for (int i = 0; i < 6 * 4; ++i) pixels.insert(pixels.end(), {std::uint8_t(i * 9), std::uint8_t(i * 5), 77, 255});
    const auto png = encode_png_bgra(6, 4, pixels);
    ASSERT_TRUE(png);
    scene.platform().set_clipboard_picture(*png);
    std::optional<Bytes> dib;
    ASSERT_TRUE(pumping_wait([&] { return (dib = scene.pasted(17)).has_value(); }, 5s));
    EXPECT_EQ(scene.pasted(RegisterClipboardFormatW(L"PNG")), png);
    ASSERT_TRUE(scene.copy({{CF_DIB, *dib}}));
    const auto picture_event = scene.next_event();
    const auto* picture = message_of<control::ClipboardImage>(picture_event);
    ASSERT_TRUE(picture) << "a picture event, and nothing before it";
    const auto round_trip = decode_image(picture->png);
    ASSERT_TRUE(round_trip);
    EXPECT_EQ(round_trip->pixels, pixels);

    // One copied file is offered by its path.
    const std::filesystem::path file = std::filesystem::temp_directory_path() / L"vorlix clipboard test.txt";
    std::ofstream(file) << "copied";
    const std::wstring path = file.wstring();
    Bytes drop(sizeof(DROPFILES), 0);
    auto* header = reinterpret_cast<DROPFILES*>(drop.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    const auto* units = reinterpret_cast<const std::uint8_t*>(path.c_str());
    drop.insert(drop.end(), units, units + (path.size() + 1) * 2);
    drop.insert(drop.end(), {0, 0});
    ASSERT_TRUE(scene.copy({{CF_HDROP, drop}}));
    const auto copied = scene.next_event();
    ASSERT_TRUE(copied && std::holds_alternative<std::filesystem::path>(*copied));
    EXPECT_EQ(std::get<std::filesystem::path>(*copied), file);

    // After the session nothing is read.
    scene.platform().set_session_active(false);
    ASSERT_TRUE(scene.copy_text(L"while nobody is there"));
    EXPECT_FALSE(scene.next_event(400ms));
    std::filesystem::remove(file);
}

TEST(WatchFrontApp, NamesTheProgramInFront) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    wchar_t command[] = L"notepad.exe";
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    auto platform = platform_new(DataFolder{});
    std::optional<FrontApp> app;
    const bool named = wait_until([&] {
        app = platform->front_app_name();
        return app && app->bundle_id == "notepad.exe";
    }, 10s, 20ms);
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
