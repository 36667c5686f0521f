#include "win/watch/clipboard_watcher.h"

#include <shellapi.h>

#include <cstring>
#include <system_error>
#include <vector>

#include "app/text.h"
#include "host/log.h"
#include "host/session_log.h"
#include "util/thread_name.h"
#include "win/pictures/picture_coding.h"
#include "win/stream/com_ref.h"
#include "win/system/wide.h"
#include "win/watch/front_app.h"

namespace vorlix {

namespace {

constexpr UINT kWriteText = WM_APP + 10;
constexpr UINT kWritePicture = WM_APP + 11;
constexpr UINT kStop = WM_APP + 12;
constexpr UINT_PTR kReadTimer = 1;
constexpr UINT kReadDelayMs = 150;
constexpr UINT kBusyRetryMs = 250;
constexpr std::uint32_t kMostOpenRetries = 8;
constexpr UINT kDibV5 = 17;  // CF_DIBV5
constexpr UINT kDib = 8;     // CF_DIB

// The watcher of this thread: the window procedure and the foreground hook
// run on the watcher thread and find it here.
thread_local ClipboardWatcher* t_watcher = nullptr;

UINT png_format() { return RegisterClipboardFormatW(L"PNG"); }

// OpenClipboard, tried up to 10 times 15 ms apart.
bool open_clipboard(HWND owner) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (OpenClipboard(owner)) return true;
        Sleep(15);
    }
    return false;
}

// The bytes of a clipboard format; none when absent, empty or unlockable.
std::optional<Bytes> clipboard_bytes(UINT format) {
    if (!IsClipboardFormatAvailable(format)) return std::nullopt;
    HANDLE data = GetClipboardData(format);
    if (!data) return std::nullopt;
    const SIZE_T size = GlobalSize(data);
    const void* locked = size ? GlobalLock(data) : nullptr;
    if (!locked) return std::nullopt;
    Bytes bytes(static_cast<const std::uint8_t*>(locked), static_cast<const std::uint8_t*>(locked) + size);
    GlobalUnlock(data);
    return bytes;
}

// CF_UNICODETEXT up to its first NUL, as UTF-8 with "\n" line ends.
std::optional<std::string> read_clipboard_text() {
    auto bytes = clipboard_bytes(CF_UNICODETEXT);
    if (!bytes) return std::nullopt;
    std::u16string units(bytes->size() / 2, u'\0');
    std::memcpy(units.data(), bytes->data(), units.size() * 2);
    return clipboard_text_for_device(utf16_to_utf8(units.data(), units.size()));
}

std::vector<std::string> read_dropped_paths() {
    std::vector<std::string> paths;
    if (!IsClipboardFormatAvailable(CF_HDROP)) return paths;
    auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
    if (!drop) return paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && i < kMaxDropPaths; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::vector<wchar_t> buffer(length + 1, L'\0');
        DragQueryFileW(drop, i, buffer.data(), length + 1);
        paths.push_back(wide_to_string(buffer.data(), buffer.size()));
    }
    return paths;
}

// An existing file that is neither a folder nor a link.
bool is_plain_file(const std::string& path) {
    const std::wstring wide = to_wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwReserved0 & 0x20000000) == 0;  // not a name-surrogate reparse point
}

// GlobalAlloc, copy, SetClipboardData; true when the clipboard took it.
bool put_clipboard_data(UINT format, const void* bytes, std::size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return false;
    void* locked = GlobalLock(block);
    if (!locked) {
        GlobalFree(block);
        return false;
    }
    std::memcpy(locked, bytes, size);
    GlobalUnlock(block);
    if (SetClipboardData(format, block)) return true;
    GlobalFree(block);
    return false;
}

void deliver(ClipboardWatcher& watcher, PlatformEvent event) { deliver_event(*watcher.event_slot, std::move(event)); }

