#include "files/screenshots_watch.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "files/file_system.h"
#include "storage/log_capture.h"
#include "storage/temp_folder.h"

namespace vorlix {
namespace {

namespace fs = std::filesystem;

// 2026-01-01 in 100-ns units since 1601.
constexpr std::uint64_t kStart = 134'116'128'000'000'000ull;
constexpr std::uint64_t kSecond = 10'000'000;

// Folders made up in memory; a folder that is not in the map cannot be listed.
struct FakeFolders {
    std::map<fs::path, std::vector<FolderEntry>> folders;
    int lists = 0;

    FolderEntry& put(const fs::path& folder, const std::string& name, std::uint64_t size,
                     std::uint64_t created = kStart + kSecond) {
        auto& entries = folders[folder];
        for (auto& entry : entries) {
            if (entry.name == name) {
                entry.size = size;
                entry.created = created;
                return entry;
            }
        }
        FolderEntry entry;
        entry.name = name;
        entry.path = folder / name;
        entry.size = size;
        entry.created = created;
        entries.push_back(entry);
        return entries.back();
    }

    FolderLister lister() {
        return [this](const fs::path& folder) -> std::optional<std::vector<FolderEntry>> {
            ++lists;
            const auto found = folders.find(folder);
            if (found == folders.end()) return std::nullopt;
            return found->second;
        };
    }
};

const fs::path kShots = fs::path("pictures") / "Screenshots";
const fs::path kRecordings = fs::path("videos") / "Screen Recordings";

ScreenshotsWatch watch_of(std::vector<fs::path> folders, std::uint64_t start = kStart) {
    ScreenshotsWatch watch;
    watch.folders = std::move(folders);
    watch.start_time = start;
    return watch;
}

using Paths = std::vector<fs::path>;

TEST(ScreenshotNames, KindsInAnyCaseAfterTheLastDot) {
    for (const char* name : {"a.png", "Shot.PNG", "b.jpg", "c.JpEg", "d.heic", "e.tif", "f.TIFF", "g.mp4",
                             "h.MOV", "archive.tar.png", "two..png"}) {
        EXPECT_TRUE(is_screenshot_name(name)) << name;
    }
    for (const char* name : {".png", "png", "", "a.", "a.txt", "a.png.txt", "a.gif", "a.pngx", "a.p ng"}) {
        EXPECT_FALSE(is_screenshot_name(name)) << name;
    }
}

TEST(ScreenshotScan, NewFileIsHandedOverOnceWhenItsSizeRepeats) {
    FakeFolders disk;
    auto watch = watch_of({kShots});
    disk.put(kShots, "Screenshot 1.png", 500);
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    EXPECT_EQ(scan_screenshots(watch, disk.lister()), Paths{kShots / "Screenshot 1.png"});
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    // Whatever happens to it afterwards, it is never sent again.
    disk.put(kShots, "Screenshot 1.png", 900);
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
}

TEST(ScreenshotScan, GrowingRecordingWaitsForTwoEqualScans) {
    FakeFolders disk;
    auto watch = watch_of({kRecordings});
    const fs::path path = kRecordings / "Recording.MP4";
    for (std::uint64_t size : {1000u, 5000u, 5001u, 90000u}) {
        disk.put(kRecordings, "Recording.MP4", size);
        EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty()) << size;
    }
    EXPECT_EQ(scan_screenshots(watch, disk.lister()), Paths{path});
}

TEST(ScreenshotScan, EmptyFileCountsOnlyOnceItHasContent) {
    FakeFolders disk;
    auto watch = watch_of({kShots});
    disk.put(kShots, "a.png", 0);
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    disk.put(kShots, "a.png", 42);
    EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    EXPECT_EQ(scan_screenshots(watch, disk.lister()), Paths{kShots / "a.png"});
}

TEST(ScreenshotScan, RefusedEntriesAreNeverSent) {
    FakeFolders disk;
    auto watch = watch_of({kShots});
    disk.put(kShots, ".hidden.png", 10);
    disk.put(kShots, "notes.txt", 10);
    disk.put(kShots, "noextension", 10);
    disk.put(kShots, "empty.png", 0);
    disk.put(kShots, "folder.png", 10).directory = true;
    disk.put(kShots, "link.png", 10).link = true;
    disk.put(kShots, "old.png", 10, kStart - 1);
    for (int scan = 0; scan < 3; ++scan) {
        EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    }
    // A file made before the watcher started stays out even when it changes.
    disk.put(kShots, "old.png", 20, kStart - 1);
    for (int scan = 0; scan < 3; ++scan) {
        EXPECT_TRUE(scan_screenshots(watch, disk.lister()).empty());
    }
    EXPECT_TRUE(watch.seen.empty());
    EXPECT_TRUE(watch.sent.empty());
}

TEST(ScreenshotScan, FileMadeAtTheStartTimeCounts) {
    FakeFolders disk;
    auto watch = watch_of({kShots});
    disk.put(kShots, "now.jpg", 7, kStart);
    scan_screenshots(watch, disk.lister());
    EXPECT_EQ(scan_screenshots(watch, disk.lister()), Paths{kShots / "now.jpg"});
}

TEST(ScreenshotScan, FoldersInOrderAndMissingOnesSkipped) {
    FakeFolders disk;
    const fs::path missing = fs::path("videos") / "Captures";
    auto watch = watch_of({kShots, missing, kRecordings});
    disk.put(kRecordings, "r.mov", 3);
    disk.put(kShots, "b.png", 3);
    disk.put(kShots, "a.png", 3);
    scan_screenshots(watch, disk.lister());
    EXPECT_EQ(scan_screenshots(watch, disk.lister()),
              (Paths{kShots / "b.png", kShots / "a.png", kRecordings / "r.mov"}));
    EXPECT_EQ(disk.lists, 6);
}

// Virtual time for the watcher thread's body: every sleep moves the clock on
// and then runs the test's script for that moment.
struct VirtualSystem {
    FakeFolders disk;
    std::uint64_t now = kStart;
    std::vector<long long> sleeps;
    ScreenshotsRunning running = std::make_shared<std::atomic<std::uint8_t>>(1);
    std::function<void(std::size_t)> after_sleep;  // given the number of sleeps so far
    std::vector<std::pair<fs::path, std::uint64_t>> handed;  // path and the clock at hand-over

