// The self-update on Windows: set-up at start, the "vorlix-update" and
// "vorlix-update-auto" threads, and the operations the window and its tray
// menu call. Before set-up (and for ever in a program installed from a
// package) every operation does nothing and every query answers none.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/update_state.h"

namespace vorlix {

class HostState;

// The update-signing key of this build, 44 characters of Base64.
void start_updates(const std::vector<std::string>& args, const std::filesystem::path& data_folder,
                   const std::shared_ptr<HostState>& host, std::string_view signing_key_base64);

// Where update notices go: the window hands its notice poster over once it
// is up (title key, text key, named arguments). Notices before that are
// dropped.
using UpdateNoticeSink = std::function<void(const std::string&, const std::string&, const NoticeArgs&)>;
void set_update_notice_sink(UpdateNoticeSink sink);

// For the tray menu.
std::optional<std::string> pending_update_version();
std::optional<std::string> query_update_after_session();
void install_update_now();
void set_auto_install(bool on);
bool auto_install_updates_on();
// Also called by the window when the PC wakes from sleep.
void restart_no_device_wait(const std::string& reason);

}  // namespace vorlix