void read_and_deliver(ClipboardWatcher& watcher, HWND window) {
    KillTimer(window, kReadTimer);
    if (!watcher.active.load()) return;
    if (GetClipboardSequenceNumber() == watcher.own_sequence.load()) return;
    if (!OpenClipboard(window)) {
        if (watcher.open_failures.fetch_add(1) + 1 > kMostOpenRetries) {
            log_line("clipboard: still in use by another app, not read");
        } else {
            SetTimer(window, kReadTimer, kBusyRetryMs, nullptr);
        }
        return;
    }
    ClipboardContents contents;
    contents.paths = read_dropped_paths();
    contents.text = read_clipboard_text();
    if (contents.paths.empty() && (!contents.text || contents.text->empty())) {
        const UINT png = png_format();
        if (auto bytes = png ? clipboard_bytes(png) : std::nullopt) {
            contents.picture = ClipboardPicture{ClipboardPicture::Kind::png, std::move(*bytes)};
        } else {
            for (UINT format : {kDibV5, kDib}) {
                if (auto dib = clipboard_bytes(format)) {
                    contents.picture = ClipboardPicture{ClipboardPicture::Kind::dib, std::move(*dib)};
                    break;
                }
            }
        }
    }
    CloseClipboard();
    if (const std::uint32_t waited = watcher.open_failures.exchange(0))
        log_line("clipboard: read after waiting " + std::to_string(waited) + " time(s) for another app");

    ClipboardDecision decision = decide_clipboard(std::move(contents), watcher.echo, is_plain_file);
    if (auto* file = std::get_if<CopiedFile>(&decision)) {
        log_line("clipboard: a file was copied");
        deliver(watcher, path_from_utf8(file->path));
    } else if (auto* text = std::get_if<OfferText>(&decision)) {
        log_line("clipboard: " + std::to_string(count_characters(text->text)) + " characters to the device");
        deliver(watcher, ControlMessage{control::Clipboard{std::move(text->text)}});
    } else if (auto* picture = std::get_if<OfferPicture>(&decision)) {
        auto png = clipboard_picture_to_png(picture->picture);
        if (png && png->size() <= kMaxClipboardPng) deliver(watcher, ControlMessage{control::ClipboardImage{std::move(*png)}});
    }
}

void write_text(ClipboardWatcher& watcher, HWND window) {
    std::lock_guard lock(watcher.text_mutex);
    std::optional<std::string> text = std::exchange(watcher.text_mailbox, std::nullopt);
    if (!text) return;
    RequestLines lines("clipboard");
    watcher.echo.remember_device_text(*text);
    const std::wstring units = to_wide(clipboard_text_for_pc(*text));
    bool put = false;
    if (open_clipboard(window)) {
        EmptyClipboard();
        put = put_clipboard_data(CF_UNICODETEXT, units.c_str(), (units.size() + 1) * sizeof(wchar_t));
        CloseClipboard();
        watcher.own_sequence.store(GetClipboardSequenceNumber());
    }
    log_line("clipboard: " + std::to_string(count_characters(*text)) + " characters from the device" +
             (put ? "" : " (could not set)"));
}

void write_picture(ClipboardWatcher& watcher, HWND window) {
    std::lock_guard lock(watcher.picture_mutex);
    std::optional<Bytes> png = std::exchange(watcher.picture_mailbox, std::nullopt);
    if (!png) return;
    RequestLines lines("clipboardImage");  // a picture that cannot be read is logged while decoded
    std::optional<Picture> picture = decode_image(*png, kMaxClipboardPixels);
    if (!picture) return;
    const Bytes block = dibv5_from_picture(*picture);
    const std::uint32_t width = picture->width;
    const std::uint32_t height = picture->height;
    picture.reset();  // the block holds the pixels now; the clipboard copies it once more
    if (!open_clipboard(window)) return;
    EmptyClipboard();
    bool put = put_clipboard_data(kDibV5, block.data(), block.size());
    if (const UINT format = png_format()) put = put_clipboard_data(format, png->data(), png->size()) || put;
    CloseClipboard();
    watcher.own_sequence.store(GetClipboardSequenceNumber());
    log_line("clipboard: a " + std::to_string(width) + "\xC3\x97" + std::to_string(height) +
             " picture from the device" + (put ? "" : " (could not set)"));
}

void nudge_menus(ClipboardWatcher& watcher) {
    std::lock_guard lock(watcher.menus_nudge_mutex);
    if (watcher.menus_nudge) watcher.menus_nudge();
}

void CALLBACK on_foreground_event(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
    ClipboardWatcher* watcher = t_watcher;
    if (!watcher) return;
    if (watcher->active.load()) {
        if (auto app = read_front_app(); app && watcher->front_app.replace_if_changed(*app))
            deliver(*watcher, ControlMessage{*app});
    }
    nudge_menus(*watcher);
}

