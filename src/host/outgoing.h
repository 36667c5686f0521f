// The control messages the session code itself sends, written as the compact
// JSON text of a Control frame: one member named after the message, keys in
// byte order at every level.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/platform.h"
#include "util/bytes.h"

namespace vorlix {

std::string bye_message();
std::string pong_message(std::uint64_t value);
std::string host_info_message(const std::string& version, const std::vector<std::string>& features);
std::string permissions_message(bool screen_recording, bool accessibility);
std::string levels_message(const Levels& levels);
std::string front_app_message(const FrontApp& app);
std::string watchers_message(const std::vector<std::string>& names);
std::string web_watchers_message(std::int64_t watching, std::int64_t links);
std::string reach_message(const std::vector<std::string>& addresses, std::uint16_t port);
std::string wake_info_message(const std::vector<std::string>& mac_addresses, const std::vector<std::string>& addresses);
std::string preview_message(ByteView picture);
// An annotate message that clears the strokes of one author.
std::string ink_clear_message(const std::string& author);

}  // namespace vorlix
