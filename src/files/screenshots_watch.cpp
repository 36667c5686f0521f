#include "files/screenshots_watch.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "files/file_system.h"
#include "host/log.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

constexpr auto kFirstWait = std::chrono::milliseconds(1000);
constexpr auto kScanPause = std::chrono::milliseconds(1200);
// The real sleep looks at the flag this often, so that a stopped watcher
// ends soon after it is told.
constexpr auto kSleepSlice = std::chrono::milliseconds(50);

bool still_running(const std::atomic<std::uint8_t>& running) { return running.load() == 1; }

void sleep_while_running(std::chrono::milliseconds duration, const std::atomic<std::uint8_t>& running) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (still_running(running)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, kSleepSlice));
    }
}

std::string joined_paths(const std::vector<std::filesystem::path>& folders) {
    std::string out;
    for (const auto& folder : folders) {
        if (!out.empty()) out += ", ";
        out += full_path_text(folder);
    }
    return out;
}

}  // namespace

bool is_screenshot_name(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    static constexpr std::array<std::string_view, 8> kKinds = {"png", "jpg",  "jpeg", "heic",
                                                               "tif", "tiff", "mp4",  "mov"};
    return std::find(kKinds.begin(), kKinds.end(), extension) != kKinds.end();
}

std::vector<std::filesystem::path> scan_screenshots(ScreenshotsWatch& watch, const FolderLister& list) {
    std::vector<std::filesystem::path> ready;
    for (const auto& folder : watch.folders) {
        const auto entries = list(folder);
        if (!entries) continue;
        for (const auto& entry : *entries) {
            const auto& key = entry.path.native();
            if (watch.sent.count(key) != 0) continue;
            if (!entry.name.empty() && entry.name.front() == '.') continue;
            if (!is_screenshot_name(entry.name)) continue;
            if (entry.directory || entry.link) continue;
            if (entry.created < watch.start_time) continue;
            if (entry.size == 0) continue;
            const auto previous = watch.seen.find(key);
            if (previous != watch.seen.end() && previous->second == entry.size) {
                watch.sent.insert(key);
                ready.push_back(entry.path);
            } else {
                watch.seen[key] = entry.size;
            }
        }
    }
    return ready;
}

ScreenshotsWatcherSystem system_screenshots_watcher() {
    return ScreenshotsWatcherSystem{list_folder_entries, system_time_now, sleep_while_running};
}

void run_screenshots_watcher(std::vector<std::filesystem::path> folders, ScreenshotsRunning running,
                             ScreenshotCallback callback, const ScreenshotsWatcherSystem& system) {
    ScreenshotsWatch watch;
    watch.start_time = system.now();
    watch.folders = std::move(folders);
    system.sleep(kFirstWait, *running);
    while (still_running(*running)) {
        for (auto& path : scan_screenshots(watch, system.list)) {
            if (!still_running(*running)) break;
            log_line("screenshot to the device: " + full_path_text(path));
            try {
                callback(std::move(path));
            } catch (const std::exception&) {
                // A sender that fails loses this file; the watcher goes on.
            }
        }
        system.sleep(kScanPause, *running);
    }
}

ScreenshotsRunning start_screenshots_watcher(std::vector<std::filesystem::path> folders,
                                             ScreenshotCallback callback) {
    return start_screenshots_watcher(std::move(folders), std::move(callback), system_screenshots_watcher());
}

ScreenshotsRunning start_screenshots_watcher(std::vector<std::filesystem::path> folders,
                                             ScreenshotCallback callback, ScreenshotsWatcherSystem system) {
    auto running = std::make_shared<std::atomic<std::uint8_t>>(1);
    log_line("screenshots to the device: watching " + joined_paths(folders));
    try {
        std::thread([folders = std::move(folders), running, callback = std::move(callback),
                     system = std::move(system)]() mutable {
            set_current_thread_name("vorlix-screenshots");
            try {
                run_screenshots_watcher(std::move(folders), std::move(running), std::move(callback), system);
            } catch (const std::exception&) {
                // Out of memory while scanning: the watcher stops.
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread: nothing watches, and the flag means nothing.
    }
    return running;
}

}  // namespace vorlix