LRESULT CALLBACK watcher_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ClipboardWatcher* watcher = t_watcher;
    if (!watcher) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
        case WM_CLIPBOARDUPDATE:
            watcher->open_failures.store(0);
            SetTimer(window, kReadTimer, kReadDelayMs, nullptr);
            return 0;
        case WM_TIMER:
            if (wparam != kReadTimer) break;
            read_and_deliver(*watcher, window);
            return 0;
        case kWriteText:
            write_text(*watcher, window);
            return 0;
        case kWritePicture:
            write_picture(*watcher, window);
            return 0;
        case kStop:
            RemoveClipboardFormatListener(window);
            DestroyWindow(window);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void watcher_thread(std::shared_ptr<ClipboardWatcher> watcher) {
    set_current_thread_name("vorlix-watch");
    ComApartment com;
    t_watcher = watcher.get();
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = watcher_procedure;
    window_class.hInstance = module;
    window_class.lpszClassName = L"VorlixWatcher";
    RegisterClassW(&window_class);  // already there when a second platform was built
    HWND window = CreateWindowExW(0, L"VorlixWatcher", L"VorlixWatcher", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  module, nullptr);
    if (!window) {
        log_line("watcher window could not be made: the clipboard is not watched");
        t_watcher = nullptr;
        return;
    }
    watcher->window.store(window);
    // A stop asked for while the window was being made ends the thread now.
    if (watcher->stop.window_made(reinterpret_cast<WindowThreadStop::Window>(window)))
        PostMessageW(window, kStop, 0, 0);
    if (!AddClipboardFormatListener(window)) log_line("AddClipboardFormatListener failed");
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, on_foreground_event,
                                         0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    // Whatever the device sent before the window existed is written now.
    PostMessageW(window, kWriteText, 0, 0);
    PostMessageW(window, kWritePicture, 0, 0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (hook) UnhookWinEvent(hook);
    watcher->stop.window_gone();
    watcher->window.store(nullptr);
    t_watcher = nullptr;
}

}  // namespace

std::shared_ptr<ClipboardWatcher> start_clipboard_watcher(std::shared_ptr<EventSlot> event_slot) {
    auto watcher = std::make_shared<ClipboardWatcher>();
    watcher->event_slot = std::move(event_slot);
    try {
        watcher->thread = std::thread(watcher_thread, watcher);
    } catch (const std::system_error& error) {
        log_line(std::string("clipboard: could not start its watcher: ") + error.what());
    }
    return watcher;
}

void stop_clipboard_watcher(ClipboardWatcher& watcher) {
    if (!watcher.thread.joinable()) return;
    // Without a window yet the thread finds the stop once it has made it (or
    // ends anyway when it cannot make it).
    if (const WindowThreadStop::Window window = watcher.stop.request())
        PostMessageW(reinterpret_cast<HWND>(window), kStop, 0, 0);
    if (watcher.thread.get_id() == std::this_thread::get_id()) {
        watcher.thread.detach();  // released from its own event handler: it ends by itself
    } else {
        watcher.thread.join();
    }
}

void watcher_set_active(ClipboardWatcher& watcher, bool active) {
    watcher.active.store(active ? 1 : 0);
    if (!active) return;
    std::optional<std::string> text;
    if (open_clipboard(watcher.window.load())) {
        text = read_clipboard_text();
        CloseClipboard();
    }
    watcher.echo.set_baseline(std::move(text));
    watcher.front_app.set(read_front_app());
}

void watcher_post_text(ClipboardWatcher& watcher, std::string text) {
    if (text.size() > kMaxClipboardText) {
        log_line("clipboard: " + std::to_string(text.size()) + " bytes of text from the device, more than " +
                 std::to_string(kMaxClipboardText) + ": not set");
        return;
    }
    {
        std::lock_guard lock(watcher.text_mutex);
        watcher.text_mailbox = std::move(text);
    }
    if (HWND window = watcher.window.load()) PostMessageW(window, kWriteText, 0, 0);
}

void watcher_post_picture(ClipboardWatcher& watcher, Bytes png) {
    {
        std::lock_guard lock(watcher.picture_mutex);
        watcher.picture_mailbox = std::move(png);
    }
    if (HWND window = watcher.window.load()) PostMessageW(window, kWritePicture, 0, 0);
}

void watcher_set_menus_nudge(ClipboardWatcher& watcher, std::function<void()> nudge) {
    std::lock_guard lock(watcher.menus_nudge_mutex);
    watcher.menus_nudge = std::move(nudge);
}

std::optional<Bytes> clipboard_picture_to_png(const ClipboardPicture& picture) {
    if (picture.kind == ClipboardPicture::Kind::png) return picture.bytes;
    const auto bmp = bmp_from_dib(picture.bytes);
    if (!bmp) return std::nullopt;
    const auto decoded = decode_image(*bmp);
    if (!decoded) return std::nullopt;
    return encode_png_bgra(decoded->width, decoded->height, decoded->pixels);
}

}  // namespace vorlix
