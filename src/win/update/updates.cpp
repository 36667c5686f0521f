#include "win/update/updates.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "app/text.h"
#include "app/web_host.h"
#include "host/host_state.h"
#include "host/log.h"
#include "host/settings.h"
#include "i18n/i18n.h"
#include "ui/host_view.h"
#include "update/install.h"
#include "update/verify.h"
#include "util/thread_name.h"
#include "win/system/process.h"
#include "win/system/wide.h"
#include "win/ui/host_window.h"
#include "win/update/web_download.h"

namespace vorlix {
namespace {

namespace fs = std::filesystem;

std::mutex sink_mutex;
UpdateNoticeSink notice_sink;

void post_notice(const std::string& title, const std::string& text, const NoticeArgs& args) {
    UpdateNoticeSink sink;
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        sink = notice_sink;
    }
    if (sink) sink(title, text, args);
}

// The process-wide state, filled once.
std::atomic<UpdateState*> the_state{nullptr};

UpdateState* state() { return the_state.load(); }

std::optional<fs::path> own_program_path() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    buffer.resize(length);
    return fs::path(buffer);
}

std::optional<FileFailure> failure(DWORD code) {
    return FileFailure{code == ERROR_ACCESS_DENIED, system_error_text(code)};
}

struct WindowsFileOps : UpdateFileOps {
    bool exists(const fs::path& p) override { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::optional<FileFailure> write(const fs::path& p, ByteView bytes) override {
        HANDLE file = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return failure(GetLastError());
        std::size_t at = 0;
        DWORD code = 0;
        while (at < bytes.size() && code == 0) {
            DWORD wrote = 0;
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
            if (!WriteFile(file, bytes.data() + at, piece, &wrote, nullptr)) code = GetLastError();
            at += wrote;
        }
        if (code == 0 && !FlushFileBuffers(file)) code = GetLastError();
        CloseHandle(file);
        return code ? failure(code) : std::nullopt;
    }
    std::optional<FileFailure> remove(const fs::path& p) override {
        return DeleteFileW(p.c_str()) ? std::nullopt : failure(GetLastError());
    }
    std::optional<FileFailure> rename(const fs::path& from, const fs::path& to) override {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? std::nullopt : failure(GetLastError());
    }
};

// Starts the new copy without handing it this process's handles (the
// listening sockets among them would keep the port held).
bool start_updated_copy(const fs::path& program, const std::vector<std::string>& args, const std::string& version) {
    std::wstring command = L"\"" + program.native() + L"\"";
    std::vector<std::string> all = args;
    all.push_back("--after-update");
    all.push_back(std::to_string(GetCurrentProcessId()));
    for (const std::string& a : all) command += L" " + to_wide(quote_command_line_argument(a));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        log_line("update: installed but could not start " + path_to_utf8(program) + ": " +
                 system_error_text(GetLastError()));
        post_notice("updated.title", "update.reopen", {});
        return false;
    }
    log_line("update: installed " + version + "; starting it and quitting");
    if (HWND window = main_window_handle()) PostMessageW(window, kCloseForUpdateMessage, 0, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool user_busy() {
    HWND window = main_window_handle();
    if (!window || GetForegroundWindow() != window) return false;
    LASTINPUTINFO input{};
    input.cbSize = sizeof input;
    if (!GetLastInputInfo(&input)) return false;
    return static_cast<DWORD>(GetTickCount() - input.dwTime) < 120000;
}

std::chrono::nanoseconds wall_now() {
    FILETIME t{};
    GetSystemTimePreciseAsFileTime(&t);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ticks) * 100);
}

void clean_up_program_folder(const fs::path& program) {
    std::error_code error;
    fs::directory_iterator it(program.parent_path(), error);
    if (error) return;
    const std::string name = path_to_utf8(program.filename());
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) return;
        const fs::path entry = it->path();
        if (!is_update_leftover(path_to_utf8(entry.filename()), name)) continue;
        if (DeleteFileW(entry.c_str())) {
            log_line("update: removed " + path_to_utf8(entry));
        } else {
            log_line("update: could not remove " + path_to_utf8(entry) + ": " + system_error_text(GetLastError()));
        }
    }
}

void run_update_checks() {
    set_current_thread_name("vorlix-update");
    std::this_thread::sleep_for(std::chrono::seconds(15));
    while (true) {
        state()->check_for_update();
        std::this_thread::sleep_for(std::chrono::seconds(86400));
    }
}

