// A host state for tests: a platform (usually a fake), a data folder and a
// fixed identity drawn from one seed byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/host_state.h"
#include "support/device_peer.h"

namespace vorlix {

HostStateConfig test_host_config(std::shared_ptr<Platform> platform, std::filesystem::path data_dir,
                                 std::uint8_t seed_fill, std::vector<TrustedDevice> trusted = {},
                                 std::string host_name = "Desk PC");

// The trusted-devices record of a device peer's identity.
TrustedDevice trusted(const DeviceIdentity& identity);

}  // namespace vorlix
