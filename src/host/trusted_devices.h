// The trusted devices: every device that paired once, kept in the host state
// and stored in "devices.json" in the data folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.h"
#include "util/result.h"

namespace vorlix {

struct TrustedDevice {
    std::string key;    // the device's Ed25519 public key, standard Base64 with padding
    std::string name;   // from the device's last Hello
    std::string model;  // from the device's last Hello
    std::uint64_t added = 0;      // seconds since 1970 (UTC) when it paired
    std::uint64_t last_seen = 0;  // seconds since 1970 (UTC) when it last signed in

    bool operator==(const TrustedDevice&) const = default;
};

// Reads "devices.json" strictly: a JSON array of records, each an object with
// the five members (any order, other members skipped) or an array of the five
// values in field order. A missing file gives an empty list. A file that is
// there but cannot be read or parsed also gives an empty list; it is logged
// and renamed out of the way first, so that the next save cannot overwrite
// the devices it still holds.
std::vector<TrustedDevice> load_trusted_devices(const std::filesystem::path& data_folder);

// Parses the text of a devices file; the error names what was wrong.
Result<std::vector<TrustedDevice>> parse_trusted_devices(std::string_view text);

// The file's text: a two-space indented array, members in field order.
Result<std::string> trusted_devices_text(const std::vector<TrustedDevice>& devices);

// Writes the list to "devices.json.tmp" and moves it over "devices.json".
Status save_trusted_devices(const std::filesystem::path& data_folder, const std::vector<TrustedDevice>& devices,
                            FileSystem& files = *system_file_system());

// A device signed in at `now` (seconds since 1970): the first record with its
// key gets the new name, model and last_seen; a new key is appended with
// added = last_seen = now. The caller holds the main lock and saves afterwards.
void record_sign_in(std::vector<TrustedDevice>& devices, std::string_view key, std::string_view name,
                    std::string_view model, std::uint64_t now);

}  // namespace vorlix