void auto_update_loop() {
    set_current_thread_name("vorlix-update-auto");
    AutoLoopState loop;
    while (true) {
        const auto mono_before = UpdateClock::now();
        const auto wall_before = wall_now();
        std::this_thread::sleep_for(kUpdateTick);
        if (slept_during_tick(UpdateClock::now() - mono_before, wall_now() - wall_before)) {
            state()->restart_no_device_wait("the PC was asleep");
        }
        state()->auto_tick(loop);
    }
}

template <typename F>
void start_detached(F body) {
    try {
        std::thread(body).detach();
    } catch (const std::system_error&) {
    }
}

}  // namespace

void set_update_notice_sink(UpdateNoticeSink sink) {
    std::lock_guard<std::mutex> lock(sink_mutex);
    notice_sink = std::move(sink);
}

void start_updates(const std::vector<std::string>& args, const fs::path& data_folder,
                   const std::shared_ptr<HostState>& host, std::string_view signing_key_base64) {
    if (runs_from_package()) {
        log_line("update: installed from a package; the Store updates it");
        return;
    }
    const std::optional<Key32> key = decode_update_key(signing_key_base64);
    if (!key) crypto_fatal("the update-signing key is not a valid Ed25519 key");
    if (const auto program = own_program_path()) clean_up_program_folder(*program);

    const bool automatic = auto_install_updates(read_settings(data_folder));
    log_line(std::string("update: install updates automatically: ") + (automatic ? "on" : "off"));

    const std::weak_ptr<HostState> weak = host;
    UpdateProbes p;
    p.download = download_url;
    p.notice = post_notice;
    p.now = [] { return UpdateClock::now(); };
    p.last_session_end = [weak]() -> std::optional<UpdateClock::time_point> {
        auto h = weak.lock();
        return h ? h->any_session_active() : std::nullopt;
    };
    p.pairing_code_shown = [weak] { return HostState::current_pairing_code(weak).has_value(); };
    p.user_busy = user_busy;
    p.begin_closing_for_update = [weak] {
        auto h = weak.lock();
        return h && h->begin_closing_for_update();
    };
    p.end_closing_for_update = [weak] {
        if (auto h = weak.lock()) h->end_closing_for_update();
    };
    p.put_files_in_place = [](const std::vector<ZipFile>& files) -> Result<fs::path> {
        const std::optional<fs::path> program = own_program_path();
        if (!program) return Error("VorLix's own file was not found");
        WindowsFileOps ops;
        return vorlix::put_files_in_place(files, *program, ops);
    };
    p.window_visible = [] {
        HWND window = main_window_handle();
        return window && IsWindowVisible(window);
    };
    p.start_updated_copy = start_updated_copy;
    p.save_auto_install = [data_folder](bool on) { return save_auto_install_setting(data_folder, on); };

    UpdateConfig config{manifest_link_from_args(args, kDefaultManifestLink), data_folder / "update-told.txt", args,
                        automatic, *key};
    auto* made = new UpdateState(std::move(config), std::move(p));
    UpdateState* expected = nullptr;
    if (!the_state.compare_exchange_strong(expected, made)) {
        delete made;
        return;
    }
    // Notices go to the tray in the window's language (queued until it is up).
    set_update_notice_sink([](const std::string& title, const std::string& text, const NoticeArgs& args) {
        const NoticeTexts notice = compose_notice(current_language(), title, text, args);
        post_tray_notice(notice.title, notice.body);
    });
    change_tray_hooks([](TrayHooks& hooks) {
        hooks.update_state_exists = [] { return state() != nullptr; };
        hooks.update_after_session = query_update_after_session;
        hooks.pending_update = pending_update_version;
        hooks.auto_install_on = auto_install_updates_on;
        hooks.install_update_now = install_update_now;
        hooks.set_auto_install = set_auto_install;
        hooks.restart_no_device_wait = restart_no_device_wait;
    });
    // Both threads run until the process ends; the state lives as long.
    start_detached(run_update_checks);
    start_detached(auto_update_loop);
}

std::optional<std::string> pending_update_version() {
    return state() ? state()->pending_update_version() : std::nullopt;
}

std::optional<std::string> query_update_after_session() {
    return state() ? state()->query_update_after_session() : std::nullopt;
}

void install_update_now() {
    UpdateState* s = state();
    if (!s) return;
    std::optional<PendingUpdate> pending = s->claim_install();
    if (!pending) return;
    start_detached([s, pending = std::move(*pending)] {
        set_current_thread_name("vorlix-update-install");
        s->install_thread(pending);
    });
}

void set_auto_install(bool on) {
    if (UpdateState* s = state()) s->set_auto_install(on);
}

bool auto_install_updates_on() { return state() && state()->auto_install(); }

void restart_no_device_wait(const std::string& reason) {
    if (UpdateState* s = state()) s->restart_no_device_wait(reason);
}

}  // namespace vorlix