    ScreenshotsWatcherSystem system() {
        return ScreenshotsWatcherSystem{
            disk.lister(), [this] { return now; },
            [this](std::chrono::milliseconds duration, const std::atomic<std::uint8_t>&) {
                sleeps.push_back(duration.count());
                now += static_cast<std::uint64_t>(duration.count()) * 10'000;
                if (after_sleep) after_sleep(sleeps.size());
                if (sleeps.size() >= 200) running->store(0);  // a runaway loop ends the test
            }};
    }

    void run(std::vector<fs::path> folders) {
        run_screenshots_watcher(std::move(folders), running,
                                [this](fs::path path) { handed.emplace_back(std::move(path), now); },
                                system());
    }
};

TEST(ScreenshotsWatcherBody, WaitsASecondThenScansEveryPointTwoSeconds) {
    test::LogCapture log;
    VirtualSystem v;
    v.after_sleep = [&](std::size_t count) {
        if (count == 1) v.disk.put(kShots, "shot.png", 300, v.now);  // written before the first scan
        if (count == 5) v.running->store(0);
    };
    v.run({kShots});
    EXPECT_EQ(v.sleeps, (std::vector<long long>{1000, 1200, 1200, 1200, 1200}));
    ASSERT_EQ(v.handed.size(), 1u);
    EXPECT_EQ(v.handed[0].first, kShots / "shot.png");
    // Found by the first scan (at 1 s), sent by the second (at 2.2 s).
    EXPECT_EQ(v.handed[0].second, kStart + 22 * kSecond / 10);
    EXPECT_EQ(v.disk.lists, 4);
    EXPECT_NE(log.messages().find("screenshot to the device: " + full_path_text(kShots / "shot.png") + "\n"),
              std::string::npos);
}

TEST(ScreenshotsWatcherBody, StoppedDuringTheFirstWaitNeverScans) {
    VirtualSystem v;
    v.disk.put(kShots, "shot.png", 300);
    v.after_sleep = [&](std::size_t) { v.running->store(0); };
    v.run({kShots});
    EXPECT_EQ(v.disk.lists, 0);
    EXPECT_EQ(v.sleeps.size(), 1u);
}

TEST(ScreenshotsWatcherBody, StoppingDropsTheRemainingFiles) {
    VirtualSystem v;
    v.disk.put(kShots, "a.png", 1);
    v.disk.put(kShots, "b.png", 1);
    v.disk.put(kShots, "c.png", 1);
    std::vector<fs::path> got;
    run_screenshots_watcher(
        {kShots}, v.running,
        [&](fs::path path) {
            got.push_back(path);
            v.running->store(0);
        },
        v.system());
    EXPECT_EQ(got, Paths{kShots / "a.png"});
    EXPECT_EQ(v.disk.lists, 2);
}

TEST(ScreenshotsWatcherBody, FailingSenderDoesNotStopTheWatcher) {
    VirtualSystem v;
    v.disk.put(kShots, "a.png", 1);
    v.disk.put(kShots, "b.png", 1);
    std::vector<fs::path> got;
    v.after_sleep = [&](std::size_t count) {
        if (count == 4) v.running->store(0);
    };
    run_screenshots_watcher(
        {kShots}, v.running,
        [&](fs::path path) {
            got.push_back(path);
            throw std::runtime_error("no session");
        },
        v.system());
    EXPECT_EQ(got, (Paths{kShots / "a.png", kShots / "b.png"}));
}

TEST(ScreenshotsWatcherBody, RestartedWatcherStartsAfresh) {
    VirtualSystem v;
    v.after_sleep = [&](std::size_t count) {
        if (count == 1) v.disk.put(kShots, "a.png", 10, v.now);
        if (count == 4) v.running->store(0);
    };
    v.run({kShots});
    ASSERT_EQ(v.handed.size(), 1u);

    // Made while no watcher ran: stays out. "a.png" made again after the new
    // start is sent again, since the new watcher remembers nothing.
    v.now += 60 * kSecond;
    v.disk.put(kShots, "between.png", 10, v.now - kSecond);
    v.running = std::make_shared<std::atomic<std::uint8_t>>(1);
    v.sleeps.clear();
    v.handed.clear();
    v.after_sleep = [&](std::size_t count) {
        if (count == 1) v.disk.put(kShots, "a.png", 10, v.now);
        if (count == 4) v.running->store(0);
    };
    v.run({kShots});
    ASSERT_EQ(v.handed.size(), 1u);
    EXPECT_EQ(v.handed[0].first, kShots / "a.png");
}

// The system's listing of a real folder.
TEST(FolderListing, NamesKindsSizesAndCreationTimes) {
    test::TempFolder folder;
    const std::uint64_t before = system_time_now();
    test::write_file(folder / "a.png", "abc");
    test::write_file(folder / ".dot.png", "");
    fs::create_directory(folder / "sub");
    const std::uint64_t after = system_time_now();

    const auto entries = list_folder_entries(folder.path());
    ASSERT_TRUE(entries.has_value());
    std::map<std::string, FolderEntry> by_name;
    for (const auto& entry : *entries) by_name[entry.name] = entry;
    ASSERT_EQ(by_name.size(), 3u);

    const auto& file = by_name.at("a.png");
    EXPECT_EQ(file.path, folder / "a.png");
    EXPECT_EQ(file.size, 3u);
    EXPECT_FALSE(file.directory);
    EXPECT_FALSE(file.link);
    // File systems keep coarser clocks than the precise system time.
    EXPECT_GE(file.created + 2 * kSecond, before);
    EXPECT_LE(file.created, after + 2 * kSecond);
    EXPECT_TRUE(by_name.at("sub").directory);
    EXPECT_EQ(by_name.at(".dot.png").size, 0u);

    EXPECT_FALSE(list_folder_entries(folder / "missing").has_value());
    EXPECT_FALSE(list_folder_entries(folder / "a.png").has_value());
}

#ifndef _WIN32
TEST(FolderListing, SymbolicLinksAreMarked) {
    test::TempFolder folder;
    test::write_file(folder / "target.png", "abc");
    fs::create_symlink(folder / "target.png", folder / "link.png");
    const auto entries = list_folder_entries(folder.path());
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 2u);
    for (const auto& entry : *entries) EXPECT_EQ(entry.link, entry.name == "link.png") << entry.name;
}
#endif

