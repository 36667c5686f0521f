#include "menus/menus_loop.h"

#include <utility>

#include "host/session_log.h"

namespace vorlix {

using namespace std::chrono_literals;

bool PendingMenuRun::put(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    const bool was_empty = !id_;
    id_ = id;
    return was_empty;
}

std::optional<std::uint64_t> PendingMenuRun::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(id_, std::nullopt);
}

void queue_menu_run(Sender<MenuRequest>& menus, const std::shared_ptr<PendingMenuRun>& pending, std::uint64_t id) {
    if (pending->put(id)) menus.send(MenuRequest{.kind = MenuRequest::Kind::Run, .pending = pending});
}

MenusLoop::MenusLoop(MenusBackend& backend, Deliver deliver, Log log)
    : backend_(backend), deliver_(std::move(deliver)), log_(std::move(log)) {}

void MenusLoop::forget() {
    targets_.clear();
    last_sent_.reset();
    opened_.clear();
}

void MenusLoop::handle(const MenuRequest& request, Clock::time_point now) {
    switch (request.kind) {
    case MenuRequest::Kind::Active:
        forget();
        active_ = request.active;
        deadline_ = active_ ? std::optional(now + 200ms) : std::nullopt;
        retries_ = 0;
        break;
    case MenuRequest::Kind::ScanAfter:
        if (!active_) break;
        deadline_ = now + std::chrono::duration_cast<Clock::duration>(request.delay);
        retries_ = 0;
        break;
    case MenuRequest::Kind::Run: {
        std::optional<std::uint64_t> id = request.id;
        if (request.pending) id = request.pending->take();
        if (!active_ || !id) break;
        const auto started = Clock::now();
        const auto delay = [&] {
            RequestLines lines("performMenu");  // the backend's lines too
            return run(*id);
        }();
        deadline_ = now + (Clock::now() - started) + delay;  // counted from the run's end
        retries_ = 0;
        break;
    }
    }
}

void MenusLoop::on_time(Clock::time_point now) {
    if (active_ && deadline_ && *deadline_ <= now) scan(now);
}

void MenusLoop::scan(Clock::time_point now) {
    const auto started = Clock::now();
    MenuScanResult result = backend_.scan(opened_);
    if (result.scan.commands.empty() && !result.final && retries_ <= 2) {
        deadline_ = now + 500ms;
        ++retries_;
        return;
    }
    targets_ = std::move(result.scan.targets);
    deadline_.reset();
    std::vector<MenuCommand>& commands = result.scan.commands;
    if (last_sent_ && *last_sent_ == commands) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    log_("menus: " + std::to_string(commands.size()) + " commands (" + std::to_string(ms) + " ms)");
    last_sent_ = commands;
    deliver_(std::move(commands));
}

std::chrono::milliseconds MenusLoop::run(std::uint64_t id) {
    if (id >= targets_.size()) return 600ms;
    const MenuTarget& target = targets_[id];
    switch (target.kind) {
    case MenuTarget::Kind::Win32Command:
        if (target.enabled && backend_.window_exists(target.window)) {
            log_("menus: command " + std::to_string(target.command_id));
            backend_.post_command(target.window, static_cast<std::uint16_t>(target.command_id & 0xFFFF));
        }
        return 600ms;
    case MenuTarget::Kind::UiaCommand:
        if (target.enabled) run_uia_command(target);
        return 600ms;
    case MenuTarget::Kind::OpenUiaMenu: {
        std::optional<std::vector<UiaMenuItem>> items = backend_.open_uia_menu(target.window, target.menu);
        if (!items) return 600ms;
        std::vector<OpenedMenuItem> opened;
        for (UiaMenuItem& item : *items) {
            if (!item.name.empty()) opened.push_back({std::move(item.name), std::move(item.shortcut), item.enabled});
        }
        log_("menus: " + target.menu + " opened, " + std::to_string(opened.size()) + " items");
        opened_[OpenedMenuKey{target.window, target.menu}] = std::move(opened);
        return 50ms;
    }
    }
    return 600ms;
}

void MenusLoop::run_uia_command(const MenuTarget& target) {
    const std::string path = target.menu + kMenuPathSeparator + target.title;
    if (target.element && backend_.invoke(target.element)) {
        log_("menus: ran " + path);
        return;
    }
    if (std::optional<std::vector<UiaMenuItem>> items = backend_.open_uia_menu(target.window, target.menu)) {
        for (const UiaMenuItem& item : *items) {
            if (item.name != target.title) continue;
            if (backend_.invoke(item.element)) {
                log_("menus: ran " + path);
                return;
            }
            break;
        }
    }
    log_("menus: " + path + " was not found");
}

void run_menus_loop(Receiver<MenuRequest>& requests, MenusLoop& loop) {
    for (;;) {
        const auto now = MenusLoop::Clock::now();
        const auto wait = loop.deadline() ? std::max(*loop.deadline() - now, MenusLoop::Clock::duration::zero())
                                          : std::chrono::duration_cast<MenusLoop::Clock::duration>(3600s);
        std::optional<MenuRequest> request = requests.receive_for(wait);
        if (request) {
            loop.handle(*request, MenusLoop::Clock::now());
        } else if (requests.finished()) {
            return;
        }
        loop.on_time(MenusLoop::Clock::now());
    }
}

}  // namespace vorlix
