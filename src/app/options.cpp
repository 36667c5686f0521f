#include "app/options.h"

#include <algorithm>
#include <cstdio>

#include "app/text.h"

namespace vorlix {

bool has_option(const ArgList& args, std::string_view name) {
    return std::find(args.begin(), args.end(), name) != args.end();
}

std::optional<std::string> option_value(const ArgList& args, std::string_view name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end() || std::next(it) == args.end()) return std::nullopt;
    return *std::next(it);
}

std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

AfterUpdateArgs take_after_update(ArgList args) {
    AfterUpdateArgs out;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] != "--after-update") {
            out.remaining.push_back(std::move(args[i]));
            ++i;
            continue;
        }
        // Every occurrence goes, with its value; the last one decides.
        out.old_process.reset();
        if (i + 1 < args.size()) {
            if (auto pid = parse_decimal(args[i + 1], 0xFFFFFFFFu)) out.old_process = static_cast<std::uint32_t>(*pid);
        }
        i += 2;
    }
    return out;
}

HostOptions read_host_options(const ArgList& args) {
    HostOptions o;
    o.data_dir = option_value(args, "--data-dir");
    o.code_file = option_value(args, "--code-file");
    if (auto text = option_value(args, "--port")) {
        if (auto port = parse_decimal(*text, 0xFFFF)) o.port = static_cast<std::uint16_t>(*port);
    }
    o.no_advertise = has_option(args, "--no-advertise");
    o.open_pairing = has_option(args, "--open-pairing");
    o.no_relay = has_option(args, "--no-relay");
    o.hidden = has_option(args, "--hidden");
    return o;
}

std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string instance_mutex_name(const std::optional<std::string>& data_dir) {
    if (!data_dir) return "Local\\VorlixHost";
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a64(unicode_lower(*data_dir))));
    return std::string("Local\\VorlixHost-") + hex;
}

std::filesystem::path default_data_folder(const std::optional<std::filesystem::path>& appdata) {
    return (appdata ? *appdata : std::filesystem::path(".")) / "Vorlix";
}

}  // namespace vorlix
