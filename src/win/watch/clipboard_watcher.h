// The watcher window "VorlixWatcher" on its thread "vorlix-watch": it reads
// what the user copies while a session is active (one file, text or a
// picture) and hands it to the host through the platform's event slot, puts
// the device's text and pictures on the clipboard without echoing them back,
// and reports the app in front when it changes.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "watch/clipboard_rules.h"
#include "watch/front_app_naming.h"
#include "watch/window_thread_stop.h"
#include "win/platform.h"

namespace vorlix {

struct ClipboardWatcher {
    std::shared_ptr<EventSlot> event_slot;
    std::atomic<HWND> window{nullptr};
    std::mutex text_mutex;
    std::optional<std::string> text_mailbox;
    std::mutex picture_mutex;
    std::optional<Bytes> picture_mailbox;
    ClipboardEcho echo;
    FrontAppMemory front_app;
    std::atomic<std::uint32_t> own_sequence{0};
    std::atomic<std::uint32_t> open_failures{0};
    std::atomic<std::uint8_t> active{0};

    // Called on every foreground change, to make the app-menu reader look at
    // the new front app; empty until the menus service installs it.
    std::mutex menus_nudge_mutex;
    std::function<void()> menus_nudge;

    // The watcher thread, kept so that releasing the platform can end it,
    // and the stop that reaches it however late it makes its window.
    std::thread thread;
    WindowThreadStop stop;
};

// Makes the watcher and starts its thread; a thread that cannot start is
// logged and leaves a watcher without a window (nothing read or written).
std::shared_ptr<ClipboardWatcher> start_clipboard_watcher(std::shared_ptr<EventSlot> event_slot);

// Ends the watcher's thread and window (when the platform is released).
void stop_clipboard_watcher(ClipboardWatcher& watcher);

// A device session started (true) or ended: when it starts, the clipboard's
// text and the front app of this moment are remembered, not sent.
void watcher_set_active(ClipboardWatcher& watcher, bool active);

// The device's text or PNG picture for the clipboard, written by the watcher
// thread; a newer one replaces one not yet written. Text over
// kMaxClipboardText bytes is refused with a log line; a picture over
// kMaxClipboardPixels is refused when it is decoded.
void watcher_post_text(ClipboardWatcher& watcher, std::string text);
void watcher_post_picture(ClipboardWatcher& watcher, Bytes png);

// What the menus service gives to be nudged on every foreground change.
void watcher_set_menus_nudge(ClipboardWatcher& watcher, std::function<void()> nudge);

// A picture read from the clipboard as PNG: PNG bytes as they are, a DIB
// through a BMP file, the picture decoder and the PNG encoder.
std::optional<Bytes> clipboard_picture_to_png(const ClipboardPicture& picture);

}  // namespace vorlix
