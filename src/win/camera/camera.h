// The virtual camera "VorLix Camera" on Windows: the process-wide camera
// service with its thread "vorlix-camera", which checks the PC, creates the
// virtual camera through Media Foundation and hands the device's pictures to
// the camera component through the section "Global\VorLixCamera"; and the
// component's set-up (regsvr32 as administrator) for the tray.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "camera/camera_service.h"
#include "util/result.h"

namespace vorlix {

// Makes the service and starts its thread; start-up calls it before the
// listener takes links, so that the first device is told the camera's state.
void start_camera();
// The service, made (and its thread started) at the first call.
CameraService& camera_service();

// For the tray: whether to offer the set-up item, and its command.
bool camera_menu_available();
void start_camera_setup();

// The section reached through OpenFileMappingW and MapViewOfFile.
class WindowsCameraSection : public CameraSectionPort {
public:
    ~WindowsCameraSection() override;
    std::optional<std::span<std::uint8_t>> open() override;
    void close() override;
    std::uint64_t tick_ms() override;
    std::uint32_t process_id() override;
    void log(std::string_view line) override;

private:
    HANDLE handle_ = nullptr;
    void* view_ = nullptr;
};

// Device pictures decoded with WIC into the 1280x720 BGRA frame, scaled and
// letter-boxed when their size differs.
class WicCameraDecoder : public CameraDecoder {
public:
    WicCameraDecoder();
    ~WicCameraDecoder() override;
    std::optional<ByteView> decode(ByteView bytes) override;
    std::uint32_t failures() const { return failures_; }
    // The same, giving the failure's text instead of counting and logging it.
    Result<bool> try_decode(ByteView bytes);

private:

    struct Factory;
    Factory* factory_;
    Bytes frame_;
    Bytes scaled_;
    std::uint32_t failures_ = 0;
};

// Registers and creates the virtual camera through the system's API (in
// the system folder's mfsensorgroup.dll) and keeps it while it lives.
std::unique_ptr<VirtualCameraMaker> make_windows_camera_maker();

// The system's build number ("CurrentBuildNumber"), none when unreadable.
std::optional<std::uint32_t> windows_build_number();
// The component's DLL as registered for the camera's class id, when it is a
// file for this processor (environment references in the path filled in).
std::optional<std::filesystem::path> registered_camera_dll();

// The PC's native machine (IsWow64Process2, looked up at run time); x64
// when the system does not say.
std::uint16_t native_machine();
// The component's DLL beside the program for this processor.
std::optional<std::filesystem::path> camera_dll_name();
// Runs regsvr32 /s on the component as administrator and waits for it.
Result<bool> register_camera_dll();

}  // namespace vorlix
