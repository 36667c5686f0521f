// The start-up loader: what the host needs from its data folder and the
// platform before the shared host state can be built.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/identity.h"
#include "host/platform.h"
#include "host/trusted_devices.h"
#include "relay/relay_settings.h"

namespace vorlix {

// The version and platform word of the start line.
inline constexpr const char* kHostVersion = "1.2";
inline constexpr const char* kPlatformWord = "Windows";

struct HostStart {
    std::filesystem::path data_folder;
    IdentityKey identity;
    std::vector<TrustedDevice> devices;
    std::string name;
    std::string model;
};

// Creates the data folder the platform names, opens "vorlix.log" in it,
// points the crash log at it, loads or makes the identity, loads the trusted
// devices, asks the platform for the PC's name and model and logs the start
// line.
HostStart load_host_start(Platform& platform);

class HostState;

// The whole loader: the start above, then the shared host state built from
// it, connected to the platform (its events go to the current session), with
// the relays of `relays`.
std::shared_ptr<HostState> load_host_state(const std::shared_ptr<Platform>& platform,
                                           RelaySettings relays = relay_defaults());

// "Vorlix host 1.2 for Windows: {name} ({model}), id {fingerprint}".
std::string start_line(const std::string& name, const std::string& model, const std::string& fingerprint);

}  // namespace vorlix
