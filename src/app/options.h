// The host's command line: the argument list (program path first), option
// look-up, number values and the single-instance mutex name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

using ArgList = std::vector<std::string>;

constexpr std::uint16_t kDefaultPort = 47910;

// Whether an argument equals `name` exactly (case-sensitive, whole argument).
bool has_option(const ArgList& args, std::string_view name);

// The argument right after the first occurrence of `name`; none when the
// option is absent or is the last argument.
std::optional<std::string> option_value(const ArgList& args, std::string_view name);

// Decimal digits with an optional leading "+", at most `max`; anything else
// (empty, a sign alone, "-", other characters, out of range) gives none.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max);

// The list without every `--after-update` and the argument after each, and
// the process id that followed the last one when it reads as an unsigned
// 32-bit number.
struct AfterUpdateArgs {
    ArgList remaining;
    std::optional<std::uint32_t> old_process;
    bool after_update() const { return old_process.has_value(); }
};
AfterUpdateArgs take_after_update(ArgList args);

// What the program entry reads from the remaining argument list.
struct HostOptions {
    std::optional<std::string> data_dir;
    std::optional<std::string> code_file;
    std::uint16_t port = kDefaultPort;
    bool no_advertise = false;
    bool open_pairing = false;
    bool no_relay = false;
    bool hidden = false;

    bool advertise() const { return !no_advertise; }
    // Relay use is off with --no-relay and also with --no-advertise.
    bool relay_allowed() const { return !no_relay && !no_advertise; }
};
HostOptions read_host_options(const ArgList& args);

// FNV-1a, 64 bits, over the bytes.
std::uint64_t fnv1a64(std::string_view bytes);

// "Local\VorlixHost", or with a data folder "Local\VorlixHost-" and the
// 16 hexadecimal digits of the FNV-1a hash of the folder text lower-cased.
std::string instance_mutex_name(const std::optional<std::string>& data_dir);

// The default data folder: "Vorlix" in the APPDATA folder, or in "." when
// APPDATA is not set.
std::filesystem::path default_data_folder(const std::optional<std::filesystem::path>& appdata);

}  // namespace vorlix
