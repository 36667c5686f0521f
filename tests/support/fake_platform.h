// A recording fake of the Platform interface for host-core tests. Every call
// is recorded by operation name (with a short text of its arguments); the
// answers of the query operations are set by the test beforehand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/platform.h"
#include "wire/input_message.h"

namespace vorlix {

class FakePlatform : public Platform {
public:
    struct Call {
        std::string operation;
        std::string detail;
    };

    // Answers, set by the test (under no lock: set them before the host runs,
    // or through the setters below while it runs).
    struct Answers {
        std::string name = "Test PC";
        std::string model = "Test Model";
        DataFolder data_folder;
        std::optional<FrontApp> front_app;
        bool camera_ready = false;
        CameraState camera_state;
        bool menus = true;
        std::optional<Levels> levels;
        bool open_url = true;
        std::filesystem::path downloads;
        std::vector<std::filesystem::path> screenshot_folders;
        std::optional<Bytes> screenshot;
        std::function<void()> while_taking_screenshot;  // runs inside take_screenshot
        // Runs at the start of every call, on the caller's thread, outside
        // the fake's lock, with the operation's name.
        std::function<void(const std::string& operation)> on_call;
        std::optional<Bytes> preview;
        MacAddressList macs;
        bool wake_sent = true;
        std::vector<IpAddress> local_addresses;
        bool keyboard_layout = true;
        std::optional<KeyboardLayout> layout;
    };

    FakePlatform() = default;

    void set_answers(const Answers& answers);
    Answers answers() const;

    // Everything called so far, in order.
    std::vector<Call> calls() const;
    // The operations called so far, in order, without details.
    std::vector<std::string> operations() const;
    std::size_t count(const std::string& operation) const;
    // Waits until `operation` has been called at least `times` times.
    bool wait_for(const std::string& operation, std::size_t times = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void clear_calls();

    // The input events handed to send_input.
    std::vector<InputEvent> inputs() const;
    std::vector<CameraPicture> camera_pictures() const;

    // The streams start_stream was asked for, in order.
    struct StartedStream {
        StreamConfig config;
        std::int64_t stream_number = 0;
        std::shared_ptr<StreamOutput> output;
    };
    std::vector<StartedStream> started_streams() const;

    // Delivers an event to the installed handler as a platform watcher would
    // (dropped when none is installed).
    void deliver(PlatformEvent event);
    bool has_event_handler() const;

    // --- Platform ----------------------------------------------------------------
    std::string computer_name() override;
    std::string computer_model() override;
    DataFolder data_dir() override;
    Bytes protect_data(ByteView plain) override;
    std::optional<Bytes> unprotect_data(ByteView stored) override;
    void advertise(const std::string& instance_name, std::uint16_t port,
                   const std::vector<std::pair<std::string, std::string>>& txt) override;
    void set_event_handler(PlatformEventHandler handler) override;
    void start_stream(const StreamConfig& config, std::int64_t stream_number,
                      std::shared_ptr<StreamOutput> output) override;
    void stop_stream() override;
    void request_keyframe() override;
    void set_stream_audio(bool on) override;
    void send_input(InputEvent event) override;
    void reset_input() override;
    void set_clipboard_text(std::string text) override;
    void set_clipboard_picture(Bytes png) override;
    std::optional<FrontApp> front_app_name() override;
    void set_session_active(bool active) override;
    bool camera_ready() override;
    CameraState set_device_camera(bool on) override;
    void push_camera_picture(CameraPicture picture) override;
    bool supports_menus() override;
    void perform_menu(std::uint64_t id) override;
    std::optional<Levels> read_levels() override;
    void set_level(const std::string& kind, double value) override;
    bool open_url(const std::string& link) override;
    std::filesystem::path downloads_dir() override;
    bool reveal_file(const std::filesystem::path& path) override;
    std::vector<std::filesystem::path> screenshots_dir() override;
    std::optional<Bytes> take_screenshot() override;
    std::optional<Bytes> take_preview() override;
    MacAddressList mac_addresses() override;
    bool send_wake_packets(const WakeTargets& targets) override;
    void set_pointer_on_device(std::uint32_t value) override;
    void send_ink_event(const InkEvent& event) override;
    void clear_ink_overlay() override;
    void set_keep_awake(bool awake) override;
    std::vector<IpAddress> local_addresses() override;
    bool supports_keyboard_layout() override;
    std::optional<KeyboardLayout> keyboard_layout() override;
    void next_input_language() override;

private:
    void record(std::string operation, std::string detail = {});

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Answers answers_;
    std::vector<Call> calls_;
    std::vector<InputEvent> inputs_;
    std::vector<CameraPicture> pictures_;
    std::vector<StartedStream> streams_;

    mutable std::mutex handler_mutex_;
    PlatformEventHandler handler_;
};

// A small US layout for keyboard-watch tests: key 0 types "a" and "A".
KeyboardLayout us_keyboard_layout();

}  // namespace vorlix
