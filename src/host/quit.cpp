#include "host/quit.h"

#include <thread>
#include <vector>

#include "host/host_state.h"
#include "host/log.h"
#include "host/session_log.h"

namespace vorlix {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLook{5};

// Waits until `held` holds the only reference or `deadline` passes; `meanwhile` runs at each look.
template <class T, class Meanwhile>
bool wait_for_last_reference(const std::shared_ptr<T>& held, Clock::time_point deadline, Meanwhile meanwhile) {
    while (held.use_count() != 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(kLook);
        meanwhile();
    }
    return held.use_count() == 1;
}

// Lets go of the last reference here; false when another thread took one
// meanwhile, and now destroys the object itself.
template <class T>
bool let_go_here(std::shared_ptr<T>& held) {
    std::weak_ptr<T> weak = held;
    held.reset();
    return weak.expired();
}

}  // namespace

bool quit_host(std::shared_ptr<HostState>& host, std::shared_ptr<Platform>& platform,
               const std::function<void()>& stop_advertising, const QuitLimits& limits) {
    log_line("quitting");
    std::vector<LinkWriter> told;
    if (std::optional<LinkWriter> current = host->current_session_sender()) told.push_back(*current);
    host->say_goodbye_and_close();
    host->send_links_away_at_quit(told);
    if (stop_advertising) stop_advertising();

    // The goodbyes are written meanwhile; links that come now are sent away too.
    const auto start = Clock::now();
    const auto send_away_newcomers = [&] { host->send_links_away_at_quit(told); };
    while (Clock::now() - start < limits.goodbye) {
        std::this_thread::sleep_for(kLook);
        send_away_newcomers();
    }
    for (const LinkWriter& writer : told) {
        if (writer.running()) writer.shut_down();
    }
    const auto deadline = start + limits.goodbye + limits.threads;
    const bool host_alone = wait_for_last_reference(host, deadline, send_away_newcomers);
    host->flush_link_logs();
    const bool host_here = host_alone && let_go_here(host);
    const bool platform_here =
        host_here && wait_for_last_reference(platform, deadline, [] {}) && let_go_here(platform);
    flush_request_lines();  // the counts of a platform still held elsewhere
    return platform_here;
}

}  // namespace vorlix
