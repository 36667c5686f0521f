#include "update/update_state.h"

#include "app/text.h"
#include "host/log.h"
#include "update/install.h"
#include "update/verify.h"
#include "util/file_io.h"

namespace vorlix {

bool slept_during_tick(UpdateClock::duration monotonic, std::chrono::nanoseconds wall) {
    return monotonic > kSleepGap || wall > kSleepGap;
}

UpdateState::UpdateState(UpdateConfig config, UpdateProbes probes)
    : config_(std::move(config)), probes_(std::move(probes)), auto_install_(config_.auto_install) {}

void UpdateState::check_for_update() {
    Result<Bytes> body = probes_.download(config_.manifest_link, kManifestLimit);
    if (!body) {
        log_line("update: could not check: " + body.error().text);
        return;
    }
    Result<Manifest> manifest = parse_manifest(*body);
    if (!manifest) {
        log_line("update: could not check: " + manifest.error().text);
        return;
    }
    std::optional<PendingUpdate> pending = pick_newer_download(*manifest, kAppVersion, kUpdateBuildKey);
    if (!pending) {
        log_line("update: " + std::string(kAppVersion) + " is up to date (newest " + manifest->version + ")");
        return;
    }
    log_line("update: VorLix " + pending->version + " is available (" + std::to_string(pending->download.size) +
             " bytes)");
    const std::string version = pending->version;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending_ = std::move(pending);
    }
    if (auto_install_.load()) return;
    // Told once per version: the file holds the trimmed text, so the
    // manifest's version is compared and stored trimmed as well.
    const std::string trimmed(trim_unicode_space(version));
    Result<std::string> told = read_whole_file(config_.told_file);
    if (told && trim_unicode_space(*told) == trimmed) return;
    (void)write_whole_file(config_.told_file, trimmed);
    notify_available(trimmed);
}

void UpdateState::notify_available(const std::string& version) {
    probes_.notice("update.available.title", "update.available.text", {{"version", version}});
}

std::optional<std::string> UpdateState::pending_update_version() {
    {
        std::lock_guard<std::mutex> lock(install_mutex_);
        if (installing_) return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(pending_mutex_);
    if (!pending_) return std::nullopt;
    return pending_->version;
}

std::optional<std::string> UpdateState::query_update_after_session() {
    if (!auto_install_.load() || probes_.last_session_end()) return std::nullopt;
    std::optional<std::string> version = pending_update_version();
    if (!version) return std::nullopt;
    {
        std::lock_guard<std::mutex> lock(failed_mutex_);
        if (failed_version_ == version) return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(package_mutex_);
    if (!package_ || package_->version != *version) return std::nullopt;
    return version;
}

void UpdateState::set_auto_install(bool on) {
    auto_install_.store(on);
    if (Status saved = probes_.save_auto_install(on); !saved) {
        log_line("update: could not keep the setting: " + saved.error().text);
    }
    log_line(std::string("update: install updates automatically: ") + (on ? "on" : "off"));
    if (on) return;
    {
        std::lock_guard<std::mutex> lock(package_mutex_);
        package_.reset();
    }
    if (std::optional<std::string> version = pending_update_version()) notify_available(*version);
}

void UpdateState::restart_no_device_wait(const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(reset_mutex_);
        no_device_reset_ = probes_.now();
    }
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending = pending_.has_value();
    }
    if (pending) {
        log_line("update: " + reason + "; the " + std::to_string(kNoDeviceWait.count()) +
                 " s without a device start again");
    }
}

std::optional<UpdateClock::time_point> UpdateState::query_no_device_since() {
    const std::optional<UpdateClock::time_point> ended = probes_.last_session_end();
    if (!ended) return std::nullopt;
    std::lock_guard<std::mutex> lock(reset_mutex_);
    if (no_device_reset_ && *no_device_reset_ > *ended) return no_device_reset_;
    return ended;
}

Result<std::vector<ZipFile>> UpdateState::download_and_check(const PendingUpdate& pending) {
    Result<Bytes> bytes = probes_.download(pending.download.url, kArchiveLimit);
    if (!bytes) return bytes.error();
    if (Result<void> verified = verify_download(*bytes, pending.download, config_.signing_key); !verified) {
        return verified.error();
    }
    Result<std::vector<ZipFile>> files = check_package_zip(*bytes);
    if (!files) return files;
    if (Result<void> version = check_program_version(*files, pending.version); !version) return version.error();
    log_line("update: " + pending.download.url + " checked (size, SHA-256, signature), " +
             std::to_string(files->size()) + " files");
    return files;
}

bool UpdateState::try_set_installing() {
    std::lock_guard<std::mutex> lock(install_mutex_);
    if (installing_) return false;
    installing_ = true;
    return true;
}

