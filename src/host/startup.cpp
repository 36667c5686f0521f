#include "host/startup.h"

#include "relay/relay_reach.h"

#include <system_error>

#include "crash/crash_log.h"
#include "crypto/random.h"
#include "host/host_state.h"
#include "host/log.h"

namespace vorlix {

std::string start_line(const std::string& name, const std::string& model, const std::string& fingerprint) {
    return std::string("Vorlix host ") + kHostVersion + " for " + kPlatformWord + ": " + name + " (" + model +
           "), id " + fingerprint;
}

HostStart load_host_start(Platform& platform) {
    const std::filesystem::path folder = platform.data_dir().path;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    open_log_file(folder / "vorlix.log");
    set_up_crash_log(folder);

    IdentityServices services;
    services.protect = [&platform](ByteView plain) { return platform.protect_data(plain); };
    services.unprotect = [&platform](ByteView stored) { return platform.unprotect_data(stored); };
    services.new_key = [] { return new_identity_key(); };
    IdentityKey identity = load_identity(folder, services);
    std::vector<TrustedDevice> devices = load_trusted_devices(folder);

    std::string name = platform.computer_name();
    std::string model = platform.computer_model();
    log_line(start_line(name, model, identity.fingerprint()));
    return HostStart{folder, std::move(identity), std::move(devices), std::move(name), std::move(model)};
}

std::shared_ptr<HostState> load_host_state(const std::shared_ptr<Platform>& platform, RelaySettings relays) {
    HostStart start = load_host_start(*platform);
    HostStateConfig config;
    config.platform = platform;
    config.host_name = std::move(start.name);
    config.host_model = std::move(start.model);
    config.data_dir = std::move(start.data_folder);
    config.identity = start.identity.keys();
    config.trusted_devices = std::move(start.devices);
    config.reach = std::make_shared<RelayReach>(std::move(relays));
    std::shared_ptr<HostState> host = HostState::create(std::move(config));
    wipe_key32(config.identity.secret_key);
    return host;
}

}  // namespace vorlix
