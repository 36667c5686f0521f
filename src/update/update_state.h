// The self-update's shared state and its operations: the periodic check, the
// told-once rule, the menu queries, the automatic loop's tick and the
// install thread's body. Everything outside (the web, the clock, the host,
// the window, the files) comes in through UpdateProbes, so that the same
// logic runs on Windows and under test.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/crypto.h"
#include "update/manifest.h"
#include "update/zip_reader.h"
#include "util/result.h"

namespace vorlix {

using UpdateClock = std::chrono::steady_clock;

inline constexpr std::chrono::seconds kUpdateTick{5};
inline constexpr std::chrono::seconds kSleepGap{30};
inline constexpr std::chrono::seconds kDownloadRetry{3600};
inline constexpr std::chrono::seconds kNoDeviceWait{120};

struct UpdatePackage {
    std::string version;
    std::vector<ZipFile> files;
};

using NoticeArgs = std::vector<std::pair<std::string, std::string>>;

struct UpdateProbes {
    // Fetches a link with a byte limit.
    std::function<Result<Bytes>(const std::string& link, std::uint64_t limit)> download;
    // Posts a notice by its title and text keys with named arguments.
    std::function<void(const std::string& title_key, const std::string& text_key, const NoticeArgs& args)> notice;
    std::function<UpdateClock::time_point()> now;
    // The host's last-session-end instant; none while a session runs.
    std::function<std::optional<UpdateClock::time_point>()> last_session_end;
    std::function<bool()> pairing_code_shown;
    // The host window is in front and the user gave input within 120 s.
    std::function<bool()> user_busy;
    std::function<bool()> begin_closing_for_update;
    std::function<void()> end_closing_for_update;
    std::function<Result<std::filesystem::path>(const std::vector<ZipFile>&)> put_files_in_place;
    std::function<bool()> window_visible;
    // Starts the new copy; true when it started (the program then quits).
    std::function<bool(const std::filesystem::path& program, const std::vector<std::string>& args,
                       const std::string& version)>
        start_updated_copy;
    // Stores the automatic-install setting.
    std::function<Status(bool on)> save_auto_install;
};

struct UpdateConfig {
    std::string manifest_link;
    std::filesystem::path told_file;
    std::vector<std::string> args;  // program path first
    bool auto_install = true;
    Key32 signing_key{};
};

// What the automatic loop keeps between ticks.
struct AutoLoopState {
    std::optional<UpdateClock::time_point> next_download_try;  // none: at once
    std::optional<std::string> waiting_logged;
};

// A tick that took more than 30 s by either clock; a wall clock that went
// backwards does not count.
bool slept_during_tick(UpdateClock::duration monotonic, std::chrono::nanoseconds wall);

class UpdateState {
public:
    UpdateState(UpdateConfig config, UpdateProbes probes);

    void check_for_update();
    std::optional<std::string> pending_update_version();
    std::optional<std::string> query_update_after_session();
    void set_auto_install(bool on);
    bool auto_install() const { return auto_install_.load(); }
    void restart_no_device_wait(const std::string& reason);
    std::optional<UpdateClock::time_point> query_no_device_since();

    // The download, the checks of the archive and its files.
    Result<std::vector<ZipFile>> download_and_check(const PendingUpdate& pending);

    // One tick of the automatic loop after its sleep (and sleep detection).
    void auto_tick(AutoLoopState& loop);

    // The menu's install: the pending update to install on a thread of its
    // own, or none when there is none or an install is under way (then the
    // flag stays as it was).
    std::optional<PendingUpdate> claim_install();
    // The body of that thread.
    void install_thread(const PendingUpdate& pending);

private:
    bool try_set_installing();
    void clear_installing();
    void notify_available(const std::string& version);

    const UpdateConfig config_;
    const UpdateProbes probes_;
    std::atomic<bool> auto_install_;

    std::mutex pending_mutex_;
    std::optional<PendingUpdate> pending_;
    std::mutex package_mutex_;
    std::optional<UpdatePackage> package_;
    std::mutex failed_mutex_;
    std::optional<std::string> failed_version_;
    std::mutex reset_mutex_;
    std::optional<UpdateClock::time_point> no_device_reset_;
    std::mutex install_mutex_;
    bool installing_ = false;
};

}  // namespace vorlix