void UpdateState::clear_installing() {
    std::lock_guard<std::mutex> lock(install_mutex_);
    installing_ = false;
}

void UpdateState::auto_tick(AutoLoopState& loop) {
    if (!auto_install_.load()) return;
    {
        std::lock_guard<std::mutex> lock(install_mutex_);
        if (installing_) return;
    }
    PendingUpdate pending;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        if (!pending_) return;
        pending = *pending_;
    }
    {
        std::lock_guard<std::mutex> lock(failed_mutex_);
        if (failed_version_ == pending.version) return;
    }
    std::optional<std::string> package_version;
    {
        std::lock_guard<std::mutex> lock(package_mutex_);
        if (package_) package_version = package_->version;
    }
    const auto now = probes_.now();

    if (package_version != pending.version) {
        if ((loop.next_download_try && now < *loop.next_download_try) || !probes_.last_session_end()) return;
        Result<std::vector<ZipFile>> files = download_and_check(pending);
        if (!files) {
            log_line("update: could not download " + pending.version + " (" + files.error().text +
                     "); trying again in an hour");
            loop.next_download_try = now + kDownloadRetry;
            return;
        }
        log_line("update: " + pending.version + " downloaded; installs by itself once no device has used this PC for " +
                 std::to_string(kNoDeviceWait.count()) + " s");
        std::lock_guard<std::mutex> lock(package_mutex_);
        package_ = UpdatePackage{pending.version, std::move(*files)};
        return;
    }

    const auto quiet_long_enough = [&] {
        const std::optional<UpdateClock::time_point> since = query_no_device_since();
        return since && std::chrono::duration_cast<std::chrono::seconds>(probes_.now() - *since) >= kNoDeviceWait;
    };
    const std::optional<UpdateClock::time_point> since = query_no_device_since();
    if (probes_.pairing_code_shown() || !since || probes_.user_busy()) {
        if (!since && loop.waiting_logged != pending.version) {
            log_line("update: " + pending.version + " waits for the session to end");
            loop.waiting_logged = pending.version;
        }
        return;
    }
    if (!quiet_long_enough()) return;
    if (!try_set_installing()) return;
    if (!probes_.begin_closing_for_update()) {
        clear_installing();
        return;
    }
    std::optional<UpdatePackage> package;
    if (quiet_long_enough()) {
        std::lock_guard<std::mutex> lock(package_mutex_);
        package = std::move(package_);
        package_.reset();
    }
    if (!package) {
        probes_.end_closing_for_update();
        clear_installing();
        return;
    }
    log_line("update: installing " + pending.version + " by itself (no device for " +
             std::to_string(kNoDeviceWait.count()) + " s)");
    Result<std::filesystem::path> program = probes_.put_files_in_place(package->files);
    if (!program) {
        log_line("update: failed: " + program.error().text);
        probes_.end_closing_for_update();
        clear_installing();
        {
            std::lock_guard<std::mutex> lock(failed_mutex_);
            failed_version_ = pending.version;
        }
        probes_.notice("update.failed.title", "update.failed.text", {{"error", program.error().text}});
        return;
    }
    const std::vector<std::string> args = build_relaunch_args(config_.args, probes_.window_visible());
    if (!probes_.start_updated_copy(*program, args, pending.version)) {
        log_line("update: " + pending.version + " was installed by itself but did not start; this copy keeps running");
        probes_.end_closing_for_update();
    }
}

std::optional<PendingUpdate> UpdateState::claim_install() {
    std::optional<PendingUpdate> pending;
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending = pending_;
    }
    if (!pending || !try_set_installing()) return std::nullopt;
    return pending;
}

void UpdateState::install_thread(const PendingUpdate& pending) {
    std::optional<UpdatePackage> package;
    {
        std::lock_guard<std::mutex> lock(package_mutex_);
        package = std::move(package_);
        package_.reset();
    }
    Result<std::vector<ZipFile>> files = Error("");
    if (package && package->version == pending.version) {
        files = std::move(package->files);
    } else {
        probes_.notice("update.downloading.title", "update.downloading.text", {{"version", pending.version}});
        files = download_and_check(pending);
    }
    Result<std::filesystem::path> program = files ? probes_.put_files_in_place(*files)
                                                  : Result<std::filesystem::path>(files.error());
    if (!program) {
        log_line("update: failed: " + program.error().text);
        clear_installing();
        probes_.notice("update.failed.title", "update.failed.text", {{"error", program.error().text}});
        return;
    }
    const std::vector<std::string> args(config_.args.size() > 1 ? config_.args.begin() + 1 : config_.args.end(),
                                        config_.args.end());
    (void)probes_.start_updated_copy(*program, args, pending.version);
}

}  // namespace vorlix
