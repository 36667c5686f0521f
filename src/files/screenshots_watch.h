// The screenshots-folder watcher: while the user wants screenshots on the
// device, the thread "vorlix-screenshots" polls the folders where the
// system's own tools save screenshots and screen recordings, waits until a
// new file stops growing, and hands each such file once to a callback (the
// file sender).
//
// The scan itself is pure: it works on folder listings given to it, so that
// the rules can be checked with made-up folders. The system's listing and
// clock are list_folder_entries and system_time_now (src/win, src/native).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vorlix {

// One entry of a folder as the system lists it.
struct FolderEntry {
    std::string name;            // the entry's name, UTF-8
    std::filesystem::path path;  // the folder joined with the name
    bool directory = false;      // a folder
    bool link = false;           // a symbolic link or another name surrogate
    std::uint64_t created = 0;   // creation time, 100-ns units since 1601-01-01 UTC
    std::uint64_t size = 0;      // bytes
};

// A folder's entries in the system's order, without "." and ".."; nothing
// when the folder cannot be listed (missing, not a folder, no access).
using FolderLister = std::function<std::optional<std::vector<FolderEntry>>(const std::filesystem::path&)>;

// The watcher's memory, owned by its thread.
struct ScreenshotsWatch {
    std::vector<std::filesystem::path> folders;
    // Full paths already handed over; never handed over again.
    std::unordered_set<std::filesystem::path::string_type> sent;
    // Full path to the size found at the previous scan.
    std::unordered_map<std::filesystem::path::string_type, std::uint64_t> seen;
    // When the watcher started (100-ns units since 1601); older files are ignored.
    std::uint64_t start_time = 0;
};

// True for the extensions of screenshots and screen recordings (png, jpg,
// jpeg, heic, tif, tiff, mp4, mov, in any case) after the name's last '.'.
bool is_screenshot_name(const std::string& name);

// One pass over the watch's folders: the paths of the files that are ready
// to be sent, in listing order. Updates `seen` and `sent`.
std::vector<std::filesystem::path> scan_screenshots(ScreenshotsWatch& watch, const FolderLister& list);

// The running flag: 1 while the watcher should run. The owner stops the
// watcher by storing 0 and dropping its reference.
using ScreenshotsRunning = std::shared_ptr<std::atomic<std::uint8_t>>;

using ScreenshotCallback = std::function<void(std::filesystem::path)>;

// What the watcher thread needs of the system; tests put a fake folder and
// virtual time in its place.
struct ScreenshotsWatcherSystem {
    FolderLister list;
    // The current system time, 100-ns units since 1601.
    std::function<std::uint64_t()> now;
    // Waits for the duration, or less once the flag is no longer 1.
    std::function<void(std::chrono::milliseconds, const std::atomic<std::uint8_t>&)> sleep;
};

// The system's listing, clock and a sleep that ends early when the flag is
// cleared.
ScreenshotsWatcherSystem system_screenshots_watcher();

// The body of the watcher thread: waits 1 s, then scans every 1.2 s and
// hands each ready file to the callback until the flag is no longer 1.
void run_screenshots_watcher(std::vector<std::filesystem::path> folders, ScreenshotsRunning running,
                             ScreenshotCallback callback, const ScreenshotsWatcherSystem& system);

// Logs the folders and starts the detached thread "vorlix-screenshots";
// gives the running flag (set to 1). When the thread cannot be started the
// flag is still given, and nothing watches.
ScreenshotsRunning start_screenshots_watcher(std::vector<std::filesystem::path> folders,
                                             ScreenshotCallback callback);
ScreenshotsRunning start_screenshots_watcher(std::vector<std::filesystem::path> folders,
                                             ScreenshotCallback callback, ScreenshotsWatcherSystem system);

// The system's side (src/win/files, src/native).
std::optional<std::vector<FolderEntry>> list_folder_entries(const std::filesystem::path& folder);
std::uint64_t system_time_now();

}  // namespace vorlix
