// What reaches the host from beside the sessions: the platform's events, the
// stream's callbacks, and files the screenshots watcher hands over.
#include <algorithm>
#include <system_error>
#include <thread>

#include "crypto/random.h"
#include "files/file_send.h"
#include "host/host_state.h"
#include "host/log.h"
#include "recovery/recovery.h"
#include "stream/stream_output.h"
#include "util/thread_name.h"

namespace vorlix {

namespace {

bool holds(const std::vector<std::string>& list, const char* text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

// The current device session's writer and whether its device listed
// `capability`; nothing without a current session.
std::optional<std::pair<LinkWriter, bool>> current_writer_with(HostState& host, const char* capability) {
    auto lock = host.lock_main();
    auto& main = host.main();
    if (!main.current_session) return std::nullopt;
    return std::pair{main.current_session->writer, holds(main.capabilities, capability)};
}

}  // namespace

std::shared_ptr<StreamOutput> make_stream_output(HostState& host, std::optional<LinkWriter> device_link,
                                                 std::uint64_t session) {
    auto output = std::make_shared<StreamOutput>();
    output->kind = device_link ? StreamOutput::Kind::device_session : StreamOutput::Kind::watchers_only;
    if (device_link) output->link = std::move(*device_link);
    output->session_number = session;
    output->ledger = host.ledger;
    output->watchers = host.watchers;
    std::weak_ptr<HostState> weak = host.self_ref();
    output->stream_info = [weak](std::int64_t wide, std::int64_t high, std::int64_t fps) {
        set_stream_summary(weak, wide, high, fps);
    };
    if (device_link) {
        output->picture_stopped = [weak, session](std::uint8_t value) { notify_picture_stopped(weak, session, value); };
    }
    return output;
}

void notify_picture_stopped(const std::weak_ptr<HostState>& weak, std::uint64_t session, std::uint8_t value) {
    std::shared_ptr<HostState> host = weak.lock();
    if (!host) return;
    PictureNotice notice;
    LinkWriter writer;
    {
        auto lock = host->lock_main();
        auto& main = host->main();
        if (!main.current_session || main.in_control != session) return;
        const bool capability = holds(main.capabilities, "pictureStopped");
        notice = decide_picture_notice(main.current_session->picture_stop_reason, value, capability, session);
        if (notice.kind == PictureNotice::Kind::nothing) return;
        writer = main.current_session->writer;
        main.picture_stopped = notice.kind == PictureNotice::Kind::stopped;
    }
    log_line(notice.log_text);
    if (notice.send_resumed) queue_control_message(writer, control::PictureResumed{});
    if (notice.send_notice) queue_control_message(writer, control::Notice{notice.message});
    if (notice.send_stopped) {
        queue_control_message(writer, control::PictureStopped{notice.reason_name, notice.message, notice.retrying});
    }
    host->notify_state_changed();
}

void set_stream_summary(const std::weak_ptr<HostState>& weak, std::int64_t pixels_wide, std::int64_t pixels_high,
                        std::int64_t fps) {
    std::shared_ptr<HostState> host = weak.lock();
    if (!host) return;
    std::string summary = host->texts->translate_with(
        "stream.summary",
        {{"width", std::to_string(pixels_wide)}, {"height", std::to_string(pixels_high)}, {"fps", std::to_string(fps)}});
    {
        auto lock = host->lock_main();
        host->main().stream_summary = std::move(summary);
    }
    host->notify_state_changed();
}

void forward_platform_event(const std::weak_ptr<HostState>& weak, PlatformEvent event) {
    std::shared_ptr<HostState> host = weak.lock();
    if (!host) return;
    auto current = current_writer_with(*host, "files");
    if (!current) return;
    const auto& [writer, files] = *current;
    if (auto* path = std::get_if<std::filesystem::path>(&event)) {
        if (!files) return;
        std::optional<FileOffer> offer;
        {
            std::lock_guard<std::mutex> lock(host->transfer_mutex);
            offer = register_file_offer(host->transfers, *path);
        }
        if (!offer) return;
        log_line("clipboard: offering " + offer->name + " (" + std::to_string(offer->size) + " bytes)");
        queue_control_message(writer, control::FileOffer{static_cast<std::int64_t>(offer->id), offer->name,
                                                         static_cast<std::int64_t>(offer->size)});
        return;
    }
    auto& message = std::get<ControlMessage>(event);
    if (auto* picture = std::get_if<control::ClipboardImage>(&message)) {
        if (!files) return;
        log_line("clipboard: a picture to the device (" + std::to_string(picture->png.size()) + " bytes)");
    }
    queue_control_message(writer, message);
}

void start_file_send(const std::weak_ptr<HostState>& weak, std::filesystem::path path) {
    std::shared_ptr<HostState> host = weak.lock();
    if (!host) return;
    auto current = current_writer_with(*host, "binaryFiles");
    if (!current) return;
    auto [writer, binary] = std::move(*current);
    std::uint8_t random[4];
    random_bytes(random, sizeof random);
    const std::uint64_t id = get_u32_be(random) % 8'000'000 + 1'000'000;
    std::shared_ptr<FileSystem> files;
    {
        std::lock_guard<std::mutex> lock(host->transfer_mutex);
        files = host->transfers.files;
    }
    host.reset();
    try {
        std::thread([writer = std::move(writer), path = std::move(path), id, binary, files = std::move(files)] {
            set_current_thread_name("vorlix-file-out");
            send_file(writer, id, path, "screenshot", binary, *files);
        }).detach();
    } catch (const std::system_error&) {
        // Dropped without a log, as a file-out thread that cannot start is.
    }
}

}  // namespace vorlix
