// The virtual camera's service without system calls: its status and the
// texts the device is told, the picture mailbox with its wake counter, one
// pass of the camera thread's picture loop, and the checks on the PC (system
// build, the component DLL's processor) that decide whether the camera can run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "camera/camera_frames.h"
#include "host/platform.h"
#include "util/result.h"

namespace vorlix {

enum class CameraStatusKind : std::uint8_t { Starting, NeedsWindows11, NeedsNativeApp, NotSetUp, NoAccess, Failed, Ready };

struct CameraStatus {
    CameraStatusKind kind = CameraStatusKind::Starting;
    std::string error;  // only for Failed
    bool operator==(const CameraStatus&) const = default;
};

std::string_view camera_status_name(CameraStatusKind kind);
// The text the device is told when it asks for the camera; nothing for Ready.
std::optional<std::string> camera_status_message(CameraStatusKind kind);
// "Failed ("MFCreateVirtualCamera: ...")" or just the name.
std::string camera_status_text(const CameraStatus& status);

// The system build that first offers virtual cameras.
constexpr std::uint32_t kCameraMinimumBuild = 22000;
// The build number from its registry text (trimmed, decimal, 32-bit).
std::optional<std::uint32_t> parse_build_number(std::string_view text);

constexpr std::uint16_t kMachineX64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;
constexpr std::uint16_t kMachineX86 = 0x014C;
// The machine field of a PE file's header; nothing for anything else.
std::optional<std::uint16_t> pe_machine_of_bytes(ByteView file);
// The machine of the PE file at `path` (nothing when it cannot be read).
std::optional<std::uint16_t> pe_machine_of_file(const std::filesystem::path& path);
// The first of the component DLL's names in `folder` built for `native`.
std::optional<std::filesystem::path> camera_dll_in(const std::filesystem::path& folder, std::uint16_t native);

// Waiting on and waking the service's wake counter.
class CameraWaker {
public:
    virtual ~CameraWaker() = default;
    // Returns when the counter differs from `noted`, or after `timeout` (or
    // earlier: callers look again).
    virtual void wait(std::atomic<std::uint32_t>& counter, std::uint32_t noted, std::chrono::milliseconds timeout) = 0;
    virtual void wake_all(std::atomic<std::uint32_t>& counter) = 0;
};

// Decodes a device picture into the 1280x720 BGRA frame; nothing on failure.
class CameraDecoder {
public:
    virtual ~CameraDecoder() = default;
    virtual std::optional<ByteView> decode(ByteView bytes) = 0;
};

// The system's side of making the virtual camera.
class VirtualCameraMaker {
public:
    virtual ~VirtualCameraMaker() = default;
    // The path (as UTF-8) of the component registered for this processor.
    virtual std::optional<std::string> registered_dll() = 0;
    // Creates and starts the virtual camera, which the maker then keeps:
    // Ready, or the status that tells why there is none.
    virtual CameraStatus create() = 0;
};

class CameraService {
public:
    using LogFn = std::function<void(std::string_view)>;
    CameraService(CameraWaker& waker, LogFn log);

    CameraStatus status() const;
    // Logs "camera: {status}", then replaces the status.
    void set_status(CameraStatus status);
    bool ready() const { return status().kind == CameraStatusKind::Ready; }

    // The device's camera turned on or off; the answer for `cameraState`.
    CameraState on_device_camera(bool on);
    // A picture from the device: kept (replacing a waiting one) while the
    // device's camera is on, dropped otherwise.
    void hand_picture(CameraPicture picture);
    // Asks the camera thread to look for the component's registration again.
    void request_recheck();
    // One set-up at a time: false when one is running already.
    bool begin_setup() { return setup_running_.exchange(1) == 0; }
    void end_setup() { setup_running_.store(0); }
    // The set-up thread's work after begin_setup: registers the component,
    // logs how that went, has the camera thread look again, ends the set-up.
    void run_setup(const std::function<Result<bool>()>& register_dll);
    // Whether the tray offers the set-up: NotSetUp and a component to set up.
    bool setup_offered(const std::function<bool()>& component_found) const;

    // One pass of the picture loop: waits for a picture, the recheck flag or
    // the device's camera going off, and handles it. True when the pass ended
    // on the recheck flag.
    bool run_pass(CameraWriter& writer, CameraDecoder& decoder);
    // One turn of the camera thread: while there is no virtual camera, looks
    // for the registered component and tries to make the camera; then one
    // pass of the picture loop.
    void run_turn(VirtualCameraMaker& maker, CameraWriter& writer, CameraDecoder& decoder);

private:
    void wake();

    CameraWaker& waker_;
    LogFn log_;
    mutable std::mutex status_mutex_;
    CameraStatus status_;
    std::mutex mailbox_mutex_;
    std::optional<CameraPicture> waiting_;
    bool recheck_ = false;
    std::atomic<std::uint32_t> wake_counter_{0};
    std::atomic<std::uint8_t> device_camera_on_{0};
    std::atomic<std::uint8_t> setup_running_{0};
};

}  // namespace vorlix
