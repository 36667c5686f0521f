// Vorlix.exe: the program entry. Reads the command line, keeps one host per
// data folder, prepares the process, builds the platform and the host's
// start-up state, runs the window on this thread until the user quits, and
// shuts down in order.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <cwchar>
#include <memory>
#include <optional>
#include <system_error>

#include "app/options.h"
#include "app/text.h"
#include "crash/crash_log.h"
#include "host/host_state.h"
#include "host/listener.h"
#include "host/log.h"
#include "host/quit.h"
#include "host/settings.h"
#include "host/startup.h"
#include "win/camera/camera.h"
#include "win/platform.h"
#include "win/reach/reach_windows.h"
#include "win/system/process.h"
#include "win/system/wide.h"
#include "win/ui/host_window.h"
#include "win/ui/sign_in.h"
#include "win/ui/ui_language.h"
#include "win/update/updates.h"

namespace vorlix {
namespace {

ArgList command_line_arguments() {
    ArgList args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 0; i < count; ++i) args.push_back(wide_to_string(argv[i], std::wcslen(argv[i])));
    LocalFree(argv);
    return args;
}

std::optional<std::filesystem::path> appdata_folder() {
    const DWORD needed = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", value.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    value.resize(length);
    return std::filesystem::path(value);
}

bool file_exists(const std::filesystem::path& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The public half of the key that signs update archives. The build the
// update tests start carries the tests' own key instead.
#ifdef VORLIX_UPDATE_KEY
constexpr char kUpdateSigningKey[] = VORLIX_UPDATE_KEY;
#else
constexpr char kUpdateSigningKey[] = "fnuyJLzPyaT65XymoaFitnzUjwpsKn/gMwyxFdbSAL4=";
#endif

// The relays are fixed in the program. The build the relay tests start has
// one relay of its own, the tests' relay on loopback.
RelaySettings relay_settings() {
    RelaySettings settings = relay_defaults();
#ifdef VORLIX_TEST_RELAY
    settings.relay_address = VORLIX_TEST_RELAY;
#endif
    return settings;
}

void host_main(ArgList all_args) {
    // 1. The program an update replaced must end first.
    const AfterUpdateArgs after_update = wait_for_old_process(std::move(all_args));
    const ArgList& args = after_update.remaining;
    const HostOptions options = read_host_options(args);
    set_language_sources(windows_language_sources());

    // 2. Per-monitor DPI awareness; the manifest asks for it too.
    declare_dpi_awareness();

    // 3. One host per data folder. The handle stays open until the process ends.
    const InstanceMutex instance = claim_instance(instance_mutex_name(options.data_dir));
    if (instance.claim == InstanceClaim::AlreadyRunning) {
        if (!options.data_dir) activate_running_window();
        return;
    }

    // 4. COM for this thread, in the multithreaded apartment.
    const bool com_ready = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));

    // 5.-7. The data folder; whether this is a new install is noted before
    // anything is written there.
    const std::filesystem::path data_folder =
        options.data_dir ? path_from_utf8(*options.data_dir) : default_data_folder(appdata_folder());
    const bool new_install = !file_exists(data_folder / "identity.key");
    std::error_code ignored;
    std::filesystem::create_directories(data_folder, ignored);

    // 8. Crash log.
    set_up_crash_log(data_folder);

    // 9. The platform and its service threads.
    std::shared_ptr<WindowsPlatform> platform =
        platform_new(DataFolder{data_folder, static_cast<std::uint8_t>(options.data_dir ? 1 : 0)});

    // 10. The shared host state.
    std::shared_ptr<HostState> host = load_host_state(platform, relay_settings());

    // 11. Open at sign-in is kept only for the default folder outside an app package.
    const bool sign_in_allowed = !options.data_dir && !runs_from_package();
    set_open_at_sign_in_allowed(sign_in_allowed);
    if (sign_in_allowed) sign_in_repoint(data_folder, new_install);

    // 12. Self-update.
    start_updates(args, data_folder, host, kUpdateSigningKey);

    // 13. The pairing code mirrors into the code file.
    host->set_code_file(options.code_file ? std::optional(path_from_utf8(*options.code_file)) : std::nullopt);

    // 14. The virtual camera's service and its thread.
    start_camera();

    // 15. The listener; without it relay links can still reach the host.
    if (auto listener = start_listener(host, options.port, options.advertise())) {
        // The accept threads run until the process ends; releasing the last
        // handle would stop them, so it is never released.
        static auto* const kept = new std::shared_ptr<ListenerThreads>(std::move(*listener));
        (void)kept;
    } else {
        log_line("could not listen: " + listener.error().text);
    }

    // 16.-17. Pairing, and whether the relay may be used.
    if (options.open_pairing) host->open_pairing();
    host->relay_allowed = options.relay_allowed();
    host->reach->update_relay_registration(*host);

    // The tray offers the camera component's set-up while it is missing.
    change_tray_hooks([](TrayHooks& hooks) {
        hooks.camera_menu_available = camera_menu_available;
        hooks.start_camera_setup = start_camera_setup;
    });

    // 18. The window and its message loop, until the user quits.
    run_window(host, options.hidden, after_update.after_update());

    // Shut-down: every link is told goodbye and has a moment to receive it;
    // the announcement on the network is withdrawn; the host and the
    // platform end on this thread once the threads that hold them have.
    std::shared_ptr<Platform> held_platform = std::move(platform);
    if (!quit_host(host, held_platform, stop_advertising)) {
        // A thread still holds the host or the platform: the runtime's exit
        // would tear down what it uses under it. The process ends here, its
        // lines written, and COM stays up until then.
        log_line("quitting: threads still hold the host or the platform; the process ends at once");
        flush_standard_error(std::chrono::milliseconds(500));
        TerminateProcess(GetCurrentProcess(), 0);
    }
    if (com_ready) CoUninitialize();
}

}  // namespace
}  // namespace vorlix

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vorlix::host_main(vorlix::command_line_arguments());
    // Lines still on their way to a standard error that is read get there;
    // one that is not read holds the end up only briefly.
    vorlix::flush_standard_error(std::chrono::milliseconds(500));
    return 0;
}
