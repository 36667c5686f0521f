// The host core's only way to the PC: the Platform interface. The Windows
// implementation (WindowsPlatform) lives in src/win; tests use a recording
// fake. Operations are listed in their fixed slot order.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "control/messages.h"
#include "net/ip_address.h"
#include "util/bytes.h"
#include "util/result.h"

namespace vorlix {

// Records of the protocol and the stream, defined with their own code.
struct InputEvent;       // one decoded binary input message
struct StreamConfig;     // the picture settings of a `configure` message
struct StreamOutput;     // a stream's connection to its audience

// The data folder and whether it came from --data-dir (1) or is the default (0).
struct DataFolder {
    std::filesystem::path path;
    std::uint8_t from_command_line = 0;
};

// The app in front (its identifier and display name), the levels (volume,
// brightness when the PC has one, muting) and what the virtual camera answers
// to the device's camera being turned on or off: the fields of the messages
// that carry them to the device.
using FrontApp = control::FrontApp;
using Levels = control::Levels;
using CameraState = control::CameraState;

// One camera picture from the device, as the session loop reads it from a
// Camera frame: two 16-bit numbers (width, height), a 64-bit number, the bytes.
struct CameraPicture {
    Bytes bytes;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint64_t value = 0;
};

// The MAC addresses of the PC's physical adapters that are up, and the
// addresses of the same adapters (the `wakeInfo` message's two lists).
struct MacAddressList {
    std::vector<std::string> mac_addresses;
    std::vector<std::string> addresses;
};

// What Wake-on-LAN is sent to: distinct MAC addresses and IPv4 targets.
struct WakeTargets {
    std::vector<std::array<std::uint8_t, 6>> mac_addresses;
    std::vector<std::array<std::uint8_t, 4>> addresses;
};

// The keyboard layout of the window in front.
struct KeyboardLayout {
    std::string name;
    std::optional<std::string> language;
    std::optional<std::string> method;
    // Mac key code -> (plain text, shifted text).
    std::map<std::uint16_t, std::pair<std::string, std::string>> keys;
};

// What the platform hands to the host's event handler: either a ready control
// message for the device, or the path of one file copied on the PC.
using PlatformEvent = std::variant<ControlMessage, std::filesystem::path>;

using PlatformEventHandler = std::function<void(PlatformEvent)>;

// The control block of one running stream, shared between the platform (as
// the current stream) and the stream thread.
struct StreamControl {
    // Shared with the platform: 0 draws the pointer into the picture; any other
    // value leaves it out and sends its shapes to the device.
    std::shared_ptr<std::atomic<std::uint32_t>> pointer_on_device;

    // The stream thread's handle; the next stream's thread takes it to wait
    // for this one to end. Guarded by thread_mutex.
    std::mutex thread_mutex;
    std::optional<std::thread> thread;

    std::atomic<std::uint8_t> running{1};
    std::atomic<std::uint8_t> keyframe_wanted{1};
    std::atomic<std::uint8_t> sound{0};
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual std::string computer_name() = 0;                                  // 0
    virtual std::string computer_model() = 0;                                 // 1
    virtual DataFolder data_dir() = 0;                                        // 2
    virtual Bytes protect_data(ByteView plain) = 0;                           // 3
    virtual std::optional<Bytes> unprotect_data(ByteView stored) = 0;         // 4
    virtual void advertise(const std::string& instance_name, std::uint16_t port,
                           const std::vector<std::pair<std::string, std::string>>& txt) = 0;  // 5
    virtual void set_event_handler(PlatformEventHandler handler) = 0;         // 6
    virtual void start_stream(const StreamConfig& config, std::int64_t stream_number,
                              std::shared_ptr<StreamOutput> output) = 0;     // 7
    virtual void stop_stream() = 0;                                           // 8
    virtual void request_keyframe() = 0;                                      // 9
    virtual void set_stream_audio(bool on) = 0;                               // 10
    virtual void send_input(InputEvent event) = 0;                            // 11
    virtual void reset_input() = 0;                                           // 12
    virtual void set_clipboard_text(std::string text) = 0;                    // 13
    virtual void set_clipboard_picture(Bytes png) = 0;                        // 14
    virtual std::optional<FrontApp> front_app_name() = 0;                     // 15
    virtual void set_session_active(bool active) = 0;                         // 16
    virtual bool camera_ready() = 0;                                          // 17
    virtual CameraState set_device_camera(bool on) = 0;                       // 18
    virtual void push_camera_picture(CameraPicture picture) = 0;              // 19
    virtual bool supports_menus() = 0;                                        // 20
    virtual void perform_menu(std::uint64_t id) = 0;                          // 21
    virtual std::optional<Levels> read_levels() = 0;                          // 22
    virtual void set_level(const std::string& kind, double value) = 0;        // 23
    virtual bool open_url(const std::string& link) = 0;                       // 24
    virtual std::filesystem::path downloads_dir() = 0;                        // 25
    virtual bool reveal_file(const std::filesystem::path& path) = 0;          // 26
    virtual std::vector<std::filesystem::path> screenshots_dir() = 0;         // 27
    virtual std::optional<Bytes> take_screenshot() = 0;                       // 28
    virtual std::optional<Bytes> take_preview() = 0;                          // 29
    virtual MacAddressList mac_addresses() = 0;                               // 30
    virtual bool send_wake_packets(const WakeTargets& targets) = 0;           // 31
    virtual void set_pointer_on_device(std::uint32_t value) = 0;              // 32
    virtual void send_ink_event(const InkEvent& event) = 0;                   // 33
    virtual void clear_ink_overlay() = 0;                                     // 34
    virtual void set_keep_awake(bool awake) = 0;                              // 35
    virtual std::vector<IpAddress> local_addresses() = 0;                     // 36
    virtual bool supports_keyboard_layout() = 0;                              // 37
    virtual std::optional<KeyboardLayout> keyboard_layout() = 0;              // 38
    virtual void next_input_language() = 0;                                   // 39
};

}  // namespace vorlix
