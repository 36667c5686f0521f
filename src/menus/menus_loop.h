// The app-menu service: a queue of requests, scans of the window in front on
// deadlines only, the list sent when it changed, and the command the device
// picks run against the last scan's targets. The system side (reading
// menus, posting commands, UI Automation) stays behind MenusBackend.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/channel.h"
#include "menus/menu_scan.h"

namespace vorlix {

class PendingMenuRun;

struct MenuRequest {
    enum class Kind { Active, ScanAfter, Run };
    Kind kind = Kind::Active;
    bool active = false;                    // Active
    std::chrono::nanoseconds delay{};       // ScanAfter
    std::uint64_t id = 0;                   // Run
    std::shared_ptr<PendingMenuRun> pending;  // Run: when given, the id waiting there instead
};

// The menu run waiting for the thread: a newer pick replaces it, so a device
// that taps on while a scan or a run is slow has one run queued, not one a tap.
class PendingMenuRun {
public:
    // True when none was waiting, so that the caller queues the Run request.
    bool put(std::uint64_t id);
    std::optional<std::uint64_t> take();

private:
    std::mutex mutex_;
    std::optional<std::uint64_t> id_;
};

// Queues a run through `pending` (a thread that ended drops it).
void queue_menu_run(Sender<MenuRequest>& menus, const std::shared_ptr<PendingMenuRun>& pending, std::uint64_t id);

// One element of an opened UI Automation menu.
struct UiaMenuItem {
    std::shared_ptr<void> element;
    std::string name;  // tidied; empty when the element has none
    std::optional<std::string> shortcut;
    bool enabled = true;
};

struct MenuScanResult {
    MenuScan scan;
    bool final = false;  // an empty result that is not retried
};

class MenusBackend {
public:
    virtual ~MenusBackend() = default;
    virtual MenuScanResult scan(const OpenedMenuCache& cache) = 0;
    virtual bool window_exists(std::uintptr_t window) = 0;
    virtual void post_command(std::uintptr_t window, std::uint16_t command) = 0;
    virtual bool invoke(const std::shared_ptr<void>& element) = 0;
    // The items of the named top-level menu after opening it, or none.
    virtual std::optional<std::vector<UiaMenuItem>> open_uia_menu(std::uintptr_t window, const std::string& name) = 0;
};

class MenusLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Deliver = std::function<void(std::vector<MenuCommand>)>;
    using Log = std::function<void(std::string_view)>;

    MenusLoop(MenusBackend& backend, Deliver deliver, Log log);

    void handle(const MenuRequest& request, Clock::time_point now);
    // Scans when active and the deadline has come.
    void on_time(Clock::time_point now);
    std::optional<Clock::time_point> deadline() const { return deadline_; }

private:
    void forget();
    void scan(Clock::time_point now);
    // The delay before the rescan that follows.
    std::chrono::milliseconds run(std::uint64_t id);
    void run_uia_command(const MenuTarget& target);

    MenusBackend& backend_;
    Deliver deliver_;
    Log log_;
    std::vector<MenuTarget> targets_;
    std::optional<std::vector<MenuCommand>> last_sent_;
    OpenedMenuCache opened_;
    bool active_ = false;
    std::optional<Clock::time_point> deadline_;
    int retries_ = 0;
};

// The thread body: waits for requests until each deadline and ends when
// every sender is gone.
void run_menus_loop(Receiver<MenuRequest>& requests, MenusLoop& loop);

}  // namespace vorlix