// The real thread over a real folder: a file written after the start is
// handed over, and the thread ends once the flag is cleared.
TEST(ScreenshotsWatcherThread, SendsANewFileAndEndsWhenStopped) {
    test::LogCapture log;
    test::TempFolder folder;
    const fs::path missing = folder / "missing";

    // Shared with the thread, which may outlive a failed check.
    struct Received {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<fs::path> paths;
    };
    auto received = std::make_shared<Received>();
    // The system's listing, clock and sleeps; the clock also tells the test
    // when the thread has taken its start time.
    auto started = std::make_shared<std::promise<void>>();
    auto started_future = started->get_future();
    ScreenshotsWatcherSystem system = system_screenshots_watcher();
    system.now = [started, clock = system.now]() mutable {
        const std::uint64_t now = clock();
        started->set_value();
        return now;
    };
    ScreenshotsRunning running = start_screenshots_watcher(
        {folder.path(), missing},
        [received](fs::path path) {
            std::lock_guard<std::mutex> lock(received->mutex);
            received->paths.push_back(std::move(path));
            received->changed.notify_all();
        },
        std::move(system));
    ASSERT_TRUE(running);
    EXPECT_EQ(running->load(), 1);
    std::weak_ptr<std::atomic<std::uint8_t>> thread_flag = running;
    struct StopOnExit {
        ScreenshotsRunning& running;
        ~StopOnExit() {
            if (running) running->store(0);
        }
    } stop_on_exit{running};
    EXPECT_NE(log.messages().find("screenshots to the device: watching " + full_path_text(folder.path()) + ", " +
                                  full_path_text(missing) + "\n"),
              std::string::npos);

    ASSERT_EQ(started_future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    // Past the start time on the coarser file-system clocks too.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    test::write_file(folder / "shot.png", "picture bytes");
    {
        std::unique_lock<std::mutex> lock(received->mutex);
        ASSERT_TRUE(received->changed.wait_for(lock, std::chrono::seconds(6),
                                               [&] { return !received->paths.empty(); }));
        EXPECT_EQ(received->paths, Paths{folder / "shot.png"});
    }

    running->store(0);
    running.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!thread_flag.expired() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(thread_flag.expired());
    std::lock_guard<std::mutex> lock(received->mutex);
    EXPECT_EQ(received->paths.size(), 1u);
}

}  // namespace
}  // namespace vorlix
