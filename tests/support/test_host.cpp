#include "support/test_host.h"

namespace vorlix {

HostStateConfig test_host_config(std::shared_ptr<Platform> platform, std::filesystem::path data_dir,
                                 std::uint8_t seed_fill, std::vector<TrustedDevice> trusted, std::string host_name) {
    HostStateConfig config;
    config.platform = std::move(platform);
    config.host_name = std::move(host_name);
    config.data_dir = std::move(data_dir);
    Key32 seed;
    seed.fill(seed_fill);
    config.identity = ed25519_from_seed(seed);
    config.trusted_devices = std::move(trusted);
    return config;
}

TrustedDevice trusted(const DeviceIdentity& identity) {
    TrustedDevice device;
    device.key = identity.key_text();
    device.name = identity.name;
    device.model = identity.model;
    device.added = 1000;
    device.last_seen = 1000;
    return device;
}

}  // namespace vorlix
