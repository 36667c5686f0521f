#include "camera/camera_service.h"

#include <array>
#include <charconv>
#include <string>

#include "host/session_log.h"
#include "util/file_io.h"

namespace vorlix {

std::string_view camera_status_name(CameraStatusKind kind) {
    static constexpr std::array<std::string_view, 7> names = {"Starting", "NeedsWindows11", "NeedsNativeApp", "NotSetUp",
                                                              "NoAccess", "Failed",         "Ready"};
    return names[static_cast<std::size_t>(kind)];
}

std::optional<std::string> camera_status_message(CameraStatusKind kind) {
    switch (kind) {
        case CameraStatusKind::Starting: return "VorLix Camera is still starting on the PC. Try again in a moment.";
        case CameraStatusKind::NeedsWindows11: return "This PC needs Windows 11 for VorLix Camera.";
        case CameraStatusKind::NeedsNativeApp:
            return "On this PC, VorLix Camera needs the Arm64 version of VorLix for Windows.";
        case CameraStatusKind::NotSetUp:
            return "Set up VorLix Camera on the PC first: click the VorLix icon in the notification area and choose "
                   "Set Up VorLix Camera.";
        case CameraStatusKind::NoAccess:
            return "Turn on camera access on the PC: Settings \u25B8 Privacy & security \u25B8 Camera, then let VorLix "
                   "use the camera.";
        case CameraStatusKind::Failed: return "VorLix Camera could not start on this PC.";
        case CameraStatusKind::Ready: return std::nullopt;
    }
    return std::nullopt;
}

std::string camera_status_text(const CameraStatus& status) {
    if (status.kind == CameraStatusKind::Failed) return "Failed (\"" + status.error + "\")";
    return std::string(camera_status_name(status.kind));
}

std::optional<std::uint32_t> parse_build_number(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint16_t> pe_machine_of_bytes(ByteView file) {
    if (file.size() < 64) return std::nullopt;
    const std::uint64_t p = std::uint64_t{file[60]} | std::uint64_t{file[61]} << 8 | std::uint64_t{file[62]} << 16 |
                            std::uint64_t{file[63]} << 24;
    if (p + 6 > file.size() || file[p] != 'P' || file[p + 1] != 'E' || file[p + 2] != 0 || file[p + 3] != 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(file[p + 4] | file[p + 5] << 8);
}

std::optional<std::uint16_t> pe_machine_of_file(const std::filesystem::path& path) {
    auto bytes = read_whole_file(path);
    if (!bytes) return std::nullopt;
    return pe_machine_of_bytes(ByteView(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

std::optional<std::filesystem::path> camera_dll_in(const std::filesystem::path& folder, std::uint16_t native) {
    for (const char* name : {"VorLixCamera.dll", "VorLixCamera-arm64.dll", "VorLixCamera-x64.dll"}) {
        auto path = folder / name;
        if (pe_machine_of_file(path) == native) return path;
    }
    return std::nullopt;
}

CameraService::CameraService(CameraWaker& waker, LogFn log) : waker_(waker), log_(std::move(log)) {}

CameraStatus CameraService::status() const {
    std::lock_guard lock(status_mutex_);
    return status_;
}

void CameraService::set_status(CameraStatus status) {
    log_("camera: " + camera_status_text(status));
    std::lock_guard lock(status_mutex_);
    status_ = std::move(status);
}

void CameraService::wake() {
    wake_counter_.fetch_add(1);
    waker_.wake_all(wake_counter_);
}

CameraState CameraService::on_device_camera(bool on) {
    if (on) {
        const auto kind = status().kind;
        if (kind == CameraStatusKind::Ready) {
            log_("camera: the device's camera is on");
            device_camera_on_.store(1);
            return CameraState{true, std::nullopt};
        }
        log_("camera: asked for, but " + std::string(camera_status_name(kind)));
        return CameraState{false, camera_status_message(kind)};
    }
    if (device_camera_on_.exchange(0) == 1) log_("camera: the device's camera is off");
    {
        std::lock_guard lock(mailbox_mutex_);
        waiting_.reset();
    }
    wake();
    return CameraState{false, std::nullopt};
}

void CameraService::hand_picture(CameraPicture picture) {
    if (device_camera_on_.load() == 0) return;
    {
        std::lock_guard lock(mailbox_mutex_);
        waiting_ = std::move(picture);
    }
    wake();
}

void CameraService::request_recheck() {
    {
        std::lock_guard lock(mailbox_mutex_);
        recheck_ = true;
    }
    wake();
}

bool CameraService::run_pass(CameraWriter& writer, CameraDecoder& decoder) {
    std::optional<CameraPicture> picture;
    bool recheck = false;
    {
        std::unique_lock lock(mailbox_mutex_);
        while (!waiting_ && !recheck_ && !(device_camera_on_.load() == 0 && writer.picture_shown())) {
            const std::uint32_t noted = wake_counter_.load();
            lock.unlock();
            waker_.wait(wake_counter_, noted, std::chrono::milliseconds(500));
            lock.lock();
        }
        recheck = recheck_;
        recheck_ = false;
        picture.swap(waiting_);
    }
    if (recheck) return true;
    if (device_camera_on_.load() == 0) {
        writer.show_placeholder();
        return false;
    }
    if (picture) {
        RequestLines lines("Camera");  // one a picture the device sends
        if (auto frame = decoder.decode(picture->bytes))
            writer.write_frame(*frame);
        else
            log_("camera: a " + std::to_string(picture->width) + "\u00D7" + std::to_string(picture->height) +
                 " picture (" + std::to_string(picture->bytes.size()) + " bytes) could not be decoded");
    }
    return false;
}

void CameraService::run_turn(VirtualCameraMaker& maker, CameraWriter& writer, CameraDecoder& decoder) {
    if (!ready()) {
        if (auto dll = maker.registered_dll()) {
            CameraStatus made = maker.create();
            if (made.kind == CameraStatusKind::Ready)
                log_("camera: \"VorLix Camera\" registered for this user (" + *dll + ")");
            set_status(std::move(made));
        } else {
            set_status({CameraStatusKind::NotSetUp, ""});
        }
    }
    (void)run_pass(writer, decoder);
}

void CameraService::run_setup(const std::function<Result<bool>()>& register_dll) {
    const auto done = register_dll();
    log_(done ? std::string("camera: set up for this PC") : "camera: set-up did not finish: " + done.error().text);
    request_recheck();
    end_setup();
}

bool CameraService::setup_offered(const std::function<bool()>& component_found) const {
    return status().kind == CameraStatusKind::NotSetUp && component_found();
}

}  // namespace vorlix
